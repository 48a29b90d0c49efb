// Working storage for the engines: large blocks on huge pages, and rows laid
// out by coordinate for vector lanes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "rows.hpp"

// `bytes` bytes, 64-byte aligned; blocks from 256 KiB up are rounded up to
// 2 MiB and offered for huge pages, so that filling them costs a few faults
// instead of one per 4 KiB page. Null when the request cannot be met (never
// for 0 bytes otherwise). Release with work_free.
void* work_alloc(int64_t bytes);
void work_free(void* p);
// `bytes` bytes from the C library, 64-byte aligned, on small pages: for
// bookkeeping, which then costs its own size (on huge pages each 2 MiB page
// touched would count whole). Null when the request cannot be met. Release
// with work_free.
void* work_alloc_small(int64_t bytes);

// An array of T that its owner releases, on huge pages (work_alloc) or, for
// bookkeeping, on small ones (work_alloc_small). Nothing throws: a request
// that cannot be met returns false and leaves the array as it was.
template <class T>
class work_array {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  explicit work_array(bool small = false) : small_(small) {}
  ~work_array() { work_free(p_); }
  work_array(const work_array&) = delete;
  work_array& operator=(const work_array&) = delete;

  // Room for count elements, the first `keep` of the old ones kept (at most
  // as many as there were), the rest unset.
  bool get(int64_t count, int64_t keep = 0) {
    if (count < 0 || count > (int64_t{1} << 60) / static_cast<int64_t>(sizeof(T))) return false;
    const int64_t bytes = (count > 0 ? count : 1) * static_cast<int64_t>(sizeof(T));
    T* p = static_cast<T*>(small_ ? work_alloc_small(bytes) : work_alloc(bytes));
    if (p == nullptr) return false;
    keep = std::min(std::min(keep, n_), count);
    if (keep > 0) std::memcpy(p, p_, static_cast<size_t>(keep) * sizeof(T));
    work_free(p_);
    p_ = p;
    n_ = count;
    return true;
  }
  T* data() const { return p_; }
  int64_t size() const { return n_; }
  T& operator[](int64_t i) const { return p_[i]; }
  void swap(work_array& o) {
    std::swap(p_, o.p_);
    std::swap(n_, o.n_);
    std::swap(small_, o.small_);
  }

 private:
  T* p_ = nullptr;
  int64_t n_ = 0;
  bool small_;
};

// A list of T on small pages with room reserved ahead: push never asks for
// storage, so that the work between two reserves cannot fail part-way.
template <class T>
class work_list {
 public:
  work_list() : a_(true) {}
  // Room for count elements in all, the ones in the list kept; false, with
  // nothing changed, when it cannot be had. Grows by doubling at least.
  bool reserve(int64_t count) {
    if (count <= a_.size()) return true;
    return a_.get(std::max(count, 2 * a_.size()), n_);
  }
  void push(const T& v) { a_[n_++] = v; }
  void pop() { --n_; }
  void clear() { n_ = 0; }
  void resize(int64_t count) { n_ = count; }  // within the room reserved
  int64_t size() const { return n_; }
  int64_t room() const { return a_.size(); }
  T* data() const { return a_.data(); }
  T& operator[](int64_t i) const { return a_[i]; }
  T& back() const { return a_[n_ - 1]; }

 private:
  work_array<T> a_;
  int64_t n_ = 0;
};

// Rows laid out by coordinate (structure of arrays): coordinate j of the row
// at position p is x[j * stride + p], so that a vector of consecutive
// positions holds one coordinate of several rows. stride is the number of
// positions rounded up to by_coord_pad, and the padding positions hold
// copies of the last row laid out, so that kernels may run whole vectors to
// the end of the stride: a copy is exactly as near to or far from any point
// as its original. The coordinates are doubles, or floats when the rows are
// float32: a copy holds its rows exactly, and the kernels widen them.
struct by_coord {
  void* x;       // doubles, or floats for type f32
  int64_t stride;
  int64_t rows;  // positions that hold rows; rows .. stride - 1 are padding
  int32_t cols;
  elem_type type;
};

// The coordinates of a copy of doubles.
inline double* by_coord_doubles(const by_coord* X) { return static_cast<double*>(X->x); }

// The widest step of any kernel over positions: 4 vectors of 8 doubles.
inline constexpr int64_t by_coord_pad = 32;

// rows rounded up to a whole number of by_coord_pad.
inline int64_t by_coord_stride(int64_t rows) {
  return (rows + by_coord_pad - 1) / by_coord_pad * by_coord_pad;
}

// Bytes that by_coord_alloc asks for; -1 when beyond what can be asked.
int64_t by_coord_bytes(int64_t rows, int32_t cols, elem_type type = elem_type::f64);
// Storage for rows x cols laid out by coordinate, contents unset; x is null
// when it cannot be had (or rows or cols is negative).
by_coord by_coord_alloc(int64_t rows, int32_t cols, elem_type type = elem_type::f64);
// Lays out rows of src (X->cols columns, any strides; float32 rows into a
// copy of either type, float64 rows into a copy of doubles): position p
// holds row order[p], or row p when order is null, for every position below
// X->rows; then pads.
void by_coord_fill(by_coord* X, const row_source* src, const int32_t* order);
// The same from a row-major array of doubles, X->cols a row.
void by_coord_fill(by_coord* X, const double* data, const int32_t* order);
// Fills the padding positions with copies of the last row (for callers that
// lay out the rows themselves).
void by_coord_pad_out(by_coord* X);
// Releases the storage and resets the record; a second free releases nothing.
void by_coord_free(by_coord* X);

// Rows in tiles of by_tile_rows, each tile laid out by coordinate: coordinate
// j of the row at position p is x[((p / 8) * cols + j) * 8 + p % 8]. Unlike
// by_coord, one tile's rows are one run of memory, so an engine that reads
// scattered tiles streams each from one place instead of cols places, and
// laying some rows out again in another order moves whole tiles. The
// positions past `rows` in the last tile hold copies of the last row.
inline constexpr int32_t by_tile_rows = 8;

struct by_tile {
  void* x;  // doubles, or floats for type f32
  int64_t tiles;
  int64_t rows;
  int32_t cols;
  elem_type type;
};

// Storage for rows x cols in tiles, contents unset; x is null when it cannot
// be had (or rows or cols is negative).
by_tile by_tile_alloc(int64_t rows, int32_t cols, elem_type type = elem_type::f64);
// Lays out rows of src (X->cols columns, any strides; float32 rows into a
// copy of either type, float64 rows into a copy of doubles): position p
// holds row order[p] (order null: row p), for every position below X->rows;
// then pads.
void by_tile_fill(by_tile* X, const row_source* src, const int32_t* order);
// The same from a row-major array of doubles, X->cols a row.
void by_tile_fill(by_tile* X, const double* data, const int32_t* order);
// Releases the storage and resets the record; a second free releases nothing.
void by_tile_free(by_tile* X);
