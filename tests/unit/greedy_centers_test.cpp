#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "kernels.hpp"
#include "matvec.hpp"
#include "test_support.hpp"

double center_cost(const mat* A, const int32_t* centres, int32_t m, int32_t* next, vec* nearest);
void greedy_choose(const mat* A, int32_t k, int32_t* centres, vec* nearest);
enum class prune_rule { never, automatic, always };
void greedy_choose_fast(const mat* A, int32_t k, int32_t* centres, vec* nearest, simd_level level,
                        prune_rule prune);

namespace {

// Farthest-first from first principles: each step recomputes every row's
// distance to its nearest chosen centre and takes the lowest-index row of the
// largest; when every row lies on a centre, the last centre repeats.
std::vector<int32_t> reference_choice(const std::vector<double>& data, int rows, int cols, int k) {
  auto dist = [&](int i, int j) {
    double s = 0.0;
    for (int c = 0; c < cols; ++c) {
      double d = data[i * cols + c] - data[j * cols + c];
      s = d * d + s;
    }
    return s;
  };
  std::vector<int32_t> chosen{0};
  while (static_cast<int>(chosen.size()) < k) {
    int best = chosen.back();
    double best_d = 0.0;
    for (int i = 0; i < rows; ++i) {
      double nearest = no_distance;
      for (int c : chosen) nearest = std::min(nearest, dist(i, c));
      if (nearest > best_d) {
        best_d = nearest;
        best = i;
      }
    }
    chosen.push_back(best);
  }
  return chosen;
}

TEST(GreedyChoose, MatchesReferenceOnRandomMatrices) {
  std::mt19937_64 g(11);
  for (int trial = 0; trial < 60; ++trial) {
    int rows = 1 + static_cast<int>(g() % 200);
    int cols = static_cast<int>(g() % 6);
    int k = 1 + static_cast<int>(g() % 40);
    // Few distinct values make ties and duplicate rows common.
    bool coarse = trial % 3 == 0;
    std::vector<double> data(static_cast<size_t>(rows) * cols);
    std::uniform_real_distribution<double> u(-100, 100);
    for (double& x : data) x = coarse ? static_cast<double>(g() % 4) : u(g);
    mat A{data.data(), rows, cols};
    vec nearest;
    vec_malloc(&nearest, rows);
    std::vector<int32_t> centres(k);
    greedy_choose(&A, k, centres.data(), &nearest);
    EXPECT_EQ(centres, reference_choice(data, rows, cols, k)) << "trial " << trial;
    vec_free(&nearest);
  }
}

TEST(CenterCost, ReturnsSquaredRadiusAndLowestFarthestRow) {
  double data[] = {0, 0, 3, 4, -4, 3, 1, 1};  // rows 1 and 2 both at 25 from row 0
  mat A{data, 4, 2};
  double near[4] = {no_distance, no_distance, no_distance, no_distance};
  vec nearest{near, 4};
  int32_t centres[2] = {0, 0};
  int32_t next = -1;
  EXPECT_TRUE(same_bits(center_cost(&A, centres, 1, &next, &nearest), 25.0));
  EXPECT_EQ(next, 1);
  centres[1] = 1;
  // Row 2 is now the farthest: 25 from row 0, 50 from row 1.
  EXPECT_TRUE(same_bits(center_cost(&A, centres, 2, &next, &nearest), 25.0));
  EXPECT_EQ(next, 2);
  EXPECT_TRUE(same_bits(near[3], 2.0));
}

TEST(CenterCost, NextUntouchedWhenEveryRowIsACentre) {
  double data[] = {2, 2, 2};
  mat A{data, 3, 1};
  double near[3] = {no_distance, no_distance, no_distance};
  vec nearest{near, 3};
  int32_t centres[1] = {0};
  int32_t next = 42;
  EXPECT_TRUE(same_bits(center_cost(&A, centres, 1, &next, &nearest), 0.0));
  EXPECT_EQ(next, 42);
}

// ---- the fast choice against the plain one --------------------------------

const double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();

enum class data_kind { uniform, coarse, clustered, specials, huge, all_equal, count };

// specials: one row in `special_every` gets a NaN or an infinity.
std::vector<double> make_rows(std::mt19937_64& g, data_kind kind, int rows, int cols, int special_every = 50) {
  std::vector<double> data(static_cast<size_t>(rows) * cols);
  std::uniform_real_distribution<double> u(-100, 100);
  std::normal_distribution<double> noise(0, 0.5);
  std::vector<double> blob(8 * static_cast<size_t>(cols));
  for (double& b : blob) b = u(g);
  for (int i = 0; i < rows; ++i) {
    const double* centre = blob.data() + (g() % 8) * cols;
    for (int j = 0; j < cols; ++j) {
      double& v = data[static_cast<size_t>(i) * cols + j];
      switch (kind) {
        case data_kind::coarse: v = static_cast<double>(g() % 5); break;  // ties, duplicate rows
        case data_kind::clustered: v = centre[j] + noise(g); break;
        case data_kind::huge: v = u(g) * (g() % 2 ? 1e300 : 1e150); break;  // distances overflow
        case data_kind::all_equal: v = 2.5; break;
        default: v = u(g);
      }
    }
    // NaN and infinities in a few rows, row 0 included now and then.
    if (kind == data_kind::specials && cols > 0 && (g() % special_every == 0 || (i == 0 && g() % 4 == 0))) {
      double special[] = {nan, -nan, inf, -inf};
      data[static_cast<size_t>(i) * cols + g() % cols] = special[g() % 4];
    }
  }
  return data;
}

const char* rule_name(prune_rule r) {
  return r == prune_rule::never ? "never" : r == prune_rule::always ? "always" : "automatic";
}

// Both choices on one matrix: the same centres, and the same nearest
// distances to the last bit (the fast choice leaves them alone for k = 1).
void expect_same_choice(std::vector<double>& data, int rows, int cols, int k, const std::string& what) {
  mat A{data.data(), rows, cols};
  vec want_near, near;
  vec_malloc(&want_near, rows);
  vec_malloc(&near, rows);
  std::vector<int32_t> want(k);
  greedy_choose(&A, k, want.data(), &want_near);
  for (simd_level level : {simd_level::plain, simd_level::avx2, simd_level::avx512}) {
    if (!simd_runs(level)) continue;
    for (prune_rule rule : {prune_rule::never, prune_rule::automatic, prune_rule::always}) {
      std::vector<int32_t> got(k, -1);
      greedy_choose_fast(&A, k, got.data(), &near, level, rule);
      const std::string where = what + " " + simd_name(level) + " prune " + rule_name(rule);
      ASSERT_EQ(got, want) << where;
      for (int i = 0; k > 1 && i < rows; ++i)
        ASSERT_TRUE(same_bits(near.data[i], want_near.data[i])) << where << " row " << i;
    }
  }
  vec_free(&near);
  vec_free(&want_near);
}

TEST(GreedyChooseFast, EqualsThePlainChoiceOnRandomMatrices) {
  const uint64_t seed = 2024;
  std::mt19937_64 g(seed);
  for (int trial = 0; trial < 120; ++trial) {
    auto kind = static_cast<data_kind>(trial % static_cast<int>(data_kind::count));
    // Up to several buckets of rows, with every tail length; up to 10 columns.
    int rows = 1 + static_cast<int>(g() % (trial % 4 == 0 ? 3000 : 300));
    int cols = static_cast<int>(g() % 11);
    int k = 1 + static_cast<int>(g() % (trial % 3 == 0 ? 300 : 60));
    std::vector<double> data = make_rows(g, kind, rows, cols);
    expect_same_choice(data, rows, cols, k,
                       "seed " + std::to_string(seed) + " trial " + std::to_string(trial) + " " +
                           std::to_string(rows) + " x " + std::to_string(cols) + " k " + std::to_string(k));
    if (HasFatalFailure()) return;
  }
}

TEST(GreedyChooseFast, EqualsThePlainChoiceWherePruningSkipsMostBuckets) {
  // Enough rows and centres that the automatic rule prunes, in 2 and 3
  // dimensions, and enough buckets (157) to fill 3 groups; the coarse grid
  // makes equal distances across buckets, and NaN and infinities come in
  // one row of 50, then one of 4.
  std::mt19937_64 g(99);
  for (data_kind kind : {data_kind::uniform, data_kind::coarse, data_kind::clustered, data_kind::specials,
                         data_kind::count}) {
    for (int cols : {2, 3}) {
      const int rows = 20000, k = 400;
      std::vector<double> data = kind == data_kind::count ? make_rows(g, data_kind::specials, rows, cols, 4)
                                                          : make_rows(g, kind, rows, cols);
      expect_same_choice(data, rows, cols, k, "kind " + std::to_string(static_cast<int>(kind)) + " cols " +
                                                  std::to_string(cols));
    }
  }
}

TEST(GreedyChooseFast, RepeatsTheLastCentreForAsManyCentresAsAsked) {
  std::vector<double> data{0, 0, 1, 1, 0, 0, 1, 1};  // two distinct rows, each twice
  expect_same_choice(data, 4, 2, 100000, "4 x 2");
  std::vector<double> nan_first{nan, 0, 1, 1, 2, 2};
  expect_same_choice(nan_first, 3, 2, 1000, "NaN in row 0");
  std::vector<double> none;
  expect_same_choice(none, 5, 0, 50, "no columns");
}

}  // namespace
