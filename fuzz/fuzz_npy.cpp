// Any bytes as a .npy file, read twice: mapped from a file and streamed from
// a pipe's worth of bytes. Neither may crash or read out of bounds, and they
// must agree: the same status and the same matrix, bit for bit, except that a
// stream stops at the array's end where a file longer than its array is
// refused.
#include <sys/mman.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "npy.hpp"

static void fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int file = memfd_create("npy", 0);
  const int empty = open("/dev/null", O_RDONLY);
  if (file < 0 || empty < 0 || write(file, data, size) != static_cast<ssize_t>(size)) fail("setup");
  lseek(file, 0, SEEK_SET);

  npy_file a, b;
  const npy_status from_file = npy_read_fd(&a, file);
  const npy_status from_stream = npy_read_stream(&b, empty, reinterpret_cast<const char*>(data), size);
  const bool longer = from_file == npy_status::data_size && a.data_found > a.h.data_bytes;
  if (from_file != from_stream && !(longer && from_stream == npy_status::ok)) fail("statuses differ");
  if (from_file == npy_status::ok) {
    if (a.x.rows != b.x.rows || a.x.cols != b.x.cols || a.x.type != b.x.type) fail("shapes differ");
    if (a.x.row_stride != b.x.row_stride || a.x.col_stride != b.x.col_stride) fail("layouts differ");
    const size_t bytes = static_cast<size_t>(a.h.item_size) * static_cast<size_t>(a.x.rows) * static_cast<size_t>(a.x.cols);
    if (bytes > 0 && std::memcmp(a.x.data, b.x.data, bytes) != 0) fail("matrices differ");
    if (a.h.data_bytes != static_cast<int64_t>(bytes)) fail("size");
  }
  npy_free(&a);
  npy_free(&b);
  close(file);
  close(empty);
  return 0;
}
