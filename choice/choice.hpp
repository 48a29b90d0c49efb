// Farthest-first choice over the rows of a matrix: the plain fold, and an
// engine that gives the same answers faster, one centre at a time.
//
// The rules: every row's nearest distance starts at the largest finite
// double; folding a centre c lowers it to the squared distance from the row
// to c (row first, coordinate 0 up) where that is strictly smaller, so a NaN
// distance never lowers it; the next centre is the row with the largest
// nearest distance above 0.0, the lowest row among equals. A row holding NaN
// or an infinity thus keeps the start value and is chosen, and chosen again.
#pragma once

#include <cstdint>

#include "matvec.hpp"
#include "rows.hpp"
#include "simd.hpp"

// The row a fold leaves farthest from the centres and its nearest distance;
// row -1 (and 0.0) when every nearest distance is 0.0.
struct choice_farthest {
  double dist_sq;
  int32_t row;
};

// The plain fold, row by row with vec_dist_sq: folds c (A->cols doubles)
// into nearest[0 .. A->rows - 1] and returns the farthest row afterwards.
choice_farthest choice_fold_ref(const mat* A, const double* c, double* nearest);
// The same over the rows of X, each coordinate widened to double as it is
// read: the same sums as vec_dist_sq over the rows widened first.
choice_farthest choice_fold_ref(const row_source* X, const double* c, double* nearest);

// How the engine prunes: never (one vector pass per centre over every row),
// when it pays, or always. Up to 8 columns it groups rows into buckets of
// nearby rows (pays with enough rows and centres); above, it groups rows by
// their nearest centre (pays from 32 columns on; from 9 to 31 it gives up,
// part-way, where the folds visit too many of the rows, and goes on with
// passes).
enum class choice_prune { never, automatic, always };

struct choice_options {
  simd_level level;    // a level the processor runs
  choice_prune prune;
  int64_t centres;     // how many folds are expected: pruning repays its set-up over many
};

struct choice;

// The engine over rows [first, first + count) of A (the data A names must
// outlive the engine; the record itself is copied), every nearest distance
// at the start value. Null when its storage cannot be had, or when the rows
// do not lie within A. Float32 rows give exactly the answers of the same
// rows widened to double first.
choice* choice_start(const row_source* A, int32_t first, int32_t count, const choice_options* opt);
// The same over a matrix of doubles.
choice* choice_start(const mat* A, int32_t first, int32_t count, const choice_options* opt);
// Folds c (A->cols doubles) into the nearest distance of each of the
// engine's rows; returns the farthest of them afterwards, as a row of A
// (not counted from first), exactly as choice_fold_ref over those rows.
// c_row is the row of A whose coordinates c holds, widened (it may lie
// outside the engine's rows), or -1 when c is no row of A: a centre given
// by its row may be read from A when needed later, one given as -1 is
// copied.
choice_farthest choice_fold(choice* s, const double* c, int64_t c_row);
// The nearest distances of the engine's rows, in row order, into
// nearest[0 .. count - 1].
void choice_nearest(const choice* s, double* nearest);
// The nearest distance of row `row` of A (one of the engine's rows) now: the
// start value until a fold lowers it, 0.0 once dropped; -1.0 when the
// storage to look it up cannot be had.
double choice_near(choice* s, int64_t row);
// Row `row` of A (one of the engine's rows), already folded in, is never the
// farthest row again: a row holding NaN or an infinity, which no fold comes
// nearer to, is chosen once. A finite row folded in lies at 0.0 already.
void choice_drop(choice* s, int64_t row);
// How the engine folds now: "passes", "buckets", "groups", or "plain" (the
// plain fold, when storage ran out part-way).
const char* choice_path(const choice* s);
void choice_end(choice* s);

// Farthest-first from row 0 for up to k centres: centres[0] = 0, then each
// fold's farthest row (the previous centre again when every row lies on a
// centre). Stops storing at the first centre chosen right after itself:
// nothing changes after that, so every later centre repeats it. Returns how
// many centres it stored (from 1 to k, at most A->rows + 1); centres must
// hold that many. False return (0) when the engine's storage cannot be had.
int64_t choice_run(const mat* A, int32_t k, int32_t* centres, const choice_options* opt);
