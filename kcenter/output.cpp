// kcenter's writers: CSV lines, or the records of a structured .npy array.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstring>

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

}  // namespace

bool kcenter_sink_open(kcenter_sink* s, const kcenter_args* a, kcenter_error* err) {
  s->f = stdout;
  s->path = a->output;
  s->temp.clear();
  s->npy = false;
  s->assign = a->command == kcenter_command::assign;
  s->pair = a->command == kcenter_command::pair || s->assign;
  s->header_done = false;
  s->count = 0;
  s->header_len = 0;
  if (s->path == nullptr) {
    // Standard output gets its header with the first line, so that a failure
    // before it leaves only the error line there.
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    return true;
  }
  s->npy = ends_with(s->path, ".npy");
  // A temporary file beside the output, renamed over it once complete: never
  // a partial output, and never a truncated input when the two are one file.
  s->temp = std::string(s->path) + ".XXXXXX";
  const int fd = ::mkstemp(s->temp.data());
  if (fd >= 0) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    s->f = ::fdopen(fd, "wb");
    if (s->f == nullptr) ::close(fd);
  }
  if (fd < 0 || s->f == nullptr) {
    if (fd >= 0) ::unlink(s->temp.c_str());
    s->temp.clear();
    *err = kcenter_error{kcenter_fault::cannot_create_output, s->path, "", 0, 0};
    return false;
  }
  std::setvbuf(s->f, nullptr, _IOFBF, 1 << 20);
  if (!write_header(s)) {
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
  if (!s->npy && !s->header_done && !(s->pair && !s->assign && s->path == nullptr)) ok = write_header(s);
  if (s->npy && ok) {
    // The header's length does not depend on the count: it is rewritten in place.
    const size_t written = s->header_len;
    ok = std::fseek(s->f, 0, SEEK_SET) == 0 && write_header(s) && s->header_len == written;
  }
  ok = std::fflush(s->f) == 0 && !std::ferror(s->f) && ok;
  if (s->path != nullptr) {
    ok = std::fclose(s->f) == 0 && ok;
    s->f = nullptr;
    ok = ok && std::rename(s->temp.c_str(), s->path) == 0;
    if (!ok) ::unlink(s->temp.c_str());
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
