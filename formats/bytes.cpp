// The whole of an input in memory: a regular file read up to its size, a
// stream into storage that grows with what arrives.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "formats.hpp"
#include "work.hpp"

namespace {

// read() until n bytes or the end; how many, or -1 on an error.
int64_t read_some(int fd, char* p, int64_t n) {
  int64_t got = 0;
  while (got < n) {
    const ssize_t r = ::read(fd, p + got, static_cast<size_t>(n - got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    got += r;
  }
  return got;
}

}  // namespace

fmt_read fmt_bytes_read(fmt_bytes* b, int fd, const char* head, int64_t head_len) {
  *b = fmt_bytes{nullptr, 0};
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return fmt_read::failed;
  int64_t cap = head_len + (int64_t{1} << 20);
  bool regular = false;
  if (S_ISREG(st.st_mode)) {
    // The rest of a regular file is its size less where the descriptor stands.
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    if (at < 0) return fmt_read::failed;
    cap = head_len + (st.st_size > at ? static_cast<int64_t>(st.st_size - at) : 0);
    regular = true;
  }
  char* data = static_cast<char*>(work_alloc(cap > 0 ? cap : 1));
  if (data == nullptr) return fmt_read::no_memory;
  if (head_len > 0) std::memcpy(data, head, static_cast<size_t>(head_len));
  int64_t len = head_len;
  for (;;) {
    const int64_t got = read_some(fd, data + len, cap - len);
    if (got < 0) {
      work_free(data);
      return fmt_read::failed;
    }
    len += got;
    // A file is read as large as it was when looked at, never more.
    if (len < cap || regular) break;
    const int64_t grown_cap = cap * 2;
    char* grown = static_cast<char*>(work_alloc(grown_cap));
    if (grown == nullptr) {
      work_free(data);
      return fmt_read::no_memory;
    }
    std::memcpy(grown, data, static_cast<size_t>(len));
    work_free(data);
    data = grown;
    cap = grown_cap;
  }
  *b = fmt_bytes{data, len};
  return fmt_read::ok;
}

fmt_read fmt_bytes_read_path(fmt_bytes* b, const char* path) {
  *b = fmt_bytes{nullptr, 0};
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fmt_read::failed;
  const fmt_read r = fmt_bytes_read(b, fd, nullptr, 0);
  ::close(fd);
  return r;
}

void fmt_bytes_free(fmt_bytes* b) {
  work_free(b->data);
  *b = fmt_bytes{nullptr, 0};
}
