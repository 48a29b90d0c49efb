// Pieces of the library that its own sources and its tests share, not part
// of the interface the programs use.
#pragma once

#include <cstdint>

#include "matvec.hpp"
#include "scan.hpp"

// Storage for count doubles, 64-byte aligned; null for a negative count or
// when the request cannot be met (never null otherwise, even for 0).
double* storage_alloc(int64_t count, bool zero);

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
