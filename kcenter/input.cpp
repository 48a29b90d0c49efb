// Loading kcenter's input: a NumPy file, recognised by its first bytes, or
// the matrix text format, from a named file or standard input.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "kcenter_io.hpp"

namespace {

bool fail(kcenter_error* err, kcenter_fault f, const std::string& name = "", int64_t a = 0,
          int64_t b = 0, const std::string& text = "") {
  *err = kcenter_error{f, name, text, a, b};
  return false;
}

// The text format, as greedy_centers reads it, from r.
bool load_text(scan_reader* r, kcenter_input* in, const std::string& read_name, kcenter_error* err) {
  auto reader_fault = [&](kcenter_fault otherwise) {
    return fail(err, r->no_memory    ? kcenter_fault::no_memory_input
                     : r->read_error ? kcenter_fault::cannot_read
                                     : otherwise,
                read_name);
  };
  int32_t rows = 0, cols = 0;
  if (mat_read_shape(r, &rows, &cols) < 2) return reader_fault(kcenter_fault::text_shape);
  if (rows < 0 || cols < 0) return fail(err, kcenter_fault::text_negative_shape, "", rows, cols);
  mat_malloc(&in->m, rows, cols);
  if (in->m.data == nullptr) return fail(err, kcenter_fault::no_memory_matrix, "", rows, cols);
  const int64_t elements = static_cast<int64_t>(rows) * cols;
  if (elements > 0 && mat_read(r, &in->m) != elements) {
    mat_free(&in->m);
    return reader_fault(kcenter_fault::text_body);
  }
  // A number after the last element means the shape was not what the text
  // holds: most likely a table without a shape line, whose first row was
  // taken for the shape.
  double more = 0.0;
  if (scan_reader_doubles(r, &more, 1) == 1) {
    mat_free(&in->m);
    return fail(err, kcenter_fault::text_trailing, "", rows, cols);
  }
  in->X = rows_of_doubles(in->m.data, rows, cols);
  return true;
}

// A 3-D .npy file as a batch of items, for kcenter order: read again whole
// from its path (a pipe's head is gone by now).
bool took_batch(const kcenter_args* a, kcenter_input* in, const std::string& name, kcenter_error* err) {
  if (a->input == nullptr) return fail(err, kcenter_fault::batch_pipe, name);
  fmt_bytes b{nullptr, 0};
  const fmt_read r = fmt_bytes_read_path(&b, a->input);
  if (r != fmt_read::ok) {
    fmt_bytes_free(&b);
    return fail(err, r == fmt_read::no_memory ? kcenter_fault::no_memory_input : kcenter_fault::cannot_read,
                r == fmt_read::no_memory ? "" : "file " + name);
  }
  fmt_error e{};
  const bool ok = batch_read(&b, &in->batch, &e);
  fmt_bytes_free(&b);
  if (!ok) return kcenter_format_refusal(e, name, err);
  in->is_batch = true;
  return true;
}

// The matrix of a NumPy file, or the line for its refusal.
bool took_npy(npy_status s, const kcenter_args* a, kcenter_input* in, const std::string& name,
              const std::string& read_name, kcenter_error* err) {
  // Without the magic bytes only --format npy can have sent the file here.
  if (s == npy_status::not_npy) return fail(err, kcenter_fault::not_npy, name);
  if (s == npy_status::not_2d && in->npy.h.ndim == 3 && a->command == kcenter_command::order) {
    npy_free(&in->npy);
    return took_batch(a, in, name, err);
  }
  if (s != npy_status::ok) return kcenter_npy_refusal(s, &in->npy, name, read_name, err);
  in->X = in->npy.x;
  in->from_npy = true;
  return true;
}

// rows * cols * item_size in decimal, beyond 64 bits if need be.
std::string byte_count(const npy_header& h) {
  __extension__ typedef unsigned __int128 u128;
  u128 v = static_cast<u128>(h.rows) * static_cast<u128>(h.cols) * static_cast<u128>(h.item_size);
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  } while (v != 0);
  return digits;
}

// Bytes enough to tell every format by its start.
constexpr int64_t head_len = 8;

// Any other format: CSV and tables a piece at a time, the rest read whole
// into memory, then its reader.
bool load_whole(const kcenter_args* a, int fd, const char* head, int64_t n, const std::string& name,
                const std::string& read_name, kcenter_input* in, kcenter_error* err) {
  if (in->format == kcenter_format::csv || in->format == kcenter_format::tsv || in->format == kcenter_format::table)
    return kcenter_load_csv(a, in->format, fd, head, n, name, in, err);
  fmt_bytes b;
  const fmt_read r = fmt_bytes_read(&b, fd, head, n);
  if (r == fmt_read::failed) return fail(err, kcenter_fault::cannot_read, read_name);
  if (r == fmt_read::no_memory) return fail(err, kcenter_fault::no_memory_input);
  return kcenter_load_bytes(a, in->format, &b, name, in, err);
}

}  // namespace

bool kcenter_npy_refusal(npy_status s, const npy_file* f, const std::string& name,
                         const std::string& read_name, kcenter_error* err) {
  const npy_header& h = f->h;
  switch (s) {
    case npy_status::ok: break;
    case npy_status::bad_version: return fail(err, kcenter_fault::npy_version, name, h.major, h.minor);
    case npy_status::not_npy:  // the magic bytes were seen: only a cut file can get here
    case npy_status::header_cut: return fail(err, kcenter_fault::npy_header_cut, name);
    case npy_status::header_too_long:
      return fail(err, kcenter_fault::npy_header_too_long, name, h.data_offset - (h.major == 1 ? 10 : 12));
    case npy_status::bad_header: return fail(err, kcenter_fault::npy_header, name);
    case npy_status::bad_keys: return fail(err, kcenter_fault::npy_keys, name);
    case npy_status::bad_order: return fail(err, kcenter_fault::npy_order, name);
    case npy_status::bad_dtype: return fail(err, kcenter_fault::npy_dtype, name, 0, 0, h.descr);
    case npy_status::bad_shape: return fail(err, kcenter_fault::npy_shape, name);
    case npy_status::not_2d: return fail(err, kcenter_fault::npy_not_2d, name, h.ndim);
    case npy_status::too_large: return fail(err, kcenter_fault::npy_too_large, name);
    case npy_status::too_many_bytes:
      return fail(err, kcenter_fault::npy_too_many_bytes, name, h.rows, h.cols, byte_count(h));
    case npy_status::data_size: return fail(err, kcenter_fault::npy_data_size, name, f->data_found, h.data_bytes);
    case npy_status::read_failed: return fail(err, kcenter_fault::cannot_read, read_name);
    case npy_status::changed: return fail(err, kcenter_fault::input_changed, name);
    case npy_status::no_memory: return fail(err, kcenter_fault::no_memory_matrix, "", h.rows, h.cols);
  }
  return fail(err, kcenter_fault::cannot_read, read_name);
}

bool kcenter_load(const kcenter_args* a, kcenter_input* in, kcenter_error* err) {
  const char* path = a->input;
  in->X = row_source{nullptr, 0, 0, 0, 1, elem_type::f64};
  in->m = mat{nullptr, 0, 0};
  std::memset(&in->npy, 0, sizeof in->npy);
  in->from_npy = false;
  in->format = kcenter_format::text;
  in->rows = fmt_matrix{row_source{nullptr, 0, 0, 0, 1, elem_type::f64}, nullptr, {}};
  in->bytes = fmt_bytes{nullptr, 0};
  in->batch = fmt_batch{nullptr, nullptr, elem_type::f64, 0, 0, 0};
  in->is_batch = false;
  const bool from_stdin = path == nullptr;
  const std::string name = from_stdin ? "standard input" : path;
  const std::string read_name = from_stdin ? name : "file " + name;

  int fd = 0;
  if (!from_stdin) {
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(err, kcenter_fault::cannot_open, name);
  }
  bool ok = false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ok = fail(err, kcenter_fault::cannot_read, read_name);
  } else if (S_ISREG(st.st_mode)) {
    // A file is looked at in place: mapped when it is a NumPy file.
    char head[head_len];
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    ssize_t got;
    do {
      got = at < 0 ? -1 : ::pread(fd, head, sizeof head, at);
    } while (got < 0 && errno == EINTR);
    in->format = kcenter_detect(a, head, got);
    if (!kcenter_check_options(a, in->format, err)) {
      ok = false;
    } else if (in->format == kcenter_format::npy) {
      ok = took_npy(npy_read_fd(&in->npy, fd, a->threads), a, in, name, read_name, err);
    } else if (in->format == kcenter_format::text) {
      scan_reader r;
      scan_reader_open(&r, fd);
      ok = load_text(&r, in, read_name, err);
      scan_reader_close(&r);
    } else {
      ok = load_whole(a, fd, nullptr, 0, name, read_name, in, err);
    }
  } else {
    // A pipe or a device: its first bytes, once read, are the text reader's
    // or, for a NumPy file, the head of the stream.
    scan_reader r;
    scan_reader_open(&r, fd);
    const int64_t n = scan_reader_peek(&r, head_len);
    if (r.no_memory) {
      ok = fail(err, kcenter_fault::no_memory_input);
    } else {
      in->format = kcenter_detect(a, r.data + r.pos, n);
      if (!kcenter_check_options(a, in->format, err)) {
        ok = false;
      } else if (in->format == kcenter_format::npy) {
        ok = took_npy(npy_read_stream(&in->npy, fd, r.data + r.pos, static_cast<size_t>(n)), a, in, name,
                      read_name, err);
      } else if (in->format == kcenter_format::text) {
        ok = load_text(&r, in, read_name, err);
      } else {
        ok = load_whole(a, fd, r.data + r.pos, static_cast<int64_t>(r.len - r.pos), name, read_name, in, err);
      }
    }
    scan_reader_close(&r);
  }
  if (!from_stdin) ::close(fd);
  return ok;
}

void kcenter_unload(kcenter_input* in) {
  const bool other = in->format != kcenter_format::text && in->format != kcenter_format::npy;
  if (in->from_npy) npy_free(&in->npy);
  else if (!other) mat_free(&in->m);
  if (other) {
    fmt_matrix_free(&in->rows);
    fmt_bytes_free(&in->bytes);
  }
  if (in->is_batch) batch_free(&in->batch);
  in->is_batch = false;
  in->X = row_source{nullptr, 0, 0, 0, 1, elem_type::f64};
  in->m = mat{nullptr, 0, 0};
  in->from_npy = false;
  in->format = kcenter_format::text;
}
