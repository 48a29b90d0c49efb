#include <sys/wait.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "generate.hpp"
#include "matvec.hpp"
#include "test_support.hpp"


namespace {

TEST(GenRng, SplitmixAndXoshiroMatchTheirPublishedOutputs) {
  // splitmix64 from 1234567, and xoshiro256** from the state {1, 2, 3, 4}.
  uint64_t counter = 1234567;
  const uint64_t splitmix[] = {6457827717110365317u, 3203168211198807973u, 9817491932198370423u};
  for (uint64_t want : splitmix) {
    counter += 0x9e3779b97f4a7c15u;
    EXPECT_EQ(gen_mix64(counter), want);
  }
  gen_rng r{{1, 2, 3, 4}, false, 0.0};
  const uint64_t xoshiro[] = {11520u, 0u, 1509978240u, 1215971899390074240u};
  for (uint64_t want : xoshiro) EXPECT_EQ(gen_rng_next(&r), want);
}

TEST(GenRng, SeedFixesTheStream) {
  gen_rng a, b, c;
  gen_rng_seed(&a, 42);
  gen_rng_seed(&b, 42);
  gen_rng_seed(&c, 43);
  int differ = 0;
  for (int i = 0; i < 100; ++i) {
    uint64_t x = gen_rng_next(&a);
    EXPECT_EQ(x, gen_rng_next(&b));
    differ += x != gen_rng_next(&c);
  }
  EXPECT_EQ(differ, 100);
}

TEST(GenRng, UnitAndBelowStayInRange) {
  EXPECT_EQ(gen_unit(0), 0.0);
  EXPECT_EQ(gen_unit(~uint64_t{0}), 0x1.fffffffffffffp-1);
  gen_rng r;
  gen_rng_seed(&r, 7);
  std::vector<int> seen(3);
  for (int i = 0; i < 3000; ++i) {
    EXPECT_EQ(gen_rng_below(&r, 1), 0u);
    uint32_t v = gen_rng_below(&r, 3);
    ASSERT_LT(v, 3u);
    ++seen[v];
    EXPECT_LT(gen_rng_below(&r, 2147483647u), 2147483647u);
  }
  for (int count : seen) EXPECT_GT(count, 800);
}

// Units in the last place between two doubles of the same sign.
double ulps(double a, double b) {
  return std::fabs(a - b) / (std::nextafter(std::fabs(b), INFINITY) - std::fabs(b));
}

TEST(GenLog, WithinThreeUlpsOfTheLibraryLog) {
  EXPECT_EQ(gen_log(1.0), 0.0);
  EXPECT_TRUE(same_bits(gen_log(2.0), 0x1.62e42fefa39efp-1));
  gen_rng r;
  gen_rng_seed(&r, 9);
  for (int i = 0; i < 200000; ++i) {
    // Mantissas near 1 and near the split at sqrt(1/2), over many exponents.
    double x = std::ldexp(0.5 + gen_rng_unit(&r), static_cast<int>(gen_rng_below(&r, 2000)) - 1000);
    double want = std::log(x);
    if (want == 0.0) continue;
    ASSERT_LE(ulps(gen_log(x), want), 3.0) << std::hexfloat << x;
  }
  EXPECT_LE(ulps(gen_log(0x1p-1074), std::log(0x1p-1074)), 3.0);
}

TEST(GenRngNormal, HasMeanZeroAndVarianceOne) {
  gen_rng r;
  gen_rng_seed(&r, 5);
  const int n = 200000;
  double sum = 0.0, sum_sq = 0.0;
  int beyond_3 = 0;
  for (int i = 0; i < n; ++i) {
    double z = gen_rng_normal(&r);
    sum += z;
    sum_sq += z * z;
    beyond_3 += std::fabs(z) > 3.0;
  }
  EXPECT_NEAR(sum / n, 0.0, 0.01);
  EXPECT_NEAR(sum_sq / n, 1.0, 0.02);
  // 0.27% of a normal lies beyond 3 standard deviations.
  EXPECT_NEAR(beyond_3 / static_cast<double>(n), 0.0027, 0.0006);
}

// FNV-1a over the bits of many draws: any change to the stream, down to the
// last bit of one deviate, changes the value. Pinned so that the same seed
// keeps giving the same points from one version to the next.
TEST(GenRngNormal, StreamIsPinned) {
  gen_rng r;
  gen_rng_seed(&r, 1);
  uint64_t h = 0xcbf29ce484222325u;
  for (int i = 0; i < 100000; ++i) {
    h ^= std::bit_cast<uint64_t>(gen_rng_normal(&r));
    h *= 0x100000001b3u;
  }
  EXPECT_EQ(h, 0xa50af20aa10a5057u) << std::hex << h;
}

std::vector<double> draw(const gen_params& p, int n) {
  std::vector<double> basis(static_cast<size_t>(gen_basis_size(&p)));
  gen_state g;
  gen_start(&g, &p, basis.data());
  std::vector<double> out(static_cast<size_t>(n) * static_cast<size_t>(p.d));
  for (int i = 0; i < n; ++i) gen_point(&g, out.data() + static_cast<size_t>(i) * static_cast<size_t>(p.d));
  return out;
}

TEST(GenPoint, UniformFillsTheBox) {
  gen_params p{gen_kind::uniform, 3, 11, 2.5, 5, 0.0};
  std::vector<double> v = draw(p, 3000);
  double lo = 0, hi = 0;
  for (double x : v) {
    ASSERT_GE(x, -2.5);
    ASSERT_LE(x, 2.5);
    lo = std::min(lo, x);
    hi = std::max(hi, x);
  }
  EXPECT_LT(lo, -2.49);
  EXPECT_GT(hi, 2.49);
}

TEST(GenPoint, OneDimensionalSphereIsExactlyPlusOrMinusScale) {
  gen_params p{gen_kind::sphere, 1, 3, 4.0, 5, 0.0};
  std::vector<double> v = draw(p, 2000);
  int negative = 0;
  for (double x : v) {
    ASSERT_TRUE(same_bits(std::fabs(x), 4.0)) << x;
    negative += x < 0;
  }
  EXPECT_GT(negative, 900);
  EXPECT_LT(negative, 1100);
}

// For d >= 2 each coordinate is rounded once after a rounded length, so the
// exact distance from the origin is within (d/2 + 3) * 2^-53 of the radius,
// relatively; measured here in long double (64-bit significand).
TEST(GenPoint, SpherePointsLieWithinTheirBoundOfTheRadius) {
  for (int32_t d : {2, 3, 7, 50}) {
    for (double scale : {1.0, 4.0, 1e300, 1e-290}) {
      gen_params p{gen_kind::sphere, d, 3, scale, 5, 0.0};
      const int n = 20000 / d;
      std::vector<double> v = draw(p, n);
      const long double bound = (d / 2.0L + 3) * 0x1p-53L;
      for (int i = 0; i < n; ++i) {
        long double len_sq = 0;
        for (int j = 0; j < d; ++j) {
          long double c = static_cast<long double>(v[static_cast<size_t>(i * d + j)]) / scale;
          len_sq += c * c;
        }
        ASSERT_LE(std::fabs(std::sqrt(len_sq) - 1), bound) << "d " << d << " scale " << scale << " point " << i;
      }
    }
  }
}

TEST(GenPoint, ClusterPointsGatherAroundTheirCentres) {
  gen_params p{gen_kind::clusters, 2, 8, 1.0, 3, 0.01};
  gen_state g;
  gen_start(&g, &p);
  std::vector<int> hits(3);
  for (int i = 0; i < 3000; ++i) {
    double pt[2];
    gen_point(&g, pt);
    int near = -1;
    for (uint32_t c = 0; c < 3; ++c)
      if (std::hypot(pt[0] - gen_cluster_centre(&g, c, 0), pt[1] - gen_cluster_centre(&g, c, 1)) < 0.08)
        near = static_cast<int>(c);
    ASSERT_GE(near, 0) << "point " << i;
    ++hits[static_cast<size_t>(near)];
  }
  for (int h : hits) EXPECT_GT(h, 850);
  // The centres depend on the seed alone, not on the spread.
  gen_params q = p;
  q.sigma = 0.5;
  gen_state h;
  gen_start(&h, &q);
  EXPECT_TRUE(same_bits(gen_cluster_centre(&h, 2, 1), gen_cluster_centre(&g, 2, 1)));
}

TEST(GenPoint, FirstPointsDoNotDependOnHowManyFollow) {
  gen_params p{gen_kind::clusters, 3, 1, 1.0, 4, 0.2};
  std::vector<double> few = draw(p, 5), many = draw(p, 50);
  for (size_t i = 0; i < few.size(); ++i) EXPECT_TRUE(same_bits(few[i], many[i]));
}

// Without noise an embedding lies in the span of its basis, each cluster
// around its centre carried by the basis; the noise adds its spread to every
// coordinate.
TEST(GenPoint, EmbeddingsLieInTheirSubspacePlusNoise) {
  gen_params p{gen_kind::embedding, 40, 5, 1.0, 3, 0.01};
  p.dims = 3;
  std::vector<double> basis(static_cast<size_t>(gen_basis_size(&p)));
  ASSERT_EQ(basis.size(), 120u);
  gen_state g;
  gen_start(&g, &p, basis.data());
  for (double b : basis) ASSERT_LE(std::fabs(b), std::sqrt(3.0 / 40));
  // Least squares onto the basis (3 x 3 normal equations by Cramer's rule).
  auto residual = [&](const double* x) {
    double m[3][3] = {}, r[3] = {};
    for (int a = 0; a < 3; ++a) {
      for (int c = 0; c < 3; ++c)
        for (int j = 0; j < 40; ++j) m[a][c] += basis[static_cast<size_t>(a * 40 + j)] * basis[static_cast<size_t>(c * 40 + j)];
      for (int j = 0; j < 40; ++j) r[a] += basis[static_cast<size_t>(a * 40 + j)] * x[j];
    }
    auto det = [](double q[3][3]) {
      return q[0][0] * (q[1][1] * q[2][2] - q[1][2] * q[2][1]) - q[0][1] * (q[1][0] * q[2][2] - q[1][2] * q[2][0]) +
             q[0][2] * (q[1][0] * q[2][1] - q[1][1] * q[2][0]);
    };
    double z[3];
    for (int a = 0; a < 3; ++a) {
      double q[3][3];
      for (int u = 0; u < 3; ++u)
        for (int c = 0; c < 3; ++c) q[u][c] = c == a ? r[u] : m[u][c];
      z[a] = det(q) / det(m);
    }
    double sum = 0.0;
    for (int j = 0; j < 40; ++j) {
      const double e = x[j] - (z[0] * basis[static_cast<size_t>(j)] + z[1] * basis[static_cast<size_t>(40 + j)] + z[2] * basis[static_cast<size_t>(80 + j)]);
      sum += e * e;
    }
    return std::sqrt(sum / 40);
  };
  double x[40];
  for (int i = 0; i < 200; ++i) {
    gen_point(&g, x);
    ASSERT_LT(residual(x), 1e-12) << "point " << i;
  }
  p.noise = 0.02;
  gen_start(&g, &p, basis.data());
  double spread = 0.0;
  for (int i = 0; i < 200; ++i) {
    gen_point(&g, x);
    spread += residual(x) / 200;
  }
  // The part outside the subspace: 37 of 40 coordinates' worth of noise.
  EXPECT_NEAR(spread, 0.02 * std::sqrt(37.0 / 40), 0.003);
}

// Runs the program (GEN_POINTS, the built one) with the given arguments
// and returns what it printed.
std::string run(const std::vector<std::string>& args, int* status) {
  std::string command = GEN_POINTS;
  for (const std::string& a : args) command += " " + a;
  FILE* out = popen(command.c_str(), "r");
  std::string text;
  char buf[4096];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, out)) > 0) text.append(buf, got);
  *status = WEXITSTATUS(pclose(out));
  return text;
}

TEST(GenPointsProgram, MatrixTextReadsBackAsTheSameDoubles) {
  for (const char* kind : {"uniform", "clusters", "sphere"}) {
    int status = -1;
    std::string text = run({"-s", "1e-3", kind, "200", "4", "99"}, &status);
    ASSERT_EQ(status, 0);
    set_stdin_text(text);
    int32_t rows = 0, cols = 0;
    ASSERT_EQ(mat_read_shape(&rows, &cols), 2);
    ASSERT_EQ(rows, 200);
    ASSERT_EQ(cols, 4);
    mat A;
    mat_malloc(&A, rows, cols);
    ASSERT_EQ(mat_read(&A), 800);
    gen_kind k = kind[0] == 'u' ? gen_kind::uniform : kind[0] == 'c' ? gen_kind::clusters : gen_kind::sphere;
    std::vector<double> want = draw(gen_params{k, 4, 99, 1e-3, 5, 1e-4}, 200);
    for (size_t i = 0; i < want.size(); ++i) ASSERT_TRUE(same_bits(A.data[i], want[i])) << kind << " element " << i;
    mat_free(&A);
  }
}

TEST(GenPointsProgram, NpyHoldsTheFloatsOfTheDraws) {
  int status = -1;
  const std::string bytes = run({"-f", "npy", "-m", "4", "-c", "7", "embedding", "30", "9", "2"}, &status);
  ASSERT_EQ(status, 0);
  const std::string dict = "{'descr': '<f4', 'fortran_order': False, 'shape': (30, 9), }";
  ASSERT_EQ(bytes.size(), 128u + 30 * 9 * 4);
  EXPECT_EQ(bytes.substr(0, 10), std::string("\x93NUMPY\x01\x00\x76\x00", 10));
  EXPECT_EQ(bytes.substr(10, dict.size()), dict);
  EXPECT_EQ(bytes[127], '\n');
  gen_params p{gen_kind::embedding, 9, 2, 1.0, 7, 0.1};
  p.dims = 4;
  p.noise = 0.005;
  const std::vector<double> want = draw(p, 30);
  for (size_t i = 0; i < want.size(); ++i) {
    float v;
    std::memcpy(&v, bytes.data() + 128 + 4 * i, 4);
    ASSERT_EQ(v, static_cast<float>(want[i])) << i;
  }
}

TEST(GenPointsProgram, PointFileHoldsOnePairPerLine) {
  int status = -1;
  std::string text = run({"--format", "points", "uniform", "3", "2", "5"}, &status);
  ASSERT_EQ(status, 0);
  std::vector<double> want = draw(gen_params{gen_kind::uniform, 2, 5, 1.0, 5, 0.1}, 3);
  char line[200];
  std::string expected;
  for (int i = 0; i < 3; ++i) {
    std::snprintf(line, sizeof line, "%.17g %.17g\n", want[static_cast<size_t>(2 * i)], want[static_cast<size_t>(2 * i + 1)]);
    expected += line;
  }
  EXPECT_EQ(text, expected);
}

}  // namespace
