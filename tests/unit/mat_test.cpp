#include <cmath>

#include "matvec.hpp"
#include "test_support.hpp"

namespace {

TEST(MatAlloc, CallocZeroesGetRowViewsAndFreeResets) {
  mat A;
  mat_calloc(&A, 3, 2);
  ASSERT_NE(A.data, nullptr);
  EXPECT_EQ(A.rows, 3);
  EXPECT_EQ(A.cols, 2);
  for (int i = 0; i < 6; ++i) EXPECT_TRUE(same_bits(A.data[i], 0.0));
  vec v;
  mat_get_row(&A, &v, 2);
  EXPECT_EQ(v.data, A.data + 4);  // a view, not a copy
  EXPECT_EQ(v.n, 2);
  mat_free(&A);
  EXPECT_EQ(A.data, nullptr);
  EXPECT_EQ(A.rows, 0);
  EXPECT_EQ(A.cols, 0);
  mat_free(&A);
}

TEST(MatAlloc, ImpossibleSizesGiveNullData) {
  mat A;
  mat_malloc(&A, -1, 3);
  EXPECT_EQ(A.data, nullptr);
  mat_malloc(&A, 2, -3);
  EXPECT_EQ(A.data, nullptr);
  mat_malloc(&A, INT32_MAX, INT32_MAX);  // more bytes than an address space holds
  EXPECT_EQ(A.data, nullptr);
  mat_malloc(&A, 0, 5);
  EXPECT_NE(A.data, nullptr);
  mat_free(&A);
}

TEST(MatGetRow, OffsetsBeyond32BitsAreFormedIn64) {
  mat A{reinterpret_cast<double*>(0x1000), 70000, 40000};
  vec v;
  mat_get_row(&A, &v, 60000);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(v.data), 0x1000u + 60000ull * 40000ull * 8ull);
}

TEST(MatPrint, RowsInOrderEachByVecPrint) {
  double data[] = {1, 2.5, -3, 0.125};
  mat A{data, 2, 2};
  EXPECT_EQ(capture_stdout([&] { mat_print(&A); }), "1.000000 2.500000 \n-3.000000 0.125000 \n");
  EXPECT_EQ(capture_stdout([&] { mat_print(&A, "A"); }),
            "The 2 x 2 matrix A:\nrow 0 = 1.0 2.5 \nrow 1 = -3.0 0.1 \n");
}

TEST(MatPrint, ZeroRowsAndZeroColumns) {
  mat none{nullptr, 0, 4};
  EXPECT_EQ(capture_stdout([&] { mat_print(&none); }), "");
  EXPECT_EQ(capture_stdout([&] { mat_print(&none, "N"); }), "The 0 x 4 matrix N:\n");
  double dummy = 0;
  mat flat{&dummy, 2, 0};
  EXPECT_EQ(capture_stdout([&] { mat_print(&flat); }), "\n\n");
  EXPECT_EQ(capture_stdout([&] { mat_print(&flat, "F"); }),
            "The 2 x 0 matrix F:\nrow 0 = \nrow 1 = \n");
}

TEST(MatRead, RowMajorAcrossAnyLayout) {
  set_stdin_text("1 2\n\n3\t4\r\n  5\f6 7");
  mat A;
  mat_malloc(&A, 2, 3);
  EXPECT_EQ(mat_read(&A), 6);
  double want[] = {1, 2, 3, 4, 5, 6};
  for (int i = 0; i < 6; ++i) EXPECT_TRUE(same_bits(A.data[i], want[i]));
  mat_free(&A);
}

TEST(MatRead, CountsOnlyConvertedElements) {
  set_stdin_text("1 2 3");
  mat A;
  mat_calloc(&A, 2, 2);
  EXPECT_EQ(mat_read(&A), 3);
  EXPECT_TRUE(same_bits(A.data[3], 0.0));  // not converted: left as it was
  set_stdin_text("1 x 3 4");
  EXPECT_EQ(mat_read(&A), 1);
  mat_free(&A);
}

TEST(MatReadShape, TwoIntegersAsPercentD) {
  int32_t r = -1, c = -1;
  set_stdin_text("  12\n-3 1.5");
  EXPECT_EQ(mat_read_shape(&r, &c), 2);
  EXPECT_EQ(r, 12);
  EXPECT_EQ(c, -3);
  set_stdin_text("+7 x");
  EXPECT_EQ(mat_read_shape(&r, &c), 1);
  EXPECT_EQ(r, 7);
  set_stdin_text("");
  EXPECT_EQ(mat_read_shape(&r, &c), 0);
  set_stdin_text("- 3");
  EXPECT_EQ(mat_read_shape(&r, &c), 0);
  set_stdin_text("2147483647 -2147483648");
  EXPECT_EQ(mat_read_shape(&r, &c), 2);
  EXPECT_EQ(r, INT32_MAX);
  EXPECT_EQ(c, INT32_MIN);
  set_stdin_text("2147483648 1");  // would wrap in 32 bits: not converted
  EXPECT_EQ(mat_read_shape(&r, &c), 0);
}

TEST(MatReadShape, BodyContinuesWhereShapeStopped) {
  // "%d" stops at the '.', so the body starts with ".5".
  set_stdin_text("2 1.5 7");
  int32_t r = 0, c = 0;
  ASSERT_EQ(mat_read_shape(&r, &c), 2);
  mat A;
  mat_malloc(&A, r, c);
  EXPECT_EQ(mat_read(&A), 2);
  EXPECT_TRUE(same_bits(A.data[0], 0.5));
  EXPECT_TRUE(same_bits(A.data[1], 7.0));
  mat_free(&A);
}

}  // namespace
