// Reading a .npy file into storage of our own: the data copied from the
// file once, as it lies (its type and order kept).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "work.hpp"
#include "npy.hpp"

static_assert(std::endian::native == std::endian::little,
              "float64 data is copied as it lies in the file");

namespace {

// Magic (6), version (2) and the header length: 2 bytes in version 1.0,
// 4 in versions 2.0 and 3.0.
constexpr size_t preamble_max = 12;

void reset(npy_file* f) {
  std::memset(f, 0, sizeof *f);
  f->x = row_source{nullptr, 0, 0, 0, 1, elem_type::f64};
  f->owned = nullptr;
}

// f->x over `count` rows of the header's shape at data: row-major, or
// column-major (each column `count` items) for Fortran order.
void describe(npy_file* f, const void* data, int64_t count) {
  const npy_header& h = f->h;
  const int32_t rows = static_cast<int32_t>(count), cols = static_cast<int32_t>(h.cols);
  const elem_type t = h.item_size == 4 ? elem_type::f32 : elem_type::f64;
  f->x = h.fortran_order ? row_source{data, rows, cols, 1, count, t} : row_source{data, rows, cols, h.cols, 1, t};
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
// checked against the file's size; *avail is the number of bytes from start,
// *st the file as it was before anything was read.
npy_status check_fd(npy_file* f, int fd, off_t* start, int64_t* avail, struct stat* st) {
  reset(f);
  *start = ::lseek(fd, 0, SEEK_CUR);
  if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode) || *start < 0) return npy_status::read_failed;
  *avail = st->st_size > *start ? static_cast<int64_t>(st->st_size - *start) : 0;

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

// ---- the snapshot ------------------------------------------------------------
//
// The data is copied into storage of our own once, and the file is never
// read again: another process that rewrites or truncates the file can then
// change neither the matrix during the run nor the run's end. A page that a
// truncation cut off raises SIGBUS when it is read; while a copy runs, this
// thread's SIGBUS returns to the copy's start (sigsetjmp) instead of ending
// the process, and the copy reports the file as changed.

// Volatile: the stores around a copy must stay where they are written. The
// compiler knows memcpy never reads it, and would otherwise drop the first
// store as dead (and did, once a copy was a lone memcpy).
thread_local sigjmp_buf* volatile bus_return = nullptr;
std::mutex bus_lock;
int bus_guards = 0;
struct sigaction bus_before;

void on_bus(int, siginfo_t*, void*) {
  if (bus_return != nullptr) siglongjmp(*bus_return, 1);
  // Not a copy's fault: the handler there was before takes it when the
  // access is made again, on return.
  ::sigaction(SIGBUS, &bus_before, nullptr);
}

// Runs copy(); false when it was cut short by SIGBUS. copy must only read
// and write memory: it may be left at any point.
template <class F>
bool copy_guarded(const F& copy) {
  {
    std::lock_guard<std::mutex> hold(bus_lock);
    if (bus_guards++ == 0) {
      struct sigaction on{};
      on.sa_sigaction = on_bus;
      on.sa_flags = SA_SIGINFO;
      sigemptyset(&on.sa_mask);
      ::sigaction(SIGBUS, &on, &bus_before);
    }
  }
  bool whole = false;
  sigjmp_buf back;
  if (sigsetjmp(back, 1) == 0) {
    bus_return = &back;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    copy();
    whole = true;
  }
  std::atomic_signal_fence(std::memory_order_seq_cst);
  bus_return = nullptr;
  {
    std::lock_guard<std::mutex> hold(bus_lock);
    if (--bus_guards == 0) ::sigaction(SIGBUS, &bus_before, nullptr);
  }
  return whole;
}

// Releases the storage, keeping what was learnt of the file.
void drop(npy_file* f) {
  work_free(f->owned);
  f->owned = nullptr;
  f->x.data = nullptr;
}

// Whether the file is still as st saw it: the same size, modified at the same time.
bool unchanged(int fd, const struct stat& st) {
  struct stat now;
  return ::fstat(fd, &now) == 0 && now.st_size == st.st_size && now.st_mtim.tv_sec == st.st_mtim.tv_sec &&
         now.st_mtim.tv_nsec == st.st_mtim.tv_nsec;
}

// Rows [first, first + count) of the array whose data starts at file offset
// data_at, copied as they lie (Fortran order: the rows' run of each column,
// column after column) into storage of f's own, as f->x.
npy_status snapshot(npy_file* f, int fd, int64_t data_at, int64_t first, int64_t count, const struct stat& st,
                    int32_t threads) {
  const npy_header& h = f->h;
  f->owned = work_alloc(count * h.cols * h.item_size);
  if (f->owned == nullptr) return npy_status::no_memory;
  describe(f, f->owned, count);
  if (count == 0 || h.cols == 0) return npy_status::ok;

  // C order: the rows' bytes are one run, mapped from the page it starts on
  // and filled at once. Fortran order: every column holds a run of the
  // rows; all the data is mapped, filled at once when every row is read,
  // else only the pages of those runs are touched.
  const int64_t row_bytes = h.cols * h.item_size;
  const int64_t page = ::sysconf(_SC_PAGESIZE);
  const int64_t from = (h.fortran_order ? data_at : data_at + first * row_bytes) / page * page;
  const int64_t to = h.fortran_order ? data_at + h.data_bytes : data_at + (first + count) * row_bytes;
  const bool whole = !h.fortran_order || count == h.rows;
  const size_t len = static_cast<size_t>(to - from);
  // A large C-order copy is shared by `threads` threads, each faulting in
  // its own part of the mapping and of the storage: on a virtual machine a
  // first touch of fresh memory costs far more than the copy itself.
  const int64_t parts =
      h.fortran_order ? 1 : std::clamp<int64_t>(count * row_bytes / std::max<int64_t>(npy_copy_part_bytes, 1), 1, std::max<int32_t>(threads, 1));
  void* map = ::mmap(nullptr, len, PROT_READ, MAP_PRIVATE | (whole && parts == 1 ? MAP_POPULATE : 0), fd, from);
  if (map == MAP_FAILED) {
    const npy_status s = errno == ENOMEM ? npy_status::no_memory : npy_status::read_failed;
    drop(f);
    return s;
  }
  if (npy_before_copy != nullptr) npy_before_copy(fd);
  const char* data = static_cast<const char*>(map) + (data_at - from);
  char* dst = static_cast<char*>(f->owned);
  bool copied = true;
  if (parts > 1) {
    // Parts end on rows; each thread guards its own copy.
    std::vector<char> whole_part(static_cast<size_t>(parts), 0);
    auto copy_part = [&](int64_t p) {
      const int64_t a = count * p / parts, b = count * (p + 1) / parts;
      whole_part[static_cast<size_t>(p)] = copy_guarded([&] {
        std::memcpy(dst + a * row_bytes, data + (first + a) * row_bytes, static_cast<size_t>((b - a) * row_bytes));
      });
    };
    std::vector<std::thread> team;
    try {
      for (int64_t p = 1; p < parts; ++p) team.emplace_back(copy_part, p);
    } catch (const std::system_error&) {
      // No thread to be had: this thread copies what is left.
    }
    const int64_t started = static_cast<int64_t>(team.size()) + 1;
    copy_part(0);
    for (int64_t p = started; p < parts; ++p) copy_part(p);
    for (std::thread& t : team) t.join();
    copied = std::all_of(whole_part.begin(), whole_part.end(), [](char c) { return c != 0; });
  } else {
    copied = copy_guarded([&] {
      if (!h.fortran_order) {
        std::memcpy(dst, data + first * row_bytes, static_cast<size_t>(count * row_bytes));
        return;
      }
      const int64_t run = count * h.item_size;
      for (int64_t j = 0; j < h.cols; ++j)
        std::memcpy(dst + j * run, data + (j * h.rows + first) * h.item_size, static_cast<size_t>(run));
    });
  }
  ::munmap(map, len);
  if (!copied || !unchanged(fd, st)) {
    drop(f);
    return npy_status::changed;
  }
  return npy_status::ok;
}

}  // namespace

void (*npy_before_copy)(int fd) = nullptr;
int64_t npy_copy_part_bytes = int64_t{64} << 20;

void npy_free(npy_file* f) {
  work_free(f->owned);
  reset(f);
}

npy_status npy_check_fd(npy_file* f, int fd) {
  off_t start = 0;
  int64_t avail = 0;
  struct stat st;
  return check_fd(f, fd, &start, &avail, &st);
}

npy_status npy_read_fd(npy_file* f, int fd, int32_t threads) {
  off_t start = 0;
  int64_t avail = 0;
  struct stat st;
  const npy_status s = check_fd(f, fd, &start, &avail, &st);
  if (s != npy_status::ok) return s;
  return snapshot(f, fd, start + f->h.data_offset, 0, f->h.rows, st, threads);
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
  } else {
    // The buffer (from work_alloc, so aligned) holds the rows as they lie.
    f->owned = buf;
    describe(f, buf, f->h.rows);
    return npy_status::ok;
  }
  work_free(buf);
  return s;
}

npy_status npy_read_rows(npy_file* f, int fd, int64_t first, int64_t count) {
  off_t start = 0;
  int64_t avail = 0;
  struct stat st;
  const npy_status s = check_fd(f, fd, &start, &avail, &st);
  if (s != npy_status::ok) return s;
  if (first < 0 || count < 0 || first > f->h.rows - count) return npy_status::read_failed;
  return snapshot(f, fd, start + f->h.data_offset, first, count, st, 1);
}
