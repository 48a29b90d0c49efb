#include <cstdio>
#include <cstdlib>

#include "internal.hpp"
#include "matvec.hpp"

// Storage is 64-byte aligned so that vector kernels may load whole cache
// lines; at least one byte is asked for, so null always means failure.
double* storage_alloc(int64_t count, bool zero) {
  if (count < 0 || static_cast<uint64_t>(count) > SIZE_MAX / sizeof(double) - 64)
    return nullptr;
  size_t bytes = static_cast<size_t>(count) * sizeof(double);
  bytes = (bytes + 63) / 64 * 64;
  if (bytes == 0) bytes = 64;
  void* p = std::aligned_alloc(64, bytes);
  if (p != nullptr && zero) {
    // Only the requested elements are promised to be zero.
    double* d = static_cast<double*>(p);
    for (int64_t i = 0; i < count; ++i) d[i] = 0.0;
  }
  return static_cast<double*>(p);
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
  std::free(v->data);
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
