// The farthest-first choice, one centre at a time: the nearest distance of
// every row of a matrix to the centres folded in so far, and the row farthest
// from them.
#pragma once

#include <cstdint>

#include "matvec.hpp"

struct choice_options {
  int32_t threads;  // >= 1
};

// The farthest row after a fold: the largest nearest distance above 0.0 and
// the lowest row among equals; row -1 (dist 0.0) when every nearest distance
// is 0.0.
struct choice_farthest {
  double dist_sq;
  int32_t row;
};

struct choice;

// Farthest-first state over the rows of a row-major matrix (the rows are
// copied as the engine likes). Null when its storage cannot be had.
choice* choice_start(const mat* A, const choice_options* opt);
// Folds the point c (A->cols doubles; a row of A or any point) into every
// row's nearest distance (strict test: nearest := d where nearest > d), and
// returns the farthest row afterwards. Nearest distances start at
// 1.7976931348623157e308 (no_distance).
choice_farthest choice_fold(choice* s, const double* c);
void choice_end(choice* s);
