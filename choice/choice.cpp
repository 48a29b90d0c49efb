#include "choice.hpp"

#include <cstdlib>
#include <cstring>
#include <new>

#include "engine.hpp"
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

// ---- one vector pass per centre ---------------------------------------------------

bool pass_start(pass_engine* e, const mat* A) {
  e->X = by_coord_alloc(A->rows, A->cols);
  e->near = static_cast<double*>(work_alloc(int64_t{A->rows} * static_cast<int64_t>(sizeof(double))));
  if (e->X.x == nullptr || e->near == nullptr) {
    pass_end(e);
    return false;
  }
  by_coord_fill(&e->X, A->data, nullptr);
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

struct choice {
  const mat* A;
  simd_level level;
  bucket_engine* buckets;  // null: the pass engine
  pass_engine passes;
};

choice* choice_start(const mat* A, const choice_options* opt) {
  choice* s = new (std::nothrow) choice{A, opt->level, nullptr, pass_engine{{nullptr, 0, 0, 0}, nullptr}};
  if (s == nullptr) return nullptr;
  const bool prune = opt->prune == choice_prune::always ||
                     (opt->prune == choice_prune::automatic && buckets_pay(A->rows, A->cols, opt->centres));
  if (prune) s->buckets = buckets_start(A, opt->level);
  // Without the buckets' storage the passes still give the same answers.
  if (s->buckets == nullptr && !pass_start(&s->passes, A)) {
    delete s;
    return nullptr;
  }
  return s;
}

choice_farthest choice_fold(choice* s, const double* c) {
  if (s->buckets != nullptr) return buckets_fold(s->buckets, c);
  return pass_fold(&s->passes, s->level, c);
}

void choice_nearest(const choice* s, double* nearest) {
  if (s->buckets != nullptr) {
    buckets_nearest(s->buckets, nearest);
  } else {
    std::memcpy(nearest, s->passes.near, sizeof(double) * static_cast<size_t>(s->A->rows));
  }
}

void choice_end(choice* s) {
  if (s == nullptr) return;
  if (s->buckets != nullptr) buckets_end(s->buckets);
  pass_end(&s->passes);
  delete s;
}

int64_t choice_run(const mat* A, int32_t k, int32_t* centres, const choice_options* opt) {
  centres[0] = 0;
  if (k == 1) return 1;
  choice* s = choice_start(A, opt);
  if (s == nullptr) return 0;
  // Starts at row 0: when every row coincides with row 0, row 0 is chosen again.
  int32_t next = 0;
  int64_t m = 1;
  while (m < k) {
    const choice_farthest f = choice_fold(s, A->data + int64_t{centres[m - 1]} * A->cols);
    if (f.row >= 0) next = f.row;
    centres[m++] = next;
    if (next == centres[m - 2]) break;
  }
  choice_end(s);
  return m;
}
