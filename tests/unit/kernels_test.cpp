// Every kernel at every level the processor runs against its plain
// reference, bit for bit, on inputs built to break it: every tail length,
// ranges that start off a vector boundary, NaN, infinities, overflow, ties
// and duplicate rows.
#include "kernels.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "test_support.hpp"

namespace {

const double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();
const double largest = 1.7976931348623157e308;

std::vector<simd_level> levels_here() {
  std::vector<simd_level> out;
  for (simd_level l : {simd_level::plain, simd_level::avx2, simd_level::avx512})
    if (simd_runs(l)) out.push_back(l);
  return out;
}

// Mostly non-integer doubles of mixed signs; sometimes one of a few small
// values (ties, duplicate rows), a huge one (sums overflow) or a special.
double random_value(std::mt19937_64& g, bool specials) {
  std::uniform_real_distribution<double> u(-10, 10);
  switch (g() % 16) {
    case 0:
      return static_cast<double>(g() % 3);
    case 1:
      return specials ? (g() % 3 == 0 ? nan : (g() % 2 ? inf : -inf)) : 1.0;
    case 2:
      return u(g) * 1e153;
    default:
      return u(g);
  }
}

// Rows by coordinate, owned by the test.
struct rows_by_coord {
  std::vector<double> data;  // row-major
  by_coord X;
  rows_by_coord(std::mt19937_64& g, int64_t rows, int32_t cols, bool specials)
      : data(static_cast<size_t>(rows * cols)) {
    for (double& v : data) v = random_value(g, specials && g() % 8 == 0);
    X = by_coord_alloc(rows, cols);
    by_coord_fill(&X, data.data(), nullptr);
  }
  ~rows_by_coord() { by_coord_free(&X); }
  const double* row(int64_t r) const { return data.data() + r * X.cols; }
};

const int64_t counts[] = {0, 1, 3, 4, 7, 8, 9, 15, 16, 17, 31, 32, 33, 47, 100, 301};
const int32_t dims[] = {1, 2, 3, 4, 5, 7, 16};

TEST(ByCoord, PadsWithCopiesOfTheLastRowInOrder) {
  const double data[] = {1, 2, 3, 4, 5, 6};
  const int32_t order[] = {2, 0};
  by_coord X = by_coord_alloc(2, 2);
  by_coord_fill(&X, data, order);
  ASSERT_EQ(X.stride, by_coord_pad);
  const double* x = by_coord_doubles(&X);
  EXPECT_EQ(x[0], 5.0);
  EXPECT_EQ(x[1], 1.0);
  EXPECT_EQ(x[X.stride], 6.0);
  for (int64_t p = 2; p < X.stride; ++p) EXPECT_EQ(x[X.stride + p], 2.0);
  by_coord_free(&X);
  by_coord_free(&X);  // a second free releases nothing
  EXPECT_EQ(by_coord_alloc(-1, 2).x, nullptr);
}

TEST(FoldNearest, EveryLevelEqualsTheReferenceOnEveryRange) {
  std::mt19937_64 g(101);
  for (int32_t d : dims) {
    for (int64_t count : counts) {
      for (int trial = 0; trial < 3; ++trial) {
        rows_by_coord R(g, count, d, trial > 0);
        // The centre is often a row, so that zeros and ties occur.
        std::vector<double> c(static_cast<size_t>(d));
        const int64_t own = count > 0 && g() % 2 ? static_cast<int64_t>(g() % count) : -1;
        for (int32_t j = 0; j < d; ++j) c[j] = own >= 0 ? R.row(own)[j] : random_value(g, trial == 2);
        std::vector<double> start(static_cast<size_t>(count));
        for (double& v : start) {
          const uint64_t pick = g() % 4;
          v = pick == 0 ? largest : pick == 1 ? 0.0 : pick == 2 ? 1.0 : std::fabs(random_value(g, false));
        }
        const int64_t from = count > 0 ? static_cast<int64_t>(g() % (count / 3 + 1)) : 0;
        std::vector<double> want = start;
        const farthest_row best = fold_nearest_ref(&R.X, from, count, c.data(), want.data());
        for (simd_level level : levels_here()) {
          std::vector<double> near = start;
          const farthest_row got = fold_nearest(level, &R.X, from, count, c.data(), near.data());
          const std::string where = std::string(simd_name(level)) + " d " + std::to_string(d) +
                                    " rows " + std::to_string(from) + ".." + std::to_string(count);
          ASSERT_EQ(got.pos, best.pos) << where;
          ASSERT_TRUE(same_bits(got.dist, best.dist)) << where;
          for (int64_t r = 0; r < count; ++r) ASSERT_TRUE(same_bits(near[r], want[r])) << where;
        }
      }
    }
  }
}

TEST(FoldNearest, TiesGoToTheLowestPositionAcrossLanesAndTail) {
  std::vector<double> x(37, 1.0);
  x[3] = x[19] = x[36] = 5.0;
  x[0] = 5.0 - 0x1p-50;  // just nearer
  by_coord X = by_coord_alloc(37, 1);
  by_coord_fill(&X, x.data(), nullptr);
  const double c = 0.0;
  for (simd_level level : levels_here()) {
    std::vector<double> near(37, largest);
    farthest_row f = fold_nearest(level, &X, 0, 37, &c, near.data());
    EXPECT_EQ(f.pos, 3) << simd_name(level);
    EXPECT_TRUE(same_bits(f.dist, 25.0));
    std::fill(near.begin(), near.end(), 0.0);
    f = fold_nearest(level, &X, 0, 37, &c, near.data());
    EXPECT_EQ(f.pos, -1) << "nothing above 0.0";
  }
  by_coord_free(&X);
}

// v * v, then u * u rounded and added: a fused multiply-add of u * u onto
// v * v rounds once and ends one unit higher. Every kernel sums this pair.
TEST(Kernels, RoundEachSquareBeforeAddingIt) {
  const double v = 0x1.e7c922b2d54e4p-2, u = 0x1.d622567196942p+0;
  const double want = 0x1.ccbc8402736aep+1;
  ASSERT_TRUE(same_bits(std::fma(u, u, v * v), 0x1.ccbc8402736afp+1));
  std::vector<double> rows;
  for (int r = 0; r < 40; ++r) rows.insert(rows.end(), {v, u});
  by_coord X = by_coord_alloc(40, 2);
  by_coord_fill(&X, rows.data(), nullptr);
  const double zero[2] = {0.0, 0.0};
  const double* c[pair_block_rows] = {zero, zero, zero, zero};
  for (simd_level level : levels_here()) {
    std::vector<double> near(40, largest);
    fold_nearest(level, &X, 0, 40, zero, near.data());
    for (double n : near) ASSERT_TRUE(same_bits(n, want)) << simd_name(level);
    double most[pair_block_rows];
    pair_block_most(level, &X, c, 0, 40, most);
    EXPECT_TRUE(same_bits(most[0], want)) << simd_name(level);
    EXPECT_EQ(pair_first_at(level, &X, zero, 3, 40, want), 3);
    const int32_t origin = 0;
    EXPECT_TRUE(same_bits(cover_cost(level, &X, zero, &origin, 1, inf), want)) << simd_name(level);
    by_tile T = by_tile_alloc(40, 2);
    by_tile_fill(&T, rows.data(), nullptr);
    std::vector<double> out(40);
    tiles_dist_sq(level, &T, 0, T.tiles, zero, out.data());
    for (double o : out) ASSERT_TRUE(same_bits(o, want)) << simd_name(level);
    by_tile_free(&T);
    std::vector<int32_t> listed(40);
    for (int32_t r = 0; r < 40; ++r) listed[static_cast<size_t>(r)] = 39 - r;
    const row_source listed_rows = rows_of_doubles(rows.data(), 40, 2);
    rows_dist_sq(level, &listed_rows, listed.data(), 40, zero, out.data());
    for (double o : out) ASSERT_TRUE(same_bits(o, want)) << simd_name(level);
  }
  by_coord_free(&X);
}

// Boxes around random points of mixed magnitudes (so rounding bites), and
// centres inside, outside and on their sides.
TEST(BoxesWithin, BoundNeverExceedsAPointsDistanceAndLevelsAgree) {
  std::mt19937_64 g(7);
  const int per_box = 6;
  for (int32_t d : {1, 2, 3, 5}) {
    for (int64_t boxes : {1, 3, 4, 7, 8, 9, 17, 40}) {
      std::vector<double> pts(static_cast<size_t>(boxes * per_box * d)), lo_rows, hi_rows;
      for (int64_t b = 0; b < boxes; ++b) {
        const double scale = std::ldexp(1.0, static_cast<int>(g() % 60) - 30);
        std::uniform_real_distribution<double> u(-scale, scale);
        double* p = pts.data() + b * per_box * d;
        for (int64_t i = 0; i < per_box * d; ++i) p[i] = g() % 5 == 0 ? scale / 3 : u(g);
        for (int32_t j = 0; j < d; ++j) {
          double l = inf, h = -inf;
          for (int q = 0; q < per_box; ++q) {
            l = std::min(l, p[q * d + j]);
            h = std::max(h, p[q * d + j]);
          }
          lo_rows.push_back(l);
          hi_rows.push_back(h);
        }
      }
      by_coord lo = by_coord_alloc(boxes, d), hi = by_coord_alloc(boxes, d);
      by_coord_fill(&lo, lo_rows.data(), nullptr);
      by_coord_fill(&hi, hi_rows.data(), nullptr);
      for (int trial = 0; trial < 30; ++trial) {
        std::vector<double> c(static_cast<size_t>(d));
        for (int32_t j = 0; j < d; ++j) {
          const int64_t b = static_cast<int64_t>(g() % boxes);
          const uint64_t pick = g() % 3;
          c[j] = pick == 0 ? lo_rows[b * d + j]
                 : pick == 1 ? pts[(b * per_box + static_cast<int64_t>(g() % per_box)) * d + j] * 1.5
                             : random_value(g, false);
        }
        // Half the boxes get a limit just above their nearest point's
        // distance, which the bound must lie below; the others one at or
        // below it, listed or not as the bound says.
        std::vector<double> limit(static_cast<size_t>(boxes));
        std::vector<bool> must(static_cast<size_t>(boxes));
        for (int64_t b = 0; b < boxes; ++b) {
          double nearest = inf;
          for (int q = 0; q < per_box; ++q) {
            double sum = 0.0;
            for (int32_t j = 0; j < d; ++j) {
              const double diff = pts[(b * per_box + q) * d + j] - c[j];
              sum = diff * diff + sum;
            }
            nearest = std::min(nearest, sum);
          }
          must[b] = g() % 2 == 0;
          limit[b] = must[b] ? std::nextafter(nearest, inf) : nearest * (g() % 2 ? 1.0 : 0.25);
        }
        const int64_t from = static_cast<int64_t>(g() % static_cast<uint64_t>(boxes));
        std::vector<int32_t> want(static_cast<size_t>(boxes));
        want.resize(static_cast<size_t>(
            boxes_within_ref(&lo, &hi, from, boxes, c.data(), limit.data(), want.data())));
        for (int64_t b = from; b < boxes; ++b)
          ASSERT_TRUE(!must[b] || std::count(want.begin(), want.end(), b) == 1) << "box " << b;
        for (simd_level level : levels_here()) {
          std::vector<int32_t> got(static_cast<size_t>(boxes));
          got.resize(static_cast<size_t>(
              boxes_within(level, &lo, &hi, from, boxes, c.data(), limit.data(), got.data())));
          ASSERT_EQ(got, want) << simd_name(level) << " d " << d << " boxes " << boxes;
        }
      }
      by_coord_free(&lo);
      by_coord_free(&hi);
    }
  }
}

// The tiles and the gathered rows against their references, and both
// references against the plain sum of each row; every tail, ranges off the
// start, rows repeated and listed out of order, NaN, infinities, overflow.
TEST(GroupedDistances, EveryLevelEqualsTheReferenceOnEveryRange) {
  std::mt19937_64 g(19);
  auto plain = [](const double* row, const double* c, int32_t d, int64_t step) {
    double sum = 0.0;
    for (int32_t j = 0; j < d; ++j) {
      const double diff = row[j * step] - c[j];
      sum = diff * diff + sum;
    }
    return sum;
  };
  for (int32_t d : {1, 3, 8, 9, 17, 64, 131}) {
    for (int64_t count : {1, 5, 8, 9, 16, 17, 31, 33, 61}) {
      rows_by_coord R(g, count, d, true);
      std::vector<double> c(static_cast<size_t>(d));
      for (double& v : c) v = random_value(g, g() % 4 == 0);
      // Tiles: the rows in a scattered order, from every first tile on.
      std::vector<int32_t> order(static_cast<size_t>(count));
      for (int32_t& r : order) r = static_cast<int32_t>(g() % count);
      by_tile T = by_tile_alloc(count, d);
      by_tile_fill(&T, R.data.data(), order.data());
      for (int64_t first = 0; first < T.tiles; ++first) {
        const int64_t n = T.tiles - first;
        std::vector<double> want(static_cast<size_t>(n * by_tile_rows));
        tiles_dist_sq_ref(&T, first, n, c.data(), want.data());
        for (int64_t p = first * by_tile_rows; p < T.tiles * by_tile_rows; ++p) {
          const int32_t r = order[static_cast<size_t>(std::min(p, count - 1))];  // padding copies the last
          ASSERT_TRUE(same_bits(want[p - first * by_tile_rows], plain(R.row(r), c.data(), d, 1)));
        }
        for (simd_level level : levels_here()) {
          std::vector<double> got(want.size(), -1.0);
          tiles_dist_sq(level, &T, first, n, c.data(), got.data());
          for (size_t i = 0; i < got.size(); ++i)
            ASSERT_TRUE(same_bits(got[i], want[i])) << simd_name(level) << " d " << d << " tiles from " << first;
        }
      }
      by_tile_free(&T);
      // Listed rows, from every start in the list (every tail length).
      const row_source listed = rows_of_doubles(R.data.data(), static_cast<int32_t>(count), d);
      for (int64_t from = 0; from < count; from += 1 + from / 4) {
        const int64_t n = count - from;
        std::vector<double> want(static_cast<size_t>(n));
        rows_dist_sq_ref(&listed, order.data() + from, n, c.data(), want.data());
        for (int64_t t = 0; t < n; ++t)
          ASSERT_TRUE(same_bits(want[t], plain(R.row(order[static_cast<size_t>(from + t)]), c.data(), d, 1)));
        for (simd_level level : levels_here()) {
          std::vector<double> got(static_cast<size_t>(n), -1.0);
          rows_dist_sq(level, &listed, order.data() + from, n, c.data(), got.data());
          for (int64_t t = 0; t < n; ++t)
            ASSERT_TRUE(same_bits(got[t], want[t])) << simd_name(level) << " d " << d << " rows " << from << ".." << count;
        }
      }
    }
  }
}

TEST(PairKernels, EveryLevelEqualsTheReferenceOnEveryRange) {
  std::mt19937_64 g(13);
  for (int32_t d : dims) {
    for (int64_t count : counts) {
      if (count < 2) continue;
      rows_by_coord R(g, count, d, true);
      for (int trial = 0; trial < 4; ++trial) {
        const double* c[pair_block_rows];
        for (const double*& r : c) r = R.row(static_cast<int64_t>(g() % count));
        const int64_t j0 = static_cast<int64_t>(g() % count);
        const int64_t j1 = trial == 0 ? R.X.stride : j0 + static_cast<int64_t>(g() % (count - j0 + 1));
        double want[pair_block_rows];
        pair_block_most_ref(&R.X, c, j0, j1, want);
        // A distance that occurs (or the largest, or one that does not).
        const double dist = trial == 1 ? want[0] : trial == 2 ? 0.5 : std::fabs(random_value(g, false));
        const int64_t first = pair_first_at_ref(&R.X, c[1], j0, j1, dist);
        for (simd_level level : levels_here()) {
          double got[pair_block_rows];
          pair_block_most(level, &R.X, c, j0, j1, got);
          for (int r = 0; r < pair_block_rows; ++r)
            ASSERT_TRUE(same_bits(got[r], want[r])) << simd_name(level) << " d " << d << " r " << r;
          ASSERT_EQ(pair_first_at(level, &R.X, c[1], j0, j1, dist), first) << simd_name(level);
        }
      }
    }
  }
}

// Boxes around a few rows (or around none of them), rows with NaN,
// infinities and values whose squares overflow: every level gives the
// reference's bits, and for finite rows no squared distance to a point of
// the box, its corners included, lies above the bound.
TEST(PairBoxFar, EveryLevelEqualsTheReferenceAndBoundsEveryPointOfTheBox) {
  std::mt19937_64 g(31);
  for (int32_t d : dims) {
    for (int64_t count : counts) {
      if (count == 0) continue;
      rows_by_coord R(g, count, d, true);
      for (int trial = 0; trial < 3; ++trial) {
        std::vector<double> lo(static_cast<size_t>(d)), hi(static_cast<size_t>(d));
        for (int32_t j = 0; j < d; ++j) {
          double a = random_value(g, false), b = trial == 0 ? a : random_value(g, false);
          lo[j] = std::min(a, b);
          hi[j] = std::max(a, b);
        }
        const int64_t from = static_cast<int64_t>(g() % count);
        std::vector<double> want(static_cast<size_t>(count - from));
        pair_box_far_ref(&R.X, from, count, lo.data(), hi.data(), want.data());
        for (simd_level level : levels_here()) {
          std::vector<double> got(want.size());
          pair_box_far(level, &R.X, from, count, lo.data(), hi.data(), got.data());
          for (size_t p = 0; p < want.size(); ++p)
            ASSERT_TRUE(same_bits(got[p], want[p])) << simd_name(level) << " d " << d << " p " << p;
        }
        for (int64_t p = from; p < count; ++p) {
          const double* row = R.row(p);
          if (!std::all_of(row, row + d, [](double v) { return std::isfinite(v); })) continue;
          for (int corner = 0; corner < 8; ++corner) {
            double sum = 0.0;
            for (int32_t j = 0; j < d; ++j) {
              const double y = corner < 4 ? ((corner >> (j % 2)) & 1 ? hi[j] : lo[j])
                                          : lo[j] + (hi[j] - lo[j]) * (corner / 8.0);
              const double diff = row[j] - std::min(std::max(y, lo[j]), hi[j]);
              sum = diff * diff + sum;
            }
            ASSERT_LE(sum, want[static_cast<size_t>(p - from)]) << "d " << d << " row " << p;
          }
        }
      }
    }
  }
}

TEST(CoverCost, EveryLevelEqualsTheReferenceAndStopsOnlyWhereAllowed) {
  std::mt19937_64 g(17);
  for (int32_t d : {1, 2, 3}) {
    for (int64_t count : counts) {
      if (count == 0) continue;
      rows_by_coord R(g, count, d, true);
      for (int trial = 0; trial < 4; ++trial) {
        const int32_t k = static_cast<int32_t>(g() % 6);
        std::vector<int32_t> centres(static_cast<size_t>(k));
        for (int32_t& c : centres) c = static_cast<int32_t>(g() % count);
        const double* pts = R.data.data();
        const double full = cover_cost_ref(&R.X, pts, centres.data(), k, inf);
        const double stop = trial == 0 ? full : std::fabs(random_value(g, false));
        for (simd_level level : levels_here()) {
          ASSERT_TRUE(same_bits(cover_cost(level, &R.X, pts, centres.data(), k, inf), full)) << simd_name(level);
          const double early = cover_cost(level, &R.X, pts, centres.data(), k, stop);
          ASSERT_EQ(early < stop, full < stop) << simd_name(level);
          if (full < stop) {
            ASSERT_TRUE(same_bits(early, full)) << simd_name(level);
          }
        }
      }
    }
  }
}


// ---- copies of float32 rows ------------------------------------------------------

// Floats built to break a kernel that does not widen each coordinate
// exactly before it subtracts: values near the largest float (their squares
// overflow a float, not a double), subnormal floats (a kernel that flushed
// them would see 0), a few small integers (ties), NaN and infinities.
float random_float(std::mt19937_64& g) {
  std::uniform_real_distribution<float> u(-10.0f, 10.0f);
  switch (g() % 12) {
    case 0:
      return static_cast<float>(g() % 3);
    case 1:
      return (g() % 2 ? 1.0f : -1.0f) * std::numeric_limits<float>::max() * (1.0f - 0x1p-20f * static_cast<float>(g() % 8));
    case 2:
      return std::numeric_limits<float>::denorm_min() * static_cast<float>(1 + g() % 1000) * (g() % 2 ? 1.0f : -1.0f);
    case 3:
      return g() % 4 == 0 ? std::numeric_limits<float>::quiet_NaN() : (g() % 2 ? 1.0f : -1.0f) * std::numeric_limits<float>::infinity();
    default:
      return u(g);
  }
}

// A point for float rows: one of them widened, a point halfway between two
// adjacent floats of one (rows on either side tie exactly in double, not
// after rounding the point to float), or any double.
std::vector<double> float_centre(std::mt19937_64& g, const std::vector<float>& rows, int64_t count,
                                 int32_t d) {
  std::vector<double> c(static_cast<size_t>(d));
  const int64_t r = count > 0 ? static_cast<int64_t>(g() % count) / 2 * 2 : -1;
  const uint64_t kind = g() % 3;
  for (int32_t j = 0; j < d; ++j) {
    const float v = r >= 0 ? rows[static_cast<size_t>(r * d + j)] : 1.5f;
    if (kind == 0 && r >= 0) c[j] = static_cast<double>(v);
    else if (kind == 1 && std::isfinite(v)) c[j] = static_cast<double>(v) / 2 + static_cast<double>(std::nextafter(v, 0.0f)) / 2;
    else c[j] = random_value(g, false);
  }
  return c;
}

// Any NaN matches any NaN here: centres taken from the rows may hold
// infinities, and which NaN a sum of two keeps is the compiler's choice.
TEST(FloatCopies, EveryKernelGivesTheDistancesOfTheRowsWidened) {
  std::mt19937_64 g(61);
  for (int32_t d : {1, 2, 3, 4, 5, 7, 16, 33}) {
    for (int64_t count : counts) {
      if (count == 0) continue;
      const int32_t n = static_cast<int32_t>(count);
      std::vector<float> f(static_cast<size_t>(count * d));
      for (float& v : f) v = g() % 6 == 0 ? random_float(g) : static_cast<float>(random_value(g, false));
      // Each odd row is the row before it moved to the next float towards 0:
      // a point halfway between the two lies exactly as far from each.
      for (int64_t i = 1; i < count; i += 2)
        for (int32_t j = 0; j < d; ++j) f[static_cast<size_t>(i * d + j)] = std::nextafter(f[static_cast<size_t>((i - 1) * d + j)], 0.0f);
      std::vector<double> w(f.begin(), f.end());
      const row_source F{f.data(), n, d, d, 1, elem_type::f32}, W = rows_of_doubles(w.data(), n, d);
      by_coord CF = by_coord_alloc(count, d, elem_type::f32), CW = by_coord_alloc(count, d);
      by_coord_fill(&CF, &F, nullptr);
      by_coord_fill(&CW, &W, nullptr);
      by_tile TF = by_tile_alloc(count, d, elem_type::f32), TW = by_tile_alloc(count, d);
      by_tile_fill(&TF, &F, nullptr);
      by_tile_fill(&TW, &W, nullptr);
      for (int trial = 0; trial < 3; ++trial) {
        const std::vector<double> c = float_centre(g, f, count, d), c2 = float_centre(g, f, count, d);
        const std::string where = "d " + std::to_string(d) + " rows " + std::to_string(count);
        const int64_t from = static_cast<int64_t>(g() % count);
        std::vector<double> start(static_cast<size_t>(count));
        for (double& v : start) v = g() % 3 == 0 ? largest : std::fabs(random_value(g, false));
        std::vector<double> want_near = start;
        const farthest_row want_fold = fold_nearest_ref(&CW, from, count, c.data(), want_near.data());
        std::vector<double> tiles_want(static_cast<size_t>(TW.tiles * by_tile_rows));
        tiles_dist_sq_ref(&TW, 0, TW.tiles, c.data(), tiles_want.data());
        std::vector<int32_t> listed(static_cast<size_t>(count));
        for (int32_t& r : listed) r = static_cast<int32_t>(g() % count);
        std::vector<double> rows_want(listed.size());
        rows_dist_sq_ref(&W, listed.data(), count, c.data(), rows_want.data());
        const double* cs[pair_block_rows] = {c.data(), c2.data(), w.data(), c.data()};
        double most_want[pair_block_rows];
        pair_block_most_ref(&CW, cs, from, CW.stride, most_want);
        const int64_t first_want = pair_first_at_ref(&CW, c2.data(), from, count, most_want[1]);
        std::vector<double> far_want(static_cast<size_t>(count - from));
        pair_box_far_ref(&CW, from, count, c.data(), c.data(), far_want.data());
        // The references over the float copies, then every level.
        std::vector<double> near = start, out(tiles_want.size()), far(far_want.size());
        const farthest_row ref_fold = fold_nearest_ref(&CF, from, count, c.data(), near.data());
        ASSERT_EQ(ref_fold.pos, want_fold.pos) << where;
        for (int64_t p = 0; p < count; ++p) ASSERT_TRUE(same_or_nan(near[p], want_near[p])) << where;
        tiles_dist_sq_ref(&TF, 0, TF.tiles, c.data(), out.data());
        for (size_t i = 0; i < out.size(); ++i) ASSERT_TRUE(same_or_nan(out[i], tiles_want[i])) << where;
        rows_dist_sq_ref(&F, listed.data(), count, c.data(), out.data());
        for (int64_t t = 0; t < count; ++t) ASSERT_TRUE(same_or_nan(out[t], rows_want[t])) << where;
        for (simd_level level : levels_here()) {
          const std::string at = where + " " + simd_name(level);
          near = start;
          const farthest_row got = fold_nearest(level, &CF, from, count, c.data(), near.data());
          ASSERT_EQ(got.pos, want_fold.pos) << at;
          ASSERT_TRUE(same_or_nan(got.dist, want_fold.dist)) << at;
          for (int64_t p = 0; p < count; ++p) ASSERT_TRUE(same_or_nan(near[p], want_near[p])) << at;
          tiles_dist_sq(level, &TF, 0, TF.tiles, c.data(), out.data());
          for (size_t i = 0; i < tiles_want.size(); ++i) ASSERT_TRUE(same_or_nan(out[i], tiles_want[i])) << at;
          rows_dist_sq(level, &F, listed.data(), count, c.data(), out.data());
          for (int64_t t = 0; t < count; ++t) ASSERT_TRUE(same_or_nan(out[t], rows_want[t])) << at;
          double most[pair_block_rows];
          pair_block_most(level, &CF, cs, from, CF.stride, most);
          for (int r = 0; r < pair_block_rows; ++r) ASSERT_TRUE(same_or_nan(most[r], most_want[r])) << at;
          ASSERT_EQ(pair_first_at(level, &CF, c2.data(), from, count, most_want[1]), first_want) << at;
          pair_box_far(level, &CF, from, count, c.data(), c.data(), far.data());
          for (size_t p = 0; p < far.size(); ++p) ASSERT_TRUE(same_or_nan(far[p], far_want[p])) << at;
        }
      }
      by_coord_free(&CF);
      by_coord_free(&CW);
      by_tile_free(&TF);
      by_tile_free(&TW);
    }
  }
}


// Projections of tiles of doubles and of floats at every level against the
// reference, to the bit: rows of mixed magnitudes, any Q and mu.
TEST(TilesProject, EveryLevelEqualsTheReference) {
  std::mt19937_64 g(67);
  for (int32_t d : {1, 5, 33, 260}) {
    for (int32_t q : {4, 32}) {
      const int64_t count = 21;
      std::vector<double> rows(static_cast<size_t>(count * d)), Q(static_cast<size_t>(q * d)), mu(static_cast<size_t>(d));
      for (double& v : rows) v = random_value(g, false);
      for (double& v : Q) v = random_value(g, false) * 0.01;
      for (double& v : mu) v = random_value(g, false);
      std::vector<float> narrow(rows.begin(), rows.end());
      const row_source F{narrow.data(), static_cast<int32_t>(count), d, d, 1, elem_type::f32};
      for (bool floats : {false, true}) {
        by_tile X = by_tile_alloc(count, d, floats ? elem_type::f32 : elem_type::f64);
        if (floats) by_tile_fill(&X, &F, nullptr);
        else by_tile_fill(&X, rows.data(), nullptr);
        by_tile want = by_tile_alloc(count, q, elem_type::f32), got = by_tile_alloc(count, q, elem_type::f32);
        tiles_project_ref(&X, 1, X.tiles - 1, Q.data(), q, mu.data(), &want);
        const float* w = static_cast<const float*>(want.x);
        for (simd_level level : levels_here()) {
          tiles_project(level, &X, 1, X.tiles - 1, Q.data(), q, mu.data(), &got);
          const float* o = static_cast<const float*>(got.x);
          for (int64_t t = by_tile_rows * q; t < X.tiles * by_tile_rows * q; ++t)
            ASSERT_EQ(std::bit_cast<uint32_t>(o[t]), std::bit_cast<uint32_t>(w[t]))
                << simd_name(level) << " d " << d << " q " << q << " floats " << floats;
        }
        by_tile_free(&X);
        by_tile_free(&want);
        by_tile_free(&got);
      }
    }
  }
}

}  // namespace
