// Pieces of the library that its own sources and its tests share, not part
// of the interface the programs use.
#pragma once

#include <cstdint>

#include "matvec.hpp"

// Storage for count doubles, 64-byte aligned; null for a negative count or
// when the request cannot be met (never null otherwise, even for 0).
double* storage_alloc(int64_t count, bool zero);

// ---- scanning numbers from a character range ----------------------------
//
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

// ---- standard input -----------------------------------------------------
//
// All reading of standard input goes through one scan_reader over fd 0.

// Makes n "%lf" attempts into out[0..n-1]; returns how many converted.
int64_t stdin_read_doubles(double* out, int64_t n);
// One "%d" attempt; false when nothing converted or the value needs more
// than 32 bits.
bool stdin_read_int32(int32_t* out);
// Forgets buffered text and the end-of-input mark (tests point standard
// input at new text between reads).
void stdin_reset();
// The reader behind the functions above.
scan_reader* stdin_reader();
