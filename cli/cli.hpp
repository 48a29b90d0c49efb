// What every program does the same way on its command line and at its end.
#pragma once

#include <cstdint>

// Prints `line` and a newline on standard output (never standard error) and
// returns 1, the exit status of a failure: `return fail("...");`.
int fail(const char* line);
// The same with a printf format.
[[gnu::format(printf, 1, 2)]] int failf(const char* format, ...);

// A count from the command line as strtol reads it in base 10 (leading
// blanks, a sign, digits; what follows the digits is ignored; text with no
// digits is 0), refused when below lo or above hi rather than wrapped.
bool parse_count(const char* text, int64_t lo, int64_t hi, int32_t* out);

// Whether `arg` asks for help (-h or --help).
bool is_help(const char* arg);
// Prints a help text; returns 0, or 1 when it could not be written whole.
int print_help(const char* text);

// Flushes standard output: 0 when everything printed reached it, 1 after a
// failed write (a full disk, a closed pipe), which must not pass for success.
int output_status();
