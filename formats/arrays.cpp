// .npy files other than matrices of floats: 3-D batches and 1-D integers;
// and files of whole numbers, one a line.
#include <cstring>

#include "formats.hpp"
#include "work.hpp"

namespace {

__extension__ typedef unsigned __int128 u128;

bool npy_fault(fmt_error* err, npy_status s) {
  err->status = fmt_status::npy;
  err->npy = s;
  return false;
}

// n bytes of the data at p as a little-endian integer of dtype type ('<i4', '|u1', ...).
int64_t integer_at(const char* p, const char* type, bool* fits) {
  const int size = type[2] - '0';
  uint64_t u = 0;
  for (int k = size - 1; k >= 0; --k) u = u << 8 | static_cast<unsigned char>(p[k]);
  *fits = true;
  if (type[1] == 'i' && size < 8 && (u >> (8 * size - 1)) != 0) return -1;  // negative
  if (type[1] == 'i' && size == 8) return static_cast<int64_t>(u);
  if (u > INT64_MAX) *fits = false;
  return static_cast<int64_t>(u);
}

bool integer_type(const char* t) {
  return (t[0] == '<' || t[0] == '|') && (t[1] == 'i' || t[1] == 'u') &&
         (t[2] == '1' || t[2] == '2' || t[2] == '4' || t[2] == '8') && t[3] == '\0' && (t[0] == '<' || t[2] == '1');
}

}  // namespace

npy_status fmt_npy_preamble(const char* b, int64_t n, npy_header* h, int64_t* pre, int64_t* header_len) {
  const int64_t magic = n < 6 ? n : 6;
  if (std::memcmp(b, npy_magic, static_cast<size_t>(magic)) != 0) return npy_status::not_npy;
  if (n < 8) return npy_status::header_cut;
  h->major = static_cast<unsigned char>(b[6]);
  h->minor = static_cast<unsigned char>(b[7]);
  if (h->minor != 0 || h->major < 1 || h->major > 3) return npy_status::bad_version;
  *pre = h->major == 1 ? 10 : 12;
  if (n < *pre) return npy_status::header_cut;
  int64_t len = static_cast<unsigned char>(b[8]) | static_cast<unsigned char>(b[9]) << 8;
  if (h->major > 1) len |= int64_t{static_cast<unsigned char>(b[10])} << 16 | int64_t{static_cast<unsigned char>(b[11])} << 24;
  *header_len = len;
  h->data_offset = *pre + len;
  return npy_status::ok;
}

bool fmt_npy_header(const char* bytes, int64_t len, npy_dict* d, int64_t* data_at, fmt_error* err) {
  err->npy_h = npy_header{};
  int64_t pre = 0, header_len = 0;
  npy_status s = fmt_npy_preamble(bytes, len, &err->npy_h, &pre, &header_len);
  if (s == npy_status::not_npy) s = npy_status::header_cut;  // the magic bytes were looked for by the caller
  if (s != npy_status::ok) return npy_fault(err, s);
  if (header_len > npy_max_header) return npy_fault(err, npy_status::header_too_long);
  if (pre + header_len > len) return npy_fault(err, npy_status::header_cut);
  s = npy_parse_dict(bytes + pre, static_cast<size_t>(header_len), d);
  std::memcpy(err->npy_h.descr, d->descr, sizeof d->descr);
  if (s != npy_status::ok) return npy_fault(err, s);
  *data_at = pre + header_len;
  return true;
}

bool batch_read(fmt_bytes* b, fmt_batch* out, fmt_error* err) {
  *out = fmt_batch{nullptr, nullptr, elem_type::f64, 0, 0, 0};
  npy_dict d;
  int64_t at = 0;
  if (!fmt_npy_header(b->data, b->len, &d, &at, err)) return false;
  const bool f8 = !std::strcmp(d.type, "<f8"), f4 = !std::strcmp(d.type, "<f4");
  if (!f8 && !f4) {
    err->status = fmt_status::npy_dtype;
    err->text = d.descr;
    err->name = "little-endian float64 ('<f8') or float32 ('<f4')";
    return false;
  }
  if (d.ndim != 3) {
    err->status = fmt_status::npy_dims;
    err->line = d.ndim;
    err->column = 3;
    return false;
  }
  const int64_t B = d.shape[0], N = d.shape[1], D = d.shape[2];
  if (B < 0 || N < 0 || D < 0 || N > INT32_MAX || D > INT32_MAX) return npy_fault(err, npy_status::too_large);
  const int64_t item = f8 ? 8 : 4;
  const u128 need = static_cast<u128>(static_cast<uint64_t>(B)) * static_cast<uint64_t>(N) * static_cast<uint64_t>(D) * static_cast<uint64_t>(item);
  err->npy_found = b->len - at;
  if (need != static_cast<u128>(err->npy_found)) {
    err->npy_h.data_bytes = need > INT64_MAX ? INT64_MAX : static_cast<int64_t>(need);
    return npy_fault(err, npy_status::data_size);
  }
  *out = fmt_batch{nullptr, nullptr, f8 ? elem_type::f64 : elem_type::f32, B, static_cast<int32_t>(N),
                   static_cast<int32_t>(D)};
  const char* src = b->data + at;
  if (!d.fortran_order && at % item == 0) {
    // The file's bytes, read into storage of 64-byte alignment, serve as they are.
    out->storage = b->data;
    out->data = src;
    b->data = nullptr;
    b->len = 0;
    return true;
  }
  char* dst = static_cast<char*>(work_alloc(static_cast<int64_t>(need)));
  if (dst == nullptr) {
    err->status = fmt_status::no_memory;
    return false;
  }
  if (!d.fortran_order) {
    std::memcpy(dst, src, static_cast<size_t>(need));
  } else {
    // Element (i, n, j) lies at i + n B + j B N in Fortran order.
    for (int64_t j = 0; j < D; ++j)
      for (int64_t n = 0; n < N; ++n)
        for (int64_t i = 0; i < B; ++i)
          std::memcpy(dst + ((i * N + n) * D + j) * item, src + (i + n * B + j * B * N) * item, static_cast<size_t>(item));
  }
  out->storage = dst;
  out->data = dst;
  return true;
}

row_source batch_item(const fmt_batch* x, int64_t i) {
  const int64_t item = x->type == elem_type::f64 ? 8 : 4;
  const char* p = static_cast<const char*>(x->data) + i * x->per_item * x->cols * item;
  return row_source{p, x->per_item, x->cols, x->cols, 1, x->type};
}

void batch_free(fmt_batch* x) {
  work_free(x->storage);
  *x = fmt_batch{nullptr, nullptr, elem_type::f64, 0, 0, 0};
}

bool whole_read(const char* bytes, int64_t len, std::vector<int32_t>* values, std::vector<int64_t>* lines,
                fmt_error* err) {
  values->clear();
  lines->clear();
  if (len >= 6 && std::memcmp(bytes, npy_magic, 6) == 0) {
    npy_dict d;
    int64_t at = 0;
    if (!fmt_npy_header(bytes, len, &d, &at, err)) return false;
    if (!integer_type(d.type)) {
      err->status = fmt_status::npy_dtype;
      err->text = d.descr;
      err->name = "little-endian integers";
      return false;
    }
    if (d.ndim != 1) {
      err->status = fmt_status::npy_dims;
      err->line = d.ndim;
      err->column = 1;
      return false;
    }
    const int64_t size = d.type[2] - '0';
    err->npy_found = len - at;
    if (d.shape[0] < 0 || d.shape[0] > INT64_MAX / size || d.shape[0] * size != len - at) {
      err->npy_h.data_bytes = d.shape[0] < 0 || d.shape[0] > INT64_MAX / size ? INT64_MAX : d.shape[0] * size;
      return npy_fault(err, npy_status::data_size);
    }
    for (int64_t i = 0; i < d.shape[0]; ++i) {
      bool fits = true;
      const int64_t v = integer_at(bytes + at + i * size, d.type, &fits);
      if (!fits || v < 0 || v > INT32_MAX) {
        err->status = fmt_status::npy_value;
        err->line = i;
        err->text = fits && d.type[1] == 'i' && v < 0 ? "a negative number" : std::to_string(v);
        if (!fits) err->text = "a number beyond 2^63";
        return false;
      }
      values->push_back(static_cast<int32_t>(v));
      lines->push_back(i);
    }
    return true;
  }
  const char* p = bytes;
  const char* end = bytes + len;
  for (int64_t line = 1; p < end; ++line) {
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    const char* e = nl != nullptr ? nl : end;
    const char* s = p;
    p = nl != nullptr ? nl + 1 : end;
    while (s < e && (*s == ' ' || *s == '\t' || *s == '\r')) ++s;
    const char* t = e;
    while (t > s && (t[-1] == ' ' || t[-1] == '\t' || t[-1] == '\r')) --t;
    if (s == t) continue;
    int64_t v = 0;
    bool ok = true;
    for (const char* q = s; q < t && ok; ++q) {
      ok = *q >= '0' && *q <= '9';
      v = v * 10 + (*q - '0');
      ok = ok && v <= INT32_MAX;
    }
    if (!ok) {
      err->status = fmt_status::whole_not_number;
      err->line = line;
      err->text.assign(s, std::min<size_t>(static_cast<size_t>(t - s), 40));
      return false;
    }
    values->push_back(static_cast<int32_t>(v));
    lines->push_back(line);
  }
  return true;
}
