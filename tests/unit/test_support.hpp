// Helpers shared by the unit tests: bit-exact comparison, and standard
// input and output pointed at text for the functions that use them.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

// Same double to the last bit (two NaNs match only with the same payload).
inline testing::AssertionResult same_bits(double got, double want) {
  if (std::bit_cast<std::uint64_t>(got) == std::bit_cast<std::uint64_t>(want))
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << std::hexfloat << got << " vs " << want;
}

// Points standard input at a file holding `text`, and forgets whatever the
// library's reader still held from earlier text.
void set_stdin_text(const std::string& text);

// A path in the test folder named after this process and `name`, so that
// parallel runs cannot collide; the file is removed when the process ends.
std::string temp_name(const std::string& name);

// Runs fn with standard output going to a file; returns what it printed.
std::string capture_stdout(const std::function<void()>& fn);
