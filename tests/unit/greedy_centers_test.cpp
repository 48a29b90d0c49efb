#include <random>
#include <vector>

#include "matvec.hpp"
#include "test_support.hpp"

double center_cost(const mat* A, const int32_t* centres, int32_t m, int32_t* next, vec* nearest);
void greedy_choose(const mat* A, int32_t k, int32_t* centres, vec* nearest);

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

}  // namespace
