#include <cstdio>
#include <cstdlib>

#include "internal.hpp"
#include "work.hpp"
#include "matvec.hpp"

// 64-byte aligned, so that vector kernels may load whole cache lines.
double* storage_alloc(int64_t count, bool zero) {
  if (count < 0 || static_cast<uint64_t>(count) > SIZE_MAX / sizeof(double) / 2) return nullptr;
  double* d = static_cast<double*>(work_alloc(count * static_cast<int64_t>(sizeof(double))));
  if (d != nullptr && zero) {
    // Only the requested elements are promised to be zero.
    for (int64_t i = 0; i < count; ++i) d[i] = 0.0;
  }
  return d;
}

void vec_malloc(vec* v, int32_t n) {
  v->data = storage_alloc(n, false);
  v->n = n;
}

void vec_calloc(vec* v, int32_t n) {
  v->data = storage_alloc(n, true);
  v->n = n;
}

void vec_free(vec* v) {
  work_free(v->data);
  v->data = nullptr;
  v->n = 0;
}

int32_t vec_read(vec* v) {
  return static_cast<int32_t>(stdin_read_doubles(v->data, v->n));
}

void vec_print(const vec* v) {
  for (int32_t i = 0; i < v->n; ++i) std::printf("%.6lf ", v->data[i]);
  std::putchar('\n');
}

void vec_print(const vec* v, const char* name) {
  std::printf("%s = ", name);
  for (int32_t i = 0; i < v->n; ++i) std::printf("%.1lf ", v->data[i]);
  std::putchar('\n');
}

void vec_add(const vec* a, const vec* b, vec* out) {
  for (int32_t i = 0; i < b->n; ++i) out->data[i] = a->data[i] + b->data[i];
}

void vec_mult(const vec* v, double s, vec* out) {
  for (int32_t i = 0; i < v->n; ++i) out->data[i] = v->data[i] * s;
}

double vec_dist_sq(const vec* a, const vec* b) {
  // Coordinate 0 first, each square rounded before the addition (the build
  // forbids contraction), so the result is fixed to the last bit.
  double sum = 0.0;
  for (int32_t i = 0; i < a->n; ++i) {
    double diff = a->data[i] - b->data[i];
    sum = diff * diff + sum;
  }
  return sum;
}
