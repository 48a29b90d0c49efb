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

// ---- standard input ------------------------------------------------------

namespace {

struct input_buffer {
  char* data = nullptr;
  size_t cap = 0;
  size_t pos = 0;  // first unread character
  size_t len = 0;  // end of the text held
  bool at_end = false;
  bool broken = false;  // the buffer could not grow to hold one number
};

input_buffer in;

constexpr size_t first_capacity = size_t{1} << 21;
// Once the pending text of one number is this long, fill the whole buffer
// per refill, so that a huge number costs linear time, not quadratic.
constexpr size_t long_token = size_t{1} << 16;

// Keeps the unread text, moved to the front, and appends what standard input
// has now, growing the buffer when the unread text already fills it.
void refill() {
  size_t keep = in.len - in.pos;
  if (in.pos > 0) {
    std::memmove(in.data, in.data + in.pos, keep);
    in.pos = 0;
    in.len = keep;
  }
  if (in.len == in.cap) {
    // Storage from work_alloc: one huge page rather than 512 page faults.
    size_t cap = in.cap == 0 ? first_capacity : in.cap * 2;
    char* grown = cap > INT64_MAX ? nullptr : static_cast<char*>(work_alloc(static_cast<int64_t>(cap)));
    if (grown == nullptr) {
      in.broken = true;
      return;
    }
    if (in.len > 0) std::memcpy(grown, in.data, in.len);
    std::free(in.data);
    in.data = grown;
    in.cap = cap;
  }
  do {
    ssize_t got = ::read(0, in.data + in.len, in.cap - in.len);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {  // end of file, or nothing more can be read
      in.at_end = true;
      return;
    }
    in.len += static_cast<size_t>(got);
  } while (keep >= long_token && in.len < in.cap);
}

template <class T, class Scan>
scan_status next_value(Scan scan, T* value) {
  for (;;) {
    if (in.broken) return scan_status::mismatch;
    scan_result r = scan(in.data + in.pos, in.data + in.len, in.at_end, value);
    in.pos = static_cast<size_t>(r.next - in.data);
    if (r.status != scan_status::need_more) return r.status;
    refill();
  }
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
static inline bool quick_double(const char** p, const char* last, double* value) {
  const char* s = *p;
  const char* q = s + (*s == '-');
  if (q == last || !(is_digit(static_cast<unsigned char>(*q)) || *q == '.')) return false;
  auto r = std::from_chars(s, last, *value);
  if (r.ec != std::errc() || r.ptr == last || !is_space(static_cast<unsigned char>(*r.ptr)))
    return false;
  *p = r.ptr;
  return true;
}

int64_t stdin_read_doubles(double* out, int64_t n) {
  if (in.data == nullptr) refill();
  int64_t converted = 0;
  int64_t i = 0;
  while (i < n) {
    const char* p = in.data + in.pos;
    const char* last = in.data + in.len;
    for (; i < n; ++i) {
      while (p < last && is_space(static_cast<unsigned char>(*p))) ++p;
      if (p == last) break;
      double v;
      if (!quick_double(&p, last, &v)) break;
      out[i] = v;
      ++converted;
    }
    in.pos = static_cast<size_t>(p - in.data);
    if (i == n) break;

    // Everything else, one number at a time, with refills.
    size_t before = in.pos;
    scan_status s = next_value(scan_double, &out[i]);
    ++i;
    if (s == scan_status::converted) {
      ++converted;
    } else if (s == scan_status::end_of_input ||
               (s == scan_status::mismatch && in.pos == before)) {
      break;  // every further attempt would fail the same way, consuming nothing
    }
  }
  return converted;
}

bool stdin_read_int32(int32_t* out) {
  if (in.data == nullptr) refill();
  int64_t v = 0;
  if (next_value(scan_int, &v) != scan_status::converted) return false;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

void stdin_reset() {
  std::free(in.data);
  in = input_buffer{};
}
