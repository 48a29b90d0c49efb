// Reading a .npy file into a matrix of doubles: mapped where its bytes can
// serve as they are, converted into owned storage where they cannot.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "internal.hpp"
#include "work.hpp"
#include "npy.hpp"

static_assert(std::endian::native == std::endian::little,
              "the mapped data is used as doubles as it lies in the file");

namespace {

// Magic (6), version (2) and the header length: 2 bytes in version 1.0,
// 4 in versions 2.0 and 3.0.
constexpr size_t preamble_max = 12;

void reset(npy_file* f) {
  std::memset(f, 0, sizeof *f);
  f->m.data = nullptr;
  f->map = nullptr;
  f->owned = nullptr;
}

// Checks the magic and version in the first n bytes; on success sets the
// length of the preamble and of the header.
npy_status read_preamble(const unsigned char* b, size_t n, npy_header* h, size_t* preamble,
                         int64_t* header_len) {
  if (n < 6 || std::memcmp(b, npy_magic, 6) != 0) return npy_status::not_npy;
  if (n < 8) return npy_status::header_cut;
  h->major = b[6];
  h->minor = b[7];
  if (h->minor != 0 || h->major < 1 || h->major > 3) return npy_status::bad_version;
  *preamble = h->major == 1 ? 10 : 12;
  if (n < *preamble) return npy_status::header_cut;
  int64_t len = b[8] | b[9] << 8;
  if (h->major > 1) len |= int64_t{b[10]} << 16 | int64_t{b[11]} << 24;
  *header_len = len;
  h->data_offset = static_cast<int64_t>(*preamble) + len;
  return npy_status::ok;
}

// Copies count items of type T from src to dst[0], dst[stride], ...: float32
// widened (exactly), float64 as it is.
template <class T>
void widen(const char* src, double* dst, int64_t count, int64_t stride) {
  for (int64_t i = 0; i < count; ++i) {
    T x;
    std::memcpy(&x, src + i * static_cast<int64_t>(sizeof x), sizeof x);
    dst[i * stride] = static_cast<double>(x);
  }
}

void widen(int32_t item_size, const char* src, double* dst, int64_t count, int64_t stride) {
  if (item_size == 8) widen<double>(src, dst, count, stride);
  else widen<float>(src, dst, count, stride);
}

// Rows per block when Fortran order is transposed: the block's part of the
// matrix (about 16 KiB) stays in the first-level cache while each column's
// part of it is written, from one run of that column.
int64_t block_rows(int64_t cols) { return std::max<int64_t>(64, (int64_t{1} << 11) / std::max<int64_t>(cols, 1)); }

// Rows [first, first + count) of the data, laid out as the file has it
// from src on, as a row-major matrix.
void convert_rows(const npy_header& h, const char* src, int64_t first, int64_t count, double* dst) {
  if (!h.fortran_order) {
    widen(h.item_size, src + first * h.cols * h.item_size, dst, count * h.cols, 1);
    return;
  }
  const int64_t block = block_rows(h.cols);
  for (int64_t i0 = first; i0 < first + count; i0 += block)
    for (int64_t j = 0; j < h.cols; ++j)
      widen(h.item_size, src + (j * h.rows + i0) * h.item_size, dst + (i0 - first) * h.cols + j,
            std::min(block, first + count - i0), h.cols);
}

void convert(const npy_header& h, const char* src, double* dst) { convert_rows(h, src, 0, h.rows, dst); }

// pread in full, or false.
bool pread_full(int fd, char* p, size_t n, off_t at) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = ::pread(fd, p + got, n - got, at + static_cast<off_t>(got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}

// A stream: bytes already taken from fd (head), then fd itself.
struct source {
  const char* head;
  size_t head_len;
  int fd;
  bool failed;

  // Up to n bytes into dst, fewer only at the end of the stream (or on an
  // error, which sets failed); returns how many.
  int64_t take(char* dst, int64_t n) {
    int64_t got = std::min<int64_t>(n, static_cast<int64_t>(head_len));
    if (got > 0) {
      std::memcpy(dst, head, static_cast<size_t>(got));
      head += got;
      head_len -= static_cast<size_t>(got);
    }
    while (got < n) {
      const ssize_t r = ::read(fd, dst + got, static_cast<size_t>(n - got));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) failed = true;
      if (r <= 0) break;
      got += r;
    }
    return got;
  }
};

// The header of the array from fd's offset `start` to the end of the file,
// checked against the file's size; *avail is the number of bytes from start.
npy_status check_fd(npy_file* f, int fd, off_t* start, int64_t* avail) {
  reset(f);
  struct stat st;
  *start = ::lseek(fd, 0, SEEK_CUR);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || *start < 0) return npy_status::read_failed;
  *avail = st.st_size > *start ? static_cast<int64_t>(st.st_size - *start) : 0;

  unsigned char pre[preamble_max];
  const size_t have = static_cast<size_t>(std::min<int64_t>(*avail, preamble_max));
  if (!pread_full(fd, reinterpret_cast<char*>(pre), have, *start)) return npy_status::read_failed;
  size_t preamble = 0;
  int64_t header_len = 0;
  npy_status s = read_preamble(pre, have, &f->h, &preamble, &header_len);
  if (s != npy_status::ok) return s;
  // The file's size bounds every length before anything is allocated.
  if (header_len > npy_max_header) return npy_status::header_too_long;
  if (f->h.data_offset > *avail) return npy_status::header_cut;
  char* text = static_cast<char*>(std::malloc(static_cast<size_t>(header_len) + 1));
  if (text == nullptr) return npy_status::no_memory;
  if (!pread_full(fd, text, static_cast<size_t>(header_len), *start + static_cast<off_t>(preamble)))
    s = npy_status::read_failed;
  else
    s = npy_parse_header(text, static_cast<size_t>(header_len), &f->h);
  std::free(text);
  if (s != npy_status::ok) return s;
  f->data_found = *avail - f->h.data_offset;
  if (f->data_found != f->h.data_bytes) return npy_status::data_size;
  return npy_status::ok;
}

}  // namespace

void npy_free(npy_file* f) {
  if (f->map != nullptr) ::munmap(f->map, f->map_len);
  work_free(f->owned);
  reset(f);
}

npy_status npy_check_fd(npy_file* f, int fd) {
  off_t start = 0;
  int64_t avail = 0;
  return check_fd(f, fd, &start, &avail);
}

npy_status npy_read_fd(npy_file* f, int fd) {
  off_t start = 0;
  int64_t avail = 0;
  const npy_status s = check_fd(f, fd, &start, &avail);
  if (s != npy_status::ok) return s;

  // The whole file is mapped (from its start, as mappings begin on a page),
  // its pages filled at once rather than fault by fault. C-order float64 on
  // an 8-byte boundary is the matrix as it lies; anything else is converted
  // from the mapping, which measured faster than reading it in runs.
  const size_t len = static_cast<size_t>(start + avail);
  void* map = ::mmap(nullptr, len, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  if (map == MAP_FAILED) return npy_status::read_failed;
  const char* data = static_cast<const char*>(map) + start + f->h.data_offset;
  f->m.rows = static_cast<int32_t>(f->h.rows);
  f->m.cols = static_cast<int32_t>(f->h.cols);
  if (f->h.item_size == 8 && !f->h.fortran_order && f->h.data_bytes > 0 &&
      reinterpret_cast<uintptr_t>(data) % alignof(double) == 0) {
    f->map = map;
    f->map_len = len;
    f->m.data = const_cast<double*>(reinterpret_cast<const double*>(data));
    return npy_status::ok;
  }
  f->owned = storage_alloc(f->h.rows * f->h.cols, false);
  if (f->owned != nullptr) convert(f->h, data, f->owned);
  ::munmap(map, len);
  f->m.data = f->owned;
  return f->owned != nullptr ? npy_status::ok : npy_status::no_memory;
}

npy_status npy_read_stream(npy_file* f, int fd, const char* head, size_t head_len) {
  reset(f);
  source in{head, head_len, fd, false};
  // The preamble: 8 bytes tell the version, and with it the preamble's length.
  unsigned char pre[preamble_max];
  size_t have = static_cast<size_t>(in.take(reinterpret_cast<char*>(pre), 8));
  size_t preamble = 0;
  int64_t header_len = 0;
  npy_status s = read_preamble(pre, have, &f->h, &preamble, &header_len);
  if (s == npy_status::header_cut && have == 8) {
    have += static_cast<size_t>(in.take(reinterpret_cast<char*>(pre) + 8, static_cast<int64_t>(preamble) - 8));
    s = read_preamble(pre, have, &f->h, &preamble, &header_len);
  }
  if (in.failed) return npy_status::read_failed;
  if (s != npy_status::ok) return s;
  if (header_len > npy_max_header) return npy_status::header_too_long;

  char* text = static_cast<char*>(std::malloc(static_cast<size_t>(header_len) + 1));
  if (text == nullptr) return npy_status::no_memory;
  const int64_t got_header = in.take(text, header_len);
  if (got_header == header_len) s = npy_parse_header(text, static_cast<size_t>(header_len), &f->h);
  std::free(text);
  if (in.failed) return npy_status::read_failed;
  if (got_header < header_len) return npy_status::header_cut;
  if (s != npy_status::ok) return s;

  // The data, into a buffer that doubles as it fills, up to what the header
  // says: a promise of more than arrives costs at most twice what arrived.
  const int64_t want = f->h.data_bytes;
  int64_t cap = std::min<int64_t>(want, int64_t{1} << 20);
  char* buf = static_cast<char*>(work_alloc(cap));
  int64_t filled = 0;
  while (buf != nullptr) {
    filled += in.take(buf + filled, cap - filled);
    if (filled < cap || cap == want) break;
    const int64_t grown_cap = std::min(want, cap * 2);
    char* grown = static_cast<char*>(work_alloc(grown_cap));
    if (grown != nullptr) std::memcpy(grown, buf, static_cast<size_t>(filled));
    work_free(buf);
    buf = grown;
    cap = grown_cap;
  }
  if (buf == nullptr) return npy_status::no_memory;
  f->data_found = filled;
  if (in.failed) {
    s = npy_status::read_failed;
  } else if (filled != want) {
    s = npy_status::data_size;
  } else if (f->h.item_size == 8 && !f->h.fortran_order) {
    // The buffer (from work_alloc, so aligned) is the matrix itself.
    f->owned = reinterpret_cast<double*>(buf);
    f->m = mat{f->owned, static_cast<int32_t>(f->h.rows), static_cast<int32_t>(f->h.cols)};
    return npy_status::ok;
  } else {
    f->owned = storage_alloc(f->h.rows * f->h.cols, false);
    if (f->owned == nullptr) {
      s = npy_status::no_memory;
    } else {
      convert(f->h, buf, f->owned);
      f->m = mat{f->owned, static_cast<int32_t>(f->h.rows), static_cast<int32_t>(f->h.cols)};
    }
  }
  work_free(buf);
  return s;
}

npy_status npy_read_rows(npy_file* f, int fd, int64_t first, int64_t count) {
  off_t start = 0;
  int64_t avail = 0;
  const npy_status s = check_fd(f, fd, &start, &avail);
  if (s != npy_status::ok) return s;
  const npy_header& h = f->h;
  if (first < 0 || count < 0 || first > h.rows - count) return npy_status::read_failed;
  f->m = mat{nullptr, static_cast<int32_t>(count), static_cast<int32_t>(h.cols)};
  if (count == 0 || h.cols == 0) {
    f->owned = storage_alloc(0, false);
    f->m.data = f->owned;
    return f->owned != nullptr ? npy_status::ok : npy_status::no_memory;
  }
  // C order: the rows' bytes are one run, mapped from the page it starts on
  // and filled at once. Fortran order: every column holds a run of the
  // rows; the whole file is mapped and only the pages of those runs are
  // touched.
  const int64_t data_at = static_cast<int64_t>(start) + h.data_offset;
  const int64_t page = ::sysconf(_SC_PAGESIZE);
  int64_t from = 0, to = data_at + h.data_bytes;
  if (!h.fortran_order) {
    const int64_t row_bytes = h.cols * h.item_size;
    from = (data_at + first * row_bytes) / page * page;
    to = data_at + (first + count) * row_bytes;
  }
  const size_t len = static_cast<size_t>(to - from);
  void* map = ::mmap(nullptr, len, PROT_READ, MAP_PRIVATE | (h.fortran_order ? 0 : MAP_POPULATE), fd, from);
  if (map == MAP_FAILED) return npy_status::read_failed;
  const char* base = static_cast<const char*>(map);
  // C order: the first row, at the start of the run; Fortran order: the data.
  const char* src = h.fortran_order ? base + data_at : base + (data_at + first * h.cols * h.item_size - from);
  if (h.item_size == 8 && !h.fortran_order && reinterpret_cast<uintptr_t>(src) % alignof(double) == 0) {
    f->map = map;
    f->map_len = len;
    f->m.data = const_cast<double*>(reinterpret_cast<const double*>(src));
    return npy_status::ok;
  }
  f->owned = storage_alloc(count * h.cols, false);
  if (f->owned != nullptr) {
    if (h.fortran_order) convert_rows(h, src, first, count, f->owned);
    else widen(h.item_size, src, f->owned, count * h.cols, 1);
  }
  ::munmap(map, len);
  f->m.data = f->owned;
  return f->owned != nullptr ? npy_status::ok : npy_status::no_memory;
}
