// farthest_pair [T] < matrix
//
// Times a search of every pair of matrix rows for the two rows farthest
// apart on T OpenMP threads (default 1), and prints one item of a scaling
// series: "(T,seconds)," with four decimals and no newline, so that the items
// of successive runs appended to one file read as a list. The clock starts
// before the matrix is read: the time covers reading, allocating and the
// search. The search runs the widest vector kernels the processor has
// (fp_simd.hpp); every level finds the pair the plain scan finds.
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

// The first row after i whose squared distance from row i is `dist`, among
// rows i + 1 .. j0 - 1 by the plain scan and from j0 on by the vector one.
static int32_t first_partner(const mat* A, const fp_by_coord* X, simd_level level, int64_t i,
                             int64_t j0, double dist) {
  vec a, b;
  mat_get_row(A, &a, static_cast<int32_t>(i));
  for (int64_t j = i + 1; j < std::min<int64_t>(j0, A->rows); ++j) {
    mat_get_row(A, &b, static_cast<int32_t>(j));
    if (vec_dist_sq(&a, &b) == dist) return static_cast<int32_t>(j);
  }
  return static_cast<int32_t>(fp_first_at(level, X, a.data, j0, dist));
}

// The rows t, t + g, ... of one thread through a vector kernel, a block of R
// of them (rows t, t + g, ..., t + (R - 1) g, then the next R) against the
// later rows in vector lanes. The kernel returns each row's largest
// distance; only a row whose largest beats the thread's best so far (rare
// after the first few rows on most data; on every row at worst, which about
// doubles the work) is searched again for its first partner at that
// distance. Rows in increasing order, strict tests, the first partner: the
// thread's pair is the one its plain scan of the same rows finds.
static farthest scan_rows_vector(const mat* A, const fp_by_coord* X, simd_level level, int64_t t,
                                 int64_t g) {
  const int64_t n = A->rows;
  const int32_t R = fp_block_rows(level);
  farthest best = no_pair;
  for (int64_t first = t; first < n - 1; first += R * g) {
    int64_t row[fp_block_rows_max];
    const double* c[fp_block_rows_max];
    int32_t used = 0;
    for (int32_t r = 0; r < R; ++r) {
      if (first + r * g < n - 1) used = r + 1;
      // Past the thread's last row the kernel is handed that row again; its
      // answers are not used.
      row[r] = used == r + 1 ? first + r * g : row[used - 1];
      c[r] = A->data + row[r] * A->cols;
    }
    // The rows of a block start at different columns; each is compared with
    // the columns before j0 (the first lane boundary past the block's last
    // row) by the plain scan, and with the rest by the kernel.
    const int64_t j0 = (row[used - 1] + 1 + fp_lanes - 1) / fp_lanes * fp_lanes;
    double most[fp_block_rows_max];
    for (int32_t r = 0; r < used; ++r) {
      vec a, b;
      mat_get_row(A, &a, static_cast<int32_t>(row[r]));
      most[r] = 0.0;
      for (int64_t j = row[r] + 1; j < std::min(j0, n); ++j) {
        mat_get_row(A, &b, static_cast<int32_t>(j));
        const double d = vec_dist_sq(&a, &b);
        if (d > most[r]) most[r] = d;
      }
    }
    if (j0 < n) {
      double lanes[fp_block_rows_max];
      fp_block_most(level, X, c, j0, lanes);
      for (int32_t r = 0; r < used; ++r)
        if (lanes[r] > most[r]) most[r] = lanes[r];
    }
    for (int32_t r = 0; r < used; ++r) {
      best.compared += n - 1 - row[r];
      if (most[r] > best.dist_sq) {
        best.dist_sq = most[r];
        best.i = static_cast<int32_t>(row[r]);
        best.j = first_partner(A, X, level, row[r], j0, most[r]);
      }
    }
  }
  return best;
}

// The one place that picks the path: a build with FORCE_PLAIN_PATH takes
// the plain scan, row by row with vec_dist_sq; others the widest vector
// instructions the processor runs.
farthest farthest_pair_search(const mat* A, int32_t threads) {
#ifdef FORCE_PLAIN_PATH
  return farthest_pair_search(A, threads, simd_level::plain);
#else
  return farthest_pair_search(A, threads, simd_best());
#endif
}

farthest farthest_pair_search(const mat* A, int32_t threads, simd_level level) {
  const int32_t team = std::clamp(threads, int32_t{1}, farthest_pair_max_threads);
  farthest found[farthest_pair_max_threads];
  int32_t granted = 1;

  // The vector kernels read a copy of the rows by coordinate, made once
  // here. Without it (no storage, a path this processor lacks, nothing to
  // compare) the plain scan runs.
  fp_by_coord X{nullptr, 0, 0, 0};
  if (level != simd_level::plain && simd_runs(level) && A->rows >= 2 && A->cols > 0)
    X = fp_by_coord_make(A);
  if (X.x == nullptr) level = simd_level::plain;
  const fp_by_coord* by_coord = &X;

  // Each thread keeps its best pair in locals and writes only its own slot,
  // once. The stride is the size of the team actually granted (a runtime may
  // grant fewer threads than asked), so no row is left unscanned.
#pragma omp parallel num_threads(team) default(none) shared(A, found, granted, level, by_coord)
  {
    const int32_t t = omp_get_thread_num();
    const int32_t g = omp_get_num_threads();
    farthest best = no_pair;
    if (level == simd_level::plain) {
      // 64-bit rows: i + g must not wrap near 2^31 rows.
      for (int64_t i = t; i < static_cast<int64_t>(A->rows) - 1; i += g)
        best.compared += farthest_pair_scan_row(A, static_cast<int32_t>(i), &best);
    } else {
      best = scan_rows_vector(A, by_coord, level, t, g);
    }
    found[t] = best;
    if (t == 0) granted = g;
  }
  fp_by_coord_free(&X);

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

static const char no_memory_line[] = "error : not enough memory to read the input";

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
  if (mat_read_shape(&rows, &cols) < 2)
    return fail(mat_read_no_memory() ? no_memory_line : "error reading the shape of the matrix");
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
    return fail(mat_read_no_memory() ? no_memory_line : "error reading the elements of the matrix");
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
