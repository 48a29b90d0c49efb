// Any bytes as a CSV file or table, the first byte choosing the delimiter,
// the header and the columns. The reader must not crash, must never hold
// more values than the text has bytes, and what it read, written as CSV
// again (shortest round-trip text), must read back to the same values.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "formats.hpp"

static void fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

// The same double, or two NaNs of one sign (CSV keeps no payload).
static bool same(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
  return std::memcmp(&a, &b, sizeof a) == 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const csv_delimiter delimiters[] = {csv_delimiter::detect, csv_delimiter::comma, csv_delimiter::semicolon,
                                      csv_delimiter::tab, csv_delimiter::blanks};
  const std::vector<std::string> picks = {"1", "0"};
  const csv_options o{delimiters[data[0] % 5], (data[0] & 8) != 0, (data[0] & 16) ? &picks : nullptr};
  const char* text = reinterpret_cast<const char*>(data + 1);
  const auto len = static_cast<int64_t>(size - 1);
  fmt_matrix m;
  fmt_error e{};
  if (!csv_read(text, len, &o, &m, &e)) {
    fmt_matrix_free(&m);
    return 0;
  }
  const int64_t rows = m.rows.rows, cols = m.rows.cols;
  if (rows * cols > len) fail("more values than bytes");
  std::string again;
  char buf[32];
  for (int64_t i = 0; i < rows; ++i) {
    for (int64_t j = 0; j < cols; ++j) {
      again.append(buf, std::to_chars(buf, buf + sizeof buf, rows_at(&m.rows, i, j)).ptr);
      again += j + 1 < cols ? ',' : '\n';
    }
  }
  const csv_options plain{csv_delimiter::comma, false, nullptr};
  fmt_matrix back;
  if (!csv_read(again.data(), static_cast<int64_t>(again.size()), &plain, &back, &e)) fail("the written text is refused");
  if (back.rows.rows != rows || (rows > 0 && back.rows.cols != cols)) fail("shape");
  for (int64_t i = 0; i < rows; ++i)
    for (int64_t j = 0; j < cols; ++j)
      if (!same(rows_at(&back.rows, i, j), rows_at(&m.rows, i, j))) fail("values differ");
  fmt_matrix_free(&back);
  fmt_matrix_free(&m);
  return 0;
}
