// farthest_pair [T] < matrix
//
// Times a search of every pair of matrix rows for the two rows farthest
// apart on T OpenMP threads (default 1), and prints one item of a scaling
// series: "(T,seconds)," with four decimals and no newline, so that the items
// of successive runs appended to one file read as a list. The clock starts
// before the matrix is read: the time covers reading, allocating and the
// search (pair_search.hpp).
#include <omp.h>

#include <cstdint>
#include <cstdio>

#include "cli.hpp"
#include "matvec.hpp"
#include "pair_search.hpp"
#include "threads.hpp"

// The line for an input buffer that cannot grow, wherever reading stops.
static const char no_memory_line[] = "error : not enough memory to read the input";

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

// The one place that picks the path: a build with FORCE_PLAIN_PATH takes the
// plain scan, row by row with vec_dist_sq; others the widest vector
// instructions the processor runs. The pair found is not printed: the item
// is the thread count and the time.
static void search(const mat* A, int32_t threads) {
#ifdef FORCE_PLAIN_PATH
  farthest_pair_search_ref(A, threads);
#else
  farthest_pair_search(A, threads, simd_best());
#endif
}

int main(int argc, char** argv) {
  if (argc >= 2 && is_help(argv[1])) return print_help(help_text);
  // Exactly one argument sets T; with none or several, T stays 1.
  int32_t threads = 1;
  if (argc == 2 && !parse_count(argv[1], 1, pair_search_max_threads, &threads))
    return fail("error : the thread count must be a whole number from 1 to 4096");
  if (!threads_can_start(threads)) return failf("error : the system cannot start %d threads", threads);
  omp_set_num_threads(threads);

  const double t0 = omp_get_wtime();

  int32_t rows = 0, cols = 0;
  if (mat_read_shape(&rows, &cols) < 2)
    return fail(mat_read_no_memory() ? no_memory_line : "error reading the shape of the matrix");
  if (rows < 0 || cols < 0)
    return failf("error : a matrix needs no negative row or column count, not %d x %d", rows, cols);

  mat A;
  mat_malloc(&A, rows, cols);
  if (A.data == nullptr) return failf("error : not enough memory for a %d x %d matrix", rows, cols);
  const int64_t elements = static_cast<int64_t>(rows) * cols;
  if (elements > 0 && mat_read(&A) != elements) {
    mat_free(&A);
    return fail(mat_read_no_memory() ? no_memory_line : "error reading the elements of the matrix");
  }

  // Without columns every row is the same point and no pair lies apart; the
  // shape line alone could otherwise ask for 2^61 empty comparisons.
  if (cols > 0) search(&A, threads);

  const double t1 = omp_get_wtime();
  std::printf("(%d,%.4f),", threads, t1 - t0);

  mat_free(&A);
  return output_status();
}
