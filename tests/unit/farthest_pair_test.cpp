#include "farthest_pair.hpp"

#include <omp.h>

#include <limits>
#include <random>
#include <vector>

#include "matvec.hpp"
#include "test_support.hpp"

namespace {

// Team sizes around the row counts used below: one thread, a few, and more
// threads than rows.
const int32_t team_sizes[] = {1, 2, 3, 5, 12};

testing::AssertionResult same_result(const farthest& got, const farthest& want) {
  if (same_bits(got.dist_sq, want.dist_sq) && got.i == want.i && got.j == want.j &&
      got.compared == want.compared)
    return testing::AssertionSuccess();
  return testing::AssertionFailure()
         << std::hexfloat << "got (" << got.dist_sq << ", " << got.i << ", " << got.j << ", "
         << got.compared << "), want (" << want.dist_sq << ", " << want.i << ", " << want.j
         << ", " << want.compared << ")";
}

farthest pair(double dist_sq, int32_t i, int32_t j, int64_t rows) {
  return {dist_sq, i, j, rows * (rows - 1) / 2};
}

TEST(FarthestPairSearch, MatchesReferenceOnRandomMatrices) {
  std::mt19937_64 g(7);
  std::uniform_real_distribution<double> u(-100, 100);
  for (int trial = 0; trial < 80; ++trial) {
    const int32_t rows = trial < 4 ? trial : 1 + static_cast<int32_t>(g() % 70);
    const int32_t cols = 1 + static_cast<int32_t>(g() % 6);
    // Few distinct values make equal distances, and so ties, common.
    const bool coarse = trial % 3 == 0;
    std::vector<double> data(static_cast<size_t>(rows) * cols);
    for (double& x : data) x = coarse ? static_cast<double>(g() % 3) : u(g);
    mat A{data.data(), rows, cols};
    const farthest want = farthest_pair_ref(&A);
    for (int32_t t : team_sizes)
      EXPECT_TRUE(same_result(farthest_pair_search(&A, t), want))
          << "trial " << trial << ", " << rows << " x " << cols << ", " << t << " threads";
  }
}

// For each pair (a, b) of a few rows, a line of points on which (a, b) alone
// lies 4 apart: a search that skips any pair misses one of them, and one that
// compares a pair twice or starts a row twice counts too many.
TEST(FarthestPairSearch, ComparesEveryPairExactlyOnce) {
  std::mt19937_64 g(3);
  std::uniform_real_distribution<double> inside(-0.9, 0.9);
  for (int32_t rows = 2; rows <= 9; ++rows) {
    std::vector<double> x(rows);
    for (int32_t a = 0; a < rows; ++a) {
      for (int32_t b = a + 1; b < rows; ++b) {
        for (double& v : x) v = inside(g);
        x[a] = -1.0;
        x[b] = 1.0;
        mat A{x.data(), rows, 1};
        for (int32_t t : team_sizes)
          EXPECT_TRUE(same_result(farthest_pair_search(&A, t), pair(4.0, a, b, rows)))
              << rows << " rows, " << t << " threads";
      }
    }
  }
}

// Small matrices whose answer is known: ties, no pair at all, NaN distances.
TEST(FarthestPairSearch, KnownAnswers) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct known {
    const char* what;
    std::vector<double> data;
    int32_t rows, cols;
    double dist_sq;
    int32_t i, j;
  };
  const known cases[] = {
      {"every unequal pair 1 apart: the first pair", {0, 1, 0, 1, 0, 1, 0}, 7, 1, 1.0, 0, 1},
      // With two threads (1, 3) is thread 1's and (2, 3) thread 0's: the
      // merge must not favour the lower thread number.
      {"(1, 3) and (2, 3) tie", {0.5, 0, 0, 1}, 4, 1, 1.0, 1, 3},
      {"no rows", {}, 0, 2, 0.0, -1, -1},
      {"one row", {3, 4}, 1, 2, 0.0, -1, -1},
      {"all rows equal", {2, -1, 2, -1, 2, -1}, 3, 2, 0.0, -1, -1},
      {"no columns", {}, 3, 0, 0.0, -1, -1},
      {"row 0 holds a NaN and takes no part", {nan, 0, 0, 0, 3, 4, 1, 1}, 4, 2, 25.0, 1, 2},
      // inf - inf is NaN: rows 0 and 2 are no pair, (0, 1) and (1, 2) are at infinity.
      {"a shared infinity", {inf, 0, 1, 0, inf, 0}, 3, 2, inf, 0, 1},
      {"every distance NaN", {nan, nan, nan}, 3, 1, 0.0, -1, -1},
  };
  for (const known& c : cases) {
    mat A{const_cast<double*>(c.data.data()), c.rows, c.cols};
    for (int32_t t : team_sizes)
      EXPECT_TRUE(same_result(farthest_pair_search(&A, t), pair(c.dist_sq, c.i, c.j, c.rows)))
          << c.what << ", " << t << " threads";
  }
}

// A search started inside a parallel region, with nesting off, gets a team of
// one whatever it asks for: striding by the request would leave rows unscanned.
TEST(FarthestPairSearch, StridesByTheThreadsGranted) {
  std::mt19937_64 g(5);
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<double> data(40 * 3);
  for (double& x : data) x = u(g);
  mat A{data.data(), 40, 3};
  const farthest want = farthest_pair_ref(&A);
  const int levels = omp_get_max_active_levels();
  omp_set_max_active_levels(1);
  farthest got[2];
  int inner_team[2] = {0, 0};
#pragma omp parallel num_threads(2)
  {
    const int t = omp_get_thread_num();
    got[t] = farthest_pair_search(&A, 4);
#pragma omp parallel num_threads(4)
    if (omp_get_thread_num() == 0) inner_team[t] = omp_get_num_threads();
  }
  omp_set_max_active_levels(levels);
  for (int t = 0; t < 2; ++t) {
    EXPECT_EQ(inner_team[t], 1);
    EXPECT_TRUE(same_result(got[t], want));
  }
}

}  // namespace
