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
      choice* s = choice_start(&A, 0, rows, &opt);
      ASSERT_NE(s, nullptr);
      for (int j = 0; j + 1 < k; ++j) {
        const int32_t c = want[static_cast<size_t>(j)];
        const choice_farthest f = choice_fold(s, A.data + int64_t{c} * cols, c);
        ASSERT_EQ(f.row >= 0 ? f.row : c, want[static_cast<size_t>(j + 1)]) << where << " fold " << j;
      }
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
    // Up to several buckets of rows, with every tail length; up to 12
    // columns, so that buckets and groups both take part.
    const int rows = 1 + static_cast<int>(g() % (trial % 4 == 0 ? 3000 : 300));
    const int cols = 1 + static_cast<int>(g() % 12);
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

// ---- rows grouped by nearest centre (above 8 columns) ---------------------------

// Gaussian clusters whose spreads range over many scales, around centres in
// a box, with some rows repeated.
std::vector<double> multiscale(std::mt19937_64& g, int n, int d) {
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const int clusters = 1 + static_cast<int>(g() % 12);
  std::vector<double> centre(static_cast<size_t>(clusters * d)), spread(static_cast<size_t>(clusters));
  for (double& v : centre) v = unit(g) * 100.0;
  for (double& v : spread) v = std::ldexp(1.0, static_cast<int>(g() % 40) - 30);
  std::vector<double> x(static_cast<size_t>(n * d));
  for (int i = 0; i < n; ++i) {
    double* row = x.data() + i * d;
    if (i > 0 && g() % 6 == 0) {  // a duplicate of an earlier row
      const double* from = x.data() + static_cast<int>(g() % static_cast<uint64_t>(i)) * d;
      std::copy(from, from + d, row);
      continue;
    }
    const int c = static_cast<int>(g() % static_cast<uint64_t>(clusters));
    for (int j = 0; j < d; ++j) row[j] = centre[static_cast<size_t>(c * d + j)] + spread[static_cast<size_t>(c)] * normal(g);
  }
  return x;
}

TEST(ChoiceGroups, EqualsThePlainChoiceOnClustersAtManyScales) {
  std::mt19937_64 g(17);
  for (int trial = 0; trial < 16; ++trial) {
    const int d = trial % 4 == 3 ? 1100 : 9 + static_cast<int>(g() % 120);
    const int n = d > 500 ? 70 : 40 + static_cast<int>(g() % 400);
    // Up to beyond the distinct rows, where the last centre repeats.
    const int k = trial % 3 == 0 ? n + 5 : 2 + static_cast<int>(g() % static_cast<uint64_t>(n));
    std::vector<double> x = multiscale(g, n, d);
    expect_same_choice(x, n, d, k, "multiscale d " + std::to_string(d) + " k " + std::to_string(k));
    if (HasFatalFailure()) return;
  }
}

TEST(ChoiceGroups, EqualsThePlainChoiceOnIntegerGridsWithTies) {
  // Few distinct integer values: equal distances everywhere, and far fewer
  // distinct rows than centres asked for.
  std::mt19937_64 g(5);
  for (int d : {9, 12, 40}) {
    const int n = 150;
    std::vector<double> x(static_cast<size_t>(n * d));
    for (double& v : x) v = static_cast<double>(g() % 3);
    for (int k : {2, 10, 60, n + 20}) expect_same_choice(x, n, d, k, "grid d " + std::to_string(d));
    for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>((i / static_cast<size_t>(d)) % 4);
    expect_same_choice(x, n, d, n, "four rows repeated");
  }
}

TEST(ChoiceGroups, EqualsThePlainChoiceWithOutliersOverflowAndNonFiniteRows) {
  std::mt19937_64 g(23);
  for (int trial = 0; trial < 10; ++trial) {
    const int d = 9 + static_cast<int>(g() % 30), n = 120;
    std::vector<double> x = multiscale(g, n, d);
    auto row = [&](uint64_t i) { return x.data() + static_cast<int>(i % n) * d; };
    // One far outlier; rows whose squares overflow or nearly do; NaN and
    // infinite rows (row 0 among them in some trials).
    row(1 + g() % (n - 1))[g() % static_cast<uint64_t>(d)] = 1e9;
    for (int t = 0; t < 3; ++t) {
      double* r = row(g());
      for (int j = 0; j < d; ++j) r[j] = (t == 0 ? 1e154 : 1e160) * (j % 2 ? 1 : -1);
    }
    row(g())[g() % static_cast<uint64_t>(d)] = nan;
    row(g())[g() % static_cast<uint64_t>(d)] = trial % 2 ? inf : -inf;
    if (trial % 4 == 0) row(0)[0] = trial % 8 == 0 ? nan : inf;
    for (int k : {2, 40, n + 3}) expect_same_choice(x, n, d, k, "specials trial " + std::to_string(trial));
    if (HasFatalFailure()) return;
  }
}

// The plain fold over rows [first, first + count) as rows of A.
choice_farthest fold_range(const mat* A, int32_t first, int32_t count, const double* c, double* near) {
  const mat part{A->data + int64_t{first} * A->cols, count, A->cols};
  choice_farthest f = choice_fold_ref(&part, c, near);
  if (f.row >= 0) f.row += first;
  return f;
}

TEST(ChoiceFold, OverPartOfTheRowsTakesCentresByRowOrByValue) {
  // Centres from anywhere in A (outside the engine's rows too), given by
  // their row, and points that are no row, given as -1: the farthest row of
  // the part, as a row of A, and its nearest distances as the plain fold's.
  std::mt19937_64 g(31);
  for (int d : {3, 12, 64}) {
    const int n = 3000;
    std::vector<double> x = multiscale(g, n, d);
    x[static_cast<size_t>(1700 * d)] = nan;
    mat A{x.data(), n, d};
    for (simd_level level : {simd_level::plain, simd_best()}) {
      for (choice_prune rule : {choice_prune::never, choice_prune::automatic, choice_prune::always}) {
        // Fewer folds expected than made: the engine's room grows on the way.
        const int32_t first = 1000, count = 1500;
        const choice_options opt{level, rule, 3};
        choice* s = choice_start(&A, first, count, &opt);
        ASSERT_NE(s, nullptr);
        std::vector<double> want(static_cast<size_t>(count), no_distance), got(want.size());
        std::vector<double> point(static_cast<size_t>(d));
        int32_t c = 0;
        for (int fold = 0; fold < 200; ++fold) {
          const double* centre = x.data() + c * d;
          int64_t c_row = c;
          if (fold % 5 == 4) {  // a point between two rows
            const double* other = x.data() + static_cast<int>(g() % n) * d;
            for (int j = 0; j < d; ++j) point[static_cast<size_t>(j)] = centre[j] * 0.5 + other[j] * 0.5;
            centre = point.data();
            c_row = -1;
          }
          const choice_farthest w = fold_range(&A, first, count, centre, want.data());
          const choice_farthest f = choice_fold(s, centre, c_row);
          ASSERT_EQ(f.row, w.row) << "d " << d << " fold " << fold << " " << choice_path(s);
          ASSERT_TRUE(same_bits(f.dist_sq, w.dist_sq));
          // The next centre: alternately the farthest row of the part and a
          // row of A outside it.
          c = fold % 2 == 0 && w.row >= 0 ? w.row : static_cast<int32_t>(g() % 1000);
        }
        choice_nearest(s, got.data());
        for (int i = 0; i < count; ++i) ASSERT_TRUE(same_bits(got[static_cast<size_t>(i)], want[static_cast<size_t>(i)])) << i;
        choice_end(s);
      }
    }
  }
  double one = 1.0;
  mat small{&one, 1, 1};
  const choice_options opt{simd_level::plain, choice_prune::automatic, 2};
  EXPECT_EQ(choice_start(&small, 1, 1, &opt), nullptr);
  EXPECT_EQ(choice_start(&small, -1, 1, &opt), nullptr);
}

TEST(ChoiceGroups, KeepRowsOnTheSkipBoundary) {
  // Rows p = a + f r e of a group around a (f from 0 to 1), and a new centre
  // s = a + t r e with t near 2, where exactly |p - s| = |p - a| for the
  // outermost row when t = 2: the computed distances tie up to rounding,
  // and the skip test must never decide what only rounding decides.
  std::mt19937_64 g(41);
  std::normal_distribution<double> normal;
  int lowered = 0;
  const int trials = 200;
  for (int trial = 0; trial < trials; ++trial) {
    const int d = trial % 10 == 0 ? 1100 : 9 + static_cast<int>(g() % 60), n = 9;
    std::vector<double> e(static_cast<size_t>(d)), a(static_cast<size_t>(d));
    const double scale = std::ldexp(1.0, static_cast<int>(g() % 200) - 100);
    for (int j = 0; j < d; ++j) {
      e[static_cast<size_t>(j)] = normal(g);
      a[static_cast<size_t>(j)] = normal(g) * scale * 3.0;
    }
    std::vector<double> x(static_cast<size_t>(n * d)), s(static_cast<size_t>(d));
    for (int i = 0; i < n; ++i) {
      const double f = i == n - 1 ? 1.0 : 0.1 * i;
      for (int j = 0; j < d; ++j) x[static_cast<size_t>(i * d + j)] = a[static_cast<size_t>(j)] + f * scale * e[static_cast<size_t>(j)];
    }
    const double t = 2.0 + static_cast<double>(static_cast<int64_t>(g() % 41) - 20) * 0x1p-50 * d;
    for (int j = 0; j < d; ++j) s[static_cast<size_t>(j)] = a[static_cast<size_t>(j)] + t * scale * e[static_cast<size_t>(j)];
    mat A{x.data(), n, d};
    std::vector<double> want(static_cast<size_t>(n), no_distance), got(want.size());
    fold_range(&A, 0, n, x.data(), want.data());
    const double before = want[n - 1];
    const choice_farthest w = fold_range(&A, 0, n, s.data(), want.data());
    lowered += want[n - 1] != before;
    for (simd_level level : {simd_level::plain, simd_best()}) {
      const choice_options opt{level, choice_prune::always, 2};
      choice* st = choice_start(&A, 0, n, &opt);
      ASSERT_STREQ(choice_path(st), "groups");
      choice_fold(st, x.data(), 0);
      const choice_farthest f = choice_fold(st, s.data(), -1);
      choice_nearest(st, got.data());
      choice_end(st);
      ASSERT_EQ(f.row, w.row) << "trial " << trial;
      for (int i = 0; i < n; ++i)
        ASSERT_TRUE(same_bits(got[static_cast<size_t>(i)], want[static_cast<size_t>(i)]))
            << "trial " << trial << " d " << d << " row " << i;
    }
  }
  // The crafted rows really sit on the boundary: some folds lower the
  // outermost row by rounding alone, others leave it.
  EXPECT_GT(lowered, 0);
  EXPECT_LT(lowered, trials);
}

TEST(ChoiceGroups, OverflowedDistanceToAPivotProvesNothing) {
  // 64 centres near the origin become pivots; centre g = 1.3e154 e0 joins
  // one's cell (its squared distance, 1.69e308, is finite). The centre
  // s = 1.35e154 e0 lies at an overflowing distance from every pivot, yet
  // close to g: it must still lower row 1, which lies between g and s.
  const int d = 9, n = 3;
  std::vector<double> x(static_cast<size_t>(n * d), 0.0);
  x[static_cast<size_t>(d)] = 1.34e154;
  x[static_cast<size_t>(2 * d) + 1] = 1.0;
  std::vector<std::vector<double>> centres;
  for (int p = 0; p < 64; ++p) {
    std::vector<double> c(static_cast<size_t>(d), 0.0);
    c[static_cast<size_t>(p % d)] = -0.001 * (p + 1);
    centres.push_back(c);
  }
  centres.push_back(std::vector<double>(static_cast<size_t>(d), 0.0));
  centres.back()[0] = 1.3e154;
  centres.push_back(std::vector<double>(static_cast<size_t>(d), 0.0));
  centres.back()[0] = 1.35e154;
  mat A{x.data(), n, d};
  std::vector<double> want(static_cast<size_t>(n), no_distance), got(want.size());
  choice_farthest w{};
  for (const auto& c : centres) w = fold_range(&A, 0, n, c.data(), want.data());
  ASSERT_GT(want[1], 0.0);
  ASSERT_LT(want[1], 1e307);
  const choice_options opt{simd_best(), choice_prune::always, 100};
  choice* s = choice_start(&A, 0, n, &opt);
  choice_farthest f{};
  for (const auto& c : centres) f = choice_fold(s, c.data(), -1);
  choice_nearest(s, got.data());
  choice_end(s);
  EXPECT_EQ(f.row, w.row);
  for (int i = 0; i < n; ++i) EXPECT_TRUE(same_bits(got[static_cast<size_t>(i)], want[static_cast<size_t>(i)])) << "row " << i;
}

TEST(ChoiceGroups, GiveUpForPassesWithTheStateSoFarWhereTheyVisitMostRows) {
  // From 9 to 31 columns the automatic rule leaves the groups, from fold 64
  // on, where the folds visit more than (d / 32)^2 of the rows: so on
  // uniform rows, not on well-separated clusters. Either way the answers
  // stay the plain fold's.
  std::mt19937_64 g(29);
  const int n = 2000, d = 12, k = 100;
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<double> uniform(static_cast<size_t>(n * d)), clusters(uniform.size());
  for (double& v : uniform) v = u(g);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < d; ++j) clusters[static_cast<size_t>(i * d + j)] = 1000.0 * ((i % 16) >> (j % 4) & 1) + u(g);
  for (auto* x : {&uniform, &clusters}) {
    mat A{x->data(), n, d};
    std::vector<double> want(static_cast<size_t>(n), no_distance), got(want.size());
    const choice_options opt{simd_best(), choice_prune::automatic, k};
    choice* s = choice_start(&A, 0, n, &opt);
    int32_t c = 0;
    for (int fold = 1; fold < k; ++fold) {
      const choice_farthest w = fold_range(&A, 0, n, x->data() + c * d, want.data());
      const choice_farthest f = choice_fold(s, x->data() + c * d, c);
      ASSERT_EQ(f.row, w.row) << "fold " << fold << " " << choice_path(s);
      c = w.row;
    }
    EXPECT_STREQ(choice_path(s), x == &uniform ? "passes" : "groups");
    choice_nearest(s, got.data());
    choice_end(s);
    for (int i = 0; i < n; ++i) ASSERT_TRUE(same_bits(got[static_cast<size_t>(i)], want[static_cast<size_t>(i)])) << i;
  }
}


// ---- rows wherever they lie ------------------------------------------------------

// Every value rounded to float, so that each layout holds the same numbers.
std::vector<double> as_floats(std::vector<double> x) {
  for (double& v : x) v = static_cast<double>(static_cast<float>(v));
  return x;
}

// The engine over each layout of the rows, at every level and pruning rule,
// on all rows and on a part of them, against the plain fold over the matrix
// of doubles: the same farthest rows and nearest distances, bit for bit.
void expect_same_over_layouts(const std::vector<double>& data, int rows, int cols, int k,
                              const std::string& what) {
  std::vector<double> x = data;
  mat A{x.data(), rows, cols};
  std::vector<double> want_near;
  const std::vector<int32_t> want = plain_choice(&A, k, &want_near);
  const int32_t first = rows / 3, count = rows - rows / 3 - rows / 5;
  for (layout how : every_layout) {
    const laid_rows L = lay_out(x, rows, cols, how);
    // The plain fold reads the layout itself.
    std::vector<double> near(static_cast<size_t>(rows), no_distance);
    for (int j = 0; j + 1 < k; ++j) {
      const int32_t c = want[static_cast<size_t>(j)];
      const choice_farthest f = choice_fold_ref(&L.X, A.data + int64_t{c} * cols, near.data());
      ASSERT_EQ(f.row >= 0 ? f.row : c, want[static_cast<size_t>(j + 1)]) << what << " " << layout_name(how);
    }
    for (int i = 0; i < rows; ++i)
      ASSERT_TRUE(same_bits(near[static_cast<size_t>(i)], want_near[static_cast<size_t>(i)])) << what << " row " << i;
    for (simd_level level : {simd_level::plain, simd_level::avx2, simd_level::avx512}) {
      if (!simd_runs(level)) continue;
      for (choice_prune rule : {choice_prune::never, choice_prune::automatic, choice_prune::always}) {
        const std::string where = what + " " + layout_name(how) + " " + simd_name(level) + " rule " +
                                  std::to_string(static_cast<int>(rule));
        const choice_options opt{level, rule, k};
        choice* s = choice_start(&L.X, first, count, &opt);
        ASSERT_NE(s, nullptr);
        std::vector<double> part(static_cast<size_t>(count), no_distance), got(part.size());
        for (int j = 0; j + 1 < k; ++j) {
          const int32_t c = want[static_cast<size_t>(j)];
          const double* centre = A.data + int64_t{c} * cols;
          const choice_farthest w = fold_range(&A, first, count, centre, part.data());
          const choice_farthest f = choice_fold(s, centre, j % 4 == 3 ? -1 : c);
          ASSERT_EQ(f.row, w.row) << where << " fold " << j << " " << choice_path(s);
          ASSERT_TRUE(same_bits(f.dist_sq, w.dist_sq)) << where << " fold " << j;
        }
        choice_nearest(s, got.data());
        choice_end(s);
        for (int i = 0; i < count; ++i)
          ASSERT_TRUE(same_bits(got[static_cast<size_t>(i)], part[static_cast<size_t>(i)])) << where << " row " << i;
      }
    }
  }
}

TEST(ChoiceStart, ReadsRowsWhereverTheyLie) {
  // Buckets (2 and 3 columns, enough rows), passes and groups (12 and 40
  // columns), with ties, NaN and infinite rows and clusters.
  std::mt19937_64 g(47);
  for (int cols : {2, 3, 12, 40}) {
    for (data_kind kind : {data_kind::coarse, data_kind::specials, data_kind::clustered}) {
      const int rows = cols <= 3 ? 3000 : 500, k = cols <= 3 ? 120 : 60;
      const std::vector<double> x = as_floats(make_rows(g, kind, rows, cols));
      expect_same_over_layouts(x, rows, cols, k, "cols " + std::to_string(cols) + " kind " +
                                                   std::to_string(static_cast<int>(kind)));
      if (HasFatalFailure()) return;
    }
  }
}

}  // namespace
