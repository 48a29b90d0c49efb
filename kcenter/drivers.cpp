// kcenter's drivers over the shared engines: the farthest-first order and
// the farthest pair, and the run of a command from loaded matrix to output.
#include <omp.h>

#include <cmath>
#include <cstdio>
#include <new>
#include <vector>

#include "choice.hpp"
#include "kcenter_io.hpp"

bool kcenter_within(double d, double r) {
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

namespace {

// Rows per shard at the least: below that a thread's share of a fold costs
// less than waking it.
constexpr int32_t shard_min_rows = 4096;

// The rows split into contiguous shards, one engine each, folded by a team
// of threads. Shard s holds rows [first[s], first[s + 1]) and answers in
// rows of A; every shard is handed each centre with its row, so no shard
// keeps a copy of a centre. The farthest row of all is the farthest of the
// shards' farthest, the lowest row among equals, so it does not depend on
// the number of shards.
struct team {
  std::vector<choice*> engines;
  std::vector<choice_farthest> found;
};

bool team_start(team* t, const mat* A, int32_t threads, int64_t centres) {
  const int32_t most = static_cast<int32_t>((int64_t{A->rows} + shard_min_rows - 1) / shard_min_rows);
  const int32_t shards = threads < most ? threads : most;
  const choice_options opt{simd_best(), choice_prune::automatic, centres};
  t->found.resize(static_cast<size_t>(shards));
  for (int32_t s = 0; s < shards; ++s) {
    const int32_t from = static_cast<int32_t>(int64_t{A->rows} * s / shards);
    const int32_t to = static_cast<int32_t>(int64_t{A->rows} * (s + 1) / shards);
    t->engines.push_back(choice_start(A, from, to - from, &opt));
    if (t->engines.back() == nullptr) return false;
  }
  return true;
}

void team_end(team* t) {
  for (choice* e : t->engines) choice_end(e);
}

choice_farthest team_fold(team* t, const double* centre, int32_t c) {
  const size_t shards = t->engines.size();
  if (shards == 1) return choice_fold(t->engines[0], centre, c);
#pragma omp parallel for num_threads(static_cast<int>(shards)) schedule(static, 1)
  for (size_t s = 0; s < shards; ++s) t->found[s] = choice_fold(t->engines[s], centre, c);
  choice_farthest best{0.0, -1};
  for (size_t s = 0; s < shards; ++s) {
    const choice_farthest f = t->found[s];
    if (f.row >= 0 && f.dist_sq > best.dist_sq) best = f;
  }
  return best;
}

}  // namespace

struct kcenter_team {
  team t;
};

kcenter_team* kcenter_team_start(const mat* A, int32_t threads, int64_t centres) {
  kcenter_team* t = new (std::nothrow) kcenter_team;
  if (t == nullptr) return nullptr;
  if (A->rows > 0 && !team_start(&t->t, A, threads, centres)) {
    kcenter_team_end(t);
    return nullptr;
  }
  return t;
}

choice_farthest kcenter_team_fold(kcenter_team* t, const double* c, int32_t c_row) {
  if (t->t.engines.empty()) return choice_farthest{0.0, -1};  // no rows
  return team_fold(&t->t, c, c_row);
}

void kcenter_team_end(kcenter_team* t) {
  if (t == nullptr) return;
  team_end(&t->t);
  delete t;
}

kcenter_end kcenter_order_by(const kcenter_folder* by, const kcenter_args* a, kcenter_emit emit, void* ctx) {
  if (by->rows == 0) return kcenter_end::done;
  const int64_t k = a->k;
  int32_t c = a->start;
  // Without columns every row is the start row's point: it covers them all.
  const bool one_step = k == 1 || by->cols == 0;
  if (!one_step && !by->start(by->ctx, c, k > 0 ? k : by->rows)) {
    by->end(by->ctx);
    return kcenter_end::no_memory;
  }
  kcenter_end end = kcenter_end::done;
  if (!emit(ctx, 0, c, HUGE_VAL)) end = kcenter_end::emit_failed;
  for (int64_t step = 1; !one_step && end == kcenter_end::done && (k < 0 || step < k); ++step) {
    const choice_farthest f = by->fold(by->ctx, c);
    if (f.row < 0) break;  // every row lies on a centre
    if (a->has_radius && kcenter_within(f.dist_sq, a->radius)) break;
    if (f.row == c) {
      // The centre just folded in is the farthest row again: its distances
      // are already in, so every later step would repeat it. With -k the
      // repeats are printed as greedy_centers prints them; without, the
      // order would never end.
      if (k < 0) break;
      for (; step < k && end == kcenter_end::done; ++step)
        if (!emit(ctx, step, c, f.dist_sq)) end = kcenter_end::emit_failed;
      break;
    }
    if (!emit(ctx, step, f.row, f.dist_sq)) end = kcenter_end::emit_failed;
    c = f.row;
  }
  if (!one_step) by->end(by->ctx);
  return end;
}

namespace {

// The rows of one matrix on a team of threads.
struct local_rows {
  const mat* A;
  int32_t threads;
  kcenter_team* team;
};

bool local_start(void* ctx, int32_t, int64_t centres) {
  local_rows* l = static_cast<local_rows*>(ctx);
  l->team = kcenter_team_start(l->A, l->threads, centres);
  return l->team != nullptr;
}

choice_farthest local_fold(void* ctx, int32_t c) {
  local_rows* l = static_cast<local_rows*>(ctx);
  return kcenter_team_fold(l->team, l->A->data + static_cast<int64_t>(c) * l->A->cols, c);
}

void local_end(void* ctx) { kcenter_team_end(static_cast<local_rows*>(ctx)->team); }

}  // namespace

kcenter_end kcenter_order(const mat* A, const kcenter_args* a, kcenter_emit emit, void* ctx) {
  local_rows l{A, a->threads, nullptr};
  const kcenter_folder f{A->rows, A->cols, &l, local_start, local_fold, local_end};
  return kcenter_order_by(&f, a, emit, ctx);
}

farthest kcenter_pair(const mat* A, int32_t threads, bool* no_memory) {
  if (no_memory != nullptr) *no_memory = false;
  if (A->rows < 2) return no_pair;
  if (A->cols > 0) {
    // Never the search of every pair instead: on a large matrix it would
    // run for hours where the pruned search takes a second.
    bool short_of_storage = false;
    const farthest f = farthest_pair_pruned(A, threads, simd_best(), &short_of_storage);
    if (short_of_storage) {
      if (no_memory != nullptr) *no_memory = true;
      return no_pair;
    }
    if (f.i >= 0) return f;
  }
  // No pair lies a positive distance apart. Two rows of finite coordinates
  // then lie at distance 0 (any other distance between them would have been
  // found), and a pair with NaN or an infinity in a row is at distance NaN,
  // so the first pair at distance 0 is the first two finite rows.
  farthest zero = no_pair;
  for (int32_t i = 0; i < A->rows && zero.j < 0; ++i) {
    bool finite = true;
    const double* row = A->data + static_cast<int64_t>(i) * A->cols;
    for (int32_t j = 0; j < A->cols && finite; ++j) finite = std::isfinite(row[j]);
    if (!finite) continue;
    if (zero.i < 0) zero.i = i;
    else zero.j = i;
  }
  if (zero.j < 0) return no_pair;
  return zero;
}

static bool emit_to_sink(void* ctx, int64_t step, int32_t row, double dist_sq) {
  return kcenter_sink_step(static_cast<kcenter_sink*>(ctx), step, row, dist_sq);
}

bool kcenter_run(const kcenter_args* a, const mat* A, kcenter_error* err) {
  const bool order = a->command == kcenter_command::order;
  if (order && a->start >= A->rows && !(A->rows == 0 && a->start == 0)) {
    *err = kcenter_error{kcenter_fault::start_beyond_rows, "", "", a->start, A->rows};
    return false;
  }
  kcenter_sink s;
  if (!kcenter_sink_open(&s, a, err)) return false;
  const char* no_pair_line = nullptr;
  if (order) {
    if (kcenter_order(A, a, emit_to_sink, &s) == kcenter_end::no_memory) {
      kcenter_sink_abandon(&s);
      *err = kcenter_error{kcenter_fault::no_memory_search, "", "", A->rows, A->cols};
      return false;
    }
  } else {
    bool no_memory = false;
    const farthest f = kcenter_pair(A, a->threads, &no_memory);
    if (no_memory) {
      kcenter_sink_abandon(&s);
      *err = kcenter_error{kcenter_fault::no_memory_search, "", "", A->rows, A->cols};
      return false;
    }
    if (f.i >= 0) kcenter_sink_pair(&s, f.i, f.j, f.dist_sq);
    else if (A->rows < 2) no_pair_line = "no pair : fewer than two rows";
    else no_pair_line = "no pair : no distance between two rows is a number";
  }
  if (!kcenter_sink_close(&s, err)) return false;
  if (no_pair_line != nullptr) std::printf("%s\n", no_pair_line);
  return true;
}
