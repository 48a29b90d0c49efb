#include <cstdio>
#include <cstdlib>

#include "matvec.hpp"
#include "internal.hpp"
#include "work.hpp"

static int64_t element_count(int32_t rows, int32_t cols) {
  if (rows < 0 || cols < 0) return -1;
  return static_cast<int64_t>(rows) * cols;
}

void mat_malloc(mat* A, int32_t rows, int32_t cols) {
  A->data = storage_alloc(element_count(rows, cols), false);
  A->rows = rows;
  A->cols = cols;
}

void mat_calloc(mat* A, int32_t rows, int32_t cols) {
  A->data = storage_alloc(element_count(rows, cols), true);
  A->rows = rows;
  A->cols = cols;
}

void mat_free(mat* A) {
  work_free(A->data);
  A->data = nullptr;
  A->rows = 0;
  A->cols = 0;
}

void mat_get_row(const mat* A, vec* v, int32_t i) {
  v->n = A->cols;
  v->data = A->data + static_cast<int64_t>(i) * A->cols;
}

int64_t mat_read(scan_reader* r, mat* A) {
  // The rows lie one after another, so one run of attempts over the whole
  // body reads exactly what vec_read on each row in turn would, and stops as
  // soon as nothing more can convert (a huge shape with no body ends at once).
  if (A->rows <= 0 || A->cols <= 0) return 0;
  return scan_reader_doubles(r, A->data, static_cast<int64_t>(A->rows) * A->cols);
}

int mat_read_shape(scan_reader* r, int32_t* rows, int32_t* cols) {
  // "%d %d": the second integer is only tried when the first converted.
  if (!scan_reader_int32(r, rows)) return 0;
  if (!scan_reader_int32(r, cols)) return 1;
  return 2;
}

int64_t mat_read(mat* A) { return mat_read(stdin_reader(), A); }

int mat_read_shape(int32_t* rows, int32_t* cols) { return mat_read_shape(stdin_reader(), rows, cols); }

bool mat_read_no_memory() { return stdin_reader()->no_memory; }

void mat_print(const mat* A) {
  vec v;
  for (int32_t i = 0; i < A->rows; ++i) {
    mat_get_row(A, &v, i);
    vec_print(&v);
  }
}

void mat_print(const mat* A, const char* name) {
  std::printf("The %d x %d matrix %s:\n", A->rows, A->cols, name);
  char label[32];
  vec v;
  for (int32_t i = 0; i < A->rows; ++i) {
    std::snprintf(label, sizeof label, "row %d", i);
    mat_get_row(A, &v, i);
    vec_print(&v, label);
  }
}
