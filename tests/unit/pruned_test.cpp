// The pruned farthest-pair search against the plain scan of every pair, on
// every level and teams of 1 to 3: the same distance to the bit, the same pair.
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "matvec.hpp"
#include "pair_search.hpp"
#include "test_support.hpp"

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

std::vector<simd_level> levels_here() {
  std::vector<simd_level> levels;
  for (simd_level l : {simd_level::plain, simd_level::avx2, simd_level::avx512})
    if (simd_runs(l)) levels.push_back(l);
  return levels;
}

using points = std::vector<std::vector<double>>;

struct matrix {
  std::vector<double> data;
  mat A;
  row_source X;
  explicit matrix(const points& rows) {
    const int32_t d = rows.empty() ? 0 : static_cast<int32_t>(rows[0].size());
    for (const auto& r : rows) data.insert(data.end(), r.begin(), r.end());
    A = mat{data.data(), static_cast<int32_t>(rows.size()), d};
    X = rows_of_doubles(A.data, A.rows, A.cols);
  }
};

void expect_reference(const points& rows, const char* what,
                      std::initializer_list<int32_t> teams = {1, 2, 3}) {
  const matrix m(rows);
  const farthest want = farthest_pair_search_ref(&m.A, 1);
  for (simd_level level : levels_here())
    for (int32_t team : teams) {
      const farthest got = farthest_pair_pruned(&m.X, team, level);
      EXPECT_TRUE(same_bits(got.dist_sq, want.dist_sq) && got.i == want.i && got.j == want.j)
          << what << ", " << m.A.rows << " x " << m.A.cols << ", " << simd_name(level) << ", "
          << team << " threads: got (" << std::hexfloat << got.dist_sq << ", " << got.i << ", "
          << got.j << "), want (" << want.dist_sq << ", " << want.i << ", " << want.j << ")";
    }
}

enum class shape { cube, ball, gauss, sphere, clusters };

points make(shape kind, size_t n, size_t d, uint64_t seed) {
  std::mt19937_64 g(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::normal_distribution<double> z(0.0, 1.0);
  points centres(5, std::vector<double>(d));
  for (auto& c : centres)
    for (double& v : c) v = 10 * u(g);
  points out(n, std::vector<double>(d));
  for (auto& r : out) {
    double norm = 0.0;
    do {
      norm = 0.0;
      for (double& v : r) {
        v = kind == shape::cube || kind == shape::ball ? u(g) : z(g);
        norm += v * v;
      }
    } while (kind == shape::ball && norm > 1.0);
    if (kind == shape::sphere)
      for (double& v : r) v /= std::sqrt(norm);
    if (kind == shape::clusters) {
      const auto& c = centres[g() % centres.size()];
      for (size_t k = 0; k < d; ++k) r[k] = c[k] + 0.1 * r[k];
    }
  }
  return out;
}

// Each shape at sizes from none to a deep tree, in 1 to 64 dimensions.
void expect_reference_on(shape kind, const char* name, uint64_t seed) {
  for (size_t n : {0u, 1u, 2u, 3u, 9u, 70u, 300u})
    for (size_t d : {1u, 2u, 3u, 5u, 16u, 64u}) {
      if (kind == shape::ball && d > 5) continue;  // rejection sampling
      expect_reference(make(kind, n, d, seed++), name);
    }
  // Large enough for a deep tree, built and walked by the whole team.
  if (kind == shape::cube || kind == shape::sphere || kind == shape::ball)
    expect_reference(make(kind, 4200, 3, seed), name, {1, 2});
  if (kind == shape::gauss) expect_reference(make(kind, 2000, 16, seed), name, {1, 2});
}

TEST(PrunedPairSearch, MatchesTheScanOfEveryPairInACube) {
  expect_reference_on(shape::cube, "cube", 100);
}
TEST(PrunedPairSearch, MatchesTheScanOfEveryPairInABall) {
  expect_reference_on(shape::ball, "ball", 200);
}
TEST(PrunedPairSearch, MatchesTheScanOfEveryPairOfGaussianPoints) {
  expect_reference_on(shape::gauss, "gauss", 300);
}
TEST(PrunedPairSearch, MatchesTheScanOfEveryPairOnASphere) {
  expect_reference_on(shape::sphere, "sphere", 400);
}
TEST(PrunedPairSearch, MatchesTheScanOfEveryPairInClusters) {
  expect_reference_on(shape::clusters, "clusters", 500);
}

// Regular figures, grids and repeated extremes make many pairs at exactly
// the largest distance, in every order of the rows: the lowest (i, j) wins
// however the tree groups them and whichever the lower bound finds first.
TEST(PrunedPairSearch, BreaksTiesAsTheScanOfEveryPair) {
  std::mt19937_64 g(11);
  std::vector<points> sets;
  // Polygons of 2m corners, each corner with its exact opposite.
  for (int m : {2, 3, 4, 6, 50}) {
    points p;
    for (int k = 0; k < m; ++k) {
      const double a = 3.141592653589793 * k / m;
      p.push_back({std::cos(a), std::sin(a)});
      p.push_back({-std::cos(a), -std::sin(a)});
    }
    sets.push_back(p);
  }
  // The cube's corners (four diagonals tie), the octahedron's, grids.
  points cube, octa, grid2, grid3;
  for (int c = 0; c < 8; ++c)
    cube.push_back({c & 1 ? 1.0 : -1.0, c & 2 ? 1.0 : -1.0, c & 4 ? 1.0 : -1.0});
  for (size_t k = 0; k < 3; ++k)
    for (double s : {-1.0, 1.0}) {
      std::vector<double> r(3, 0.0);
      r[k] = s;
      octa.push_back(r);
    }
  for (int x = 0; x < 30; ++x)
    for (int y = 0; y < 30; ++y) grid2.push_back({double(x), double(y)});
  for (int x = 0; x < 9; ++x)
    for (int y = 0; y < 9; ++y)
      for (int z = 0; z < 9; ++z) grid3.push_back({double(x), double(y), double(z)});
  sets.push_back(cube);
  sets.push_back(octa);
  sets.push_back(grid2);
  sets.push_back(grid3);
  // A cloud whose two extremes are each repeated many times.
  points twins = make(shape::ball, 400, 3, 5);
  for (int k = 0; k < 40; ++k) {
    twins.push_back({2.0, 0.0, 0.0});
    twins.push_back({-2.0, 0.0, 0.0});
  }
  sets.push_back(twins);
  // Only two points, each many times over.
  points two;
  for (int k = 0; k < 200; ++k)
    two.push_back(k % 3 ? std::vector<double>{1.0, 2.0} : std::vector<double>{-1.0, 5.0});
  sets.push_back(two);
  for (auto& set : sets)
    for (int order = 0; order < 4; ++order) {
      if (order > 0) std::shuffle(set.begin(), set.end(), g);
      expect_reference(set, "ties");
    }
}

// Two far pairs at exactly the same distance, in either order and
// interleaved, among rows that lie closer.
TEST(PrunedPairSearch, TwoEqualFarPairsInEitherOrder) {
  const std::vector<double> a{-3.0, 0.0}, b{3.0, 0.0}, c{0.0, -3.0}, e{0.0, 3.0};
  const std::vector<points> orders = {
      {a, b, c, e}, {c, e, a, b}, {a, c, b, e}, {c, a, e, b}, {e, c, b, a}};
  for (const auto& o : orders) {
    points rows = make(shape::cube, 200, 2, 3);
    for (size_t k = 0; k < o.size(); ++k)
      rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(37 * k + 5), o[k]);
    expect_reference(rows, "two pairs");
  }
}

// The lower bound is a real pair at the answer's distance, but not the
// lowest one. B = (-5, 0)-(5, 0) and A = (-3, -3)-(3, 5) both lie 100
// apart, every other pair closer. B holds the extremes the lower bound
// starts from (widest side, farthest from the box centre), so it finds B
// alone. A comes first and is repeated 64 times over, so its copies fill
// leaves whose boxes are single points: their bound is exactly 100, the
// bound itself, and only the tie rule keeps them.
TEST(PrunedPairSearch, FindsALowerPairAtTheLowerBoundItself) {
  points rows;
  for (int k = 0; k < 64; ++k) {
    rows.push_back({-3.0, -3.0});
    rows.push_back({3.0, 5.0});
  }
  for (double x : {-4.5, 4.5}) {
    rows.push_back({x < 0 ? -5.0 : 5.0, 0.0});
    for (int k = 0; k < 15; ++k) rows.push_back({x, -1.0 + 0.16 * k});
  }
  expect_reference(rows, "tie at the bound");
  const matrix m(rows);
  const farthest got = farthest_pair_pruned(&m.X, 1, simd_best());
  EXPECT_TRUE(same_bits(got.dist_sq, 100.0));
  EXPECT_EQ(got.i, 0);
  EXPECT_EQ(got.j, 1);
}

// NaN rows never count; rows holding an infinity lie +inf from finite rows
// and +inf or NaN from each other; finite rows far apart overflow to +inf.
TEST(PrunedPairSearch, RowsThatAreNotFiniteAndDistancesThatOverflow) {
  std::mt19937_64 g(21);
  const std::vector<double> specials{nan, inf, -inf, 1e300, -1e300, 0.5};
  for (int trial = 0; trial < 300; ++trial) {
    const size_t n = g() % 40, d = 1 + g() % 4;
    points rows = make(shape::cube, n, d, static_cast<uint64_t>(trial));
    // Some rows get a special value or two; some trials have no finite row.
    const size_t spoil = trial % 5 == 0 ? n : g() % 6;
    for (size_t k = 0; k < spoil && n > 0; ++k) {
      auto& r = rows[g() % n];
      r[g() % d] = specials[g() % specials.size()];
      if (g() % 2) r[g() % d] = specials[g() % specials.size()];
    }
    expect_reference(rows, "special values");
  }
  // Finite rows only, but far enough apart that many distances are +inf,
  // and rows near the largest double, whose distances from the centre do.
  points wide = make(shape::cube, 500, 3, 4);
  for (auto& r : wide)
    for (double& v : r) v *= 1e200;
  expect_reference(wide, "overflow");
  points huge = make(shape::sphere, 300, 3, 6);
  for (auto& r : huge)
    for (double& v : r) v *= 1.7e308;
  expect_reference(huge, "near the largest double");
}

// Rows so close together that their squares underflow: the margins' small
// absolute term must keep the bounds above the distances computed.
TEST(PrunedPairSearch, DistancesThatUnderflow) {
  for (double scale : {1e-160, 1e-200, 1e-310}) {
    for (shape kind : {shape::sphere, shape::cube}) {
      points rows = make(kind, 400, 3, 8);
      for (auto& r : rows)
        for (double& v : r) v *= scale;
      expect_reference(rows, "tiny");
    }
  }
}

TEST(PrunedPairSearch, PrunesMostPairsOfACube) {
  const matrix m(make(shape::cube, 3000, 3, 17));
  EXPECT_LT(farthest_pair_pruned(&m.X, 1, simd_best()).compared, 3000 * 2999 / 2 / 10);
}


// Rows in every layout, float32 included (values rounded to float first),
// give the pair of the matrix of doubles: the search reads its rows through
// the row source and the kernels see the same doubles.
TEST(PrunedPairSearch, ReadsRowsWhereverTheyLie) {
  uint64_t seed = 900;
  for (shape kind : {shape::cube, shape::sphere, shape::clusters})
    for (size_t d : {1u, 3u, 16u}) {
      points rows = make(kind, 600, d, seed++);
      for (auto& r : rows)
        for (double& v : r) v = static_cast<double>(static_cast<float>(v));
      rows[7][0] = nan;  // a row that never counts
      const matrix m(rows);
      const farthest want = farthest_pair_search_ref(&m.A, 1);
      for (layout how : every_layout) {
        const laid_rows L = lay_out(m.data, m.A.rows, m.A.cols, how);
        for (int32_t team : {1, 2}) {
          const farthest got = farthest_pair_pruned(&L.X, team, simd_best());
          EXPECT_TRUE(same_bits(got.dist_sq, want.dist_sq) && got.i == want.i && got.j == want.j)
              << layout_name(how) << " d " << d << " team " << team;
        }
      }
    }
}

}  // namespace
