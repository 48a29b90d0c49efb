// Working storage for the engines: large blocks on huge pages, and rows laid
// out by coordinate for vector lanes.
#pragma once

#include <cstdint>

#include "rows.hpp"

// `bytes` bytes, 64-byte aligned; blocks from 256 KiB up are rounded up to
// 2 MiB and offered for huge pages, so that filling them costs a few faults
// instead of one per 4 KiB page. Null when the request cannot be met (never
// for 0 bytes otherwise). Release with work_free.
void* work_alloc(int64_t bytes);
void work_free(void* p);

// Rows laid out by coordinate (structure of arrays): coordinate j of the row
// at position p is x[j * stride + p], so that a vector of consecutive
// positions holds one coordinate of several rows. stride is the number of
// positions rounded up to by_coord_pad, and the padding positions hold
// copies of the last row laid out, so that kernels may run whole vectors to
// the end of the stride: a copy is exactly as near to or far from any point
// as its original.
struct by_coord {
  double* x;
  int64_t stride;
  int64_t rows;  // positions that hold rows; rows .. stride - 1 are padding
  int32_t cols;
};

// The widest step of any kernel over positions: 4 vectors of 8 doubles.
inline constexpr int64_t by_coord_pad = 32;

// rows rounded up to a whole number of by_coord_pad.
inline int64_t by_coord_stride(int64_t rows) {
  return (rows + by_coord_pad - 1) / by_coord_pad * by_coord_pad;
}

// Bytes that by_coord_alloc asks for; -1 when beyond what can be asked.
int64_t by_coord_bytes(int64_t rows, int32_t cols);
// Storage for rows x cols laid out by coordinate, contents unset; x is null
// when it cannot be had (or rows or cols is negative).
by_coord by_coord_alloc(int64_t rows, int32_t cols);
// Lays out rows of src (X->cols columns, any strides and element type,
// widened exactly): position p holds row order[p], or row p when order is
// null, for every position below X->rows; then pads.
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
  double* x;
  int64_t tiles;
  int64_t rows;
  int32_t cols;
};

// Storage for rows x cols in tiles, contents unset; x is null when it cannot
// be had (or rows or cols is negative).
by_tile by_tile_alloc(int64_t rows, int32_t cols);
// Lays out rows of src (X->cols columns, any strides and element type,
// widened exactly): position p holds row order[p] (order null: row p), for
// every position below X->rows; then pads.
void by_tile_fill(by_tile* X, const row_source* src, const int32_t* order);
// The same from a row-major array of doubles, X->cols a row.
void by_tile_fill(by_tile* X, const double* data, const int32_t* order);
// Releases the storage and resets the record; a second free releases nothing.
void by_tile_free(by_tile* X);
