// The all-pairs search at every level and team size against the plain scan.
#include "pair_search.hpp"

#include <omp.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "matvec.hpp"
#include "test_support.hpp"

namespace {

// Team sizes around the row counts used below: one thread, a few, and more
// threads than rows.
const int32_t team_sizes[] = {1, 2, 3, 5, 12};

// Every kernel level this processor runs, plain first.
std::vector<simd_level> levels_here() {
  std::vector<simd_level> levels;
  for (simd_level l : {simd_level::plain, simd_level::avx2, simd_level::avx512})
    if (simd_runs(l)) levels.push_back(l);
  return levels;
}

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
    const farthest want = farthest_pair_search_ref(&A, 1);
    for (simd_level level : levels_here())
      for (int32_t t : team_sizes)
        EXPECT_TRUE(same_result(farthest_pair_search(&A, t, level), want))
            << "trial " << trial << ", " << rows << " x " << cols << ", " << t << " threads, "
            << simd_name(level);
  }
}

// For each pair (a, b) of a few rows, a line of points on which (a, b) alone
// lies 4 apart: a search that skips any pair misses one of them, and one that
// compares a pair twice or starts a row twice counts too many. Up to 21 rows,
// so the vector paths' pairs fall before, in and after their blocks.
TEST(FarthestPairSearch, ComparesEveryPairExactlyOnce) {
  std::mt19937_64 g(3);
  std::uniform_real_distribution<double> inside(-0.9, 0.9);
  for (int32_t rows : {2, 3, 4, 5, 6, 7, 8, 9, 10, 13, 17, 21}) {
    std::vector<double> x(rows);
    for (int32_t a = 0; a < rows; ++a) {
      for (int32_t b = a + 1; b < rows; ++b) {
        for (double& v : x) v = inside(g);
        x[a] = -1.0;
        x[b] = 1.0;
        mat A{x.data(), rows, 1};
        // More threads than rows on the small ones only: oversubscribed
        // teams are slow to start.
        const std::vector<int32_t> teams =
            rows < 10 ? std::vector<int32_t>(std::begin(team_sizes), std::end(team_sizes))
                      : std::vector<int32_t>{1, 2, 3};
        for (simd_level level : levels_here())
          for (int32_t t : teams)
            EXPECT_TRUE(same_result(farthest_pair_search(&A, t, level), pair(4.0, a, b, rows)))
                << rows << " rows, " << t << " threads, " << simd_name(level);
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
    for (simd_level level : levels_here())
      for (int32_t t : team_sizes)
        EXPECT_TRUE(
            same_result(farthest_pair_search(&A, t, level), pair(c.dist_sq, c.i, c.j, c.rows)))
            << c.what << ", " << t << " threads, " << simd_name(level);
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
  const farthest want = farthest_pair_search_ref(&A, 1);
  const int levels = omp_get_max_active_levels();
  omp_set_max_active_levels(1);
  farthest got[2];
  int inner_team[2] = {0, 0};
#pragma omp parallel num_threads(2)
  {
    const int t = omp_get_thread_num();
    got[t] = farthest_pair_search(&A, 4, simd_best());
#pragma omp parallel num_threads(4)
    if (omp_get_thread_num() == 0) inner_team[t] = omp_get_num_threads();
  }
  omp_set_max_active_levels(levels);
  for (int t = 0; t < 2; ++t) {
    EXPECT_EQ(inner_team[t], 1);
    EXPECT_TRUE(same_result(got[t], want));
  }
}

// The vector paths against the plain scan on the row counts around their
// widths (4 and 8 lanes, blocks of pair_block_rows rows dealt g apart), with
// column counts that take each compiled-in count and the general loop, on
// values that make NaN, infinite and tied distances and duplicate rows.
TEST(FarthestPairSearch, VectorPathsMatchThePlainScan) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::mt19937_64 g(11);
  std::uniform_real_distribution<double> u(-10, 10);
  const int32_t row_counts[] = {0,  1,  2,  3,  4,  5,  7,  8,  9,  11, 12, 13, 15, 16,
                                17, 19, 23, 24, 25, 27, 31, 32, 33, 35, 67, 100, 131};
  const int32_t col_counts[] = {1, 2, 3, 4, 5, 7, 16, 17};
  // 0: fine values; 1: three values, so distances tie everywhere; 2: fine
  // values with a few NaN and infinities; 3: every row a copy of one of four.
  for (int kind = 0; kind < 4; ++kind) {
    for (int32_t rows : row_counts) {
      for (int32_t cols : col_counts) {
        std::vector<double> data(static_cast<size_t>(rows) * cols);
        for (double& x : data) x = kind == 1 ? static_cast<double>(g() % 3) : u(g);
        if (kind == 2)
          for (double& x : data) {
            const uint64_t r = g() % 64;
            if (r == 0) x = nan;
            if (r == 1) x = inf;
            if (r == 2) x = -inf;
          }
        if (kind == 3)
          for (int32_t i = 4; i < rows; ++i)
            for (int32_t k = 0; k < cols; ++k)
              data[static_cast<size_t>(i) * cols + k] = data[(g() % 4) * cols + k];
        mat A{data.data(), rows, cols};
        const farthest want = farthest_pair_search_ref(&A, 1);
        for (simd_level level : levels_here())
          for (int32_t t : {1, 2, 3})
            EXPECT_TRUE(same_result(farthest_pair_search(&A, t, level), want))
                << "kind " << kind << ", " << rows << " x " << cols << ", " << t
                << " threads, " << simd_name(level);
      }
    }
  }
}

// Tiles of a few positions and panels of a few rows, so that small matrices
// span many of both: row counts that are no multiple of the tile, of the
// vector width or of the team, panels that are no whole number of blocks,
// tile widths that round down to a vector, and tiles beyond any matrix.
const pair_tiles small_tiles[] = {{8, 1},  {8, 4},  {12, 5},  {16, 3},
                                  {24, 2}, {40, 9}, {8, 512}, {int64_t{1} << 62, 1 << 30}};

// The answer, ties and all, does not depend on the tiles: coarse values tie
// a row's largest distance in several tiles and across panels and threads,
// where only the first pair in the scanning order may win.
TEST(FarthestPairSearch, TilesOfAnySizeGiveTheAnswerOfThePlainScan) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::mt19937_64 g(19);
  std::uniform_real_distribution<double> u(-10, 10);
  for (int32_t rows : {2, 9, 23, 24, 25, 41, 67}) {
    for (int32_t cols : {1, 3, 5}) {
      for (int kind = 0; kind < 3; ++kind) {
        std::vector<double> data(static_cast<size_t>(rows) * static_cast<size_t>(cols));
        for (double& x : data) x = kind == 0 ? u(g) : static_cast<double>(g() % 3);
        if (kind == 2) data[g() % data.size()] = nan;
        mat A{data.data(), rows, cols};
        const farthest want = farthest_pair_search_ref(&A, 1);
        for (const pair_tiles& tiles : small_tiles)
          for (simd_level level : levels_here())
            for (int32_t t : {1, 2, 3})
              EXPECT_TRUE(same_result(farthest_pair_search(&A, t, level, tiles), want))
                  << "kind " << kind << ", " << rows << " x " << cols << ", tiles " << tiles.cols
                  << " x " << tiles.rows << ", " << t << " threads, " << simd_name(level);
      }
    }
  }
}

// As ComparesEveryPairExactlyOnce, with many tiles and panels: a pair that
// falls between two tiles, or a block that reaches into the next panel,
// shows as a missed or doubly counted pair.
TEST(FarthestPairSearch, EveryPairOnceAcrossTilesAndPanels) {
  std::mt19937_64 g(23);
  std::uniform_real_distribution<double> inside(-0.9, 0.9);
  const int32_t rows = 27;
  std::vector<double> x(rows);
  for (int32_t a = 0; a < rows; ++a) {
    for (int32_t b = a + 1; b < rows; ++b) {
      for (double& v : x) v = inside(g);
      x[static_cast<size_t>(a)] = -1.0;
      x[static_cast<size_t>(b)] = 1.0;
      mat A{x.data(), rows, 1};
      for (const pair_tiles& tiles : {pair_tiles{8, 1}, pair_tiles{16, 5}})
        for (simd_level level : levels_here())
          for (int32_t t : {1, 2})
            EXPECT_TRUE(
                same_result(farthest_pair_search(&A, t, level, tiles), pair(4.0, a, b, rows)))
                << "pair " << a << ", " << b << ", tiles " << tiles.cols << " x " << tiles.rows
                << ", " << t << " threads, " << simd_name(level);
    }
  }
}

// The tiles the search picks itself, over several of them and of its panels
// (64 coordinates: 512 positions a tile, 512 rows a panel).
TEST(FarthestPairSearch, OwnTilesSpanSeveralTilesAndPanels) {
  const int32_t rows = 1100, cols = 64;
  const pair_tiles own = pair_tiles_for(cols);
  ASSERT_LT(own.cols * 2, rows);
  ASSERT_LT(own.rows * 2, rows);
  std::mt19937_64 g(29);
  std::vector<double> data(static_cast<size_t>(rows) * cols);
  // Three values: the largest distance ties across rows, tiles and panels.
  for (double& x : data) x = static_cast<double>(g() % 3);
  mat A{data.data(), rows, cols};
  const farthest want = farthest_pair_search_ref(&A, 1);
  for (int32_t t : {1, 2})
    EXPECT_TRUE(same_result(farthest_pair_search(&A, t, simd_best()), want)) << t << " threads";
}

}  // namespace
