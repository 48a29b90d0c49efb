// PLY files: the header parsed line by line, every element walked (lists
// included), the vertex element's picked properties kept; and the vertices
// chosen written back with every property as it lay in the file.
//
// Nothing is trusted before it is checked against the bytes that remain: an
// element count must fit in the rest of the file before any storage is asked
// for it, and a list count before its items are skipped.
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "formats.hpp"
#include "internal.hpp"
#include "work.hpp"

namespace {

constexpr size_t shown_max = 40;

struct type_name {
  const char* name;
  ply_type type;
};
constexpr type_name type_names[] = {
    {"char", ply_type::i8},    {"int8", ply_type::i8},     {"uchar", ply_type::u8},   {"uint8", ply_type::u8},
    {"short", ply_type::i16},  {"int16", ply_type::i16},   {"ushort", ply_type::u16}, {"uint16", ply_type::u16},
    {"int", ply_type::i32},    {"int32", ply_type::i32},   {"uint", ply_type::u32},   {"uint32", ply_type::u32},
    {"float", ply_type::f32},  {"float32", ply_type::f32}, {"double", ply_type::f64}, {"float64", ply_type::f64},
};

int64_t size_of(ply_type t) {
  switch (t) {
    case ply_type::i8: case ply_type::u8: return 1;
    case ply_type::i16: case ply_type::u16: return 2;
    case ply_type::f64: return 8;
    default: return 4;
  }
}

bool is_float(ply_type t) { return t == ply_type::f32 || t == ply_type::f64; }

const char* name_of(ply_type t) {
  for (const type_name& n : type_names)
    if (n.type == t) return n.name;
  return "?";
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// ---- the header ---------------------------------------------------------------

struct header_error {
  int64_t line;
  const char* why;
};

// The blank-separated words of [s, e).
std::vector<std::string_view> words(const char* s, const char* e) {
  std::vector<std::string_view> w;
  while (s < e) {
    while (s < e && (*s == ' ' || *s == '\t')) ++s;
    const char* b = s;
    while (s < e && *s != ' ' && *s != '\t') ++s;
    if (s > b) w.emplace_back(b, static_cast<size_t>(s - b));
  }
  return w;
}

bool type_of(std::string_view w, ply_type* t) {
  for (const type_name& n : type_names)
    if (w == n.name) {
      *t = n.type;
      return true;
    }
  return false;
}

bool parse_header(const char* bytes, int64_t len, ply_file* f, header_error* he) {
  const char* p = bytes;
  const char* end = bytes + len;
  int64_t line = 0;
  bool have_format = false;
  for (;;) {
    if (p == end) {
      *he = {line, "it has no end_header line"};
      return false;
    }
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    const char* e = nl != nullptr ? nl : end;
    const char* next = nl != nullptr ? nl + 1 : end;
    const char* s = p;
    if (e > s && e[-1] == '\r') --e;
    p = next;
    ++line;
    const std::vector<std::string_view> w = words(s, e);
    if (line == 1) continue;  // "ply", checked by the caller
    if (w.empty()) continue;
    const int64_t at = s - bytes, n = e - s;
    if (w[0] == "comment" || w[0] == "obj_info") {
      f->kept_lines.push_back(at);
      f->kept_lines.push_back(n);
    } else if (w[0] == "format") {
      if (have_format || !f->elements.empty()) {
        *he = {line, "a format line after the first, or after an element"};
        return false;
      }
      if (w.size() != 3) {
        *he = {line, "the format line is not 'format TYPE VERSION'"};
        return false;
      }
      if (w[1] == "ascii") f->format = ply_format::ascii;
      else if (w[1] == "binary_little_endian") f->format = ply_format::binary_le;
      else if (w[1] == "binary_big_endian") f->format = ply_format::binary_be;
      else {
        *he = {line, "the format is not ascii, binary_little_endian or binary_big_endian"};
        return false;
      }
      have_format = true;
      f->kept_lines.insert(f->kept_lines.begin(), {at, n});
    } else if (w[0] == "element") {
      int64_t count = 0;
      const char* cs = w.size() == 3 ? w[2].data() : nullptr;
      const auto r = cs != nullptr ? std::from_chars(cs, cs + w[2].size(), count) : std::from_chars_result{};
      if (cs == nullptr || r.ec != std::errc() || r.ptr != cs + w[2].size() || count < 0 || *cs == '-') {
        *he = {line, "the element line is not 'element NAME COUNT' with a whole number COUNT"};
        return false;
      }
      f->elements.push_back(ply_element{std::string(w[1]), count, {}, at, n});
    } else if (w[0] == "property") {
      if (f->elements.empty()) {
        *he = {line, "a property before any element"};
        return false;
      }
      ply_property prop{"", false, ply_type::f32, ply_type::u8, at, n};
      if (w.size() == 3 && type_of(w[1], &prop.type)) {
        prop.name = std::string(w[2]);
      } else if (w.size() == 5 && w[1] == "list" && type_of(w[2], &prop.count_type) && type_of(w[3], &prop.type)) {
        if (is_float(prop.count_type)) {
          *he = {line, "a list whose count is not of an integer type"};
          return false;
        }
        prop.list = true;
        prop.name = std::string(w[4]);
      } else {
        *he = {line, "the property line is not 'property TYPE NAME' or 'property list TYPE TYPE NAME' of known types"};
        return false;
      }
      f->elements.back().props.push_back(prop);
    } else if (w[0] == "end_header") {
      if (!have_format) {
        *he = {line, "it has no format line"};
        return false;
      }
      f->data_at = next - bytes;
      return true;
    } else {
      *he = {line, "a line that is none of format, comment, obj_info, element, property, end_header"};
      return false;
    }
  }
}

// ---- values -----------------------------------------------------------------------

template <class T>
T load(const char* p, bool big) {
  T v;
  if (!big) {
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  unsigned char b[sizeof(T)];
  for (size_t k = 0; k < sizeof(T); ++k) b[k] = static_cast<unsigned char>(p[sizeof(T) - 1 - k]);
  std::memcpy(&v, b, sizeof v);
  return v;
}

// A binary value of type t at p, as a double (every type converts exactly).
double value_at(const char* p, ply_type t, bool big) {
  switch (t) {
    case ply_type::i8: return static_cast<int8_t>(*p);
    case ply_type::u8: return static_cast<unsigned char>(*p);
    case ply_type::i16: return load<int16_t>(p, big);
    case ply_type::u16: return load<uint16_t>(p, big);
    case ply_type::i32: return load<int32_t>(p, big);
    case ply_type::u32: return load<uint32_t>(p, big);
    case ply_type::f32: return static_cast<double>(load<float>(p, big));
    default: return load<double>(p, big);
  }
}

// A binary list count at p: false when negative.
bool count_at(const char* p, ply_type t, bool big, int64_t* n) {
  const double v = value_at(p, t, big);
  *n = static_cast<int64_t>(v);
  return v >= 0.0;
}

// The range of each integer type.
void range_of(ply_type t, int64_t* lo, int64_t* hi) {
  switch (t) {
    case ply_type::i8: *lo = INT8_MIN, *hi = INT8_MAX; break;
    case ply_type::u8: *lo = 0, *hi = UINT8_MAX; break;
    case ply_type::i16: *lo = INT16_MIN, *hi = INT16_MAX; break;
    case ply_type::u16: *lo = 0, *hi = UINT16_MAX; break;
    case ply_type::i32: *lo = INT32_MIN, *hi = INT32_MAX; break;
    default: *lo = 0, *hi = UINT32_MAX;
  }
}

// An ascii token [s, e) as a value of type t: a whole number in the type's
// range, or a number as scanf reads "%lf" (double) or "%f" (float: the float
// nearest the text, not the double rounded again).
bool token_value(const char* s, const char* e, ply_type t, double* v) {
  if (!is_float(t)) {
    int64_t x = 0, lo = 0, hi = 0;
    const scan_result r = scan_int(s, e, true, &x);
    range_of(t, &lo, &hi);
    if (r.status != scan_status::converted || r.next != e || x < lo || x > hi) return false;
    *v = static_cast<double>(x);
    return true;
  }
  const scan_result r = scan_double(s, e, true, v);
  if (r.status != scan_status::converted || r.next != e) return false;
  if (t == ply_type::f64) return true;
  float x;
  const auto fr = std::from_chars(s, e, x);
  if (fr.ec != std::errc() || fr.ptr != e) {
    // Hex, a '+' sign, inf, nan, out of range: strtof rounds them itself.
    const std::string copy(s, e);
    x = std::strtof(copy.c_str(), nullptr);
  }
  *v = static_cast<double>(x);
  return true;
}

// ---- the walk over the data --------------------------------------------------------

struct walker {
  const char* bytes;
  const char* p;
  const char* end;
  bool big;
  bool ascii;
  fmt_error* err;

  int64_t line_of(const char* at) const {
    int64_t n = 1;
    for (const char* q = bytes; q < at; ++q) n += *q == '\n';
    return n;
  }
  bool cut(const ply_element& e) {
    err->status = fmt_status::ply_cut;
    err->text = e.name;
    return false;
  }
  // The next ascii token; false at the end of the text.
  bool token(const char** s, const char** e) {
    while (p < end && is_space(*p)) ++p;
    if (p == end) return false;
    *s = p;
    while (p < end && !is_space(*p)) ++p;
    *e = p;
    return true;
  }
  bool bad_value(const char* s, const char* e, ply_type t) {
    err->status = fmt_status::ply_value;
    err->line = line_of(s);
    err->text.assign(s, std::min(static_cast<size_t>(e - s), shown_max));
    err->name = name_of(t);
    return false;
  }

  // One property of a record: a scalar (into *out when out is not null) or
  // a list, skipped.
  bool property(const ply_element& el, const ply_property& pr, double* out) {
    if (ascii) {
      const char *s, *e;
      if (!token(&s, &e)) return cut(el);
      double v;
      if (!pr.list) {
        if (out != nullptr && !token_value(s, e, pr.type, out)) return bad_value(s, e, pr.type);
        return true;
      }
      if (!token_value(s, e, pr.count_type, &v)) return bad_value(s, e, pr.count_type);
      if (v < 0.0) {
        err->status = fmt_status::ply_list_count;
        err->line = line_of(s);
        err->text = el.name;
        return false;
      }
      for (int64_t k = static_cast<int64_t>(v); k > 0; --k)
        if (!token(&s, &e)) return cut(el);
      return true;
    }
    if (!pr.list) {
      const int64_t size = size_of(pr.type);
      if (end - p < size) return cut(el);
      if (out != nullptr) *out = value_at(p, pr.type, big);
      p += size;
      return true;
    }
    const int64_t cs = size_of(pr.count_type);
    int64_t n = 0;
    if (end - p < cs) return cut(el);
    if (!count_at(p, pr.count_type, big, &n)) {
      err->status = fmt_status::ply_list_count;
      err->line = 0;
      err->text = el.name;
      return false;
    }
    p += cs;
    if (n > (end - p) / size_of(pr.type)) return cut(el);
    p += n * size_of(pr.type);
    return true;
  }
};

// The least bytes a record of e takes: each value, each list's count, and
// in ascii each token and the blank after it.
int64_t least_bytes(const ply_element& e, bool ascii) {
  int64_t n = 0;
  for (const ply_property& p : e.props) n += ascii ? 2 : size_of(p.list ? p.count_type : p.type);
  return n;
}

}  // namespace

bool ply_read(const char* bytes, int64_t len, const std::vector<std::string>* picks, bool spans, ply_file* f,
              fmt_matrix* out, fmt_error* err) {
  *f = ply_file{ply_format::ascii, {}, {}, 0, -1, 0, 0, {}};
  *out = fmt_matrix{row_source{nullptr, 0, 0, 0, 1, elem_type::f64}, nullptr, {}};
  if (len < 4 || std::memcmp(bytes, "ply", 3) != 0 || !(bytes[3] == '\n' || (bytes[3] == '\r' && len > 4 && bytes[4] == '\n'))) {
    err->status = fmt_status::ply_not_ply;
    return false;
  }
  header_error he{0, ""};
  if (!parse_header(bytes, len, f, &he)) {
    err->status = fmt_status::ply_header;
    err->line = he.line;
    err->text = he.why;
    return false;
  }
  for (size_t e = 0; e < f->elements.size() && f->vertex < 0; ++e)
    if (f->elements[e].name == "vertex") f->vertex = static_cast<int32_t>(e);
  if (f->vertex < 0) {
    err->status = fmt_status::ply_no_vertex;
    return false;
  }
  const ply_element& v = f->elements[static_cast<size_t>(f->vertex)];

  // The picked properties, x, y, z by default.
  std::vector<std::string> names;
  for (const ply_property& p : v.props) names.push_back(p.name);
  const std::vector<std::string> xyz = {"x", "y", "z"};
  std::vector<int32_t> columns;
  if (!fmt_pick_resolve(picks != nullptr ? *picks : xyz, names, static_cast<int64_t>(names.size()), &columns, err))
    return false;
  bool all_float = true;
  for (int32_t c : columns) {
    const ply_property& p = v.props[static_cast<size_t>(c)];
    if (p.list) {
      err->status = fmt_status::ply_list_column;
      err->text = p.name;
      return false;
    }
    all_float = all_float && p.type == ply_type::f32;
    out->names.push_back(p.name);
  }
  const int32_t cols = static_cast<int32_t>(columns.size());
  // Where each property goes in a row, or -1.
  std::vector<int32_t> slot(v.props.size(), -1);
  for (int32_t c = 0; c < cols; ++c) slot[static_cast<size_t>(columns[static_cast<size_t>(c)])] = c;

  const bool ascii = f->format == ply_format::ascii;
  walker w{bytes, bytes + f->data_at, bytes + len, f->format == ply_format::binary_be, ascii, err};
  std::vector<double> row(static_cast<size_t>(cols));
  bool fixed = !ascii;
  for (const ply_property& p : v.props) fixed = fixed && !p.list;

  for (size_t ei = 0; ei < f->elements.size(); ++ei) {
    const ply_element& el = f->elements[ei];
    if (el.props.empty()) continue;  // its records take no bytes
    const int64_t least = least_bytes(el, ascii);
    // Every record takes at least `least` bytes (ascii: but for the last blank).
    if (el.count > (w.end - w.p + (ascii ? 1 : 0)) / least) return w.cut(el);
    const bool is_vertex = static_cast<int32_t>(ei) == f->vertex;
    if (!is_vertex) {
      bool fixed_size = !ascii;
      for (const ply_property& p : el.props) fixed_size = fixed_size && !p.list;
      if (fixed_size) {
        w.p += el.count * least;  // checked above
        continue;
      }
      for (int64_t r = 0; r < el.count; ++r)
        for (const ply_property& p : el.props)
          if (!w.property(el, p, nullptr)) return false;
      continue;
    }

    if (el.count > INT32_MAX) {
      err->status = fmt_status::too_large;
      return false;
    }
    const int64_t count = el.count;
    const int64_t item = all_float ? 4 : 8;
    void* storage = work_alloc(count * cols * item);
    if (storage == nullptr) {
      err->status = fmt_status::no_memory;
      return false;
    }
    out->storage = storage;
    out->rows = row_source{storage, static_cast<int32_t>(count), cols, cols, 1, all_float ? elem_type::f32 : elem_type::f64};
    f->vertex_at = w.p - bytes;
    if (fixed) {
      // Binary records of one size: each picked value at its offset.
      f->record_size = least;
      std::vector<int64_t> offset(static_cast<size_t>(cols));
      std::vector<ply_type> type(static_cast<size_t>(cols));
      int64_t at = 0;
      for (size_t k = 0; k < v.props.size(); ++k) {
        if (slot[k] >= 0) {
          offset[static_cast<size_t>(slot[k])] = at;
          type[static_cast<size_t>(slot[k])] = v.props[k].type;
        }
        at += size_of(v.props[k].type);
      }
      const char* rec = w.p;
      if (all_float && !w.big) {
        float* o = static_cast<float*>(storage);
        const int64_t* off = offset.data();
        for (int64_t r = 0; r < count; ++r, rec += least)
          for (int32_t c = 0; c < cols; ++c) std::memcpy(o++, rec + off[c], sizeof(float));
      } else if (all_float) {
        float* o = static_cast<float*>(storage);
        for (int64_t r = 0; r < count; ++r, rec += least)
          for (int32_t c = 0; c < cols; ++c) *o++ = load<float>(rec + offset[static_cast<size_t>(c)], true);
      } else {
        double* o = static_cast<double*>(storage);
        for (int64_t r = 0; r < count; ++r, rec += least)
          for (int32_t c = 0; c < cols; ++c)
            *o++ = value_at(rec + offset[static_cast<size_t>(c)], type[static_cast<size_t>(c)], w.big);
      }
      w.p = rec;
      continue;
    }
    if (spans) f->spans.reserve(static_cast<size_t>(count) + 1);
    for (int64_t r = 0; r < count; ++r) {
      if (spans) {
        if (ascii)
          while (w.p < w.end && is_space(*w.p)) ++w.p;
        f->spans.push_back(w.p - bytes);
      }
      for (size_t k = 0; k < v.props.size(); ++k) {
        const int32_t s = slot[k];
        if (!w.property(el, v.props[k], s >= 0 ? &row[static_cast<size_t>(s)] : nullptr)) return false;
      }
      if (all_float) {
        float* o = static_cast<float*>(storage) + r * cols;
        for (int32_t c = 0; c < cols; ++c) o[c] = static_cast<float>(row[static_cast<size_t>(c)]);  // exact: each came from a float
      } else {
        std::memcpy(static_cast<double*>(storage) + r * cols, row.data(), sizeof(double) * static_cast<size_t>(cols));
      }
    }
    if (spans) f->spans.push_back(w.p - bytes);
  }
  // The data ends with the last element (ascii: blanks may follow).
  if (ascii)
    while (w.p < w.end && is_space(*w.p)) ++w.p;
  if (w.p != w.end) {
    err->status = fmt_status::ply_after;
    err->line = ascii ? w.line_of(w.p) : 0;
    err->column = w.end - w.p;
    return false;
  }
  return true;
}

bool ply_write_vertices(FILE* out, const char* bytes, const ply_file* f, const int32_t* rows, int64_t count) {
  auto put = [&](const char* s, size_t n) { return std::fwrite(s, 1, n, out) == n; };
  auto line = [&](int64_t at, int64_t n) { return put(bytes + at, static_cast<size_t>(n)) && put("\n", 1); };
  const ply_element& v = f->elements[static_cast<size_t>(f->vertex)];
  bool ok = put("ply\n", 4);
  for (size_t k = 0; k < f->kept_lines.size(); k += 2) ok = ok && line(f->kept_lines[k], f->kept_lines[k + 1]);
  const std::string element = "element " + v.name + " " + std::to_string(count) + "\n";
  ok = ok && put(element.data(), element.size());
  for (const ply_property& p : v.props) ok = ok && line(p.line_at, p.line_len);
  ok = ok && put("end_header\n", 11);
  for (int64_t i = 0; i < count && ok; ++i) {
    const int64_t r = rows[i];
    if (f->record_size > 0) {
      ok = put(bytes + f->vertex_at + r * f->record_size, static_cast<size_t>(f->record_size));
      continue;
    }
    const char* s = bytes + f->spans[static_cast<size_t>(r)];
    const char* e = bytes + f->spans[static_cast<size_t>(r) + 1];
    if (f->format != ply_format::ascii) {
      ok = put(s, static_cast<size_t>(e - s));
      continue;
    }
    while (e > s && is_space(e[-1])) --e;
    ok = put(s, static_cast<size_t>(e - s)) && put("\n", 1);
  }
  return ok;
}
