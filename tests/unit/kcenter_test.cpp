#include <fcntl.h>
#include <unistd.h>

#include <cfloat>
#include <cmath>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kcenter_io.hpp"
#include "test_support.hpp"

namespace {

// A matrix of doubles as the drivers read it (held by a ring of recent ones).
const row_source* source_of(const mat& A) {
  static row_source held[8];
  static int next = 0;
  row_source* x = &held[next++ % 8];
  *x = rows_of_doubles(A.data, A.rows, A.cols);
  return x;
}


__extension__ typedef unsigned __int128 u128;

// ---- first-principles references ------------------------------------------

// d <= r * r, decided on the integers behind the two doubles (d >= 0, r >= 0
// finite): d = md 2^(ed - 53) and r = mr 2^(er - 53) with md, mr in
// [2^52, 2^53), so r * r = rr 2^(2 er - 106) exactly, rr = mr^2 in [2^104, 2^106).
bool within_exact(double d, double r) {
  if (d == 0.0) return true;
  if (r == 0.0) return false;
  int ed, er;
  const auto md = static_cast<u128>(std::ldexp(std::frexp(d, &ed), 53));
  const auto mr = static_cast<u128>(std::ldexp(std::frexp(r, &er), 53));
  const u128 rr = mr * mr;
  const int shift = (ed - 53) - (2 * er - 106);  // d <= r * r iff md 2^shift <= rr
  if (shift < 0) return true;                     // md 2^shift < 2^52 < rr
  if (shift >= 60) return false;                  // md 2^shift >= 2^112 > rr
  return (md << shift) <= rr;
}

double dist_sq(const mat& A, int32_t i, int32_t j) {
  double sum = 0.0;
  for (int32_t c = 0; c < A.cols; ++c) {
    const double diff = A.data[i * A.cols + c] - A.data[j * A.cols + c];
    sum = diff * diff + sum;
  }
  return sum;
}

struct step {
  int32_t row;
  double dist;
};

// Each step from scratch: every row's nearest distance to the steps so far
// (the strict test from no_distance down), the farthest row not given yet,
// and the end rules stated plainly.
std::vector<step> order_ref(const mat& A, std::vector<int32_t> start, int64_t k, bool has_r, double r) {
  std::vector<step> out;
  auto nearest = [&](int32_t i) {
    double n = no_distance;
    for (const step& s : out)
      if (n > dist_sq(A, i, s.row)) n = dist_sq(A, i, s.row);
    return n;
  };
  auto given = [&](int32_t i) {
    for (const step& s : out)
      if (s.row == i) return true;
    return false;
  };
  for (int32_t s : start) {
    if (k >= 0 && static_cast<int64_t>(out.size()) >= k) return out;
    out.push_back({s, out.empty() ? HUGE_VAL : nearest(s)});
  }
  while (k < 0 || static_cast<int64_t>(out.size()) < k) {
    step far{-1, 0.0};
    for (int32_t i = 0; i < A.rows; ++i)
      if (!given(i) && nearest(i) > far.dist) far = {i, nearest(i)};
    if (far.row < 0) break;                                                       // all on centres
    if (has_r && far.dist != no_distance && within_exact(far.dist, r)) break;     // covered
    out.push_back(far);
  }
  return out;
}

std::vector<step> order_ref(const mat& A, int32_t start, int64_t k, bool has_r, double r) {
  return order_ref(A, std::vector<int32_t>{start}, k, has_r, r);
}

bool collect(void* ctx, int64_t s, int32_t row, double dist) {
  auto* v = static_cast<std::vector<step>*>(ctx);
  EXPECT_EQ(s, static_cast<int64_t>(v->size()));
  v->push_back({row, dist});
  return true;
}

kcenter_args order_args(int32_t start, int64_t k, bool has_r, double r) {
  return kcenter_args{kcenter_command::order, false, k, has_r, r, {start}, 2, nullptr, nullptr};
}

// Rows drawn from a few values, so ties and duplicate rows are common; now
// and then a NaN, an infinity or a coordinate whose squares overflow.
std::vector<double> random_rows(std::mt19937_64& g, int32_t rows, int32_t cols, bool specials) {
  std::vector<double> v(static_cast<size_t>(rows) * static_cast<size_t>(cols));
  for (double& x : v) {
    x = static_cast<double>(g() % 5) * 0.5 - 1.0;
    if (specials && g() % 150 == 0) {
      const double odd[] = {NAN, HUGE_VAL, -HUGE_VAL, 1e200};
      x = odd[g() % 4];
    }
  }
  return v;
}

TEST(KcenterWithin, IsExactAgainstTheUnroundedSquare) {
  std::mt19937_64 g(11);
  for (int t = 0; t < 20000; ++t) {
    const int exp = static_cast<int>(g() % 2200) - 1100;  // from subnormal r to r * r beyond DBL_MAX
    const double r = std::ldexp(1.0 + static_cast<double>(g() >> 11) * 0x1p-53, exp);
    if (r == 0.0 || !std::isfinite(r)) continue;
    const double p = r * r;
    for (double d : {p, std::nextafter(p, 0.0), std::nextafter(p, HUGE_VAL), p * 0.75}) {
      if (!(d < no_distance)) continue;
      ASSERT_EQ(order_within(d, r), within_exact(d, r)) << std::hexfloat << d << " within " << r;
    }
  }
  // 3 * 3 is exact: 9 is within 3, the next double is not.
  EXPECT_TRUE(order_within(9.0, 3.0));
  EXPECT_FALSE(order_within(std::nextafter(9.0, 10.0), 3.0));
  // 0.1 * 0.1 rounds up: the double it rounds to lies beyond 0.1.
  EXPECT_FALSE(order_within(0.1 * 0.1, 0.1));
  EXPECT_TRUE(order_within(0.0, 0.0));
  EXPECT_FALSE(order_within(0x1p-1074, 0.0));
  EXPECT_TRUE(order_within(DBL_MAX / 2, HUGE_VAL));
  EXPECT_TRUE(order_within(std::nextafter(no_distance, 0.0), 1e300));
  EXPECT_FALSE(order_within(no_distance, HUGE_VAL));  // a row no centre reached
}

// The order against the reference on random matrices, for every end rule:
// no limit, -k, -r at and beside distances that occur, and other start rows.
TEST(KcenterOrder, EqualsTheReferenceForEveryEndRule) {
  std::mt19937_64 g(3);
  for (int t = 0; t < 120; ++t) {
    const int32_t rows = 1 + static_cast<int32_t>(g() % 40), cols = 1 + static_cast<int32_t>(g() % 4);
    std::vector<double> v = random_rows(g, rows, cols, t % 3 == 0);
    const mat A{v.data(), rows, cols};
    const int32_t start = static_cast<int32_t>(g() % static_cast<uint64_t>(rows));
    const int64_t k = t % 4 == 0 ? -1 : 1 + static_cast<int64_t>(g() % 60);
    const std::vector<step> full = order_ref(A, start, -1, false, 0.0);
    // A radius equal to a distance in the order, or just beside it.
    const double d = full[g() % full.size()].dist;
    double r = std::sqrt(std::isfinite(d) ? d : 1.0);
    if (t % 2) r = std::nextafter(r, t % 4 == 1 ? 0.0 : HUGE_VAL);
    for (bool has_r : {false, true}) {
      const kcenter_args a = order_args(start, k, has_r, r);
      std::vector<step> got;
      ASSERT_EQ(kcenter_order(source_of(A), &a, collect, &got), kcenter_end::done);
      const std::vector<step> want = order_ref(A, start, k, has_r, r);
      ASSERT_EQ(got.size(), want.size()) << "case " << t << " r " << has_r;
      for (size_t s = 0; s < want.size(); ++s) {
        ASSERT_EQ(got[s].row, want[s].row) << "case " << t << " step " << s;
        ASSERT_TRUE(same_bits(got[s].dist, want[s].dist)) << "case " << t << " step " << s;
      }
    }
  }
}

// The rules people trip on, spelled out: every row on a centre ends the
// order; a NaN row is given once, at its turn, and the order goes on, with
// or without k; no columns or no rows.
TEST(KcenterOrder, EndsAndNaNRows) {
  std::vector<double> v = {0, 0, 3, 4, NAN, 1, 0, 0, 1, 1};
  const mat A{v.data(), 5, 2};
  std::vector<step> got;
  kcenter_args a = order_args(0, -1, false, 0.0);
  kcenter_order(source_of(A), &a, collect, &got);
  // The NaN row is never nearer than no_distance to anything: it comes next,
  // then the others; row 3 lies on row 0.
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[1].row, 2);
  EXPECT_TRUE(same_bits(got[1].dist, no_distance));
  EXPECT_EQ(got[2].row, 1);
  EXPECT_EQ(got[3].row, 4);
  got.clear();
  a.k = 6;
  kcenter_order(source_of(A), &a, collect, &got);
  EXPECT_EQ(got.size(), 4u);
  got.clear();
  std::vector<double> same = {1, 1, 1, 1};
  const mat B{same.data(), 4, 1};
  a = order_args(2, 10, false, 0.0);
  kcenter_order(source_of(B), &a, collect, &got);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].row, 2);
  got.clear();
  const mat flat{nullptr, 5, 0}, none{nullptr, 0, 3};
  kcenter_order(source_of(flat), &a, collect, &got);
  EXPECT_EQ(got.size(), 1u);
  got.clear();
  a.start.clear();
  kcenter_order(source_of(none), &a, collect, &got);
  EXPECT_EQ(got.size(), 0u);
}

farthest pair_ref(const mat& A) {
  farthest best = no_pair;
  for (int32_t i = 0; i < A.rows; ++i)
    for (int32_t j = i + 1; j < A.rows; ++j)
      if (dist_sq(A, i, j) > best.dist_sq || (best.i < 0 && dist_sq(A, i, j) == 0.0)) best = {dist_sq(A, i, j), i, j, 0};
  return best;
}

// Ties go to the lowest (i, j), NaN never counts, and when nothing lies
// apart the first pair at distance 0 is the answer.
TEST(KcenterPair, EqualsTheReferenceOnTiesNaNAndDuplicates) {
  std::mt19937_64 g(8);
  for (int t = 0; t < 150; ++t) {
    const int32_t rows = static_cast<int32_t>(g() % 30), cols = 1 + static_cast<int32_t>(g() % 3);
    std::vector<double> v = random_rows(g, rows, cols, t % 2 == 0);
    if (t % 5 == 0)  // every row alike, some with NaN
      for (size_t x = 0; x < v.size(); ++x) v[x] = g() % 4 == 0 ? NAN : 2.0;
    const mat A{v.data(), rows, cols};
    const farthest got = kcenter_pair(source_of(A), 1 + t % 3), want = pair_ref(A);
    ASSERT_EQ(got.i, want.i) << "case " << t;
    ASSERT_EQ(got.j, want.j) << "case " << t;
    ASSERT_TRUE(want.i < 0 || same_bits(got.dist_sq, want.dist_sq)) << "case " << t;
  }
  std::vector<double> nans = {NAN, 1, NAN, 2};
  const mat N{nans.data(), 2, 2};
  EXPECT_EQ(kcenter_pair(source_of(N), 1).i, -1);
  std::vector<double> infs = {HUGE_VAL, 5, HUGE_VAL, 6, HUGE_VAL, 1};
  const mat I{infs.data(), 3, 2};
  EXPECT_EQ(kcenter_pair(source_of(I), 1).i, -1);  // inf - inf: every distance NaN
  const mat flat{nullptr, 3, 0};
  const farthest f = kcenter_pair(source_of(flat), 1);
  EXPECT_TRUE(f.i == 0 && f.j == 1 && f.dist_sq == 0.0);
}

std::string line_of(std::vector<const char*> argv) {
  argv.insert(argv.begin(), "kcenter");
  kcenter_args a;
  kcenter_error e;
  if (kcenter_parse_args(static_cast<int>(argv.size()), const_cast<char**>(argv.data()), &a, &e)) return "ok";
  return kcenter_error_line(e, "kcenter");
}

TEST(KcenterParseArgs, ValuesAndEachRefusal) {
  std::vector<const char*> argv = {"kcenter", "order", "in.npy", "-k", "7", "-r0x1p-2", "-s", "3", "-t", "2", "-o", "out.npy"};
  kcenter_args a;
  kcenter_error e;
  ASSERT_TRUE(kcenter_parse_args(static_cast<int>(argv.size()), const_cast<char**>(argv.data()), &a, &e));
  EXPECT_EQ(a.command, kcenter_command::order);
  EXPECT_EQ(a.k, 7);
  EXPECT_TRUE(a.has_radius && a.radius == 0.25);
  EXPECT_EQ(a.start, std::vector<int32_t>{3});
  EXPECT_EQ(a.threads, 2);
  EXPECT_STREQ(a.output, "out.npy");
  EXPECT_STREQ(a.input, "in.npy");

  EXPECT_EQ(line_of({"order", "-k", "2147483647", "-r", "inf", "--", "-"}), "ok");
  EXPECT_EQ(line_of({"pair", "-x", "--help"}), "ok");
  // Each line once is for the end-to-end cases; here the forms of each value.
  EXPECT_EQ(line_of({"pair", "-k", "3"}), "error : unknown option -k for kcenter pair");
  EXPECT_EQ(line_of({"order", "--k"}), "error : unknown option --k for kcenter order");
  for (const char* k : {"0", "2147483648", "5x", "-1", "", "+3"})
    EXPECT_EQ(line_of({"order", "-k", k}), "error : k must be a whole number from 1 to 2147483647") << k;
  for (const char* r : {"-1", "nan", "x", "1e", ""})
    EXPECT_EQ(line_of({"order", "-r", r}), "error : the radius must be a number from 0 up (inf allowed)") << r;
  for (const char* s : {"-1", "1,", ",1", "1,,2", "2147483648"})
    EXPECT_EQ(line_of({"order", "-s", s}), "error : the start row must be a whole number from 0 to 2147483647") << s;
  EXPECT_EQ(line_of({"order", "-s", "4,17,4"}), "error : the start row 4 is given twice");
  ASSERT_TRUE(kcenter_parse_args(4, const_cast<char**>(std::vector<const char*>{"kcenter", "order", "-s", "9,0,5"}.data()), &a, &e));
  EXPECT_EQ(a.start, (std::vector<int32_t>{9, 0, 5}));
  EXPECT_EQ(line_of({"pair", "-t", "0"}), "error : the thread count must be a whole number from 1 to 4096");
  EXPECT_EQ(line_of({"pair", "-o", ".npy"}), "error : the output file must end in .csv or .npy, not .npy");
}

// Standard input as a pipe, the way Python's subprocess feeds it: the first
// bytes decide between NumPy and text, and both read whole.
TEST(KcenterLoad, PipesCarryNumPyOrText) {
  const std::string npy = std::string("\x93NUMPY\x01\x00\x76\x00", 10) +
                          "{'descr': '<f4', 'fortran_order': False, 'shape': (1, 2), }" +
                          std::string(58, ' ') + "\n" + std::string("\x00\x00\xc0\x3f\x00\x00\x20\xc0", 8);
  for (const std::string& bytes : {npy, std::string("1 2\n1.5 -2.5\n")}) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::thread writer([&] {
      if (write(fds[1], bytes.data(), bytes.size()) < 0) std::abort();
      close(fds[1]);
    });
    const int saved = dup(0);
    dup2(fds[0], 0);
    close(fds[0]);
    kcenter_input in;
    kcenter_error e;
    const kcenter_args a{};
    const bool ok = kcenter_load(&a, &in, &e);
    writer.join();
    dup2(saved, 0);
    close(saved);
    ASSERT_TRUE(ok) << kcenter_error_line(e, "kcenter");
    EXPECT_EQ(in.from_npy, bytes == npy);
    ASSERT_EQ(in.X.rows * in.X.cols, 2);
    EXPECT_TRUE(same_bits(rows_at(&in.X, 0, 0), 1.5));
    EXPECT_TRUE(same_bits(rows_at(&in.X, 0, 1), -2.5));
    kcenter_unload(&in);
  }
}

}  // namespace
