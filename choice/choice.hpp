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

// Whether the engine groups rows into buckets of nearby rows (so that a
// centre visits only those it may come nearer to): never, when it pays
// (few dimensions, enough rows and centres), or always.
enum class choice_prune { never, automatic, always };

struct choice_options {
  simd_level level;    // a level the processor runs
  choice_prune prune;
  int64_t centres;     // how many folds are expected: pruning repays its set-up over many
};

struct choice;

// The engine over the rows of A (A must outlive it), every nearest distance
// at the start value. Null when its storage cannot be had.
choice* choice_start(const mat* A, const choice_options* opt);
// Folds c (A->cols doubles: a row of A or any point) into every row's
// nearest distance; returns the farthest row, exactly as choice_fold_ref.
choice_farthest choice_fold(choice* s, const double* c);
// The nearest distances in row order, into nearest[0 .. A->rows - 1].
void choice_nearest(const choice* s, double* nearest);
void choice_end(choice* s);

// Farthest-first from row 0 for up to k centres: centres[0] = 0, then each
// fold's farthest row (the previous centre again when every row lies on a
// centre). Stops storing at the first centre chosen right after itself:
// nothing changes after that, so every later centre repeats it. Returns how
// many centres it stored (from 1 to k, at most A->rows + 1); centres must
// hold that many. False return (0) when the engine's storage cannot be had.
int64_t choice_run(const mat* A, int32_t k, int32_t* centres, const choice_options* opt);
