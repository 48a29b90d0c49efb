// Points of the plane: the point-file reader, the coverage cost and the
// sampling search, every scoring level against the plain one and against a
// model written from the documented behaviour (sampled_reference.hpp).
#include "cover.hpp"

#include <sys/stat.h>

#include <cfloat>
#include <cmath>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "sampled_reference.hpp"
#include "test_support.hpp"

namespace {

std::vector<simd_level> levels_here() {
  std::vector<simd_level> out;
  for (simd_level l : {simd_level::plain, simd_level::avx2, simd_level::avx512})
    if (simd_runs(l)) out.push_back(l);
  return out;
}

// Scans `text` as a point file of at most `capacity` points.
vec2_scan_status scan(const std::string& text, std::vector<vec2>* points, int32_t capacity = 2000) {
  const std::string path = temp_name("points.txt");
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  FILE* f = std::fopen(path.c_str(), "r");
  points->assign(static_cast<size_t>(capacity), vec2{-1, -1});
  int32_t n = -1;
  const vec2_scan_status status = vec2_scan_file(f, points->data(), capacity, &n);
  std::fclose(f);
  points->resize(static_cast<size_t>(n));
  return status;
}

TEST(Vec2ScanFile, StopsSilentlyAtTheFirstIncompletePairAndRefusesOneTooMany) {
  struct Case {
    const char* text;
    size_t n;
  };
  const Case cases[] = {
      {"", 0},
      {"1 2\n3 4\n5\n", 2},            // a lone last number
      {"1 2\n3 x 5 6\n", 1},           // text that is no number stops the rest
      {"1\t2\r\n3\v4\f5\n\n  6", 3},  // any white space, no final newline
      {"1 2 3 4 5 6 7 8", 4},         // pairs need not sit one per line
  };
  std::vector<vec2> points;
  for (const Case& c : cases) {
    EXPECT_EQ(scan(c.text, &points), vec2_scan_status::ok);
    EXPECT_EQ(points.size(), c.n) << '"' << c.text << '"';
  }
  ASSERT_EQ(scan("-2.5e1 0x1p-3\n.5 inf\nnan -0\n1e400 1e-400", &points), vec2_scan_status::ok);
  ASSERT_EQ(points.size(), 4u);
  EXPECT_TRUE(same_bits(points[0].x, -25.0));
  EXPECT_TRUE(same_bits(points[0].y, 0x1p-3));
  EXPECT_TRUE(same_bits(points[2].y, -0.0));
  EXPECT_TRUE(same_bits(points[3].x, INFINITY));
  EXPECT_EQ(scan("1 2 3 4 5 6", &points, 3), vec2_scan_status::ok);
  EXPECT_EQ(scan("1 2 3 4 5 6 7 8", &points, 3), vec2_scan_status::too_many);

  const std::string dir = temp_name("a_directory");
  mkdir(dir.c_str(), 0700);
  FILE* f = std::fopen(dir.c_str(), "r");
  ASSERT_NE(f, nullptr);
  int32_t n = 0;
  EXPECT_EQ(vec2_scan_file(f, points.data(), 3, &n), vec2_scan_status::unreadable);
  std::fclose(f);
}

TEST(Vec2DistSq, RoundsEachSquareBeforeAdding) {
  // A multiply-add fused either way gives 0x1.1139a3fedab6fp+6. Loaded
  // through volatile so the compiler cannot fold the sum at build time.
  volatile double in[] = {0x1.fbb6899faf82p+0, -0x1.95ecef6f27p-5, -0x1.352c9386bb1a8p+2,
                          -0x1.2e7fd3e5792dp+2};
  const vec2 a{in[0], in[1]}, b{in[2], in[3]};
  EXPECT_TRUE(same_bits(vec2_dist_sq(a, b), 0x1.1139a3fedab7p+6));
  EXPECT_TRUE(same_bits(vec2_dist_sq(b, a), 0x1.1139a3fedab7p+6));
}

// Every scoring of a tuple: the plain one, and each level in full.
void expect_cost(const std::vector<vec2>& pts, std::vector<int32_t> tuple, double want) {
  const int32_t n = static_cast<int32_t>(pts.size()), k = static_cast<int32_t>(tuple.size());
  EXPECT_TRUE(same_bits(vec2_cover_cost_ref(pts.data(), n, tuple.data(), k), want));
  vec2_cover cover;
  ASSERT_TRUE(vec2_cover_make(&cover, pts.data(), n));
  for (simd_level level : levels_here())
    EXPECT_TRUE(same_bits(vec2_cover_cost(level, &cover, tuple.data(), k, INFINITY), want)) << simd_name(level);
  vec2_cover_free(&cover);
}

TEST(Vec2CoverCost, IsTheSquaredCoveringRadius) {
  const std::vector<vec2> line{{0, 0}, {3, 4}, {6, 8}};
  expect_cost(line, {1}, 25.0);
  expect_cost(line, {1, 1}, 25.0);  // naming a centre twice changes nothing
  expect_cost(line, {2, 0}, 25.0);
  expect_cost(line, {2}, 100.0);
  expect_cost(line, {}, DBL_MAX);  // no centre covers nothing
  EXPECT_TRUE(same_bits(vec2_cover_cost_ref(line.data(), 0, nullptr, 0), 0.0));
  // A point with a NaN coordinate has no nearest centre; squares that
  // overflow leave a point at the largest double too.
  expect_cost({{0, 0}, {NAN, 1}, {3, 4}}, {2, 1, 0}, DBL_MAX);
  expect_cost({{1e200, 0}, {-1e200, 0}}, {0}, DBL_MAX);
  expect_cost({{1e200, 0}, {-1e200, 0}}, {0, 1}, 0.0);
}

// Random sets; every third on a coarse grid, so equal costs are common.
std::vector<vec2> random_set(std::mt19937_64& g, int trial, int32_t most = 120) {
  std::vector<vec2> pts(1 + g() % static_cast<uint64_t>(most));
  std::uniform_real_distribution<double> u(-50, 50);
  for (vec2& p : pts)
    p = trial % 3 == 0 ? vec2{static_cast<double>(g() % 4), static_cast<double>(g() % 3)} : vec2{u(g), u(g)};
  return pts;
}

std::vector<ref_point> as_ref(const std::vector<vec2>& pts) {
  std::vector<ref_point> out;
  for (const vec2& p : pts) out.push_back({p.x, p.y});
  return out;
}

TEST(SampleBest, EveryLevelKeepsTheFirstCheapestOfTheSeededDraws) {
  std::mt19937_64 g(17);
  for (int trial = 0; trial < 40; ++trial) {
    const std::vector<vec2> pts = random_set(g, trial, trial % 4 == 0 ? 2000 : 120);
    const int32_t n = static_cast<int32_t>(pts.size());
    const int32_t k = static_cast<int32_t>(g() % 5), m = 1 + static_cast<int32_t>(g() % 30);
    const unsigned int s = static_cast<unsigned int>(g());
    const ref_result want = ref_rank(as_ref(pts), k, m, s, 0);
    std::vector<int32_t> space(static_cast<size_t>(k + 1)), centres(static_cast<size_t>(k + 1), -1);
    srandom(s);
    EXPECT_TRUE(same_bits(sample_best_ref(pts.data(), n, k, m, space.data(), centres.data()), want.cost));
    EXPECT_EQ(std::vector<int32_t>(centres.begin(), centres.begin() + k), want.tuple) << "trial " << trial;
    vec2_cover cover;
    ASSERT_TRUE(vec2_cover_make(&cover, pts.data(), n));
    for (simd_level level : levels_here()) {
      std::fill(centres.begin(), centres.end(), -1);
      srandom(s);
      EXPECT_TRUE(same_bits(sample_best(level, &cover, k, m, space.data(), centres.data()), want.cost));
      EXPECT_EQ(std::vector<int32_t>(centres.begin(), centres.begin() + k), want.tuple)
          << "trial " << trial << " " << simd_name(level);
    }
    vec2_cover_free(&cover);
  }
}

TEST(SampleBest, HoldsTheFirstDrawnTupleWhenNothingCostsLessThanTheMost) {
  const std::vector<vec2> pts{{0, 0}, {1, NAN}, {5, 5}, {2, 2}};
  std::vector<int32_t> space(3), centres(3, -1), first(3);
  srandom(99);
  for (int32_t& c : first) c = static_cast<int32_t>(random() % 4);
  srandom(99);
  EXPECT_TRUE(same_bits(sample_best_ref(pts.data(), 4, 3, 20, space.data(), centres.data()), DBL_MAX));
  EXPECT_EQ(centres, first);
}

TEST(BestGathered, RescoresInFullAndGivesTiesToTheLowestRank) {
  const std::vector<vec2> pts{{0, 0}, {0, 1}, {10, 0}, {10, 1}};
  // Ranks 1 and 3 both reach 1; rank 0 costs 100 and rank 2 101.
  const int32_t gathered[] = {0, 1, 0, 2, 3, 3, 1, 3};
  vec2_cover cover;
  ASSERT_TRUE(vec2_cover_make(&cover, pts.data(), 4));
  double cost = 0;
  EXPECT_EQ(best_gathered_ref(pts.data(), 4, gathered, 4, 2, &cost), 1);
  EXPECT_TRUE(same_bits(cost, 1.0));
  for (simd_level level : levels_here()) {
    EXPECT_EQ(best_gathered(level, &cover, gathered, 4, 2, &cost), 1);
    EXPECT_TRUE(same_bits(cost, 1.0));
  }
  vec2_cover_free(&cover);
  // Nothing below the most: rank 0's tuple stands.
  const std::vector<vec2> nan_set{{0, 0}, {NAN, 0}};
  const int32_t any[] = {1, 0};
  EXPECT_EQ(best_gathered_ref(nan_set.data(), 2, any, 2, 1, &cost), 0);
  EXPECT_TRUE(same_bits(cost, DBL_MAX));
}

}  // namespace
