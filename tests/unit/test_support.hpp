// Helpers shared by the unit tests: bit-exact comparison, and standard
// input and output pointed at text for the functions that use them.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "rows.hpp"

// Same double to the last bit (two NaNs match only with the same payload).
inline testing::AssertionResult same_bits(double got, double want) {
  if (std::bit_cast<std::uint64_t>(got) == std::bit_cast<std::uint64_t>(want))
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << std::hexfloat << got << " vs " << want;
}

// The same, except that any NaN matches any NaN: which operand's NaN a sum
// keeps (its sign, its payload) is the compiler's choice, not ours.
inline testing::AssertionResult same_or_nan(double got, double want) {
  if (std::isnan(got) && std::isnan(want)) return testing::AssertionSuccess();
  return same_bits(got, want);
}

// Points standard input at a file holding `text`, and forgets whatever the
// library's reader still held from earlier text.
void set_stdin_text(const std::string& text);

// A path in the test folder named after this process and `name`, so that
// parallel runs cannot collide; the file is removed when the process ends.
std::string temp_name(const std::string& name);

// Runs fn with standard output going to a file; returns what it printed.
std::string capture_stdout(const std::function<void()>& fn);

// The rows of a row-major matrix of doubles laid out another way, in storage
// of their own: a slice of a wider C-order array (rows 3 elements longer,
// starting one element in), Fortran order, rows in reverse order in memory
// (a negative row stride; row i of X is still row i), or float32, row-major
// or in Fortran order (each value rounded to float: give values that are
// floats to keep them).
enum class layout { c_slice, fortran, reversed, f32, f32_fortran };
inline constexpr layout every_layout[] = {layout::c_slice, layout::fortran, layout::reversed,
                                          layout::f32, layout::f32_fortran};
const char* layout_name(layout how);

struct laid_rows {
  std::vector<double> f64;
  std::vector<float> f32;
  row_source X;
};
laid_rows lay_out(const std::vector<double>& data, int32_t rows, int32_t cols, layout how);
