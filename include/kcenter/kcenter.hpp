// kcenter: the exact farthest-first order (k-center by farthest-first
// traversal), the farthest pair and the nearest centre of every row, over
// the rows of a matrix of float64 or float32 numbers wherever it lies.
//
// Exact: every squared distance is the plain sum of unfused squares from
// coordinate 0 up, (x0 - y0)^2 + (x1 - y1)^2 + ..., each square rounded
// before it is added, in double precision; float32 coordinates are widened
// to double first, which is exact. Every choice compares these doubles with
// strict tests and gives ties to the lowest row, so the answer is the one
// the textbook loop gives, to the last bit, whatever the number of threads
// and the vector instructions of the processor.
//
// Errors: every function returns true on success, or false with *err set:
// a code and the one line the kcenter command-line program prints for it.
// Nothing is printed, nothing is thrown (but std::bad_alloc where a result
// vector cannot grow), and no global state is kept between calls.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#if defined(KCENTER_BUILDING_LIBRARY)
#define KCENTER_API __attribute__((visibility("default")))
#else
#define KCENTER_API
#endif

namespace kcenter {

inline constexpr int version_major = 1;
inline constexpr int version_minor = 0;

enum class dtype : int32_t { float64 = 0, float32 = 1 };

// A read-only view of a rows x cols matrix: element (i, j) lies at
// data + i * row_stride + j * col_stride, counted in elements of `type`
// (not bytes). C order: row_stride = cols, col_stride = 1; Fortran order:
// row_stride = 1, col_stride = rows; a slice or a memory-mapped array
// has the strides it has (negative ones too). The data is used where it
// lies, never copied or widened as a whole, and must stay unchanged and
// alive during a call. Rows and columns count from 0 to 2147483647.
struct view {
  const void* data = nullptr;
  int64_t rows = 0;
  int64_t cols = 0;
  int64_t row_stride = 0;
  int64_t col_stride = 1;
  dtype type = dtype::float64;
};

// Views of contiguous arrays.
KCENTER_API view c_order(const double* data, int64_t rows, int64_t cols);
KCENTER_API view c_order(const float* data, int64_t rows, int64_t cols);
KCENTER_API view fortran_order(const double* data, int64_t rows, int64_t cols);
KCENTER_API view fortran_order(const float* data, int64_t rows, int64_t cols);

enum class fault : int32_t {
  none = 0,
  bad_view,            // negative sizes, or no data for a matrix with elements
  too_large,           // more than 2147483647 rows or columns
  bad_k,               // k below 1
  bad_radius,          // a radius below 0 or NaN
  bad_threads,         // threads not from 1 to 4096
  threads_unavailable, // the system cannot start that many threads
  start_out_of_range,  // a start row that is no row of the matrix
  start_repeated,      // a start row given twice
  centre_out_of_range, // a centre row (assign) that is no row of the matrix
  bad_batch,           // a batch whose lengths or k do not fit its items
  no_memory,           // storage for the search could not be had
};

struct error {
  fault code = fault::none;
  std::string line;  // e.g. "error : the start row 9 is not a row of a matrix of 4 rows"
};

// Why an order ended.
enum class stop : int32_t {
  covered = 0,    // every row lies on a step: the next distance would be 0
  k_steps = 1,    // k steps were made
  radius = 2,     // every row lies within the radius of a step
  cancelled = 3,  // the callback asked to stop
};

KCENTER_API const char* stop_name(stop why);  // "covered", "k", "radius", "cancelled"

struct order_options {
  // At most k steps (k >= 1), the start rows included; none: no limit.
  std::optional<int64_t> k;
  // Stop as soon as every row lies within this distance (not squared; 0 or
  // more, infinity allowed) of a step: the shortest such prefix of the
  // order after the start rows. Each squared distance d is compared with
  // radius * radius exactly (unrounded).
  std::optional<double> radius;
  // The first steps, in this order (the labelled set of active learning);
  // empty means row 0. Step 0 gets distance +inf, step i > 0 its squared
  // distance to the nearest start row before it.
  std::vector<int64_t> start;
  // Threads (1 to 4096); the answer does not depend on them.
  int32_t threads = 1;
  // Called on the calling thread after every step with the number of
  // steps made so far; returning false stops the order (stop::cancelled),
  // keeping the steps made. For progress and cancellation.
  std::function<bool(int64_t steps)> between_steps;
};

struct order_result {
  std::vector<int64_t> rows;     // the row of each step
  std::vector<double> dist_sq;   // its squared distance to the nearest earlier step
  stop why = stop::covered;
};

// The farthest-first order of the rows of x: the start rows, then each time
// the row whose squared distance to its nearest earlier step is largest,
// the lowest row among equals. Every row is given at most once: the order
// without k or radius lists every distinct row once (a row lying on an
// earlier step at distance 0 is never given). A row holding NaN or an
// infinity lies at distance NaN from every row, so no step comes nearer to
// it: it is given once, at its turn, with distance 1.7976931348623157e308
// (the largest double, the start value of every nearest distance), and the
// order goes on over the other rows. A matrix of no rows has an empty order.
KCENTER_API bool order(const view& x, const order_options& options, order_result* out, error* err);

// The same order, each step handed to `each` as it is made (nothing
// stored); `each` returning false stops it (stop::cancelled).
// options.between_steps is called as well, after `each`.
using step_fn = std::function<bool(int64_t step, int64_t row, double dist_sq)>;
KCENTER_API bool order_each(const view& x, const order_options& options, const step_fn& each, stop* why,
                            error* err);

// The orders of several matrices, each exactly its own order() with the
// same options but k, which is one for all items (size 1) or one per item
// (empty: no limit). The items are shared among the threads, and the
// threads of an item among its rows when there are fewer items than
// threads; the answer does not depend on the thread count.
// between_steps is called on the calling thread with the number of items
// done so far, between the steps it makes; false cancels every item (each
// keeps the steps it made, with stop::cancelled).
struct batch_options {
  std::vector<int64_t> k;
  std::optional<double> radius;
  std::vector<int64_t> start;
  int32_t threads = 1;
  std::function<bool(int64_t items_done)> between_steps;
};
KCENTER_API bool order_batch(const std::vector<view>& items, const batch_options& options,
                             std::vector<order_result>* out, error* err);

// The items of a B x N x D array of `type` at data, into *out: item b is
// the matrix of rows [0, lengths[b]) (all N when lengths is empty) at
// element offset b * item_stride, with the given row and column strides.
// lengths must hold B values from 0 to N (fault bad_batch otherwise).
KCENTER_API bool batch_items(const void* data, dtype type, int64_t items, int64_t rows, int64_t cols,
                             int64_t item_stride, int64_t row_stride, int64_t col_stride,
                             const std::vector<int64_t>& lengths, std::vector<view>* out, error* err);

struct pair_result {
  bool found = false;  // false: fewer than two rows, or no distance is a number
  int64_t i = -1;      // i < j
  int64_t j = -1;
  double dist_sq = 0.0;
};

// The two rows farthest apart: the largest squared distance, the lowest
// (i, j) among equals, a NaN distance never counting. When no two rows lie
// a positive distance apart, the first pair at distance 0 (the first two
// rows of finite coordinates). Most pairs are proved too close without
// computing them; the answer is the all-pairs search's.
KCENTER_API bool farthest_pair(const view& x, int32_t threads, pair_result* out, error* err);

struct assign_result {
  std::vector<int64_t> label;    // the index into centres of each row's nearest centre
  std::vector<double> dist_sq;   // and its squared distance (the row the first operand)
};

// Each row's nearest centre among the rows `centres` of x (the clusters of
// a k-center answer): the lowest index into centres among equal distances,
// a NaN distance never counting; label -1 and dist_sq NaN for a row whose
// distance to every centre is NaN (no centres, or NaN in the row or in
// every centre).
KCENTER_API bool assign(const view& x, const std::vector<int64_t>& centres, int32_t threads,
                        assign_result* out, error* err);

}  // namespace kcenter
