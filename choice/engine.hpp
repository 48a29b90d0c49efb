// The engine's ways of folding a centre, as choice.cpp drives them. Each
// works on rows [first, first + count) of a row source; the pass and bucket
// engines are given those rows as a source of their own and answer in its
// rows, the grouped engine is given the whole source (its centres are
// referenced by their row of it) and answers in rows of it.
#pragma once

#include <cstdint>

#include "choice.hpp"
#include "kernels.hpp"

// A candidate for the farthest row: the largest nearest distance, then the
// lowest row. Rows at 0.0 never count: such a candidate is no better than
// none.
struct candidate {
  double dist;
  int32_t row;
};
constexpr candidate none{0.0, INT32_MAX};

inline bool farther(candidate a, candidate b) {
  return a.dist > b.dist || (a.dist == b.dist && a.dist > 0.0 && a.row < b.row);
}

// Whether the d coordinates at x are all finite: a point holding NaN or an
// infinity lies at distance NaN or +inf from every point, itself included.
inline bool finite_row(const double* x, int32_t d) { return finite_doubles(x, d, 1); }

// The rows that hold NaN or an infinity, in rising order. Their nearest
// distance never leaves the start value, until the order drops them (once
// chosen, they are not chosen again); the lowest not dropped stands for all
// of them as a candidate for the farthest row.
struct special_rows {
  int32_t* rows;  // rising; a dropped row is kept as ~row
  int64_t count;
  int64_t next;   // the first not dropped; count when none is left
};

// The rows from first to first + count - 1 that are not among the nfinite
// rows of `finite` (rising): the complement of the finite rows. False when
// the list's storage cannot be had.
bool special_rows_list(special_rows* s, const int32_t* finite, int64_t nfinite, int32_t first,
                       int32_t count);
void special_rows_free(special_rows* s);
// The lowest special row not dropped, at the start value; none when none is left.
candidate special_rows_top(const special_rows* s);
// Where row lies in the list, or -1 when it is finite.
int64_t special_rows_find(const special_rows* s, int32_t row);
// Drops row t of the list (from special_rows_find); true when the top changed.
bool special_rows_drop(special_rows* s, int64_t t);
// Whether row t of the list was dropped.
inline bool special_rows_dropped(const special_rows* s, int64_t t) { return s->rows[t] < 0; }

// Every row laid out by coordinate, one vector pass per centre.
struct pass_engine {
  by_coord X;
  double* near;  // nearest distance of each row, in row order
};

// Lays out the rows of A. With near null every nearest distance starts at
// the start value; else at near[i], and the engine takes near over (from
// work_alloc) when it starts, and leaves it to the caller when it cannot.
bool pass_start(pass_engine* e, const row_source* A, double* near);
choice_farthest pass_fold(pass_engine* e, simd_level level, const double* c);
void pass_end(pass_engine* e);

struct bucket_engine;

// Whether grouping rows into buckets pays for this shape and number of centres.
bool buckets_pay(int32_t rows, int32_t cols, int64_t centres);
bucket_engine* buckets_start(const row_source* A, simd_level level);
choice_farthest buckets_fold(bucket_engine* e, const double* c);
void buckets_nearest(const bucket_engine* e, double* nearest);
// The nearest distance of the engine's row `row` now (0.0 once dropped);
// -1.0 when the storage to look it up cannot be had.
double buckets_near(bucket_engine* e, int32_t row);
// Row `row`, once folded, is never the farthest again.
void buckets_drop(bucket_engine* e, int32_t row);
void buckets_end(bucket_engine* e);

struct group_engine;

// Rows [first, first + count) of A (A->cols >= 1), grouped by nearest
// centre, with room for `centres` folds. Null when storage cannot be had.
group_engine* groups_start(const row_source* A, int32_t first, int32_t count, simd_level level,
                           int64_t centres);
// Folds c, which is row c_row of A when c_row >= 0 (where A's rows are
// row-major doubles the engine then reads the row instead of keeping a
// copy); the farthest row into *out, as a row of A. False, with nothing
// changed, when the fold's storage cannot be had.
bool groups_fold(group_engine* e, const double* c, int64_t c_row, choice_farthest* out);
// How many rows' distances the last fold computed.
int64_t groups_visits(const group_engine* e);
// The nearest distances of the engine's rows, in row order, into nearest[0 .. count - 1].
void groups_nearest(const group_engine* e, double* nearest);
// The nearest distance of row `row` of A now (0.0 once dropped); -1.0 when
// the storage to look it up cannot be had.
double groups_near(group_engine* e, int32_t row);
// Row `row` of A, once folded, is never the farthest again.
void groups_drop(group_engine* e, int32_t row);
void groups_end(group_engine* e);
