// The farthest pair of rows on a team of OpenMP threads: the all-pairs search
// of farthest_pair, every pair of rows compared, and the pruned search of
// kcenter pair, which finds the same pair while proving most pairs too close
// to matter.
#pragma once

#include <cstdint>

#include "matvec.hpp"
#include "rows.hpp"
#include "simd.hpp"

// More threads than this are refused: the OpenMP runtime ends the process
// when it cannot start a team, and far below 2^31 it cannot.
inline constexpr int32_t pair_search_max_threads = 4096;

// The farthest pair of rows a search found, and how much it examined.
struct farthest {
  double dist_sq;    // their squared distance; 0.0 when no pair was found
  int32_t i;         // the rows, i < j; both -1 when no two rows lie a
  int32_t j;         //   positive (non-NaN) distance apart
  int64_t compared;  // distances computed: rows * (rows - 1) / 2 for a whole search
};

inline constexpr farthest no_pair = {0.0, -1, -1, 0};

// The order of the answer: the larger distance, then the lower (i, j). A NaN
// distance is never a result, so the order is total.
bool farthest_beats(const farthest* a, const farthest* b);

// The farthest pair over all rows, found by one team of OpenMP threads
// (threads is clamped to 1 .. pair_search_max_threads). Of the G threads
// actually granted, thread t takes rows t, t + G, ... and compares each with
// every later row (the row first), so every pair is compared exactly once.
// The answer: the largest distance, a NaN distance never taken, and among
// equal distances the lowest (i, j), whatever order the threads finish in.
// Runs the kernels of `level` over a copy of the rows by coordinate, a tile
// of it at a time (pair_tiles_for); the plain scan when that copy cannot be
// had.
farthest farthest_pair_search(const mat* A, int32_t threads, simd_level level);

// How a thread walks the copy by coordinate: its later rows a tile at a
// time, `cols` positions of every coordinate (rounded down to whole vectors
// of 8, at least one), while a panel of `rows` of the thread's rows (1 to
// pair_panel_max, rounded up to whole blocks of the kernel's rows) passes
// over the tile as it stays in cache. The answer does not depend on them.
struct pair_tiles {
  int64_t cols;
  int32_t rows;
};
inline constexpr int32_t pair_panel_max = 512;
// What a tile of the copy and the rows of a panel span at most: a tile
// stays in a core's second-level cache beside the rows it is compared with.
inline constexpr int64_t pair_tile_bytes = int64_t{256} << 10;
inline constexpr int64_t pair_panel_bytes = int64_t{1} << 20;
// The tiles the search takes for rows of `cols` coordinates.
pair_tiles pair_tiles_for(int32_t cols);
// The same search with the given tiles.
farthest farthest_pair_search(const mat* A, int32_t threads, simd_level level, pair_tiles tiles);
// The same search row by row with vec_dist_sq per pair and a strict test,
// which the kernels must agree with.
farthest farthest_pair_search_ref(const mat* A, int32_t threads);

// The pair farthest_pair_search finds over the rows of A (the same distance
// to the bit, the same (i, j); no_pair when no distance is above 0.0), found
// without computing most distances: a lower bound from a few farthest-row
// scans, then a tree of the rows whose boxes, balls and cones prove most
// pairs of nodes below it, with margins for rounding wherever a bound does
// not repeat the distance's own operations. The distances that decide are
// computed by pair_block_most and pair_first_at at `level` (plain where the
// processor does not run it). Rows may lie anywhere (strides, float32: each
// coordinate widened exactly, so the answer is that of the rows widened
// first). NaN rows never count; with an infinity in some row the answer is
// +inf when some pair lies that far, found by a plain scan. `compared`
// counts the distances computed. When its storage cannot be had it falls
// back to the all-pairs search, or, given short_of_storage, sets it and
// returns no_pair instead (*short_of_storage is false otherwise).
farthest farthest_pair_pruned(const row_source* A, int32_t threads, simd_level level,
                              bool* short_of_storage = nullptr);
