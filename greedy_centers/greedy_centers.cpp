// greedy_centers k < matrix
//
// Chooses k centres among the rows of a matrix read from standard input by
// farthest-first traversal: row 0 first, then each time the row farthest from
// every centre chosen so far (the lowest index among equals). Prints the
// centre rows in the order of choice, "%.6lf " per element.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "choice.hpp"
#include "order.hpp"
#include "cli.hpp"
#include "matvec.hpp"

// Folds centre number m (centres[m-1]) into the nearest distances, writes the
// index of the farthest row to *next and returns that row's squared distance:
// the squared covering radius of the first m centres. Both tests are strict,
// so the lowest index wins a tie, and *next keeps its value when every row
// lies on a centre.
double center_cost(const mat* A, const int32_t* centres, int32_t m, int32_t* next, vec* nearest) {
  vec c;
  mat_get_row(A, &c, centres[m - 1]);
  const choice_farthest far = choice_fold_ref(A, c.data, nearest->data);
  if (far.row >= 0) *next = far.row;
  return far.dist_sq;
}

// The line for an input buffer that cannot grow, wherever reading stops.
static const char no_memory_line[] = "error : not enough memory to read the input";

static const char help_text[] =
    "usage : greedy_centers k < matrix\n"
    "\n"
    "Chooses k centres among the rows of a matrix read from standard input by\n"
    "farthest-first traversal: row 0 first, then each time the row whose squared\n"
    "distance to its nearest chosen centre is largest (the lowest row index among\n"
    "equals). The matrix is two integers, rows and columns, then the elements row\n"
    "after row. Prints the k centre rows in the order of choice, each element as\n"
    "\"%.6lf \", one row per line, and exits with 0; bad input prints one line and\n"
    "exits with 1.\n";

// The plain loop under the suite's one farthest-first loop: center_cost
// once per centre, over the matrix as it was read.
struct plain_folder {
  const mat* A;
  vec nearest;
  int32_t* centres;
  int64_t stored;
};

static bool plain_start(void* ctx, int64_t) {
  plain_folder* p = static_cast<plain_folder*>(ctx);
  vec_malloc(&p->nearest, p->A->rows);
  if (p->nearest.data == nullptr) return false;
  for (int32_t i = 0; i < p->A->rows; ++i) p->nearest.data[i] = no_distance;
  return true;
}

// Folds centre c in; the farthest row after it, row -1 when every row lies
// on a centre (center_cost then leaves its index as it was).
static choice_farthest plain_fold(void* ctx, int32_t c) {
  plain_folder* p = static_cast<plain_folder*>(ctx);
  int32_t next = -1;
  const double far = center_cost(p->A, &c, 1, &next, &p->nearest);
  return choice_farthest{next < 0 ? 0.0 : far, next};
}

static double plain_near(void* ctx, int32_t row) { return static_cast<plain_folder*>(ctx)->nearest.data[row]; }
static void plain_drop(void*, int32_t) {}  // greedy_centers' rules drop no row
static void plain_end(void* ctx) { vec_free(&static_cast<plain_folder*>(ctx)->nearest); }

static bool plain_step(void* ctx, int64_t, int32_t row, double) {
  plain_folder* p = static_cast<plain_folder*>(ctx);
  p->centres[p->stored++] = row;
  return true;
}

// The centres the plain loop chooses, from row 0, stopping at the first
// centre chosen right after itself (every later one repeats it). Returns how
// many it stored; 0 when the nearest distances cannot be had.
static int64_t choose_plain(const mat* A, int32_t k, int32_t* centres) {
  plain_folder p{A, vec{nullptr, 0}, centres, 0};
  const order_folder by{A->rows, A->cols, &p, plain_start, plain_fold, plain_near, plain_drop, plain_end};
  const int32_t first = 0;
  const order_rules rules{k, false, 0.0, &first, 1, true};
  if (order_run(&by, &rules, plain_step, &p) == order_end::no_memory) return 0;
  return p.stored;
}

// The one place that picks the path: a build with FORCE_PLAIN_PATH takes the
// plain loop; others the engine on the widest vector instructions the
// processor runs, or the plain loop when the engine's storage cannot be had.
static int64_t choose_centres(const mat* A, int32_t k, int32_t* centres) {
  if (A->cols == 0) {
    // Every row is the same point as row 0: every centre is row 0.
    centres[0] = 0;
    return 1;
  }
#ifndef FORCE_PLAIN_PATH
  const choice_options options{simd_best(), choice_prune::automatic, k};
  if (const int64_t m = choice_run(A, k, centres, &options); m > 0) return m;
#endif
  return choose_plain(A, k, centres);
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("Command usage : %s %s\n", argv[0], "k");
    return 1;
  }
  if (is_help(argv[1])) return print_help(help_text);
  int32_t k = 0;
  if (!parse_count(argv[1], 1, INT32_MAX, &k))
    return fail("error : k must be a whole number from 1 to 2147483647");

  int32_t rows = 0, cols = 0;
  if (mat_read_shape(&rows, &cols) < 2)
    return fail(mat_read_no_memory() ? no_memory_line : "error reading the shape of the matrix");
  if (rows < 1 || cols < 0)
    return failf("error : a matrix needs at least 1 row and no negative column count, not %d x %d",
                 rows, cols);

  mat A;
  mat_malloc(&A, rows, cols);
  if (A.data == nullptr) return failf("error : not enough memory for a %d x %d matrix", rows, cols);
  if (mat_read(&A) != static_cast<int64_t>(rows) * cols) {
    mat_free(&A);
    return fail(mat_read_no_memory() ? no_memory_line : "error reading the elements of the matrix");
  }

  // Before a centre repeats right after itself every centre is a new row,
  // so at most rows + 1 are stored whatever k is; the rest repeat the last.
  const int64_t stored = k < int64_t{rows} + 1 ? k : int64_t{rows} + 1;
  int32_t* centres = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * static_cast<size_t>(stored)));
  const int64_t m = centres != nullptr ? choose_centres(&A, k, centres) : 0;
  if (m == 0) {
    std::free(centres);
    mat_free(&A);
    return failf("error : not enough memory for %d centres of a %d x %d matrix", k, rows, cols);
  }

  // A full disk or a closed pipe ends the printing at the first failed write.
  vec row;
  for (int64_t j = 0; j < k && !std::ferror(stdout); ++j) {
    mat_get_row(&A, &row, centres[j < m ? j : m - 1]);
    vec_print(&row);
  }

  std::free(centres);
  mat_free(&A);
  return output_status();
}
