// greedy_centers k < matrix
//
// Chooses k centres among the rows of a matrix read from standard input by
// farthest-first traversal: row 0 first, then each time the row farthest from
// every centre chosen so far (the lowest index among equals). Prints the
// centre rows in the order of choice, "%.6lf " per element.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "matvec.hpp"

// Folds centre number m (centres[m-1]) into the nearest distances, writes the
// index of the farthest row to *next and returns that row's squared distance:
// the squared covering radius of the first m centres. Both tests are strict,
// so the lowest index wins a tie, and *next keeps its value when every row
// lies on a centre.
double center_cost(const mat* A, const int32_t* centres, int32_t m, int32_t* next,
                   vec* nearest) {
  vec c, row;
  mat_get_row(A, &c, centres[m - 1]);
  double radius = 0.0;
  for (int32_t i = 0; i < A->rows; ++i) {
    mat_get_row(A, &row, i);
    double d = vec_dist_sq(&row, &c);
    if (nearest->data[i] > d) nearest->data[i] = d;
    if (nearest->data[i] > radius) {
      radius = nearest->data[i];
      *next = i;
    }
  }
  return radius;
}

// Fills centres[0..k-1] by farthest-first traversal from row 0. nearest must
// hold A->rows entries; it ends as every row's distance to its nearest centre.
void greedy_choose(const mat* A, int32_t k, int32_t* centres, vec* nearest) {
  for (int32_t i = 0; i < nearest->n; ++i) nearest->data[i] = no_distance;
  centres[0] = 0;
  // Starts at row 0: when every row coincides with row 0, row 0 is chosen again.
  int32_t next = 0;
  for (int32_t j = 1; j < k; ++j) {
    center_cost(A, centres, j, &next, nearest);
    centres[j] = next;
  }
}

// k as atoi reads it, but refusing values atoi would wrap: the number of
// centres must be from 1 up.
static bool parse_k(const char* text, int32_t* k) {
  errno = 0;
  long v = std::strtol(text, nullptr, 10);
  if (errno == ERANGE || v < 1 || v > INT32_MAX) return false;
  *k = static_cast<int32_t>(v);
  return true;
}

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

static int fail(const char* line) {
  std::printf("%s\n", line);
  return 1;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("Command usage : %s %s\n", argv[0], "k");
    return 1;
  }
  if (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help")) {
    std::fputs(help_text, stdout);
    return 0;
  }
  int32_t k = 0;
  if (!parse_k(argv[1], &k)) return fail("error : k must be a whole number from 1 to 2147483647");

  int32_t rows = 0, cols = 0;
  if (mat_read_shape(&rows, &cols) < 2) return fail("error reading the shape of the matrix");
  if (rows < 1 || cols < 0) {
    std::printf("error : a matrix needs at least 1 row and no negative column count, not %d x %d\n",
                rows, cols);
    return 1;
  }

  mat A;
  mat_malloc(&A, rows, cols);
  if (A.data == nullptr) {
    std::printf("error : not enough memory for a %d x %d matrix\n", rows, cols);
    return 1;
  }
  if (mat_read(&A) != static_cast<int64_t>(rows) * cols) {
    mat_free(&A);
    return fail("error reading the elements of the matrix");
  }

  vec nearest;
  vec_malloc(&nearest, rows);
  int32_t* centres = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * static_cast<size_t>(k)));
  if (nearest.data == nullptr || centres == nullptr) {
    std::free(centres);
    vec_free(&nearest);
    mat_free(&A);
    std::printf("error : not enough memory for %d centres of a %d x %d matrix\n", k, rows, cols);
    return 1;
  }

  greedy_choose(&A, k, centres, &nearest);

  vec row;
  for (int32_t j = 0; j < k; ++j) {
    mat_get_row(&A, &row, centres[j]);
    vec_print(&row);
  }

  std::free(centres);
  vec_free(&nearest);
  mat_free(&A);
  // A full disk or a closed pipe must not pass for success.
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
