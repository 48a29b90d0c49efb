#include <cmath>
#include <vector>

#include "matvec.hpp"
#include "test_support.hpp"

namespace {

vec view(std::vector<double>& v) { return vec{v.data(), static_cast<int32_t>(v.size())}; }

TEST(VecAlloc, CallocZeroesAndFreeResets) {
  vec v;
  vec_calloc(&v, 5);
  ASSERT_NE(v.data, nullptr);
  EXPECT_EQ(v.n, 5);
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(same_bits(v.data[i], 0.0));
  vec_free(&v);
  EXPECT_EQ(v.data, nullptr);
  EXPECT_EQ(v.n, 0);
  vec_free(&v);  // a second free releases nothing
  EXPECT_EQ(v.data, nullptr);

  vec_malloc(&v, 0);  // empty but real storage: null only means failure
  EXPECT_NE(v.data, nullptr);
  vec_free(&v);
  vec_malloc(&v, -1);
  EXPECT_EQ(v.data, nullptr);
}

TEST(VecPrint, SixDecimalsAndABlankPerElement) {
  std::vector<double> a{1.0, 2.5, -0.0000004, 1e20};
  vec v = view(a);
  EXPECT_EQ(capture_stdout([&] { vec_print(&v); }),
            "1.000000 2.500000 -0.000000 100000000000000000000.000000 \n");
  vec empty{nullptr, 0};
  EXPECT_EQ(capture_stdout([&] { vec_print(&empty); }), "\n");
}

TEST(VecPrint, LabelledFormOneDecimal) {
  std::vector<double> a{1.0, 2.5, 0.25};
  vec v = view(a);
  EXPECT_EQ(capture_stdout([&] { vec_print(&v, "row 0"); }), "row 0 = 1.0 2.5 0.2 \n");
  vec empty{nullptr, 0};
  EXPECT_EQ(capture_stdout([&] { vec_print(&empty, "e"); }), "e = \n");
}

TEST(VecAdd, LengthComesFromSecondOperand) {
  std::vector<double> a{1, 2, 3, 4}, b{10, 20}, out{-1, -1, -1, -1};
  vec va = view(a), vb = view(b), vo = view(out);
  vec_add(&va, &vb, &vo);
  EXPECT_EQ(out, (std::vector<double>{11, 22, -1, -1}));
  EXPECT_EQ(vo.n, 4);  // never changes out's length
}

TEST(VecMult, ScalesEveryElementIntoOut) {
  std::vector<double> a{1, -2, 0.5}, out{0, 0, 0, 9};
  vec va = view(a), vo = view(out);
  vec_mult(&va, -3.0, &vo);
  EXPECT_EQ(out, (std::vector<double>{-3, 6, -1.5, 9}));
}

TEST(VecDistSq, EmptyAndSelfAreZero) {
  vec empty{nullptr, 0};
  EXPECT_TRUE(same_bits(vec_dist_sq(&empty, &empty), 0.0));
  std::vector<double> a{1.5, -7.25, 1e300};
  vec va = view(a);
  EXPECT_TRUE(same_bits(vec_dist_sq(&va, &va), 0.0));
}

TEST(VecDistSq, LengthComesFromFirstOperand) {
  std::vector<double> a{0, 0}, b{3, 4, 100};
  vec va = view(a), vb = view(b);
  EXPECT_TRUE(same_bits(vec_dist_sq(&va, &vb), 25.0));
}

TEST(VecDistSq, AddsUnfusedSquaresFromFirstCoordinateUp) {
  // Summed from coordinate 0 up these give 0x1.ede3f8f2634b8p+0; in the
  // opposite order the last bit differs.
  std::vector<double> a{0.93327125546755063, 0.63380568170902851, 0.81028078778642598};
  std::vector<double> zero{0, 0, 0};
  vec va = view(a), vz = view(zero);
  double backwards = a[0] * a[0] + (a[1] * a[1] + a[2] * a[2]);
  ASSERT_FALSE(same_bits(backwards, 0x1.ede3f8f2634b8p+0));
  EXPECT_TRUE(same_bits(vec_dist_sq(&va, &vz), 0x1.ede3f8f2634b8p+0));

  // A fused multiply-add of the second square onto the first changes the sum.
  std::vector<double> b{0.58062233328853929, 0.63984081928726844};
  std::vector<double> z2{0, 0};
  vec vb = view(b), vz2 = view(z2);
  double first = b[0] * b[0];
  ASSERT_FALSE(same_bits(std::fma(b[1], b[1], first), 0x1.7e37ae86509f8p-1));
  EXPECT_TRUE(same_bits(vec_dist_sq(&vb, &vz2), 0x1.7e37ae86509f8p-1));
}

TEST(VecDistSq, NaNAndInfinityPropagate) {
  std::vector<double> a{1, NAN}, b{0, 0}, c{INFINITY, 0}, d{INFINITY, 0};
  vec va = view(a), vb = view(b), vc = view(c), vd = view(d);
  EXPECT_TRUE(std::isnan(vec_dist_sq(&va, &vb)));
  EXPECT_TRUE(std::isinf(vec_dist_sq(&vc, &vb)));
  EXPECT_TRUE(std::isnan(vec_dist_sq(&vc, &vd)));  // inf - inf
}

}  // namespace
