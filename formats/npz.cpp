// .npz archives: a zip file of .npy members, stored or deflated, as
// np.savez and np.savez_compressed write them (zip64 records included).
// Every offset and size in the archive is checked against the archive's
// bytes before it is used; a deflated member is inflated into storage no
// larger than its bytes can produce (deflate expands by at most 1032 times).
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "formats.hpp"
#include "work.hpp"

namespace {

// Deflate writes at most 258 bytes of output for 2 bits of input.
constexpr int64_t inflate_ratio = 1032;

uint64_t le(const char* p, int bytes) {
  uint64_t v = 0;
  for (int k = bytes - 1; k >= 0; --k) v = v << 8 | static_cast<unsigned char>(p[k]);
  return v;
}

struct member {
  std::string name;
  uint16_t flags;
  uint16_t method;
  uint32_t crc;
  uint64_t csize;
  uint64_t usize;
  uint64_t local;
};

bool broken(fmt_error* err, const char* why) {
  err->status = fmt_status::npz_archive;
  err->text = why;
  return false;
}

// The end of central directory record: the last one whose comment reaches
// the archive's end exactly.
bool find_end(const char* b, int64_t len, int64_t* at) {
  for (int64_t p = len - 22; p >= 0 && p >= len - 22 - 65535; --p) {
    if (std::memcmp(b + p, "PK\x05\x06", 4) == 0 && p + 22 + static_cast<int64_t>(le(b + p + 20, 2)) == len) {
      *at = p;
      return true;
    }
  }
  return false;
}

bool directory(const char* b, int64_t len, std::vector<member>* out, fmt_error* err) {
  int64_t e = 0;
  if (!find_end(b, len, &e)) return broken(err, "no end of central directory record");
  if (le(b + e + 4, 2) != 0 || le(b + e + 6, 2) != 0) return broken(err, "it is split across several disks");
  uint64_t entries = le(b + e + 10, 2), cd_size = le(b + e + 12, 4), cd_at = le(b + e + 16, 4);
  if (entries == 0xffff || cd_size == 0xffffffff || cd_at == 0xffffffff) {
    // zip64: a locator just before the record points at the zip64 record.
    const int64_t loc = e - 20;
    if (loc < 0 || std::memcmp(b + loc, "PK\x06\x07", 4) != 0) return broken(err, "no zip64 end of central directory locator");
    const uint64_t z = le(b + loc + 8, 8);
    if (z > static_cast<uint64_t>(loc) || static_cast<uint64_t>(loc) - z < 56 || std::memcmp(b + z, "PK\x06\x06", 4) != 0)
      return broken(err, "no zip64 end of central directory record");
    entries = le(b + z + 32, 8);
    cd_size = le(b + z + 40, 8);
    cd_at = le(b + z + 48, 8);
  }
  const auto size = static_cast<uint64_t>(len);
  if (cd_at > size || cd_size > size - cd_at) return broken(err, "the central directory lies outside the file");
  if (entries > cd_size / 46) return broken(err, "the central directory is cut short");
  const char* q = b + cd_at;
  const char* cd_end = q + cd_size;
  for (uint64_t i = 0; i < entries; ++i) {
    if (cd_end - q < 46 || std::memcmp(q, "PK\x01\x02", 4) != 0) return broken(err, "the central directory is cut short");
    const int64_t nlen = static_cast<int64_t>(le(q + 28, 2)), xlen = static_cast<int64_t>(le(q + 30, 2)),
                  clen = static_cast<int64_t>(le(q + 32, 2));
    if (cd_end - q - 46 < nlen + xlen + clen) return broken(err, "the central directory is cut short");
    member m{std::string(q + 46, static_cast<size_t>(nlen)), static_cast<uint16_t>(le(q + 8, 2)),
             static_cast<uint16_t>(le(q + 10, 2)), static_cast<uint32_t>(le(q + 16, 4)), le(q + 20, 4), le(q + 24, 4),
             le(q + 42, 4)};
    // zip64 extra field: the sizes and offset that did not fit, in this order.
    for (const char* x = q + 46 + nlen; x + 4 <= q + 46 + nlen + xlen;) {
      const int64_t id = static_cast<int64_t>(le(x, 2)), n = static_cast<int64_t>(le(x + 2, 2));
      const char* body = x + 4;
      if (body + n > q + 46 + nlen + xlen) return broken(err, "an extra field is cut short");
      if (id == 1) {
        const char* v = body;
        for (uint64_t* field : {&m.usize, &m.csize, &m.local}) {
          if (*field != 0xffffffff) continue;
          if (v + 8 > body + n) return broken(err, "a zip64 extra field is cut short");
          *field = le(v, 8);
          v += 8;
        }
      }
      x = body + n;
    }
    if (m.name.empty() || m.name.back() != '/') out->push_back(m);  // directories hold nothing
    q += 46 + nlen + xlen + clen;
  }
  return true;
}

std::string array_name(const std::string& member_name) {
  const size_t n = member_name.size();
  return n > 4 && member_name.compare(n - 4, 4, ".npy") == 0 ? member_name.substr(0, n - 4) : member_name;
}

// A member's bytes as they come out: stored ones straight from the archive,
// deflated ones inflated piece by piece into the places given.
struct unpack {
  const member* m;
  const char* src;  // the member's data in the archive
  bool deflated;
  z_stream z;
  uint64_t fed;     // compressed bytes handed to zlib
  uint64_t taken;   // bytes out so far
  uLong crc;

  // The next piece of input, once zlib has used the last; its counters
  // are 32 bits wide.
  void feed() {
    if (z.avail_in > 0 || fed == m->csize) return;
    const uint64_t piece = std::min<uint64_t>(m->csize - fed, 1u << 30);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(src + fed));
    z.avail_in = static_cast<uInt>(piece);
    fed += piece;
  }
  // Exactly n more bytes of the member into dst; false when it holds fewer
  // or its deflate stream is broken.
  bool take(char* dst, uint64_t n) {
    if (n > m->usize - taken) return false;
    if (!deflated) {
      if (n > 0) std::memcpy(dst, src + taken, static_cast<size_t>(n));
    } else {
      for (uint64_t done = 0; done < n;) {
        feed();
        const uInt chunk = static_cast<uInt>(std::min<uint64_t>(n - done, 1u << 30));
        z.next_out = reinterpret_cast<Bytef*>(dst + done);
        z.avail_out = chunk;
        const int r = inflate(&z, Z_NO_FLUSH);
        done += chunk - z.avail_out;
        if (r == Z_STREAM_END && done < n) return false;
        if (r != Z_OK && r != Z_STREAM_END) return false;  // broken, or no progress left to make
      }
    }
    crc = crc32_z(crc, reinterpret_cast<const Bytef*>(dst), static_cast<z_size_t>(n));
    taken += n;
    return true;
  }
  // Whether the member ends here, whole, with the checksum it promises.
  bool ends() {
    if (taken != m->usize || crc != m->crc) return false;
    if (!deflated) return true;
    char extra;
    for (;;) {
      feed();
      z.next_out = reinterpret_cast<Bytef*>(&extra);
      z.avail_out = 1;
      const int r = inflate(&z, Z_NO_FLUSH);
      if (z.avail_out == 0) return false;  // more bytes than the directory says
      if (r == Z_STREAM_END) return true;
      if (r != Z_OK) return false;
    }
  }
};

bool member_fault(fmt_error* err, const member& m, npy_status s) {
  err->status = fmt_status::npz_member;
  err->text = m.name;
  err->npy = s;
  return false;
}

// The member's .npy: its header read and checked as a .npy file's, then its data.
bool read_npy(unpack* u, const member& m, fmt_matrix* out, fmt_error* err) {
  npy_header& h = err->npy_h;
  h = npy_header{};
  char pre[12] = {};
  const uint64_t first = std::min<uint64_t>(10, m.usize);
  if (!u->take(pre, first)) return false;
  int64_t pre_len = 0, header_len = 0;
  npy_status s = fmt_npy_preamble(pre, static_cast<int64_t>(first), &h, &pre_len, &header_len);
  if (s == npy_status::header_cut && first == 10 && h.major > 1) {
    const uint64_t more = std::min<uint64_t>(2, m.usize - 10);
    if (!u->take(pre + 10, more)) return false;
    s = fmt_npy_preamble(pre, static_cast<int64_t>(10 + more), &h, &pre_len, &header_len);
  }
  if (s != npy_status::ok) return member_fault(err, m, s);
  if (header_len > npy_max_header) return member_fault(err, m, npy_status::header_too_long);
  if (static_cast<uint64_t>(pre_len + header_len) > m.usize) return member_fault(err, m, npy_status::header_cut);
  std::string text(static_cast<size_t>(header_len), '\0');
  if (!u->take(text.data(), static_cast<uint64_t>(header_len))) return false;
  s = npy_parse_header(text.data(), text.size(), &h);
  if (s != npy_status::ok) return member_fault(err, m, s);
  err->npy_found = static_cast<int64_t>(m.usize) - pre_len - header_len;
  if (err->npy_found != h.data_bytes) return member_fault(err, m, npy_status::data_size);
  void* storage = work_alloc(h.data_bytes);
  if (storage == nullptr) {
    err->status = fmt_status::no_memory;
    return false;
  }
  out->storage = storage;
  if (!u->take(static_cast<char*>(storage), static_cast<uint64_t>(h.data_bytes)) || !u->ends()) return false;
  out->rows = row_source{storage, static_cast<int32_t>(h.rows), static_cast<int32_t>(h.cols),
                         h.fortran_order ? 1 : h.cols, h.fortran_order ? h.rows : 1,
                         h.item_size == 4 ? elem_type::f32 : elem_type::f64};
  return true;
}

bool read_member(const char* b, int64_t len, const member& m, fmt_matrix* out, fmt_error* err) {
  if (m.flags & 1) return broken(err, "a member is encrypted");
  if (m.method != 0 && m.method != 8) return broken(err, "a member is compressed by a method other than deflate");
  const auto size = static_cast<uint64_t>(len);
  if (m.local > size || size - m.local < 30 || std::memcmp(b + m.local, "PK\x03\x04", 4) != 0)
    return broken(err, "a member's local header lies outside the file");
  const uint64_t data = m.local + 30 + le(b + m.local + 26, 2) + le(b + m.local + 28, 2);
  if (data > size || m.csize > size - data) return broken(err, "a member's data lies outside the file");
  if (m.method == 0 ? m.usize != m.csize : m.usize / inflate_ratio > m.csize)
    return broken(err, "a member's size does not agree with its compressed size");
  unpack u{&m, b + data, m.method == 8, {}, 0, 0, crc32_z(0, nullptr, 0)};
  if (u.deflated && inflateInit2(&u.z, -MAX_WBITS) != Z_OK) {
    err->status = fmt_status::no_memory;
    return false;
  }
  err->status = fmt_status::ok;
  const bool ok = read_npy(&u, m, out, err);
  if (u.deflated) inflateEnd(&u.z);
  if (!ok && err->status == fmt_status::ok) broken(err, "a member's data is corrupt (its deflate stream, size or checksum)");
  return ok;
}

}  // namespace

bool npz_read(const char* bytes, int64_t len, const char* name, fmt_matrix* out, std::string* member_name,
              fmt_error* err) {
  *out = fmt_matrix{row_source{nullptr, 0, 0, 0, 1, elem_type::f64}, nullptr, {}};
  err->status = fmt_status::ok;
  std::vector<member> members;
  if (!directory(bytes, len, &members, err)) return false;
  const member* m = nullptr;
  if (name != nullptr) {
    for (const member& x : members)
      if (array_name(x.name) == name || x.name == name) m = &x;
    if (m == nullptr) {
      err->status = fmt_status::npz_no_such_array;
      err->text = name;
      return false;
    }
  } else if (members.empty()) {
    err->status = fmt_status::npz_no_array;
    return false;
  } else if (members.size() > 1) {
    err->status = fmt_status::npz_many;
    err->count = static_cast<int64_t>(members.size());
    err->text.clear();
    for (const member& x : members) {
      if (err->text.size() > 60) {
        err->text += ", ...";
        break;
      }
      err->text += (err->text.empty() ? "" : ", ") + array_name(x.name);
    }
    return false;
  } else {
    m = &members[0];
  }
  *member_name = m->name;
  if (!read_member(bytes, len, *m, out, err)) {
    fmt_matrix_free(out);
    return false;
  }
  return true;
}
