// Dense row-major matrices of doubles, vectors and row views.
//
// Records are plain values owned by the caller; the functions only fill or
// read what they are handed and report no errors. Storage that cannot be had
// shows up as a null `data` after *_malloc / *_calloc.
#pragma once

#include <cstddef>
#include <cstdint>

#include "distance.hpp"

// rows x cols doubles, row after row: element (i, j) is data[i * cols + j].
// Element counts and row offsets are formed in 64 bits.
struct mat {
  double* data;
  int32_t rows;
  int32_t cols;
};

// n consecutive doubles: either owned (vec_malloc / vec_calloc, released by
// vec_free) or a row view from mat_get_row, which must never be freed.
struct vec {
  double* data;
  int32_t n;
};


// ---- matrices ----------------------------------------------------------

// Storage for rows x cols doubles, not initialised. A negative size or an
// unobtainable request leaves data null (rows and cols are set either way).
void mat_malloc(mat* A, int32_t rows, int32_t cols);
// The same, every element 0.0.
void mat_calloc(mat* A, int32_t rows, int32_t cols);
// Releases the storage and resets the record (null data, 0 x 0); a second
// free releases nothing.
void mat_free(mat* A);
// Makes v a view of row i (v->n = cols); no bounds test, no copy.
void mat_get_row(const mat* A, vec* v, int32_t i);
// Fills the matrix from standard input, row 0 first, as vec_read on each row
// in turn would.
// Returns how many elements converted; rows * cols means the body was whole.
int64_t mat_read(mat* A);
// Reads the shape line ("%d %d": rows, then columns) from standard input.
// Returns how many of the two integers converted and fit in 32 bits; the
// matrix body that follows is for mat_read.
int mat_read_shape(int32_t* rows, int32_t* cols);
// Whether reading standard input stopped because its buffer could not be had
// or grow to hold one number, rather than at text that is no number.
bool mat_read_no_memory();
// One line per row, each printed by vec_print(v).
void mat_print(const mat* A);
// "The R x C matrix NAME:" then each row i labelled "row i" (vec_print(v, label)).
void mat_print(const mat* A, const char* name);

// ---- text from any file descriptor --------------------------------------

// A buffered reader of numbers from a file descriptor, filled by large
// read() calls; standard input has one of its own behind mat_read. Each
// conversion is made exactly as scanf("%lf") / "%d" would make it on the same
// text. Text after the last number asked for stays in the buffer, unused.
struct scan_reader {
  int fd;
  char* data;       // the buffer; null until the first read
  size_t cap;       // its size
  size_t pos;       // first unread character
  size_t len;       // end of the text held
  bool at_end;      // the descriptor reported end of file or an error
  bool read_error;  // ... and it was an error (a directory, a device fault)
  bool no_memory;   // the buffer could not be had or grow to hold one number
};

// A reader of fd from where it stands; nothing is read or allocated yet, and
// the descriptor stays the caller's to close.
void scan_reader_open(scan_reader* r, int fd);
// Releases the buffer (buffered text is lost); a second close does nothing.
void scan_reader_close(scan_reader* r);
// Makes n "%lf" attempts into out[0..n-1]; returns how many converted. It
// stops early once nothing more could convert.
int64_t scan_reader_doubles(scan_reader* r, double* out, int64_t n);
// One "%d" attempt; false when nothing converted or the value needs more
// than 32 bits.
bool scan_reader_int32(scan_reader* r, int32_t* out);
// Buffers at least n unread bytes unless the input ends (or memory fails)
// first, consuming none; returns how many are buffered, from data + pos.
int64_t scan_reader_peek(scan_reader* r, int64_t n);
// The shape line and the body, as mat_read_shape and mat_read, from r.
int mat_read_shape(scan_reader* r, int32_t* rows, int32_t* cols);
int64_t mat_read(scan_reader* r, mat* A);

// ---- vectors -----------------------------------------------------------

// Storage for n doubles, not initialised; a negative or unobtainable n leaves data null.
void vec_malloc(vec* v, int32_t n);
// The same, every element 0.0.
void vec_calloc(vec* v, int32_t n);
// Releases the storage and resets the record (null data, n = 0).
void vec_free(vec* v);
// Makes v->n attempts to convert a number ("%lf") from standard input into
// v->data[0..n-1], element 0 first; every attempt is made even after a
// failure. Returns how many converted.
int32_t vec_read(vec* v);
// Each element as "%.6lf " (six decimals and a blank), then a newline.
void vec_print(const vec* v);
// "NAME = ", each element as "%.1lf ", then a newline.
void vec_print(const vec* v, const char* name);
// out[i] = a[i] + b[i] for i < b->n: the length comes from the second operand.
void vec_add(const vec* a, const vec* b, vec* out);
// out[i] = v[i] * s for i < v->n.
void vec_mult(const vec* v, double s, vec* out);
// Squared Euclidean distance: sum = diff * diff + sum from coordinate 0 up to
// a->n - 1, each square rounded before it is added. Two empty vectors give 0.0.
double vec_dist_sq(const vec* a, const vec* b);
