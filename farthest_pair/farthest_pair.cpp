// farthest_pair [T] < matrix
//
// Times a search of every pair of matrix rows for the two rows farthest
// apart on T OpenMP threads (default 1), and prints one item of a scaling
// series: "(T,seconds)," with four decimals and no newline, so that the items
// of successive runs appended to one file read as a list. The clock starts
// before the matrix is read: the time covers reading, allocating and the
// search.
#include "farthest_pair.hpp"

#include <omp.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "matvec.hpp"

int64_t farthest_pair_scan_row(const mat* A, int32_t i, farthest* best) {
  // The running best stays in locals, which the compiler can keep in
  // registers across the calls to vec_dist_sq.
  double largest = best->dist_sq;
  int32_t bi = best->i, bj = best->j;
  vec a, b;
  mat_get_row(A, &a, i);
  for (int32_t j = i + 1; j < A->rows; ++j) {
    mat_get_row(A, &b, j);
    const double d = vec_dist_sq(&a, &b);
    if (d > largest) {
      largest = d;
      bi = i;
      bj = j;
    }
  }
  best->dist_sq = largest;
  best->i = bi;
  best->j = bj;
  return i + 1 < A->rows ? static_cast<int64_t>(A->rows) - 1 - i : 0;
}

// The total order of the merge: the larger distance, then the lower (i, j).
// Thread results are never NaN, so the order is total and the merge does not
// depend on which thread finished first.
static bool farther(const farthest* a, const farthest* b) {
  if (a->dist_sq != b->dist_sq) return a->dist_sq > b->dist_sq;
  return a->i != b->i ? a->i < b->i : a->j < b->j;
}

farthest farthest_pair_search(const mat* A, int32_t threads) {
  const int32_t team = std::clamp(threads, int32_t{1}, farthest_pair_max_threads);
  farthest found[farthest_pair_max_threads];
  int32_t granted = 1;

  // Each thread keeps its best pair in locals and writes only its own slot,
  // once. The stride is the size of the team actually granted (a runtime may
  // grant fewer threads than asked), so no row is left unscanned.
#pragma omp parallel num_threads(team) default(none) shared(A, found, granted)
  {
    const int32_t t = omp_get_thread_num();
    const int32_t g = omp_get_num_threads();
    farthest best = no_pair;
    // 64-bit rows: i + g must not wrap near 2^31 rows.
    for (int64_t i = t; i < static_cast<int64_t>(A->rows) - 1; i += g)
      best.compared += farthest_pair_scan_row(A, static_cast<int32_t>(i), &best);
    found[t] = best;
    if (t == 0) granted = g;
  }

  farthest best = found[0];
  for (int32_t t = 1; t < granted; ++t) {
    const int64_t compared = best.compared + found[t].compared;
    if (farther(&found[t], &best)) best = found[t];
    best.compared = compared;
  }
  return best;
}

farthest farthest_pair_ref(const mat* A) {
  farthest best = no_pair;
  vec a, b;
  for (int32_t i = 0; i < A->rows; ++i) {
    mat_get_row(A, &a, i);
    for (int32_t j = i + 1; j < A->rows; ++j) {
      mat_get_row(A, &b, j);
      const double d = vec_dist_sq(&a, &b);
      ++best.compared;
      if (d > best.dist_sq) {
        best.dist_sq = d;
        best.i = i;
        best.j = j;
      }
    }
  }
  return best;
}

// T as atoi reads it (leading blanks, a sign, digits, anything after them
// ignored), but refusing what atoi would wrap and what no team can be.
static bool parse_threads(const char* text, int32_t* threads) {
  errno = 0;
  const long v = std::strtol(text, nullptr, 10);
  if (errno == ERANGE || v < 1 || v > farthest_pair_max_threads) return false;
  *threads = static_cast<int32_t>(v);
  return true;
}

static const char help_text[] =
    "usage : farthest_pair [T] < matrix\n"
    "\n"
    "Searches every pair of rows of a matrix read from standard input for the two\n"
    "rows farthest apart, on T OpenMP threads (default 1; thread t takes rows t,\n"
    "t + T, ...), and prints one item of a scaling series: \"(T,seconds),\" with\n"
    "four decimals and no newline. The time covers reading the matrix and the\n"
    "search. The matrix is two integers, rows and columns, then the elements row\n"
    "after row. Exits with 0 after the item; bad input prints one line and exits\n"
    "with 1.\n";

static int fail(const char* line) {
  std::printf("%s\n", line);
  return 1;
}

int main(int argc, char** argv) {
  if (argc >= 2 && (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help"))) {
    std::fputs(help_text, stdout);
    return 0;
  }
  // Exactly one argument sets T; with none or several, T stays 1.
  int32_t threads = 1;
  if (argc == 2 && !parse_threads(argv[1], &threads))
    return fail("error : the thread count must be a whole number from 1 to 4096");
  omp_set_num_threads(threads);

  const double t0 = omp_get_wtime();

  int32_t rows = 0, cols = 0;
  if (mat_read_shape(&rows, &cols) < 2) return fail("error reading the shape of the matrix");
  if (rows < 0 || cols < 0) {
    std::printf("error : a matrix needs no negative row or column count, not %d x %d\n", rows,
                cols);
    return 1;
  }

  mat A;
  mat_malloc(&A, rows, cols);
  if (A.data == nullptr) {
    std::printf("error : not enough memory for a %d x %d matrix\n", rows, cols);
    return 1;
  }
  const int64_t elements = static_cast<int64_t>(rows) * cols;
  if (elements > 0 && mat_read(&A) != elements) {
    mat_free(&A);
    return fail("error reading the elements of the matrix");
  }

  // Without columns every row is the same point and no pair lies apart; the
  // shape line alone could otherwise ask for 2^61 empty comparisons. The pair
  // found is not printed: the item is the thread count and the time.
  if (cols > 0) farthest_pair_search(&A, threads);

  const double t1 = omp_get_wtime();
  std::printf("(%d,%.4f),", threads, t1 - t0);

  mat_free(&A);
  // A full disk or a closed pipe must not pass for success.
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
