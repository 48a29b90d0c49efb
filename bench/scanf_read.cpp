// scanf_read < matrix.txt
//
// The straightforward way to read the matrix text: "%d %d", then one
// scanf("%lf") per element into a malloc'd array; prints row 0 as
// `greedy_centers 1` does. The baseline for the reader in bench/run.
#include <cstdio>
#include <cstdlib>

int main() {
  int rows = 0, cols = 0;
  if (std::scanf("%d %d", &rows, &cols) != 2 || rows < 1 || cols < 0) {
    std::printf("error reading the shape of the matrix\n");
    return 1;
  }
  long n = static_cast<long>(rows) * cols;
  double* a = static_cast<double*>(std::malloc(sizeof(double) * (n > 0 ? n : 1)));
  long got = 0;
  for (long i = 0; i < n; ++i) got += std::scanf("%lf", &a[i]) == 1;
  if (got != n) {
    std::printf("error reading the elements of the matrix\n");
    return 1;
  }
  for (int j = 0; j < cols; ++j) std::printf("%.6lf ", a[j]);
  std::printf("\n");
  std::free(a);
  return 0;
}
