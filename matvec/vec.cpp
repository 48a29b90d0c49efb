#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>

#include "internal.hpp"
#include "kernels.hpp"
#include "matvec.hpp"

static constexpr size_t huge_page = size_t{1} << 21;
// From here up a block is offered for huge pages. On a virtual machine each
// 4 KiB page costs a fault of some 15 us when first written: 4 ms for a
// matrix of 50000 rows of 3, against 0.1 ms in one huge page.
static constexpr size_t huge_from = size_t{1} << 18;

void* work_alloc(int64_t bytes) {
  if (bytes < 0 || static_cast<uint64_t>(bytes) > SIZE_MAX - huge_page) return nullptr;
  size_t size = static_cast<size_t>(bytes);
  void* p = nullptr;
  if (size >= huge_from) {
    // Aligned to 2 MiB and offered for huge pages: filling a block of many
    // megabytes then takes a few hundred page faults instead of one per 4 KiB.
    size = (size + huge_page - 1) / huge_page * huge_page;
    p = std::aligned_alloc(huge_page, size);
    if (p != nullptr) ::madvise(p, size, MADV_HUGEPAGE);  // a hint; refusal is harmless
  } else {
    // At least one byte is asked for, so null always means failure.
    size = size == 0 ? 64 : (size + 63) / 64 * 64;
    p = std::aligned_alloc(64, size);
  }
  return p;
}

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
