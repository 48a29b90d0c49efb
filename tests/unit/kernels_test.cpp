#include "kernels.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "matvec.hpp"
#include "test_support.hpp"

namespace {

const double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();

std::vector<simd_level> levels_here() {
  std::vector<simd_level> out;
  for (simd_level l : {simd_level::plain, simd_level::avx2, simd_level::avx512})
    if (simd_runs(l)) out.push_back(l);
  return out;
}

// A random value: mostly non-integer doubles of mixed signs, sometimes a
// value from a small set (ties and duplicate rows), sometimes a special.
double random_value(std::mt19937_64& g, bool specials) {
  std::uniform_real_distribution<double> u(-10, 10);
  switch (g() % 16) {
    case 0:
      return static_cast<double>(g() % 3);
    case 1:
      return specials ? (g() % 3 == 0 ? nan : (g() % 2 ? inf : -inf)) : 1.0;
    case 2:
      return u(g) * 1e153;  // squares near the top of the range, sums overflow
    default:
      return u(g);
  }
}

// Rows laid out by coordinate, with a stride past the row count.
struct soa {
  int64_t count, stride;
  int32_t d;
  std::vector<double> x;
  double at(int64_t r, int32_t j) const { return x[j * stride + r]; }
};

soa random_soa(std::mt19937_64& g, int64_t count, int32_t d, bool specials) {
  soa s{count, count + 3, d, {}};
  s.x.assign(static_cast<size_t>(s.stride * d), -1.0);
  for (int64_t r = 0; r < count; ++r)
    for (int32_t j = 0; j < d; ++j)
      s.x[j * s.stride + r] = random_value(g, specials && g() % 8 == 0);
  return s;
}

// Counts that reach whole blocks of 16 and 8 rows and every tail length.
const int64_t counts[] = {0, 1, 3, 4, 7, 8, 9, 15, 16, 17, 31, 32, 33, 47, 100, 1001};

TEST(SoaFoldNearest, EveryLevelEqualsTheRowByRowFold) {
  std::mt19937_64 g(101);
  for (int32_t d : {0, 1, 2, 3, 4, 5, 7, 16}) {
    for (int64_t count : counts) {
      for (int trial = 0; trial < 3; ++trial) {
        soa s = random_soa(g, count, d, trial > 0);
        std::vector<double> c(d);
        // The centre is often one of the rows, so that zeros and ties occur.
        int64_t from = count > 0 && g() % 2 ? static_cast<int64_t>(g() % count) : -1;
        for (int32_t j = 0; j < d; ++j)
          c[j] = from >= 0 ? s.at(from, j) : random_value(g, trial == 2);
        std::vector<double> start(count);
        for (double& v : start) {
          int pick = static_cast<int>(g() % 4);
          v = pick == 0   ? no_distance
              : pick == 1 ? 0.0
              : pick == 2 ? 1.0
                          : std::fabs(random_value(g, false));
        }

        // The definition: vec_dist_sq on each row, tests as center_cost makes them.
        std::vector<double> want = start;
        farthest_row best{0.0, -1};
        std::vector<double> row(d);
        vec cv{c.data(), d}, rv{row.data(), d};
        for (int64_t r = 0; r < count; ++r) {
          for (int32_t j = 0; j < d; ++j) row[j] = s.at(r, j);
          double dist = vec_dist_sq(&rv, &cv);
          if (want[r] > dist) want[r] = dist;
          if (want[r] > best.dist) best = {want[r], r};
        }

        for (simd_level level : levels_here()) {
          std::vector<double> near = start;
          farthest_row got =
              soa_fold_nearest(level, s.x.data(), s.stride, d, count, c.data(), near.data());
          const char* name = simd_name(level);
          ASSERT_EQ(got.pos, best.pos) << name << " d " << d << " count " << count;
          ASSERT_TRUE(same_bits(got.dist, best.dist)) << name << " d " << d << " count " << count;
          for (int64_t r = 0; r < count; ++r)
            ASSERT_TRUE(same_bits(near[r], want[r])) << name << " d " << d << " row " << r;
        }
      }
    }
  }
}

TEST(SoaFoldNearest, TiesGoToTheLowestPositionAcrossLanes) {
  // Equal distances in every lane and in the tail: position 3 is the first.
  for (simd_level level : levels_here()) {
    std::vector<double> x(37, 1.0);
    x[3] = 5.0;
    x[19] = 5.0;
    x[36] = 5.0;
    x[0] = 5.0 - 0x1p-50;  // just nearer
    std::vector<double> near(37, no_distance);
    double c = 0.0;
    farthest_row f = soa_fold_nearest(level, x.data(), 37, 1, 37, &c, near.data());
    EXPECT_EQ(f.pos, 3) << simd_name(level);
    EXPECT_TRUE(same_bits(f.dist, 25.0));
    // Every row on the centre: nothing lies above 0.0.
    std::vector<double> zero(37, 0.0);
    f = soa_fold_nearest(level, zero.data(), 37, 1, 37, &c, zero.data());
    EXPECT_EQ(f.pos, -1);
    EXPECT_TRUE(same_bits(f.dist, 0.0));
  }
}

TEST(SoaFoldNearest, SquaresAreRoundedBeforeTheyAreAdded) {
  // v * v, then u * u rounded and added: a fused multiply-add of u * u
  // onto v * v rounds once and ends one unit higher.
  const double v = 0x1.e7c922b2d54e4p-2, u = 0x1.d622567196942p+0;
  const double want = 0x1.ccbc8402736aep+1;
  ASSERT_TRUE(same_bits(std::fma(u, u, v * v), 0x1.ccbc8402736afp+1));
  std::vector<double> x(2 * 24);
  for (int r = 0; r < 24; ++r) {
    x[r] = v;
    x[24 + r] = u;
  }
  const double c[2] = {0.0, 0.0};
  for (simd_level level : levels_here()) {
    std::vector<double> near(24, no_distance);
    soa_fold_nearest(level, x.data(), 24, 2, 24, c, near.data());
    for (int r = 0; r < 24; ++r)
      ASSERT_TRUE(same_bits(near[r], want)) << simd_name(level) << " row " << r;
  }
}

// A box around random points of a cloud (of mixed magnitudes, so rounding
// bites), and centres inside, outside and on its sides.
TEST(SoaBoxesWithin, BoundNeverExceedsAnyPointsDistanceAndLevelsAgree) {
  std::mt19937_64 g(7);
  for (int32_t d : {1, 2, 3, 5}) {
    for (int64_t boxes : {1, 3, 4, 7, 8, 9, 17, 40}) {
      const int per_box = 6;
      std::vector<std::vector<double>> pts(boxes);
      std::vector<double> lo(boxes * d), hi(boxes * d), limit(boxes);
      for (int64_t b = 0; b < boxes; ++b) {
        const double scale = std::ldexp(1.0, static_cast<int>(g() % 60) - 30);
        std::uniform_real_distribution<double> u(-scale, scale);
        pts[b].resize(per_box * d);
        for (double& v : pts[b]) v = g() % 5 == 0 ? scale / 3 : u(g);
        for (int32_t j = 0; j < d; ++j) {
          double l = inf, h = -inf;
          for (int p = 0; p < per_box; ++p) {
            l = std::min(l, pts[b][p * d + j]);
            h = std::max(h, pts[b][p * d + j]);
          }
          lo[j * boxes + b] = l;
          hi[j * boxes + b] = h;
        }
      }
      for (int trial = 0; trial < 30; ++trial) {
        std::vector<double> c(d);
        for (int32_t j = 0; j < d; ++j) {
          int64_t b = static_cast<int64_t>(g() % boxes);
          int pick = static_cast<int>(g() % 3);
          c[j] = pick == 0   ? lo[j * boxes + b]
                 : pick == 1 ? pts[b][(g() % per_box) * d + j] * 1.5
                             : random_value(g, false);
        }
        // Half the boxes get a limit just above the distance of their
        // nearest point, which the bound must lie below, so they must be
        // listed; the others a limit at or below it, listed or not as the
        // bound says (the levels must agree).
        std::vector<bool> must(boxes);
        for (int64_t b = 0; b < boxes; ++b) {
          double smallest = inf;
          for (int p = 0; p < per_box; ++p) {
            vec pv{pts[b].data() + p * d, d}, cv{c.data(), d};
            smallest = std::min(smallest, vec_dist_sq(&pv, &cv));
          }
          must[b] = g() % 2 == 0;
          limit[b] = must[b] ? std::nextafter(smallest, inf) : smallest * (g() % 2 ? 1.0 : 0.25);
        }
        std::vector<int32_t> plain(boxes);
        int64_t n_plain = soa_boxes_within(simd_level::plain, lo.data(), hi.data(), boxes, d, boxes,
                                           c.data(), limit.data(), plain.data());
        plain.resize(n_plain);
        for (int64_t b = 0; b < boxes; ++b) {
          bool listed = std::find(plain.begin(), plain.end(), b) != plain.end();
          ASSERT_TRUE(listed || !must[b]) << "box " << b << " d " << d;
        }
        for (simd_level level : levels_here()) {
          std::vector<int32_t> got(boxes);
          int64_t n = soa_boxes_within(level, lo.data(), hi.data(), boxes, d, boxes, c.data(),
                                       limit.data(), got.data());
          got.resize(n);
          ASSERT_EQ(got, plain) << simd_name(level) << " d " << d << " boxes " << boxes;
        }
      }
    }
  }
}

TEST(SimdLevel, PlainAlwaysRunsAndTheBestRuns) {
  EXPECT_TRUE(simd_runs(simd_level::plain));
  EXPECT_TRUE(simd_runs(simd_best()));
  EXPECT_STREQ(simd_name(simd_level::avx512), "avx512");
}

}  // namespace
