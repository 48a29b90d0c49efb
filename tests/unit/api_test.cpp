// The public API as a caller sees it: views of every layout give the order
// the plain loop gives on the same numbers as doubles; start rows, k, the
// radius, cancellation, batches, the pair, the nearest centres, and every
// error line.
#include <kcenter/kcenter.hpp>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "test_support.hpp"

namespace {

constexpr double start_value = 1.7976931348623157e308;

struct matrix {
  std::vector<double> v;  // row-major
  int64_t rows, cols;
  double at(int64_t i, int64_t j) const { return v[static_cast<size_t>(i * cols + j)]; }
};

double dist_sq(const matrix& A, int64_t i, int64_t j) {
  double sum = 0.0;
  for (int64_t c = 0; c < A.cols; ++c) {
    const double diff = A.at(i, c) - A.at(j, c);
    sum = diff * diff + sum;
  }
  return sum;
}

// The order from first principles: nearest distances from the start value
// down by the strict test, the farthest row not given yet, the lowest among
// equals; the radius compared exactly (r * r has no rounding in these tests).
kcenter::order_result order_ref(const matrix& A, std::vector<int64_t> start, int64_t k, double r) {
  kcenter::order_result out;
  if (A.rows == 0) return out;
  if (start.empty()) start = {0};
  std::vector<double> near(static_cast<size_t>(A.rows), start_value);
  std::vector<bool> given(static_cast<size_t>(A.rows), false);
  auto add = [&](int64_t row, double d) {
    out.rows.push_back(row);
    out.dist_sq.push_back(d);
    given[static_cast<size_t>(row)] = true;
    for (int64_t i = 0; i < A.rows; ++i)
      if (near[static_cast<size_t>(i)] > dist_sq(A, i, row)) near[static_cast<size_t>(i)] = dist_sq(A, i, row);
  };
  for (int64_t s : start) {
    if (k > 0 && static_cast<int64_t>(out.rows.size()) == k) return out.why = kcenter::stop::k_steps, out;
    add(s, out.rows.empty() ? HUGE_VAL : near[static_cast<size_t>(s)]);
  }
  for (;;) {
    if (k > 0 && static_cast<int64_t>(out.rows.size()) == k) return out.why = kcenter::stop::k_steps, out;
    int64_t far = -1;
    double d = 0.0;
    for (int64_t i = 0; i < A.rows; ++i)
      if (!given[static_cast<size_t>(i)] && near[static_cast<size_t>(i)] > d) far = i, d = near[static_cast<size_t>(i)];
    if (far < 0) return out.why = kcenter::stop::covered, out;
    if (r >= 0.0 && d < start_value && d <= r * r) return out.why = kcenter::stop::radius, out;
    add(far, d);
  }
}

void expect_same(const kcenter::order_result& got, const kcenter::order_result& want, const std::string& what) {
  ASSERT_EQ(got.rows, want.rows) << what;
  ASSERT_EQ(got.why, want.why) << what;
  for (size_t s = 0; s < want.dist_sq.size(); ++s) ASSERT_TRUE(same_bits(got.dist_sq[s], want.dist_sq[s])) << what;
}

// Small whole numbers and halves, exact in float32 too, so ties and
// duplicate rows are common; now and then a NaN or an infinity.
matrix random_matrix(std::mt19937_64& g, int64_t rows, int64_t cols, bool specials) {
  matrix A{std::vector<double>(static_cast<size_t>(rows * cols)), rows, cols};
  for (double& x : A.v) {
    x = static_cast<double>(g() % 7) * 0.5 - 1.5;
    if (specials && g() % 60 == 0) x = g() % 2 ? NAN : -HUGE_VAL;
  }
  return A;
}

// The same numbers in every layout a caller may hand over.
struct layouts {
  std::vector<double> f64_c, f64_f, f64_wide;
  std::vector<float> f32_c, f32_f;
  std::vector<kcenter::view> views;
  explicit layouts(const matrix& A) {
    const int64_t n = A.rows, d = A.cols;
    for (int64_t i = 0; i < n; ++i)
      for (int64_t j = 0; j < d; ++j) {
        f64_c.push_back(A.at(i, j));
        f32_c.push_back(static_cast<float>(A.at(i, j)));
      }
    for (int64_t j = 0; j < d; ++j)
      for (int64_t i = 0; i < n; ++i) {
        f64_f.push_back(A.at(i, j));
        f32_f.push_back(static_cast<float>(A.at(i, j)));
      }
    // Every other element of a wider matrix, rows last to first.
    f64_wide.assign(static_cast<size_t>(2 * n * (d + 1) + 1), 99.0);
    for (int64_t i = 0; i < n; ++i)
      for (int64_t j = 0; j < d; ++j) f64_wide[static_cast<size_t>((n - 1 - i) * 2 * (d + 1) + 2 * j)] = A.at(i, j);
    views = {kcenter::c_order(f64_c.data(), n, d), kcenter::fortran_order(f64_f.data(), n, d),
             kcenter::c_order(f32_c.data(), n, d), kcenter::fortran_order(f32_f.data(), n, d),
             kcenter::view{f64_wide.data() + (n > 0 ? (n - 1) * 2 * (d + 1) : 0), n, d, -2 * (d + 1), 2,
                           kcenter::dtype::float64}};
  }
};

TEST(ApiOrder, EveryLayoutAndThreadCountGivesThePlainOrder) {
  std::mt19937_64 g(5);
  for (int t = 0; t < 60; ++t) {
    const int64_t rows = static_cast<int64_t>(g() % 50), cols = 1 + static_cast<int64_t>(g() % 5);
    const matrix A = random_matrix(g, rows, cols, t % 3 == 0);
    const layouts L(A);
    kcenter::order_options o;
    if (t % 4 == 1) o.k = 1 + static_cast<int64_t>(g() % 30);
    if (t % 5 == 2) o.radius = 1.5;
    for (int64_t s = 0; rows > 0 && s < static_cast<int64_t>(t % 4); ++s) {
      const int64_t row = static_cast<int64_t>(g() % static_cast<uint64_t>(rows));
      if (std::find(o.start.begin(), o.start.end(), row) == o.start.end()) o.start.push_back(row);
    }
    const kcenter::order_result want = order_ref(A, o.start, o.k.value_or(-1), o.radius.value_or(-1.0));
    for (size_t v = 0; v < L.views.size(); ++v) {
      o.threads = 1 + static_cast<int32_t>((t + v) % 4);
      kcenter::order_result got;
      kcenter::error err;
      ASSERT_TRUE(kcenter::order(L.views[v], o, &got, &err)) << err.line;
      expect_same(got, want, "case " + std::to_string(t) + " layout " + std::to_string(v));
    }
  }
}

// The rules people trip on: k counts the start rows; a start row's distance
// is to the start rows before it; a NaN row is given once and the order
// goes on; the callback stops the order where it says.
TEST(ApiOrder, StartRowsNaNRowsAndCancellation) {
  const double v[] = {0, 0, 3, 4, NAN, 1, 6, 8, 1, 1};
  const kcenter::view x = kcenter::c_order(v, 5, 2);
  kcenter::order_options o;
  o.start = {3, 0};
  kcenter::order_result r;
  kcenter::error err;
  ASSERT_TRUE(kcenter::order(x, o, &r, &err));
  EXPECT_EQ(r.rows, (std::vector<int64_t>{3, 0, 2, 1, 4}));
  EXPECT_TRUE(same_bits(r.dist_sq[1], 100.0));
  EXPECT_TRUE(same_bits(r.dist_sq[2], start_value));
  o.k = 1;
  ASSERT_TRUE(kcenter::order(x, o, &r, &err));
  EXPECT_EQ(r.rows, (std::vector<int64_t>{3}));
  EXPECT_EQ(r.why, kcenter::stop::k_steps);
  o.k.reset();
  o.start = {2, 4};  // a NaN start row lies at the start value from the rest
  ASSERT_TRUE(kcenter::order(x, o, &r, &err));
  EXPECT_TRUE(same_bits(r.dist_sq[1], start_value));
  EXPECT_EQ(r.rows.size(), 5u);
  o.start.clear();
  o.between_steps = [](int64_t steps) { return steps < 3; };
  ASSERT_TRUE(kcenter::order(x, o, &r, &err));
  EXPECT_EQ(r.rows.size(), 3u);
  EXPECT_EQ(r.why, kcenter::stop::cancelled);
}

TEST(ApiBatch, EachItemIsItsOwnOrderForAnyThreadCount) {
  std::mt19937_64 g(9);
  const int64_t B = 7, N = 40, D = 3;
  const matrix all = random_matrix(g, B * N, D, true);
  std::vector<float> f(all.v.begin(), all.v.end());
  const std::vector<int64_t> lengths = {40, 0, 1, 17, 40, 33, 2};
  std::vector<kcenter::view> items;
  kcenter::error bad;
  ASSERT_TRUE(kcenter::batch_items(f.data(), kcenter::dtype::float32, B, N, D, N * D, D, 1, lengths, &items, &bad));
  std::vector<kcenter::view> none;
  EXPECT_FALSE(kcenter::batch_items(f.data(), kcenter::dtype::float32, B, N, D, N * D, D, 1, {1, 2}, &none, &bad));
  EXPECT_EQ(bad.line, "error : a batch of 7 items needs one length per item, not 2");
  EXPECT_FALSE(kcenter::batch_items(f.data(), kcenter::dtype::float32, 1, N, D, N * D, D, 1, {41}, &none, &bad));
  EXPECT_EQ(bad.line, "error : the length 41 of item 0 is not a row count from 0 to 40");
  kcenter::batch_options o;
  o.k = {5, 1, 3, 40, 2, 9, 9};
  std::vector<kcenter::order_result> first;
  for (int32_t threads = 1; threads <= 4; ++threads) {
    o.threads = threads;
    std::vector<kcenter::order_result> got;
    kcenter::error err;
    ASSERT_TRUE(kcenter::order_batch(items, o, &got, &err)) << err.line;
    ASSERT_EQ(got.size(), static_cast<size_t>(B));
    for (int64_t b = 0; b < B; ++b) {
      kcenter::order_options one;
      one.k = o.k[static_cast<size_t>(b)];
      kcenter::order_result want;
      ASSERT_TRUE(kcenter::order(items[static_cast<size_t>(b)], one, &want, &err));
      expect_same(got[static_cast<size_t>(b)], want, "item " + std::to_string(b));
    }
  }
}

TEST(ApiPairAndAssign, EqualTheirPlainLoops) {
  std::mt19937_64 g(13);
  for (int t = 0; t < 40; ++t) {
    const matrix A = random_matrix(g, static_cast<int64_t>(g() % 30), 1 + static_cast<int64_t>(g() % 3), t % 2 == 0);
    const layouts L(A);
    kcenter::pair_result want;
    for (int64_t i = 0; i < A.rows; ++i)
      for (int64_t j = i + 1; j < A.rows; ++j) {
        const double d = dist_sq(A, i, j);
        if (d > want.dist_sq || (!want.found && d == 0.0)) want = {true, i, j, d};
      }
    std::vector<int64_t> centres;
    for (int64_t c = 0; c < std::min<int64_t>(A.rows, 4); ++c) centres.push_back(static_cast<int64_t>(g() % static_cast<uint64_t>(A.rows)));
    for (const kcenter::view& x : L.views) {
      kcenter::pair_result p;
      kcenter::assign_result a;
      kcenter::error err;
      ASSERT_TRUE(kcenter::farthest_pair(x, 1 + t % 3, &p, &err)) << err.line;
      ASSERT_EQ(p.found, want.found);
      ASSERT_EQ(p.i, want.i);
      ASSERT_EQ(p.j, want.j);
      ASSERT_TRUE(same_bits(p.dist_sq, want.dist_sq));
      ASSERT_TRUE(kcenter::assign(x, centres, 1 + t % 3, &a, &err)) << err.line;
      for (int64_t i = 0; i < A.rows; ++i) {
        int64_t label = -1;
        double best = NAN;
        for (size_t c = 0; c < centres.size(); ++c) {
          const double d = dist_sq(A, i, centres[c]);
          if (label < 0 ? !std::isnan(d) : d < best) label = static_cast<int64_t>(c), best = d;
        }
        ASSERT_EQ(a.label[static_cast<size_t>(i)], label);
        ASSERT_TRUE(same_bits(a.dist_sq[static_cast<size_t>(i)], best));
      }
    }
  }
}

TEST(ApiErrors, EachFaultSaysItsLine) {
  const double v[] = {0, 0, 3, 4};
  const kcenter::view x = kcenter::c_order(v, 2, 2);
  kcenter::order_result r;
  kcenter::error err;
  auto order_fails = [&](const kcenter::view& view, const kcenter::order_options& o, kcenter::fault code,
                         const std::string& line) {
    EXPECT_FALSE(kcenter::order(view, o, &r, &err));
    EXPECT_EQ(err.code, code);
    EXPECT_EQ(err.line, line);
  };
  kcenter::order_options o;
  order_fails(kcenter::view{v, -1, 2, 2, 1, kcenter::dtype::float64}, o, kcenter::fault::bad_view,
              "error : a matrix needs no negative row or column count, not -1 x 2");
  order_fails(kcenter::view{v, int64_t{1} << 31, 2, 2, 1, kcenter::dtype::float64}, o, kcenter::fault::too_large,
              "error : the matrix has more than 2147483647 rows or columns");
  order_fails(kcenter::view{nullptr, 2, 2, 2, 1, kcenter::dtype::float64}, o, kcenter::fault::bad_view,
              "error : the matrix has no data");
  o.k = 0;
  order_fails(x, o, kcenter::fault::bad_k, "error : k must be a whole number from 1 to 2147483647");
  o.k.reset();
  o.radius = -1.0;
  order_fails(x, o, kcenter::fault::bad_radius, "error : the radius must be a number from 0 up (inf allowed)");
  o.radius = NAN;
  order_fails(x, o, kcenter::fault::bad_radius, "error : the radius must be a number from 0 up (inf allowed)");
  o.radius.reset();
  o.threads = 4097;
  order_fails(x, o, kcenter::fault::bad_threads, "error : the thread count must be a whole number from 1 to 4096");
  o.threads = 1;
  o.start = {1, 2};
  order_fails(x, o, kcenter::fault::start_out_of_range, "error : the start row 2 is not a row of a matrix of 2 rows");
  o.start = {1, 0, 1};
  order_fails(x, o, kcenter::fault::start_repeated, "error : the start row 1 is given twice");
  kcenter::assign_result a;
  EXPECT_FALSE(kcenter::assign(x, {0, -1}, 1, &a, &err));
  EXPECT_EQ(err.line, "error : the centre row -1 is not a row of a matrix of 2 rows");
  std::vector<kcenter::order_result> rs;
  kcenter::batch_options b;
  b.k = {1, 2, 3};
  EXPECT_FALSE(kcenter::order_batch({x, x}, b, &rs, &err));
  EXPECT_EQ(err.line, "error : a batch of 2 items needs one k or one per item, not 3");
  b.k = {1};
  b.start = {5};
  EXPECT_FALSE(kcenter::order_batch({x, x}, b, &rs, &err));
  EXPECT_EQ(err.line, "error : the start row 5 is not a row of a matrix of 2 rows (item 0)");
}

}  // namespace
