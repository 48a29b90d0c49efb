// The farthest-first engine against the plain fold and a first-principles
// reference: the same centres and the same nearest distances, to the bit.
#include "choice.hpp"

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace {

const double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();

// Farthest-first from first principles: each step recomputes every row's
// distance to its nearest chosen centre and takes the lowest row of the
// largest; when every row lies on a centre, the last centre repeats.
std::vector<int32_t> reference_choice(const std::vector<double>& data, int rows, int cols, int k) {
  auto dist = [&](int i, int j) {
    double s = 0.0;
    for (int c = 0; c < cols; ++c) {
      const double d = data[static_cast<size_t>(i * cols + c)] - data[static_cast<size_t>(j * cols + c)];
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

// The plain choice through choice_fold_ref, and its nearest distances.
std::vector<int32_t> plain_choice(const mat* A, int k, std::vector<double>* nearest) {
  nearest->assign(static_cast<size_t>(A->rows), no_distance);
  std::vector<int32_t> centres{0};
  int32_t next = 0;
  while (static_cast<int>(centres.size()) < k) {
    const choice_farthest f = choice_fold_ref(A, A->data + int64_t{centres.back()} * A->cols, nearest->data());
    if (f.row >= 0) next = f.row;
    centres.push_back(next);
  }
  return centres;
}

TEST(ChoiceFoldRef, MatchesTheFirstPrinciplesChoice) {
  std::mt19937_64 g(11);
  for (int trial = 0; trial < 40; ++trial) {
    const int rows = 1 + static_cast<int>(g() % 150), cols = 1 + static_cast<int>(g() % 5);
    const int k = 1 + static_cast<int>(g() % 30);
    std::vector<double> data(static_cast<size_t>(rows * cols));
    std::uniform_real_distribution<double> u(-100, 100);
    for (double& x : data) x = trial % 3 == 0 ? static_cast<double>(g() % 4) : u(g);
    mat A{data.data(), rows, cols};
    std::vector<double> nearest;
    EXPECT_EQ(plain_choice(&A, k, &nearest), reference_choice(data, rows, cols, k)) << "trial " << trial;
  }
}

enum class data_kind { uniform, coarse, clustered, specials, huge, all_equal, count };

// specials: one row in `special_every` gets a NaN or an infinity.
std::vector<double> make_rows(std::mt19937_64& g, data_kind kind, int rows, int cols, int special_every = 50) {
  std::vector<double> data(static_cast<size_t>(rows * cols));
  std::uniform_real_distribution<double> u(-100, 100);
  std::normal_distribution<double> noise(0, 0.5);
  std::vector<double> blob(static_cast<size_t>(8 * cols));
  for (double& b : blob) b = u(g);
  for (int i = 0; i < rows; ++i) {
    const double* centre = blob.data() + (g() % 8) * static_cast<uint64_t>(cols);
    for (int j = 0; j < cols; ++j) {
      double& v = data[static_cast<size_t>(i * cols + j)];
      switch (kind) {
        case data_kind::coarse: v = static_cast<double>(g() % 5); break;  // ties, duplicate rows
        case data_kind::clustered: v = centre[j] + noise(g); break;
        case data_kind::huge: v = u(g) * (g() % 2 ? 1e300 : 1e150); break;  // distances overflow
        case data_kind::all_equal: v = 2.5; break;
        default: v = u(g);
      }
    }
    // NaN and infinities in a few rows, row 0 included now and then.
    if (kind == data_kind::specials && cols > 0 &&
        (g() % static_cast<uint64_t>(special_every) == 0 || (i == 0 && g() % 4 == 0))) {
      const double special[] = {nan, -nan, inf, -inf};
      data[static_cast<size_t>(i * cols) + g() % static_cast<uint64_t>(cols)] = special[g() % 4];
    }
  }
  return data;
}

// The engine at every level and pruning rule against the plain choice: the
// same centres (choice_run stores them up to the first repeat, the rest
// repeat it) and the same nearest distances after the same folds.
void expect_same_choice(std::vector<double>& data, int rows, int cols, int k, const std::string& what) {
  mat A{data.data(), rows, cols};
  std::vector<double> want_near;
  const std::vector<int32_t> want = plain_choice(&A, k, &want_near);
  for (simd_level level : {simd_level::plain, simd_level::avx2, simd_level::avx512}) {
    if (!simd_runs(level)) continue;
    for (choice_prune rule : {choice_prune::never, choice_prune::automatic, choice_prune::always}) {
      const choice_options opt{level, rule, k};
      const std::string where = what + " " + simd_name(level) + " rule " + std::to_string(static_cast<int>(rule));
      std::vector<int32_t> got(static_cast<size_t>(std::min(k, rows + 1)), -1);
      const int64_t m = choice_run(&A, k, got.data(), &opt);
      ASSERT_GE(m, 1) << where;
      for (int j = 0; j < k; ++j) ASSERT_EQ(got[static_cast<size_t>(std::min<int64_t>(j, m - 1))], want[static_cast<size_t>(j)]) << where << " centre " << j;
      if (k == 1 || cols == 0) continue;
      choice* s = choice_start(&A, &opt);
      ASSERT_NE(s, nullptr);
      for (int j = 0; j + 1 < k; ++j) choice_fold(s, A.data + int64_t{want[static_cast<size_t>(j)]} * cols);
      std::vector<double> near(static_cast<size_t>(rows));
      choice_nearest(s, near.data());
      choice_end(s);
      for (int i = 0; i < rows; ++i)
        ASSERT_TRUE(same_bits(near[static_cast<size_t>(i)], want_near[static_cast<size_t>(i)])) << where << " row " << i;
    }
  }
}

TEST(ChoiceRun, EqualsThePlainChoiceOnRandomMatrices) {
  std::mt19937_64 g(2024);
  for (int trial = 0; trial < 100; ++trial) {
    const auto kind = static_cast<data_kind>(trial % static_cast<int>(data_kind::count));
    // Up to several buckets of rows, with every tail length; up to 10 columns.
    const int rows = 1 + static_cast<int>(g() % (trial % 4 == 0 ? 3000 : 300));
    const int cols = 1 + static_cast<int>(g() % 10);
    const int k = 1 + static_cast<int>(g() % (trial % 3 == 0 ? 300 : 60));
    std::vector<double> data = make_rows(g, kind, rows, cols);
    expect_same_choice(data, rows, cols, k,
                       "trial " + std::to_string(trial) + " " + std::to_string(rows) + " x " +
                           std::to_string(cols) + " k " + std::to_string(k));
    if (HasFatalFailure()) return;
  }
}

TEST(ChoiceRun, EqualsThePlainChoiceWherePruningSkipsMostBuckets) {
  // Enough rows and centres that the automatic rule prunes, and enough
  // buckets (157) to fill 3 groups; the coarse grid makes equal distances
  // across buckets, and NaN and infinities come in one row of 50, then 4.
  std::mt19937_64 g(99);
  for (data_kind kind : {data_kind::uniform, data_kind::coarse, data_kind::clustered, data_kind::specials,
                         data_kind::count}) {
    for (int cols : {2, 3}) {
      const int rows = 20000, k = 400;
      std::vector<double> data = kind == data_kind::count ? make_rows(g, data_kind::specials, rows, cols, 4)
                                                          : make_rows(g, kind, rows, cols);
      expect_same_choice(data, rows, cols, k,
                         "kind " + std::to_string(static_cast<int>(kind)) + " cols " + std::to_string(cols));
    }
  }
}

TEST(ChoiceRun, StoresUpToTheFirstRepeat) {
  std::vector<double> two{0, 0, 1, 1, 0, 0, 1, 1};  // two distinct rows, each twice
  expect_same_choice(two, 4, 2, 100000, "4 x 2");
  std::vector<double> nan_first{nan, 0, 1, 1, 2, 2};
  expect_same_choice(nan_first, 3, 2, 1000, "NaN in row 0");
  mat A{two.data(), 4, 2};
  int32_t centres[5];
  const choice_options opt{simd_best(), choice_prune::automatic, 2147483647};
  ASSERT_EQ(choice_run(&A, 2147483647, centres, &opt), 3);
  EXPECT_EQ(centres[1], 1);
  EXPECT_EQ(centres[2], 1);
}

}  // namespace
