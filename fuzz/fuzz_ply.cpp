// Any bytes as a PLY file. The reader must not crash or read out of bounds,
// must never hold more values than the file has bytes, and the vertices it
// read, written back in reverse order, must read again to the same values.
#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats.hpp"

static void fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

static bool same(double a, double b) { return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  const auto len = static_cast<int64_t>(size);
  // x y z, then every property by index (lists among them are refused).
  const std::vector<std::string> all = {"0", "1", "2", "3", "4", "5"};
  for (const std::vector<std::string>* picks : {static_cast<const std::vector<std::string>*>(nullptr), &all}) {
    ply_file f;
    fmt_matrix m;
    fmt_error e{};
    if (!ply_read(bytes, len, picks, true, &f, &m, &e)) {
      fmt_matrix_free(&m);
      continue;
    }
    const int64_t rows = m.rows.rows, cols = m.rows.cols;
    if (rows * cols > len) fail("more values than bytes");
    std::vector<int32_t> order;
    for (int64_t i = rows - 1; i >= 0; --i) order.push_back(static_cast<int32_t>(i));
    const int fd = memfd_create("ply", 0);
    FILE* out = fdopen(fd, "w+b");
    if (out == nullptr || !ply_write_vertices(out, bytes, &f, order.data(), rows)) fail("write");
    std::fflush(out);
    fmt_bytes b;
    lseek(fd, 0, SEEK_SET);
    if (fmt_bytes_read(&b, fd, nullptr, 0) != fmt_read::ok) fail("read back");
    std::fclose(out);
    ply_file g;
    fmt_matrix back;
    if (!ply_read(b.data, b.len, picks, true, &g, &back, &e)) fail("the written file is refused");
    if (back.rows.rows != rows || back.rows.cols != cols || back.rows.type != m.rows.type) fail("shape");
    for (int64_t i = 0; i < rows; ++i)
      for (int64_t j = 0; j < cols; ++j)
        if (!same(rows_at(&back.rows, i, j), rows_at(&m.rows, rows - 1 - i, j))) fail("values differ");
    fmt_matrix_free(&back);
    fmt_bytes_free(&b);
    fmt_matrix_free(&m);
  }
  return 0;
}
