// Scanning numbers from a character range, one conversion at a time, as the
// C library's scanf does: the reader of the matrix text format, and of
// anything else that must read numbers exactly as scanf would.
#pragma once

#include <cstdint>

// Each scan makes one conversion the way the C library's "%lf" (or "%d")
// does in the C locale: skip white space, take the longest run of characters
// that can begin a number, convert it. Characters are consumed exactly as the
// C library consumes them, failures included, so a sequence of scans over a
// text gives the same values and the same failures as a sequence of scanf
// calls on it.

enum class scan_status {
  converted,     // one value stored
  mismatch,      // text that is not a number; nothing stored
  end_of_input,  // only white space was left; nothing stored
  need_more,     // the range ended inside a possible number; give more text
};

struct scan_result {
  const char* next;  // first character not consumed
  scan_status status;
};

// One "%lf" conversion from [first, last). at_end says that no text follows
// `last`; without it, a number that reaches `last` asks for more text (next
// is then the start of that number, the white space before it consumed).
scan_result scan_double(const char* first, const char* last, bool at_end, double* value);

// The common case of scan_double, for a caller that has skipped the white
// space: a plain decimal number that white space follows inside the range.
// On success *p is moved past the number (and only past it) and *value
// holds what scan_double would store; false leaves the rest to scan_double.
bool scan_double_quick(const char** p, const char* last, double* value);

// One "%d" conversion (base 10, optional sign). The value saturates at the
// int64_t limits; fitting it into a narrower type is the caller's business.
scan_result scan_int(const char* first, const char* last, bool at_end, int64_t* value);
