#include "choice.hpp"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine.hpp"
#include "order.hpp"
#include "work.hpp"

choice_farthest choice_fold_ref(const mat* A, const double* c, double* nearest) {
  vec centre{const_cast<double*>(c), A->cols}, row;
  choice_farthest far{0.0, -1};
  for (int32_t i = 0; i < A->rows; ++i) {
    mat_get_row(A, &row, i);
    const double d = vec_dist_sq(&row, &centre);
    if (nearest[i] > d) nearest[i] = d;
    if (nearest[i] > far.dist_sq) far = choice_farthest{nearest[i], i};
  }
  return far;
}

choice_farthest choice_fold_ref(const row_source* X, const double* c, double* nearest) {
  if (rows_are_doubles(X)) {
    const mat A{static_cast<double*>(const_cast<void*>(X->data)), X->rows, X->cols};
    return choice_fold_ref(&A, c, nearest);
  }
  choice_farthest far{0.0, -1};
  rows_visit(X, [&](auto* data) {
    for (int32_t i = 0; i < X->rows; ++i) {
      const auto* row = data + int64_t{i} * X->row_stride;
      // vec_dist_sq's sum, on the coordinates widened as they are read.
      double d = 0.0;
      for (int32_t j = 0; j < X->cols; ++j) {
        const double diff = static_cast<double>(row[j * X->col_stride]) - c[j];
        d = diff * diff + d;
      }
      if (nearest[i] > d) nearest[i] = d;
      if (nearest[i] > far.dist_sq) far = choice_farthest{nearest[i], i};
    }
  });
  return far;
}

// ---- what the engines share -------------------------------------------------------

bool special_rows_list(special_rows* s, const int32_t* finite, int64_t nfinite, int32_t first,
                       int32_t count) {
  *s = special_rows{nullptr, count - nfinite, 0};
  if (s->count == 0) return true;
  s->rows = static_cast<int32_t*>(work_alloc(s->count * static_cast<int64_t>(sizeof(int32_t))));
  if (s->rows == nullptr) return false;
  int64_t t = 0, f = 0;
  for (int32_t i = first; i < first + count; ++i) {
    if (f < nfinite && finite[f] == i) ++f;
    else s->rows[t++] = i;
  }
  return true;
}

void special_rows_free(special_rows* s) {
  work_free(s->rows);
  *s = special_rows{nullptr, 0, 0};
}

candidate special_rows_top(const special_rows* s) {
  return s->next < s->count ? candidate{no_distance, s->rows[s->next]} : none;
}

int64_t special_rows_find(const special_rows* s, int32_t row) {
  int64_t lo = 0, hi = s->count;
  while (lo < hi) {
    const int64_t mid = (lo + hi) / 2;
    const int32_t r = s->rows[mid] < 0 ? ~s->rows[mid] : s->rows[mid];
    if (r == row) return mid;
    if (r < row) lo = mid + 1;
    else hi = mid;
  }
  return -1;
}

bool special_rows_drop(special_rows* s, int64_t t) {
  if (s->rows[t] < 0) return false;
  s->rows[t] = ~s->rows[t];
  if (t != s->next) return false;
  while (s->next < s->count && s->rows[s->next] < 0) ++s->next;
  return true;
}

// ---- one vector pass per centre ---------------------------------------------------

bool pass_start(pass_engine* e, const row_source* A, double* near) {
  e->X = by_coord_alloc(A->rows, A->cols);
  e->near = near != nullptr ? near : static_cast<double*>(work_alloc(int64_t{A->rows} * 8));
  if (e->X.x == nullptr || e->near == nullptr) {
    if (near != nullptr) e->near = nullptr;  // still the caller's
    pass_end(e);
    return false;
  }
  by_coord_fill(&e->X, A, nullptr);
  if (near == nullptr)
    for (int32_t i = 0; i < A->rows; ++i) e->near[i] = no_distance;
  return true;
}

choice_farthest pass_fold(pass_engine* e, simd_level level, const double* c) {
  const farthest_row f = fold_nearest(level, &e->X, 0, e->X.rows, c, e->near);
  return choice_farthest{f.dist, static_cast<int32_t>(f.pos)};
}

void pass_end(pass_engine* e) {
  by_coord_free(&e->X);
  work_free(e->near);
  e->near = nullptr;
}

// ---- the engine -------------------------------------------------------------------

namespace {

// From 9 to 31 columns the grouped engine gives up where a pass per centre
// costs less: judged every give_up_window folds from fold give_up_after on
// (early folds reach every group while the radius is large), when the
// folds visited more than (cols / 32)^2 of the rows on average. From 32
// columns on it beats the passes even where it skips nothing.
constexpr int32_t groups_from_cols = 9;
constexpr int32_t groups_always_cols = 32;
constexpr int64_t give_up_window = 16;
constexpr int64_t give_up_after = 64;

enum class path_kind { passes, buckets, groups, plain };

}  // namespace

struct choice {
  row_source A;
  row_source rows;  // the engine's rows, as a source of their own
  int32_t first;
  simd_level level;
  path_kind path;
  bucket_engine* buckets;
  group_engine* groups;
  pass_engine passes;
  double* near;    // the groups' way out: the nearest distances for passes or the plain fold
  double give_up;  // the share of rows visited past which the groups give up
  int64_t folds, window;
};

namespace {

// Leaves the grouped engine for passes with its nearest distances, or for
// the plain fold when the passes' copy cannot be had.
void leave_groups(choice* s) {
  groups_nearest(s->groups, s->near);
  groups_end(s->groups);
  s->groups = nullptr;
  if (pass_start(&s->passes, &s->rows, s->near)) {
    s->path = path_kind::passes;
    s->near = nullptr;  // the passes own it now
  } else {
    s->path = path_kind::plain;
  }
}

// Whether the rows are grouped by nearest centre: whenever the engine prunes
// above 8 columns.
bool takes_groups(const choice_options* opt, int32_t cols) {
  return opt->prune != choice_prune::never && cols >= groups_from_cols;
}

}  // namespace

choice* choice_start(const row_source* A, int32_t first, int32_t count, const choice_options* opt) {
  if (first < 0 || count < 0 || first > A->rows - count) return nullptr;
  const row_source rows = rows_slice(A, first, count);
  choice* s = new (std::nothrow) choice{*A, rows, first, opt->level, path_kind::passes, nullptr, nullptr,
                                        pass_engine{{nullptr, 0, 0, 0}, nullptr}, nullptr, HUGE_VAL, 0, 0};
  if (s == nullptr) return nullptr;
  const int32_t cols = A->cols;
  if (takes_groups(opt, cols)) {
    if (opt->prune == choice_prune::automatic && cols < groups_always_cols) {
      const double ratio = static_cast<double>(cols) / groups_always_cols;
      s->give_up = ratio * ratio;
    }
    s->near = static_cast<double*>(work_alloc(int64_t{count} * 8));
    if (s->near != nullptr) s->groups = groups_start(&s->A, first, count, opt->level, opt->centres);
    if (s->groups != nullptr) {
      s->path = path_kind::groups;
      return s;
    }
    work_free(s->near);
    s->near = nullptr;
  } else if (opt->prune == choice_prune::always ||
             (opt->prune == choice_prune::automatic && buckets_pay(count, cols, opt->centres))) {
    s->buckets = buckets_start(&s->rows, opt->level);
    if (s->buckets != nullptr) {
      s->path = path_kind::buckets;
      return s;
    }
  }
  // Without the pruning's storage the passes still give the same answers.
  if (!pass_start(&s->passes, &s->rows, nullptr)) {
    delete s;
    return nullptr;
  }
  return s;
}

choice* choice_start(const mat* A, int32_t first, int32_t count, const choice_options* opt) {
  const row_source X = rows_of_doubles(A->data, A->rows, A->cols);
  return choice_start(&X, first, count, opt);
}

choice_farthest choice_fold(choice* s, const double* c, int64_t c_row) {
  choice_farthest f{0.0, -1};
  if (s->path == path_kind::groups) {
    if (c_row < 0 || c_row >= s->A.rows) c_row = -1;
    if (groups_fold(s->groups, c, c_row, &f)) {
      s->window += groups_visits(s->groups);
      if (++s->folds % give_up_window == 0) {
        if (s->folds >= give_up_after &&
            static_cast<double>(s->window) > s->give_up * give_up_window * s->rows.rows)
          leave_groups(s);
        s->window = 0;
      }
      return f;
    }
    // No storage for this fold: the passes fold it, from the same state.
    leave_groups(s);
  }
  switch (s->path) {
    case path_kind::buckets:
      f = buckets_fold(s->buckets, c);
      break;
    case path_kind::passes:
      f = pass_fold(&s->passes, s->level, c);
      break;
    default:
      f = choice_fold_ref(&s->rows, c, s->near);
  }
  if (f.row >= 0) f.row += s->first;
  return f;
}

void choice_nearest(const choice* s, double* nearest) {
  const size_t bytes = sizeof(double) * static_cast<size_t>(s->rows.rows);
  switch (s->path) {
    case path_kind::buckets:
      return buckets_nearest(s->buckets, nearest);
    case path_kind::groups:
      return groups_nearest(s->groups, nearest);
    case path_kind::passes:
      std::memcpy(nearest, s->passes.near, bytes);
      return;
    default:
      std::memcpy(nearest, s->near, bytes);
  }
}

double choice_near(choice* s, int64_t row) {
  const int64_t local = row - s->first;
  switch (s->path) {
    case path_kind::buckets:
      return buckets_near(s->buckets, static_cast<int32_t>(local));
    case path_kind::groups:
      return groups_near(s->groups, static_cast<int32_t>(row));
    case path_kind::passes:
      return s->passes.near[local];
    default:
      return s->near[local];
  }
}

void choice_drop(choice* s, int64_t row) {
  const int64_t local = row - s->first;
  switch (s->path) {
    case path_kind::buckets:
      return buckets_drop(s->buckets, static_cast<int32_t>(local));
    case path_kind::groups:
      return groups_drop(s->groups, static_cast<int32_t>(row));
    case path_kind::passes:
      s->passes.near[local] = 0.0;
      return;
    default:
      s->near[local] = 0.0;
  }
}

const char* choice_path(const choice* s) {
  switch (s->path) {
    case path_kind::buckets:
      return "buckets";
    case path_kind::groups:
      return "groups";
    case path_kind::passes:
      return "passes";
    default:
      return "plain";
  }
}

void choice_end(choice* s) {
  if (s == nullptr) return;
  if (s->buckets != nullptr) buckets_end(s->buckets);
  if (s->groups != nullptr) groups_end(s->groups);
  pass_end(&s->passes);
  work_free(s->near);
  delete s;
}

namespace {

// One engine over every row of A, as greedy_centers runs it.
struct run_folder {
  const mat* A;
  const choice_options* opt;
  choice* engine;
  int32_t* centres;
  int64_t stored;
};

bool run_start(void* ctx, int64_t) {
  run_folder* r = static_cast<run_folder*>(ctx);
  r->engine = choice_start(r->A, 0, r->A->rows, r->opt);
  return r->engine != nullptr;
}

choice_farthest run_fold(void* ctx, int32_t c) {
  run_folder* r = static_cast<run_folder*>(ctx);
  return choice_fold(r->engine, r->A->data + int64_t{c} * r->A->cols, c);
}

double run_near(void* ctx, int32_t row) { return choice_near(static_cast<run_folder*>(ctx)->engine, row); }
void run_drop(void* ctx, int32_t row) { choice_drop(static_cast<run_folder*>(ctx)->engine, row); }

void run_end(void* ctx) {
  run_folder* r = static_cast<run_folder*>(ctx);
  choice_end(r->engine);
  r->engine = nullptr;
}

bool run_step(void* ctx, int64_t, int32_t row, double) {
  run_folder* r = static_cast<run_folder*>(ctx);
  r->centres[r->stored++] = row;
  return true;
}

}  // namespace

int64_t choice_run(const mat* A, int32_t k, int32_t* centres, const choice_options* opt) {
  run_folder r{A, opt, nullptr, centres, 0};
  const order_folder by{A->rows, A->cols, &r, run_start, run_fold, run_near, run_drop, run_end};
  const int32_t first = 0;
  // greedy_centers' rules: from row 0, the last centre repeated at the end.
  const order_rules rules{k, false, 0.0, &first, 1, true};
  if (order_run(&by, &rules, run_step, &r) == order_end::no_memory) return 0;
  if (A->cols == 0 && r.stored < k) centres[r.stored++] = 0;  // every row is row 0's point
  return r.stored;
}
