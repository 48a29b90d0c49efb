// kcenter's writers: CSV lines, or the records of a structured .npy array.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <vector>

#include "kcenter_io.hpp"

namespace {

const npy_field order_fields[] = {{"row", npy_type::i8}, {"dist_sq", npy_type::f8}};
const npy_field pair_fields[] = {{"i", npy_type::i8}, {"j", npy_type::i8}, {"dist_sq", npy_type::f8}};
const npy_field assign_fields[] = {{"row", npy_type::i8}, {"centre", npy_type::i8}, {"dist_sq", npy_type::f8}};

// Room for any header of these fields (128 and 192 bytes).
constexpr size_t header_room = 256;

bool ends_with(const char* s, const char* tail) {
  const size_t n = std::strlen(s), t = std::strlen(tail);
  return n >= t && std::strcmp(s + n - t, tail) == 0;
}

bool write_header(kcenter_sink* s) {
  if (s->npy) {
    char h[header_room];
    const size_t n = s->pair ? npy_struct_header(h, sizeof h, s->assign ? assign_fields : pair_fields, 3, s->count)
                             : npy_struct_header(h, sizeof h, order_fields, 2, s->count);
    s->header_len = n;
    return n > 0 && std::fwrite(h, 1, n, s->f) == n;
  }
  s->header_done = true;
  const char* header = s->assign ? "row,centre,dist_sq\n" : s->pair ? "i,j,dist_sq\n" : "step,row,dist_sq\n";
  return std::fputs(header, s->f) >= 0;
}

// One CSV line of whole numbers and a last double as %.17g: std::to_chars
// with a precision writes exactly what printf writes, and faster.
bool write_line(kcenter_sink* s, const int64_t* whole, int n, double last) {
  if (!s->header_done && !write_header(s)) return false;
  char line[128];
  char* p = line;
  char* const end = line + sizeof line;
  for (int t = 0; t < n; ++t) {
    p = std::to_chars(p, end, whole[t]).ptr;
    *p++ = ',';
  }
  p = std::to_chars(p, end, last, std::chars_format::general, 17).ptr;
  *p++ = '\n';
  const size_t len = static_cast<size_t>(p - line);
  return std::fwrite(line, 1, len, s->f) == len;
}

bool write_record(kcenter_sink* s, const int64_t* whole, int n, double last) {
  char rec[24];
  for (int t = 0; t < n; ++t) npy_put_i8(rec + 8 * t, whole[t]);
  npy_put_f8(rec + 8 * n, last);
  const size_t len = 8 * static_cast<size_t>(n) + 8;
  ++s->count;
  return std::fwrite(rec, 1, len, s->f) == len;
}

std::string write_name(const kcenter_sink* s) {
  return s->path != nullptr ? std::string("file ") + s->path : "standard output";
}

std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file `path` names once symbolic links are followed (a link's target
// relative to the link's folder), whether it exists or not. False for a
// link that cannot be read, or a chain of more than 40 (a loop).
bool follow_links(const std::string& path, std::string* target) {
  std::string p = path;
  for (int hops = 0; hops <= 40; ++hops) {
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *target = p;
      return true;
    }
    std::string link(PATH_MAX, '\0');
    const ssize_t n = ::readlink(p.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<size_t>(n) >= link.size()) return false;
    link.resize(static_cast<size_t>(n));
    p = link[0] == '/' ? link : folder_of(p) + "/" + link;
  }
  return false;
}

// Whether the file may be written: the system must allow it, and so must
// its permission bits for whoever owns this process, root included (whom
// the system always allows), so that a read-only file is never replaced.
bool may_write(const char* path, const struct stat& st) {
  if (::faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) != 0) return false;
  if (st.st_uid == ::geteuid()) return (st.st_mode & S_IWUSR) != 0;
  bool in_group = st.st_gid == ::getegid();
  const int n = ::getgroups(0, nullptr);
  std::vector<gid_t> groups(n > 0 ? static_cast<size_t>(n) : 0);
  if (n > 0 && ::getgroups(n, groups.data()) == n)
    for (gid_t g : groups) in_group = in_group || g == st.st_gid;
  return (st.st_mode & (in_group ? S_IWGRP : S_IWOTH)) != 0;
}

// A file without a name in the target's folder (O_TMPFILE), or -1 where the
// file system or the kernel has none, or /proc, through which it is named
// later, is missing.
int open_unnamed(const std::string& target, mode_t mode) {
  const int fd = ::open(folder_of(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  struct stat st;
  if (::stat(("/proc/self/fd/" + std::to_string(fd)).c_str(), &st) != 0) {
    ::close(fd);
    return -1;
  }
  ::fchmod(fd, mode);  // the umask took bits of a replaced file's mode away
  return fd;
}

// Links the unnamed file into its folder under a fresh name, TARGET.XXXXXX.
bool give_name(kcenter_sink* s) {
  const std::string from = "/proc/self/fd/" + std::to_string(::fileno(s->f));
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = s->target + ".XXXXXX";
    // mkstemp's fresh name, freed again at once: linkat does not replace.
    const int probe = ::mkstemp(name.data());
    if (probe < 0) return false;
    ::close(probe);
    ::unlink(name.c_str());
    if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      s->temp = name;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

}  // namespace

bool kcenter_sink_open(kcenter_sink* s, const kcenter_args* a, kcenter_error* err, bool raw) {
  s->f = stdout;
  s->path = a->output;
  s->target.clear();
  s->temp.clear();
  s->unnamed = false;
  s->npy = false;
  s->assign = a->command == kcenter_command::assign;
  s->pair = a->command == kcenter_command::pair || s->assign;
  s->header_done = false;
  s->count = 0;
  s->header_len = 0;
  s->raw = a->points || raw;
  if (s->path == nullptr) {
    // Standard output gets its header with the first line, so that a failure
    // before it leaves only the error line there.
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    return true;
  }
  s->npy = ends_with(s->path, ".npy");
  auto refuse = [&](kcenter_fault f) {
    *err = kcenter_error{f, s->path, "", 0, 0};
    return false;
  };
  // A symbolic link stays: the file it leads to is the one replaced.
  if (!follow_links(s->path, &s->target)) return refuse(kcenter_fault::cannot_create_output);
  struct stat st;
  const bool exists = ::stat(s->target.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) return refuse(kcenter_fault::output_not_regular);
  if (exists && !may_write(s->target.c_str(), st)) return refuse(kcenter_fault::output_read_only);
  // A file replaced keeps its permissions; a new one gets 0666 less the umask.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  const mode_t mode = exists ? (st.st_mode & 0777) : (0666 & ~mask);

  // The output is written to a file beside the target and renamed over it
  // once complete: never a partial output, and never a truncated input when
  // the two are one file. Where the file system allows, that file has no
  // name until then, so that a run killed meanwhile leaves nothing behind.
  int fd = open_unnamed(s->target, mode);
  s->unnamed = fd >= 0;
  if (fd < 0) {
    s->temp = s->target + ".XXXXXX";
    fd = ::mkstemp(s->temp.data());
    if (fd >= 0) ::fchmod(fd, mode);
    else s->temp.clear();
  }
  if (fd >= 0) {
    s->f = ::fdopen(fd, "wb");
    if (s->f == nullptr) ::close(fd);
  }
  if (fd < 0 || s->f == nullptr) {
    if (fd >= 0 && !s->temp.empty()) ::unlink(s->temp.c_str());
    s->temp.clear();
    return refuse(kcenter_fault::cannot_create_output);
  }
  std::setvbuf(s->f, nullptr, _IOFBF, 1 << 20);
  if (!s->raw && !write_header(s)) {
    kcenter_sink_abandon(s);
    *err = kcenter_error{kcenter_fault::cannot_write_output, write_name(s), "", 0, 0};
    return false;
  }
  return true;
}

bool kcenter_sink_step(kcenter_sink* s, int64_t step, int32_t row, double dist_sq) {
  if (s->npy) {
    const int64_t whole[] = {row};
    return write_record(s, whole, 1, dist_sq);
  }
  const int64_t whole[] = {step, row};
  return write_line(s, whole, 2, dist_sq);
}

bool kcenter_sink_pair(kcenter_sink* s, int32_t i, int32_t j, double dist_sq) {
  const int64_t whole[] = {i, j};
  return s->npy ? write_record(s, whole, 2, dist_sq) : write_line(s, whole, 2, dist_sq);
}

bool kcenter_sink_assign(kcenter_sink* s, int32_t row, int64_t centre, double dist_sq) {
  const int64_t whole[] = {row, centre};
  return s->npy ? write_record(s, whole, 2, dist_sq) : write_line(s, whole, 2, dist_sq);
}

bool kcenter_sink_close(kcenter_sink* s, kcenter_error* err) {
  bool ok = true;
  // An order of no steps still gets its header; a missing pair gets none on
  // standard output, where the no-pair line stands instead.
  if (!s->raw && !s->npy && !s->header_done && !(s->pair && !s->assign && s->path == nullptr)) ok = write_header(s);
  if (!s->raw && s->npy && ok) {
    // The header's length does not depend on the count: it is rewritten in place.
    const size_t written = s->header_len;
    ok = std::fseek(s->f, 0, SEEK_SET) == 0 && write_header(s) && s->header_len == written;
  }
  ok = std::fflush(s->f) == 0 && !std::ferror(s->f) && ok;
  if (s->path != nullptr) {
    // The file without a name gets one only now, just before the rename.
    if (ok && s->unnamed) ok = give_name(s);
    ok = std::fclose(s->f) == 0 && ok;
    s->f = nullptr;
    ok = ok && std::rename(s->temp.c_str(), s->target.c_str()) == 0;
    if (!ok && !s->temp.empty()) ::unlink(s->temp.c_str());
    s->temp.clear();
  }
  if (!ok) *err = kcenter_error{kcenter_fault::cannot_write_output, write_name(s), "", 0, 0};
  return ok;
}

void kcenter_sink_abandon(kcenter_sink* s) {
  if (s->path == nullptr) return;
  if (s->f != nullptr) std::fclose(s->f);
  s->f = nullptr;
  if (!s->temp.empty()) ::unlink(s->temp.c_str());
  s->temp.clear();
}
