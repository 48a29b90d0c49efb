#include "order.hpp"

#include <omp.h>

#include <cmath>
#include <new>
#include <vector>

#include "work.hpp"

bool order_within(double d, double r) {
  // A row no centre has reached (NaN, or distances that overflow) keeps the
  // start value and is never covered, whatever r is.
  if (!(d < no_distance)) return false;
  // d <= r * r exactly: p = r * r rounded and e = r * r - p (exact through
  // fma while nothing underflows). For r below 2^-400 the error term would
  // fall below the subnormals, so both sides are scaled by powers of two,
  // which is exact; a d that overflows then was far beyond r * r anyway.
  if (r < 0x1p-400) {
    r *= 0x1p600;
    d = d * 0x1p600 * 0x1p600;
  }
  const double p = r * r;
  const double e = std::fma(r, r, -p);  // NaN for r = inf, where d < p decides
  return d < p || (d == p && e >= 0.0);
}

order_end order_run(const order_folder* by, const order_rules* rules, order_step step, void* ctx) {
  if (by->rows == 0 || rules->starts == 0) return order_end::covered;
  const int64_t k = rules->k;
  const int32_t* start = rules->start;
  const int64_t starts = rules->starts;
  auto limit = [&](int64_t s) { return k >= 0 && s >= k; };
  if (!step(ctx, 0, start[0], HUGE_VAL)) return order_end::cancelled;
  if (limit(1)) return order_end::k_steps;
  if (by->cols == 0) {
    // Every row is the same point: the start rows lie at 0.0 from the first,
    // and they cover every row.
    for (int64_t s = 1; s < starts; ++s) {
      if (limit(s)) return order_end::k_steps;
      if (!step(ctx, s, start[s], 0.0)) return order_end::cancelled;
    }
    return limit(starts) ? order_end::k_steps : order_end::covered;
  }
  if (!by->start(by->ctx, k > 0 ? k : by->rows)) {
    by->end(by->ctx);
    return order_end::no_memory;
  }
  order_end end = order_end::covered;
  // Folds row c in (dropped first, so that it is never given again) and
  // returns the farthest row after it.
  auto fold = [&](int32_t c) {
    if (!rules->repeats) by->drop(by->ctx, c);
    return by->fold(by->ctx, c);
  };
  int32_t c = start[0];
  choice_farthest f{0.0, -1};
  int64_t s = 1;
  for (; s < starts; ++s) {
    if (limit(s)) {
      end = order_end::k_steps;
      break;
    }
    f = fold(c);
    if (f.row == -2) {
      end = order_end::failed;
      break;
    }
    c = start[s];
    const double d = by->near(by->ctx, c);
    if (d < 0.0) {
      end = order_end::no_memory;
      break;
    }
    if (!step(ctx, s, c, d)) {
      end = order_end::cancelled;
      break;
    }
  }
  if (s == starts) {
    for (;; ++s) {
      if (limit(s)) {
        end = order_end::k_steps;
        break;
      }
      f = fold(c);
      if (f.row == -2) {
        end = order_end::failed;
        break;
      }
      if (f.row < 0 || (rules->repeats && f.row == c)) {
        // Every row lies on a centre: the order is whole. greedy_centers
        // chooses the last centre again (a row holding NaN comes back as
        // the farthest), and every later centre repeats it.
        if (rules->repeats && !step(ctx, s, c, f.row < 0 ? 0.0 : f.dist_sq)) end = order_end::cancelled;
        break;
      }
      if (rules->has_radius && order_within(f.dist_sq, rules->radius)) {
        end = order_end::radius;
        break;
      }
      if (!step(ctx, s, f.row, f.dist_sq)) {
        end = order_end::cancelled;
        break;
      }
      c = f.row;
    }
  }
  by->end(by->ctx);
  return end;
}

// ---- the team --------------------------------------------------------------------

namespace {

// Rows per shard at the least: below that a thread's share of a fold costs
// less than waking it.
constexpr int32_t shard_min_rows = 4096;

}  // namespace

// Shard s holds rows [first[s], first[s + 1]) and answers in rows of X;
// every shard is handed each centre with its row, so no shard keeps a copy
// of a centre. The farthest row of all is the farthest of the shards'
// farthest, the lowest row among equals, so it does not depend on the
// number of shards.
struct order_team {
  std::vector<choice*> engines;
  std::vector<int32_t> first;
  std::vector<choice_farthest> found;
};

order_team* order_team_start(const row_source* X, int32_t threads, int64_t centres) {
  order_team* t = new (std::nothrow) order_team;
  if (t == nullptr) return nullptr;
  try {
    const int32_t most = static_cast<int32_t>((int64_t{X->rows} + shard_min_rows - 1) / shard_min_rows);
    const int32_t shards = X->rows == 0 ? 0 : threads < most ? threads : most;
    const choice_options opt{simd_best(), choice_prune::automatic, centres};
    t->found.resize(static_cast<size_t>(shards));
    for (int32_t s = 0; s <= shards; ++s)
      t->first.push_back(static_cast<int32_t>(int64_t{X->rows} * s / (shards > 0 ? shards : 1)));
    for (int32_t s = 0; s < shards; ++s) {
      const int32_t from = t->first[static_cast<size_t>(s)];
      t->engines.push_back(choice_start(X, from, t->first[static_cast<size_t>(s) + 1] - from, &opt));
      if (t->engines.back() == nullptr) {
        order_team_end(t);
        return nullptr;
      }
    }
  } catch (const std::bad_alloc&) {
    order_team_end(t);
    return nullptr;
  }
  return t;
}

choice_farthest order_team_fold(order_team* t, const double* c, int32_t c_row) {
  const size_t shards = t->engines.size();
  if (shards == 0) return choice_farthest{0.0, -1};
  if (shards == 1) return choice_fold(t->engines[0], c, c_row);
#pragma omp parallel for num_threads(static_cast<int>(shards)) schedule(static, 1)
  for (size_t s = 0; s < shards; ++s) t->found[s] = choice_fold(t->engines[s], c, c_row);
  choice_farthest best{0.0, -1};
  for (size_t s = 0; s < shards; ++s) {
    const choice_farthest f = t->found[s];
    if (f.row >= 0 && f.dist_sq > best.dist_sq) best = f;
  }
  return best;
}

namespace {

size_t shard_of(const order_team* t, int32_t row) {
  size_t s = 0;
  while (s + 1 < t->engines.size() && row >= t->first[s + 1]) ++s;
  return s;
}

}  // namespace

double order_team_near(order_team* t, int32_t row) {
  if (t->engines.empty()) return -1.0;
  return choice_near(t->engines[shard_of(t, row)], row);
}

void order_team_drop(order_team* t, int32_t row) {
  if (!t->engines.empty()) choice_drop(t->engines[shard_of(t, row)], row);
}

void order_team_end(order_team* t) {
  if (t == nullptr) return;
  for (choice* e : t->engines) choice_end(e);
  delete t;
}

// ---- a folder over one matrix ----------------------------------------------------

namespace {

bool local_start(void* ctx, int64_t centres) {
  order_local* l = static_cast<order_local*>(ctx);
  l->centre = static_cast<double*>(work_alloc(int64_t{l->X->cols} * static_cast<int64_t>(sizeof(double))));
  if (l->centre == nullptr) return false;
  l->team = order_team_start(l->X, l->threads, centres);
  return l->team != nullptr;
}

choice_farthest local_fold(void* ctx, int32_t c) {
  order_local* l = static_cast<order_local*>(ctx);
  rows_get(l->X, c, l->centre);
  return order_team_fold(l->team, l->centre, c);
}

double local_near(void* ctx, int32_t row) { return order_team_near(static_cast<order_local*>(ctx)->team, row); }

void local_drop(void* ctx, int32_t row) { order_team_drop(static_cast<order_local*>(ctx)->team, row); }

void local_end(void* ctx) {
  order_local* l = static_cast<order_local*>(ctx);
  order_team_end(l->team);
  l->team = nullptr;
  work_free(l->centre);
  l->centre = nullptr;
}

}  // namespace

order_folder order_local_folder(order_local* l) {
  l->team = nullptr;
  l->centre = nullptr;
  return order_folder{l->X->rows, l->X->cols, l, local_start, local_fold, local_near, local_drop, local_end};
}
