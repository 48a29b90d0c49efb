#include "cli.hpp"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int fail(const char* line) {
  std::printf("%s\n", line);
  return 1;
}

int failf(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::putchar('\n');
  return 1;
}

bool parse_count(const char* text, int64_t lo, int64_t hi, int32_t* out) {
  errno = 0;
  const long long v = std::strtoll(text, nullptr, 10);
  if (errno == ERANGE || v < lo || v > hi) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

bool is_help(const char* arg) { return !std::strcmp(arg, "-h") || !std::strcmp(arg, "--help"); }

int print_help(const char* text) {
  std::fputs(text, stdout);
  return output_status();
}

int output_status() { return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1; }
