// gen_data uniform|clustered N D SEED > matrix.txt
//
// Writes an N x D matrix in the suite's text format (shape line, then one
// row per line), every value as "%.17g" so that it reads back as exactly
// the double made. See points.hpp for the two kinds.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "points.hpp"

int main(int argc, char** argv) {
  if (argc != 5 ||
      (std::strcmp(argv[1], "uniform") != 0 && std::strcmp(argv[1], "clustered") != 0)) {
    std::printf("usage: %s uniform|clustered N D SEED\n", argv[0]);
    return 1;
  }
  point_kind kind =
      std::strcmp(argv[1], "clustered") == 0 ? point_kind::clustered : point_kind::uniform;
  long n = std::atol(argv[2]), d = std::atol(argv[3]);
  std::vector<double> x = make_points(kind, n, d, std::strtoull(argv[4], nullptr, 10));
  std::printf("%ld %ld\n", n, d);
  for (long i = 0; i < n; ++i)
    for (long j = 0; j < d; ++j) std::printf(j + 1 < d ? "%.17g " : "%.17g\n", x[i * d + j]);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
