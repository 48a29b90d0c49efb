// print_rows MATRIX ROW...: prints the listed rows of a matrix in the text
// format, each as vec_print prints it ("%.6lf " per element), read with the
// suite's own reader: the rows of an order, as greedy_centers prints centres.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "matvec.hpp"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const int fd = open(argv[1], O_RDONLY);
  scan_reader r;
  scan_reader_open(&r, fd);
  int32_t rows = 0, cols = 0;
  if (fd < 0 || mat_read_shape(&r, &rows, &cols) < 2) return 2;
  mat A;
  mat_malloc(&A, rows, cols);
  if (A.data == nullptr || mat_read(&r, &A) != static_cast<int64_t>(rows) * cols) return 2;
  vec v;
  for (int i = 2; i < argc; ++i) {
    const long row = std::strtol(argv[i], nullptr, 10);
    if (row < 0 || row >= rows) return 2;
    mat_get_row(&A, &v, static_cast<int32_t>(row));
    vec_print(&v);
  }
  scan_reader_close(&r);
  mat_free(&A);
  close(fd);
  return 0;
}
