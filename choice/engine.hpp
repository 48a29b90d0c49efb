// The engine's two ways of folding a centre, as choice.cpp drives them.
#pragma once

#include <cstdint>

#include "choice.hpp"
#include "kernels.hpp"

// Every row laid out by coordinate, one vector pass per centre.
struct pass_engine {
  by_coord X;
  double* near;  // nearest distance of each row, in row order
};

bool pass_start(pass_engine* e, const mat* A);
choice_farthest pass_fold(pass_engine* e, simd_level level, const double* c);
void pass_end(pass_engine* e);

struct bucket_engine;

// Whether grouping rows into buckets pays for this shape and number of centres.
bool buckets_pay(int32_t rows, int32_t cols, int64_t centres);
bucket_engine* buckets_start(const mat* A, simd_level level);
choice_farthest buckets_fold(bucket_engine* e, const double* c);
void buckets_nearest(const bucket_engine* e, double* nearest);
void buckets_end(bucket_engine* e);
