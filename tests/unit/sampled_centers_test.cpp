// The program's own source, with main renamed by a compile definition, so its
// reader, scoring and sampling can be called directly.
#include "sampled_centers.cpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "sampled_reference.hpp"
#include "test_support.hpp"

namespace {

std::string write_file(const std::string& name, const std::string& text) {
  std::string path = temp_name(name);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  EXPECT_TRUE(file.good()) << path;
  return path;
}

std::string numbered_points(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += std::to_string(i) + " " + std::to_string(-i) + ".25\n";
  return text;
}

std::vector<ref_point> as_ref(const vec2set& set) {
  std::vector<ref_point> points;
  for (int32_t i = 0; i < set.n; ++i) points.push_back({set.points[i].x, set.points[i].y});
  return points;
}

void fill(vec2set* set, const std::vector<vec2>& points) {
  set->n = static_cast<int32_t>(points.size());
  for (size_t i = 0; i < points.size(); ++i) set->points[i] = points[i];
}

// Random sets; every third one on a coarse grid, so equal costs and repeated
// points are common.
void random_set(std::mt19937_64& g, int trial, vec2set* set) {
  set->n = 1 + static_cast<int32_t>(g() % 120);
  std::uniform_real_distribution<double> u(-50, 50);
  for (int32_t i = 0; i < set->n; ++i) {
    if (trial % 3 == 0)
      set->points[i] = vec2{static_cast<double>(g() % 4), static_cast<double>(g() % 3)};
    else
      set->points[i] = vec2{u(g), u(g)};
  }
}

TEST(Vec2setReadFile, LoadsUpTo2000PointsAndRefusesThe2001st) {
  static vec2set set;
  std::string path = write_file("2000.txt", numbered_points(2000));
  EXPECT_EQ(capture_stdout([&] { EXPECT_TRUE(vec2set_read_file(&set, path.c_str())); }), "");
  ASSERT_EQ(set.n, 2000);
  EXPECT_TRUE(same_bits(set.points[1999].x, 1999.0));
  EXPECT_TRUE(same_bits(set.points[1999].y, -1999.25));

  path = write_file("2001.txt", numbered_points(2001));
  EXPECT_EQ(capture_stdout([&] { EXPECT_FALSE(vec2set_read_file(&set, path.c_str())); }),
            "Too many points in file " + path + "\n");
}

TEST(Vec2setReadFile, StopsSilentlyAtTheFirstIncompletePair) {
  struct Case {
    const char* text;
    int32_t n;
  };
  const Case cases[] = {
      {"", 0},
      {" \n\t\n", 0},
      {"1 2\n3 4\n5\n", 2},            // a lone last number
      {"1 2\n3 x 5 6\n", 1},           // text that is no number stops the rest
      {"1 2 abc\n5 6\n", 1},
      {"1\t2\r\n3\v4\f5\n\n  6", 3},  // any white space, no final newline
      {"1 2 3 4 5 6 7 8", 4},         // pairs need not sit one per line
  };
  static vec2set set;
  for (const Case& c : cases) {
    std::string path = write_file("stops.txt", c.text);
    EXPECT_EQ(capture_stdout([&] { EXPECT_TRUE(vec2set_read_file(&set, path.c_str())); }), "");
    EXPECT_EQ(set.n, c.n) << '"' << c.text << '"';
  }
  std::string path = write_file("forms.txt", "-2.5e1 0x1p-3\n.5 inf\nnan -0\n1e400 1e-400");
  ASSERT_TRUE(vec2set_read_file(&set, path.c_str()));
  ASSERT_EQ(set.n, 4);
  EXPECT_TRUE(same_bits(set.points[0].x, -25.0));
  EXPECT_TRUE(same_bits(set.points[0].y, 0x1p-3));
  EXPECT_TRUE(same_bits(set.points[1].y, INFINITY));
  EXPECT_TRUE(std::isnan(set.points[2].x));
  EXPECT_TRUE(same_bits(set.points[2].y, -0.0));
  EXPECT_TRUE(same_bits(set.points[3].x, INFINITY));
  EXPECT_TRUE(same_bits(set.points[3].y, 0.0));
}

TEST(Vec2setReadFile, ReportsAFileItCannotOpenOrRead) {
  static vec2set set;
  std::string missing = temp_name("no_such_file.txt");
  EXPECT_EQ(capture_stdout([&] { EXPECT_FALSE(vec2set_read_file(&set, missing.c_str())); }),
            "error : could not open file " + missing + " for reading\n");
  std::string dir = temp_name("a_directory");
  mkdir(dir.c_str(), 0700);
  EXPECT_EQ(capture_stdout([&] { EXPECT_FALSE(vec2set_read_file(&set, dir.c_str())); }),
            "error : could not read file " + dir + "\n");
}

TEST(Vec2DistSq, RoundsEachSquareBeforeAdding) {
  // Here a multiply-add fused either way gives 0x1.1139a3fedab6fp+6.
  // Loaded through volatile so the compiler cannot fold the sum at build time.
  volatile double in[] = {0x1.fbb6899faf82p+0, -0x1.95ecef6f27p-5, -0x1.352c9386bb1a8p+2,
                          -0x1.2e7fd3e5792dp+2};
  vec2 a{in[0], in[1]};
  vec2 b{in[2], in[3]};
  EXPECT_TRUE(same_bits(vec2_dist_sq(a, b), 0x1.1139a3fedab7p+6));
  EXPECT_TRUE(same_bits(vec2_dist_sq(b, a), 0x1.1139a3fedab7p+6));
}

TEST(CenterCost, IsTheSquaredCoveringRadius) {
  static vec2set set;
  fill(&set, {{0, 0}, {3, 4}, {6, 8}});
  int32_t one[] = {1};
  EXPECT_TRUE(same_bits(center_cost(&set, one, 1), 25.0));
  // Naming a centre twice changes nothing.
  int32_t twice[] = {1, 1};
  EXPECT_TRUE(same_bits(center_cost(&set, twice, 2), 25.0));
  int32_t ends[] = {2, 0, 2, 0};
  EXPECT_TRUE(same_bits(center_cost(&set, ends, 4), 25.0));
  EXPECT_TRUE(same_bits(center_cost(&set, ends, 2), 25.0));
  EXPECT_TRUE(same_bits(center_cost(&set, ends, 1), 100.0));
  // No centre: the largest finite double. No point: 0.
  EXPECT_TRUE(same_bits(center_cost(&set, one, 0), DBL_MAX));
  set.n = 0;
  EXPECT_TRUE(same_bits(center_cost(&set, one, 1), 0.0));
}

TEST(CenterCost, NaNAndOverflowNeverBecomeTheNearestDistance) {
  static vec2set set;
  int32_t first[] = {0};
  int32_t both[] = {0, 1};
  // A point with a NaN coordinate has no nearest centre: it costs the most,
  // whichever centres are taken and in whatever order.
  fill(&set, {{0, 0}, {NAN, 1}, {3, 4}});
  EXPECT_TRUE(same_bits(center_cost(&set, first, 1), DBL_MAX));
  int32_t all[] = {2, 1, 0};
  EXPECT_TRUE(same_bits(center_cost(&set, all, 3), DBL_MAX));
  // Squares that overflow to infinity leave the point at the largest double.
  fill(&set, {{1e200, 0}, {-1e200, 0}});
  EXPECT_TRUE(same_bits(center_cost(&set, first, 1), DBL_MAX));
  EXPECT_TRUE(same_bits(center_cost(&set, both, 2), 0.0));
}

TEST(CenterCost, MatchesTheReferenceOnRandomSets) {
  static vec2set set;
  std::mt19937_64 g(5);
  for (int trial = 0; trial < 60; ++trial) {
    random_set(g, trial, &set);
    std::vector<int32_t> tuple(g() % 6);
    for (int32_t& c : tuple) c = static_cast<int32_t>(g() % static_cast<uint64_t>(set.n));
    EXPECT_TRUE(same_bits(center_cost(&set, tuple.data(), static_cast<int32_t>(tuple.size())),
                          ref_cost(as_ref(set), tuple)))
        << "trial " << trial;
  }
}

TEST(SampleBest, KeepsTheFirstCheapestOfTheSeededDraws) {
  static vec2set set;
  std::mt19937_64 g(17);
  for (int trial = 0; trial < 60; ++trial) {
    random_set(g, trial, &set);
    int32_t k = static_cast<int32_t>(g() % 5);
    int32_t m = 1 + static_cast<int32_t>(g() % 30);
    unsigned int s = static_cast<unsigned int>(g());
    ref_result want = ref_rank(as_ref(set), k, m, s, 0);
    std::vector<int32_t> trial_space(k + 1), centres(k + 1, -1);
    srandom(s);
    double cost = sample_best(&set, k, m, trial_space.data(), centres.data());
    centres.resize(k);
    EXPECT_EQ(centres, want.tuple) << "trial " << trial;
    EXPECT_TRUE(same_bits(cost, want.cost)) << "trial " << trial;
  }
}

TEST(SampleBest, HoldsTheFirstDrawnTupleWhenNothingCostsLessThanTheMost) {
  static vec2set set;
  fill(&set, {{0, 0}, {1, NAN}, {5, 5}, {2, 2}});
  std::vector<int32_t> trial(3), centres(3, -1);
  srandom(99);
  EXPECT_TRUE(same_bits(sample_best(&set, 3, 20, trial.data(), centres.data()), DBL_MAX));
  srandom(99);
  std::vector<int32_t> first(3);
  for (int32_t& c : first) c = static_cast<int32_t>(random() % 4);
  EXPECT_EQ(centres, first);
}

TEST(BestGathered, RescoresAndGivesTiesToTheLowestRank) {
  static vec2set set;
  fill(&set, {{0, 0}, {0, 1}, {10, 0}, {10, 1}});
  // Ranks 1 and 3 both reach 1; rank 0 costs 100 and rank 2 101.
  int32_t gathered[] = {0, 1, 0, 2, 3, 3, 1, 3};
  double cost = 0;
  EXPECT_EQ(best_gathered(&set, gathered, 4, 2, &cost), 1);
  EXPECT_TRUE(same_bits(cost, 1.0));
  EXPECT_EQ(best_gathered(&set, gathered, 1, 2, &cost), 0);
  EXPECT_TRUE(same_bits(cost, 100.0));
  // Nothing below the most: rank 0's tuple stands.
  fill(&set, {{0, 0}, {NAN, 0}});
  int32_t any[] = {1, 0};
  EXPECT_EQ(best_gathered(&set, any, 2, 1, &cost), 0);
  EXPECT_TRUE(same_bits(cost, DBL_MAX));
}

// ---- the fast scoring ----------------------------------------------------------

std::vector<simd_level> levels_here() {
  std::vector<simd_level> out;
  for (simd_level l : {simd_level::plain, simd_level::avx2, simd_level::avx512})
    if (simd_runs(l)) out.push_back(l);
  return out;
}

// Sizes that reach every tail of the blocks of 32 points and the steps of 16.
const int32_t set_sizes[] = {1, 2, 15, 16, 17, 31, 32, 33, 67, 2000};

// n points: scattered (kind 0), on a coarse grid so that ties and repeated
// points are common (kind 1), or either with a few specials (kinds 2, 3):
// NaN, infinities, and coordinates of 1e200 whose squares overflow.
void mixed_set(std::mt19937_64& g, int32_t n, int kind, vec2set* set) {
  std::uniform_real_distribution<double> u(-50, 50);
  set->n = n;
  for (int32_t i = 0; i < n; ++i) {
    vec2& p = set->points[i];
    if (kind % 2 == 0)
      p = vec2{u(g), u(g)};
    else
      p = vec2{static_cast<double>(g() % 4), static_cast<double>(g() % 3)};
    if (kind >= 2 && g() % 24 == 0) {
      double special[] = {NAN, INFINITY, -INFINITY, 1e200, -1e200};
      (g() % 2 ? p.x : p.y) = special[g() % 5];
    }
  }
}

std::vector<int32_t> random_tuple(std::mt19937_64& g, int32_t n, int32_t k) {
  std::vector<int32_t> tuple(k);
  for (int32_t& c : tuple) c = static_cast<int32_t>(g() % static_cast<uint64_t>(n));
  if (k >= 2 && g() % 3 == 0) tuple[k - 1] = tuple[0];  // a centre named twice
  return tuple;
}

TEST(Vec2colsFill, HoldsEveryPointOnceThenCopiesToAWholeBlock) {
  static vec2set set;
  static vec2cols cols;
  std::vector<int32_t> sizes = {0, 1999, 2000, 1000, 1024, 1155};
  for (int32_t n = 1; n <= 70; ++n) sizes.push_back(n);
  for (int32_t n : sizes) {
    set.n = n;
    for (int32_t i = 0; i < n; ++i) set.points[i] = vec2{static_cast<double>(i), -0.5 * i};
    vec2cols_fill(&cols, &set);
    ASSERT_EQ(cols.n, n);
    ASSERT_EQ(cols.count % 32, 0) << n;
    ASSERT_TRUE(cols.count >= n && cols.count < n + 32) << n;
    std::vector<int32_t> seen(n, 0);
    for (int32_t i = 0; i < cols.count; ++i) {
      int32_t at = static_cast<int32_t>(cols.x[i]);
      ASSERT_TRUE(at >= 0 && at < n && same_bits(cols.y[i], -0.5 * at)) << n << " position " << i;
      if (i < n) ++seen[at];
    }
    ASSERT_EQ(std::count(seen.begin(), seen.end(), 1), n) << n;
  }
}

TEST(Vec2colsCoverCost, EveryLevelEqualsCenterCostAndStopsOnlyWhereTheChoiceAllows) {
  static vec2set set;
  static vec2cols cols;
  std::mt19937_64 g(31);
  for (int32_t n : set_sizes) {
    for (int kind = 0; kind < 4; ++kind) {
      mixed_set(g, n, kind, &set);
      vec2cols_fill(&cols, &set);
      for (int trial = 0; trial < 6; ++trial) {
        int32_t k = static_cast<int32_t>(g() % 12);
        std::vector<int32_t> tuple = random_tuple(g, n, k);
        const double full = center_cost(&set, tuple.data(), k);
        std::vector<int32_t> other = random_tuple(g, n, k);
        // Limits at, just around, well below and above the cost, and the
        // cost of another tuple (as in the sampling).
        const double stops[] = {full, std::nextafter(full, 0.0), std::nextafter(full, INFINITY),
                                full / 2, 0.0, DBL_MAX, center_cost(&set, other.data(), k)};
        for (simd_level level : levels_here()) {
          SCOPED_TRACE(testing::Message() << simd_name(level) << " n " << n << " kind " << kind
                                          << " k " << k);
          ASSERT_TRUE(same_bits(vec2cols_cover_cost(level, &cols, tuple.data(), k, INFINITY), full));
          for (double stop : stops) {
            double got = vec2cols_cover_cost(level, &cols, tuple.data(), k, stop);
            // The tuple beats a best of `stop` exactly when its cost does,
            // and then the cost is exact.
            ASSERT_EQ(stop > got, stop > full) << std::hexfloat << stop;
            if (stop > full) {
              ASSERT_TRUE(same_bits(got, full));
            }
          }
        }
      }
    }
  }
}

TEST(Vec2colsCoverCost, RoundsEachSquareBeforeAdding) {
  // The pair of Vec2DistSq above, once per lane: fused, the cost would end
  // one unit lower.
  static vec2set set;
  static vec2cols cols;
  const vec2 a{0x1.fbb6899faf82p+0, -0x1.95ecef6f27p-5}, b{-0x1.352c9386bb1a8p+2, -0x1.2e7fd3e5792dp+2};
  std::vector<vec2> points(40, a);
  points[0] = b;
  fill(&set, points);
  vec2cols_fill(&cols, &set);
  int32_t centre[] = {0};
  for (simd_level level : levels_here())
    EXPECT_TRUE(same_bits(vec2cols_cover_cost(level, &cols, centre, 1, INFINITY), 0x1.1139a3fedab7p+6))
        << simd_name(level);
}

TEST(SampleBestFast, DrawsAndKeepsExactlyWhatSampleBestDoes) {
  static vec2set set;
  std::mt19937_64 g(43);
  for (int trial = 0; trial < 120; ++trial) {
    int32_t n = trial % 3 == 0 ? set_sizes[trial / 3 % std::size(set_sizes)]
                               : 1 + static_cast<int32_t>(g() % 100);
    mixed_set(g, n, trial % 4, &set);
    // Sometimes a NaN point: no tuple costs less than the most, and the
    // first one drawn must stand.
    if (trial % 5 == 0) set.points[g() % n].y = NAN;
    int32_t k = static_cast<int32_t>(g() % 7);
    int32_t m = 1 + static_cast<int32_t>(g() % (n == 2000 ? 300 : 60));
    unsigned int s = static_cast<unsigned int>(g());
    std::vector<int32_t> space(k + 1), want(k + 1, -1);
    srandom(s);
    double want_cost = sample_best(&set, k, m, space.data(), want.data());
    long want_next = random();
    for (simd_level level : levels_here()) {
      SCOPED_TRACE(testing::Message() << simd_name(level) << " trial " << trial << " n " << n);
      std::vector<int32_t> got(k + 1, -1);
      srandom(s);
      double cost = sample_best_fast(&set, k, m, space.data(), got.data(), level);
      EXPECT_EQ(random(), want_next);  // the same number of draws
      EXPECT_EQ(got, want);
      EXPECT_TRUE(same_bits(cost, want_cost));
    }
  }
}

TEST(SampleBestFast, KeepsTheFirstCheapestOnLargeSortedAndClusteredSets) {
  // 2000 points sorted along x, and in tight clusters: many ties in cost.
  static vec2set set;
  std::mt19937_64 g(59);
  std::uniform_real_distribution<double> u(0, 1000);
  std::vector<vec2> sorted(2000), clustered(2000);
  for (vec2& p : sorted) p = vec2{u(g), u(g)};
  std::sort(sorted.begin(), sorted.end(), [](vec2 a, vec2 b) { return a.x < b.x; });
  for (vec2& p : clustered) p = vec2{static_cast<double>(g() % 5 * 100 + g() % 2), static_cast<double>(g() % 3)};
  for (const std::vector<vec2>* points : {&sorted, &clustered}) {
    fill(&set, *points);
    for (int32_t k : {1, 3, 10}) {
      std::vector<int32_t> space(k), want(k), got(k);
      srandom(k);
      double want_cost = sample_best(&set, k, 500, space.data(), want.data());
      for (simd_level level : levels_here()) {
        srandom(k);
        EXPECT_TRUE(same_bits(sample_best_fast(&set, k, 500, space.data(), got.data(), level), want_cost));
        EXPECT_EQ(got, want) << simd_name(level) << " k " << k;
      }
    }
  }
}

TEST(BestGatheredFast, RescoresInFullAndChoosesAsBestGathered) {
  static vec2set set;
  std::mt19937_64 g(67);
  for (int trial = 0; trial < 80; ++trial) {
    int32_t n = set_sizes[trial % std::size(set_sizes)];
    mixed_set(g, n, trial % 4, &set);
    int32_t k = static_cast<int32_t>(g() % 5), count = 1 + static_cast<int32_t>(g() % 5);
    std::vector<int32_t> gathered;
    for (int32_t r = 0; r < count; ++r) {
      // Often a repeat of an earlier rank's tuple: ties go to the lowest rank.
      std::vector<int32_t> tuple = r > 0 && g() % 3 == 0
                                       ? std::vector<int32_t>(gathered.begin(), gathered.begin() + k)
                                       : random_tuple(g, n, k);
      gathered.insert(gathered.end(), tuple.begin(), tuple.end());
    }
    gathered.push_back(-1);  // k = 0 still hands over a buffer
    double want_cost = 0;
    int32_t want = best_gathered(&set, gathered.data(), count, k, &want_cost);
    for (simd_level level : levels_here()) {
      double cost = 0;
      EXPECT_EQ(best_gathered_fast(&set, gathered.data(), count, k, &cost, level), want)
          << simd_name(level) << " trial " << trial;
      EXPECT_TRUE(same_bits(cost, want_cost)) << simd_name(level) << " trial " << trial;
    }
  }
}

TEST(RankSeed, KeepsTheSeedOnRankZeroAndGivesEveryRankItsOwn) {
  EXPECT_EQ(rank_seed(7, 0), 7u);
  EXPECT_EQ(rank_seed(7, 1), 2654435776u);
  EXPECT_EQ(rank_seed(4294967295u, 2), 1013904241u);  // modulo 2^32
  for (unsigned int s : {0u, 1u, 4294967295u}) {
    std::set<unsigned int> seeds;
    for (int32_t r = 0; r < 100000; ++r) seeds.insert(rank_seed(s, r));
    EXPECT_EQ(seeds.size(), 100000u);
  }
}

TEST(PrintReport, PrintsFourLinesAndCountsTuplesIn64Bits) {
  int32_t centres[] = {3, 0, 3};
  EXPECT_EQ(capture_stdout([&] { print_report(3, 40, 3, 0.123456, 2.5, centres); }),
            "number of 3-tuples checked = 120\n"
            "wall time used = 0.1235 sec\n"
            "approximate optimal cost = 2.5\n"
            "approx optimal centers : 3 0 3 \n");
  EXPECT_EQ(capture_stdout([&] { print_report(0, 2147483647, 3, 0, DBL_MAX, centres); }),
            "number of 0-tuples checked = 6442450941\n"
            "wall time used = 0.0000 sec\n"
            "approximate optimal cost = 1.79769e+308\n"
            "approx optimal centers : \n");
}

}  // namespace
