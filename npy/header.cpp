// The header of a .npy file: a Python dict literal, parsed strictly, and
// written as np.save writes it.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "npy.hpp"

namespace {

// Nesting deeper than this is refused: no header of ours nests past 3.
constexpr int max_depth = 32;

enum class kind { string, integer, other_number, truth, none, tuple, list, dict, set };

// One parsed literal: its kind, its source text and what the checks need.
struct literal {
  kind k = kind::none;
  const char* begin = nullptr;  // source text, quotes and brackets included
  const char* end = nullptr;
  const char* text = nullptr;   // a string's content, escapes as written
  size_t text_len = 0;
  bool truth = false;           // True or False
  bool negative = false;        // an integer with a minus sign
  bool huge = false;            // an integer beyond 64 bits
  uint64_t value = 0;           // an integer's magnitude (saturated)
  int64_t items = 0;            // elements of a tuple, list, dict or set
  bool whole_items = true;      // every element a whole number from 0 up
  uint64_t first[npy_dict_dims] = {};  // the first such elements
  bool huge_item = false;       // one of them beyond 64 bits
  bool huge_at[npy_dict_dims] = {};
};

// The header's three values, found while the dict is parsed.
struct entries {
  literal descr, order, shape;
  bool has_descr = false, has_order = false, has_shape = false;
  bool other_key = false;  // a key that is not one of them, or one given twice
};

struct parser {
  const char* p;
  const char* end;

  // White space between tokens; inside brackets Python allows line breaks too.
  void skip() {
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f')) ++p;
  }
  bool eat(char c) {
    skip();
    if (p < end && *p == c) {
      ++p;
      return true;
    }
    return false;
  }
  bool at(char c) {
    skip();
    return p < end && *p == c;
  }

  bool string(literal* v) {
    const char quote = *p++;
    v->text = p;
    while (p < end && *p != quote) {
      if (*p == '\n' || *p == '\r') return false;
      if (*p == '\\') {  // an escape: the next character belongs to the string
        if (++p == end) return false;
        if (*p == '\r' && p + 1 < end && p[1] == '\n') ++p;  // a continued line
      }
      ++p;
    }
    if (p == end) return false;
    v->text_len = static_cast<size_t>(p - v->text);
    ++p;
    v->k = kind::string;
    return true;
  }

  static bool is_digit(char c) { return c >= '0' && c <= '9'; }
  static bool is_word(char c) {
    return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
  }

  // A number: plain digits make an integer, anything else that Python could
  // read as a number (a point, an exponent, a suffix) another number.
  bool number(literal* v) {
    const char* s = p;
    bool digits_only = true;
    while (p < end) {
      const char c = *p;
      if (is_digit(c)) {
      } else if (is_word(c) || c == '.') {
        digits_only = false;
      } else if ((c == '+' || c == '-') && (p[-1] == 'e' || p[-1] == 'E') && !digits_only) {
      } else {
        break;
      }
      ++p;
    }
    if (!digits_only) {
      v->k = kind::other_number;
      return true;
    }
    // Python 3 refuses leading zeros ("007"), but not "000".
    if (p - s > 1 && *s == '0') {
      for (const char* q = s; q < p; ++q)
        if (*q != '0') return false;
    }
    v->k = kind::integer;
    for (const char* q = s; q < p; ++q) {
      const uint64_t d = static_cast<uint64_t>(*q - '0');
      if (v->value > (UINT64_MAX - d) / 10) {
        v->huge = true;
        v->value = UINT64_MAX;
      } else {
        v->value = v->value * 10 + d;
      }
    }
    return true;
  }

  bool name(literal* v) {
    const char* s = p;
    while (p < end && is_word(*p)) ++p;
    const size_t n = static_cast<size_t>(p - s);
    if (n == 4 && !std::memcmp(s, "True", 4)) {
      v->k = kind::truth;
      v->truth = true;
    } else if (n == 5 && !std::memcmp(s, "False", 5)) {
      v->k = kind::truth;
    } else if (n == 4 && !std::memcmp(s, "None", 4)) {
      v->k = kind::none;
    } else {
      return false;  // any other name is not a literal
    }
    return true;
  }

  // Elements of a tuple, list or set up to `close`, each a value, commas
  // between them and optionally after the last.
  bool sequence(literal* v, char close, int depth) {
    while (!eat(close)) {
      literal item;
      if (!value(&item, depth + 1)) return false;
      if (item.k == kind::integer && !item.negative) {
        if (v->items < npy_dict_dims) {
          v->first[v->items] = item.value;
          v->huge_at[v->items] = item.huge;
        }
        if (item.huge) v->huge_item = true;
      } else {
        v->whole_items = false;
      }
      ++v->items;
      if (!eat(',') && !at(close)) return false;
    }
    return true;
  }

  // `{`: a dict of key: value pairs, or a set. Top-level entries are noted.
  bool braces(literal* v, int depth, entries* top) {
    v->k = kind::dict;
    while (!eat('}')) {
      literal key;
      if (!value(&key, depth + 1)) return false;
      if (v->items == 0 && (at(',') || at('}'))) v->k = kind::set;
      if (v->k == kind::set) {
        ++v->items;
        if (!eat(',') && !at('}')) return false;
        continue;
      }
      if (!eat(':')) return false;
      literal val;
      if (!value(&val, depth + 1)) return false;
      if (top != nullptr) note(top, key, val);
      ++v->items;
      if (!eat(',') && !at('}')) return false;
    }
    return true;
  }

  static void note(entries* top, const literal& key, const literal& val) {
    auto is = [&](const char* want) {
      return key.k == kind::string && key.text_len == std::strlen(want) &&
             !std::memcmp(key.text, want, key.text_len);
    };
    auto keep = [&](literal* slot, bool* has) {
      if (*has) top->other_key = true;
      *slot = val;
      *has = true;
    };
    if (is("descr")) keep(&top->descr, &top->has_descr);
    else if (is("fortran_order")) keep(&top->order, &top->has_order);
    else if (is("shape")) keep(&top->shape, &top->has_shape);
    else top->other_key = true;
  }

  bool value(literal* v, int depth, entries* top = nullptr) {
    if (depth > max_depth) return false;
    skip();
    if (p == end) return false;
    v->begin = p;
    bool ok = false;
    const char c = *p;
    if (c == '\'' || c == '"') {
      ok = string(v);
    } else if (c == '-' || c == '+') {
      ++p;
      skip();
      ok = p < end && (is_digit(*p) || *p == '.') && number(v);
      if (c == '-' && v->k == kind::integer) v->negative = v->value != 0;
    } else if (is_digit(c) || c == '.') {
      ok = number(v);
    } else if (is_word(c)) {
      ok = name(v);
    } else if (c == '(') {
      ++p;
      // "(x)" is x itself; "()" and "(x,)" and "(x, y)" are tuples.
      if (eat(')')) {
        v->k = kind::tuple;
        ok = true;
      } else {
        literal inner;
        if (!value(&inner, depth + 1)) return false;
        if (eat(')')) {
          inner.begin = v->begin;
          inner.end = p;
          *v = inner;
          return true;
        }
        if (!eat(',')) return false;
        v->k = kind::tuple;
        v->items = 1;
        if (inner.k == kind::integer && !inner.negative) {
          v->first[0] = inner.value;
          v->huge_item = v->huge_at[0] = inner.huge;
        } else {
          v->whole_items = false;
        }
        ok = sequence(v, ')', depth);
      }
    } else if (c == '[') {
      ++p;
      v->k = kind::list;
      ok = sequence(v, ']', depth);
    } else if (c == '{') {
      ++p;
      ok = braces(v, depth, top);
    }
    v->end = p;
    return ok;
  }
};

}  // namespace

npy_status npy_parse_header(const char* text, size_t len, npy_header* h) {
  parser ps{text, text + len};
  entries e;
  literal top;
  ps.skip();
  if (!ps.at('{') || !ps.value(&top, 0, &e) || top.k != kind::dict) return npy_status::bad_header;
  ps.skip();
  if (ps.p != ps.end) return npy_status::bad_header;
  if (!e.has_descr || !e.has_order || !e.has_shape || e.other_key) return npy_status::bad_keys;

  if (e.order.k != kind::truth) return npy_status::bad_order;
  h->fortran_order = e.order.truth;

  const size_t shown = static_cast<size_t>(e.descr.end - e.descr.begin);
  const size_t room = sizeof h->descr - 1;
  if (shown <= room) {
    std::memcpy(h->descr, e.descr.begin, shown);
    h->descr[shown] = '\0';
  } else {
    std::memcpy(h->descr, e.descr.begin, room - 3);
    std::memcpy(h->descr + room - 3, "...", 4);
  }
  auto descr_is = [&](const char* want) {
    return e.descr.k == kind::string && e.descr.text_len == 3 && !std::memcmp(e.descr.text, want, 3);
  };
  if (descr_is("<f8")) h->item_size = 8;
  else if (descr_is("<f4")) h->item_size = 4;
  else return npy_status::bad_dtype;

  if (e.shape.k != kind::tuple || !e.shape.whole_items) return npy_status::bad_shape;
  h->ndim = static_cast<int32_t>(e.shape.items > INT32_MAX ? INT32_MAX : e.shape.items);
  if (e.shape.items != 2) return npy_status::not_2d;
  if (e.shape.huge_item || e.shape.first[0] > INT32_MAX || e.shape.first[1] > INT32_MAX)
    return npy_status::too_large;
  h->rows = static_cast<int64_t>(e.shape.first[0]);
  h->cols = static_cast<int64_t>(e.shape.first[1]);
  // Below 2^31 each, so the product stays below 2^62 and the bytes below 2^65:
  // checked before multiplying by the item size.
  const int64_t count = h->rows * h->cols;
  if (count > INT64_MAX / h->item_size) return npy_status::too_many_bytes;
  h->data_bytes = count * h->item_size;
  return npy_status::ok;
}

npy_status npy_parse_dict(const char* text, size_t len, npy_dict* d) {
  *d = npy_dict{};
  parser ps{text, text + len};
  entries e;
  literal top;
  ps.skip();
  if (!ps.at('{') || !ps.value(&top, 0, &e) || top.k != kind::dict) return npy_status::bad_header;
  ps.skip();
  if (ps.p != ps.end) return npy_status::bad_header;
  if (!e.has_descr || !e.has_order || !e.has_shape || e.other_key) return npy_status::bad_keys;
  if (e.order.k != kind::truth) return npy_status::bad_order;
  d->fortran_order = e.order.truth;
  const size_t shown = std::min(static_cast<size_t>(e.descr.end - e.descr.begin), sizeof d->descr - 1);
  std::memcpy(d->descr, e.descr.begin, shown);
  if (e.descr.k == kind::string && e.descr.text_len < sizeof d->type)
    std::memcpy(d->type, e.descr.text, e.descr.text_len);
  if (e.shape.k != kind::tuple || !e.shape.whole_items) return npy_status::bad_shape;
  d->ndim = static_cast<int32_t>(e.shape.items > INT32_MAX ? INT32_MAX : e.shape.items);
  for (int32_t k = 0; k < d->ndim && k < npy_dict_dims; ++k)
    d->shape[k] = e.shape.huge_at[k] || e.shape.first[k] > INT64_MAX ? -1 : static_cast<int64_t>(e.shape.first[k]);
  return npy_status::ok;
}

// ---- writing ------------------------------------------------------------------

int64_t npy_record_size(const npy_field*, int32_t nfields) { return int64_t{8} * nfields; }

void npy_put_i8(char* p, int64_t v) {
  uint64_t u = static_cast<uint64_t>(v);
  for (int b = 0; b < 8; ++b) p[b] = static_cast<char>((u >> (8 * b)) & 0xff);
}

void npy_put_f8(char* p, double v) { npy_put_i8(p, std::bit_cast<int64_t>(v)); }

std::string npy_header_around(std::string dict) {
  // Magic, version and length take 10 bytes; the dict, its padding and the
  // closing newline fill up to the next multiple of 64 (a whole 64 more when
  // it already ends on one, as NumPy pads).
  dict.append(64 - (10 + dict.size() + 1) % 64, ' ');
  dict += '\n';
  std::string out(npy_magic, 6);
  out += '\x01';
  out += '\0';
  out += static_cast<char>(dict.size() & 0xff);
  out += static_cast<char>(dict.size() >> 8);
  return out + dict;
}

size_t npy_struct_header(char* out, size_t cap, const npy_field* fields, int32_t nfields,
                         int64_t count) {
  // The dict as np.save writes it: keys sorted, "'key': repr(value), " each,
  // then room for the count to grow to 21 digits.
  char dict[4096];
  size_t n = 0;
  auto put = [&](const char* s) {
    const size_t l = std::strlen(s);
    if (n + l < sizeof dict) std::memcpy(dict + n, s, l);
    n += l;
  };
  put("{'descr': [");
  for (int32_t f = 0; f < nfields; ++f) {
    put(f > 0 ? ", ('" : "('");
    put(fields[f].name);
    put(fields[f].type == npy_type::i8 ? "', '<i8')" : "', '<f8')");
  }
  char shape[64];
  const int digits = std::snprintf(shape, sizeof shape, "%lld", static_cast<long long>(count));
  put("], 'fortran_order': False, 'shape': (");
  put(shape);
  put(",), }");
  for (int d = digits; d < 21; ++d) put(" ");
  // Magic, version and length take 10 bytes; the dict, its padding and the
  // closing newline fill up to the next multiple of 64 (a whole 64 more when
  // it already ends on one, as NumPy pads).
  const size_t unpadded = 10 + n + 1;
  const size_t pad = 64 - unpadded % 64;
  const size_t total = unpadded + pad;
  if (n >= sizeof dict || total > cap || total - 10 > 65535) return 0;
  std::memcpy(out, npy_magic, 6);
  out[6] = 1;
  out[7] = 0;
  out[8] = static_cast<char>((total - 10) & 0xff);
  out[9] = static_cast<char>((total - 10) >> 8);
  std::memcpy(out + 10, dict, n);
  std::memset(out + 10 + n, ' ', pad);
  out[total - 1] = '\n';
  return total;
}
