#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "internal.hpp"
#include "work.hpp"

namespace {

constexpr int end_char = -1;   // no character follows: end of input
constexpr int more_char = -2;  // the range ended but input goes on

bool is_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool is_digit(int c) { return c >= '0' && c <= '9'; }
bool is_xdigit(int c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int lower(int c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

// The character at p, or a mark for the end of the range.
int peek(const char* p, const char* last, bool at_end) {
  if (p < last) return static_cast<unsigned char>(*p);
  return at_end ? end_char : more_char;
}

// strtod on a copy of [s, e) made into a C string. Returns false when it
// converts nothing, as the C library's scanner then fails.
bool strtod_range(const char* s, const char* e, double* value) {
  char small[128];
  size_t len = static_cast<size_t>(e - s);
  char* text = len < sizeof small ? small : static_cast<char*>(std::malloc(len + 1));
  if (text == nullptr) return false;
  std::memcpy(text, s, len);
  text[len] = '\0';
  char* end = nullptr;
  double v = std::strtod(text, &end);
  bool ok = end != text;
  if (text != small) std::free(text);
  if (ok) *value = v;
  return ok;
}

// Converts the characters the scanner took. Plain decimal text goes through
// std::from_chars, which rounds correctly like strtod; a '+' sign, hex, and
// values that overflow or underflow go to strtod itself, so every value is
// exactly the one "%lf" stores.
bool convert(const char* s, const char* e, bool decimal, double* value) {
  if (decimal && *s != '+') {
    double v;
    auto r = std::from_chars(s, e, v);
    if (r.ec == std::errc()) {
      *value = v;
      return true;
    }
  }
  return strtod_range(s, e, value);
}

}  // namespace

scan_result scan_double(const char* first, const char* last, bool at_end, double* value) {
  const char* p = first;
  while (p < last && is_space(static_cast<unsigned char>(*p))) ++p;
  if (p == last) return {p, at_end ? scan_status::end_of_input : scan_status::need_more};

  const char* start = p;
  const scan_result more{start, scan_status::need_more};
  // A failed match inside "nan" or "infinity" consumes the offending
  // character too, as the C library's scanner does.
  auto fail_at = [&](const char* q, int c) {
    return scan_result{c == end_char ? q : q + 1, scan_status::mismatch};
  };
  auto expect = [&](const char*& q, char want) -> int {  // 1 matched, 0 failed, -1 more
    int c = peek(q, last, at_end);
    if (c == more_char) return -1;
    if (c == end_char || lower(c) != want) return 0;
    ++q;
    return 1;
  };

  int c = peek(p, last, at_end);
  bool got_sign = false;
  if (c == '-' || c == '+') {
    got_sign = true;
    ++p;
    c = peek(p, last, at_end);
    if (c == more_char) return more;
    if (c == end_char) return {p, scan_status::mismatch};
  }

  if (lower(c) == 'n' || lower(c) == 'i') {
    const char* word = lower(c) == 'n' ? "nan" : "inf";
    ++p;
    for (const char* w = word + 1; *w != '\0'; ++w) {
      int m = expect(p, *w);
      if (m < 0) return more;
      if (m == 0) return fail_at(p, peek(p, last, at_end));
    }
    if (word[0] == 'i') {
      // "inf" may go on to "infinity"; once an 'i' follows, the whole word must.
      int d = peek(p, last, at_end);
      if (d == more_char) return more;
      if (d != end_char && lower(d) == 'i') {
        ++p;
        for (const char* w = "nity"; *w != '\0'; ++w) {
          int m = expect(p, *w);
          if (m < 0) return more;
          if (m == 0) return fail_at(p, peek(p, last, at_end));
        }
      }
    }
    strtod_range(start, p, value);
    return {p, scan_status::converted};
  }

  bool hex = false, got_digit = false, got_dot = false, got_e = false;
  int exp_char = 'e';
  if (c == '0') {
    ++p;
    c = peek(p, last, at_end);
    if (c == more_char) return more;
    if (c != end_char && lower(c) == 'x') {
      hex = true;
      exp_char = 'p';
      ++p;
      c = peek(p, last, at_end);
    } else {
      got_digit = true;
    }
  }
  for (;; c = peek(++p, last, at_end)) {
    if (c == more_char) return more;
    if (c == end_char) break;
    if (is_digit(c) || (hex && !got_e && is_xdigit(c))) {
      got_digit = true;
    } else if (got_e && lower(p[-1]) == exp_char && (c == '-' || c == '+')) {
      // sign of the exponent
    } else if (got_digit && !got_e && lower(c) == exp_char) {
      got_e = got_dot = true;
    } else if (c == '.' && !got_dot) {
      got_dot = true;
    } else {
      break;
    }
  }

  const std::ptrdiff_t taken = p - start;
  if (taken == got_sign || (hex && taken == 2 + got_sign)) return {p, scan_status::mismatch};
  // What was taken may still not convert as a whole ("1e+" converts as 1,
  // "." not at all); strtod's verdict on the taken text decides.
  if (!convert(start, p, !hex, value)) return {p, scan_status::mismatch};
  return {p, scan_status::converted};
}

scan_result scan_int(const char* first, const char* last, bool at_end, int64_t* value) {
  const char* p = first;
  while (p < last && is_space(static_cast<unsigned char>(*p))) ++p;
  if (p == last) return {p, at_end ? scan_status::end_of_input : scan_status::need_more};

  const char* start = p;
  int c = peek(p, last, at_end);
  bool negative = false;
  if (c == '-' || c == '+') {
    negative = c == '-';
    c = peek(++p, last, at_end);
  }
  // Accumulate negatively so that INT64_MIN fits; saturate beyond it.
  int64_t v = 0;
  bool any = false;
  for (; is_digit(c); c = peek(++p, last, at_end)) {
    any = true;
    int d = c - '0';
    if (v < (INT64_MIN + d) / 10) v = INT64_MIN;
    else v = v * 10 - d;
  }
  if (c == more_char) return {start, scan_status::need_more};
  if (!any) return {p, scan_status::mismatch};
  *value = negative ? v : (v == INT64_MIN ? INT64_MAX : -v);
  return {p, scan_status::converted};
}

// ---- reading from a file descriptor --------------------------------------

namespace {

constexpr size_t first_capacity = size_t{1} << 21;
// Once the pending text of one number is this long, keep reading until a
// character arrives that ends it, so that a huge number is scanned a few
// times, not once per read() (quadratic time through a pipe).
constexpr size_t long_token = size_t{1} << 16;

// Characters that may continue a number: digits, signs, '.', hex digits and
// the letters of exponents, "0x", "inf", "infinity" and "nan".
bool may_continue_number(int c) {
  if (is_xdigit(c) || c == '.' || c == '+' || c == '-') return true;
  switch (lower(c)) {
    case 'x': case 'p': case 'i': case 'n': case 't': case 'y': return true;
    default: return false;
  }
}

// Keeps the unread text, moved to the front, and appends what the descriptor
// has now, growing the buffer when the unread text already fills it.
void refill(scan_reader* r) {
  size_t keep = r->len - r->pos;
  if (r->pos > 0) {
    std::memmove(r->data, r->data + r->pos, keep);
    r->pos = 0;
    r->len = keep;
  }
  if (r->len == r->cap) {
    // Storage from work_alloc: one huge page rather than 512 page faults.
    size_t cap = r->cap == 0 ? first_capacity : r->cap * 2;
    char* grown = cap > INT64_MAX ? nullptr : static_cast<char*>(work_alloc(static_cast<int64_t>(cap)));
    if (grown == nullptr) {
      r->no_memory = true;
      return;
    }
    if (r->len > 0) std::memcpy(grown, r->data, r->len);
    std::free(r->data);
    r->data = grown;
    r->cap = cap;
  }
  for (;;) {
    ssize_t got = ::read(r->fd, r->data + r->len, r->cap - r->len);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {  // end of file, or nothing more can be read
      r->at_end = true;
      r->read_error = got < 0;
      return;
    }
    const char* fresh = r->data + r->len;
    r->len += static_cast<size_t>(got);
    // A long number goes on only while what arrived may all belong to it; a
    // read() waiting for more would hold up an answer whose text is complete.
    if (keep < long_token || r->len == r->cap) return;
    for (const char* p = fresh; p < r->data + r->len; ++p)
      if (!may_continue_number(static_cast<unsigned char>(*p))) return;
  }
}

template <class T, class Scan>
scan_status next_value(scan_reader* r, Scan scan, T* value) {
  for (;;) {
    if (r->no_memory) return scan_status::mismatch;
    scan_result res = scan(r->data + r->pos, r->data + r->len, r->at_end, value);
    r->pos = static_cast<size_t>(res.next - r->data);
    if (res.status != scan_status::need_more) return res.status;
    refill(r);
  }
}

// The first fill, which also allocates the buffer.
bool started(scan_reader* r) {
  if (r->data == nullptr && !r->no_memory) refill(r);
  return r->data != nullptr;
}

}  // namespace

// The common case, taken straight from the buffer: a number that starts
// with a digit, '.' or "-" and a digit or '.', that std::from_chars takes
// whole, and that white space follows inside the buffer. The white space
// ends the text "%lf" consumes, so it consumes exactly what from_chars took
// and stores the same correctly rounded value. Anything else (signs '+',
// hex, inf, nan, values out of range, malformed text, a number that reaches
// the end of the buffer) returns false and is left to scan_double. On
// success *p is moved past the number, not past the white space after it.
bool scan_double_quick(const char** p, const char* last, double* value) {
  const char* s = *p;
  const char* q = s + (*s == '-');
  if (q == last || !(is_digit(static_cast<unsigned char>(*q)) || *q == '.')) return false;
  auto r = std::from_chars(s, last, *value);
  if (r.ec != std::errc() || r.ptr == last || !is_space(static_cast<unsigned char>(*r.ptr)))
    return false;
  *p = r.ptr;
  return true;
}

void scan_reader_open(scan_reader* r, int fd) {
  *r = scan_reader{fd, nullptr, 0, 0, 0, false, false, false};
}

void scan_reader_close(scan_reader* r) {
  std::free(r->data);
  scan_reader_open(r, r->fd);
}

int64_t scan_reader_doubles(scan_reader* r, double* out, int64_t n) {
  if (n <= 0 || !started(r)) return 0;
  int64_t converted = 0;
  int64_t i = 0;
  while (i < n) {
    const char* p = r->data + r->pos;
    const char* last = r->data + r->len;
    for (; i < n; ++i) {
      while (p < last && is_space(static_cast<unsigned char>(*p))) ++p;
      if (p == last) break;
      double v;
      if (!scan_double_quick(&p, last, &v)) break;
      out[i] = v;
      ++converted;
    }
    r->pos = static_cast<size_t>(p - r->data);
    if (i == n) break;

    // Everything else, one number at a time, with refills.
    size_t before = r->pos;
    scan_status s = next_value(r, scan_double, &out[i]);
    ++i;
    if (s == scan_status::converted) {
      ++converted;
    } else if (s == scan_status::end_of_input || r->no_memory ||
               (s == scan_status::mismatch && r->pos == before)) {
      break;  // every further attempt would fail the same way, consuming nothing
    }
  }
  return converted;
}

bool scan_reader_int32(scan_reader* r, int32_t* out) {
  if (!started(r)) return false;
  int64_t v = 0;
  if (next_value(r, scan_int, &v) != scan_status::converted) return false;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

int64_t scan_reader_peek(scan_reader* r, int64_t n) {
  if (!started(r)) return 0;
  while (static_cast<int64_t>(r->len - r->pos) < n && !r->at_end && !r->no_memory) refill(r);
  return static_cast<int64_t>(r->len - r->pos);
}

// ---- standard input -------------------------------------------------------

static scan_reader in = {0, nullptr, 0, 0, 0, false, false, false};

scan_reader* stdin_reader() { return &in; }

int64_t stdin_read_doubles(double* out, int64_t n) { return scan_reader_doubles(&in, out, n); }

bool stdin_read_int32(int32_t* out) { return scan_reader_int32(&in, out); }

void stdin_reset() { scan_reader_close(&in); }
