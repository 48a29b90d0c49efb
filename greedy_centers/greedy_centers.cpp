// greedy_centers k < matrix
//
// Chooses k centres among the rows of a matrix read from standard input by
// farthest-first traversal: row 0 first, then each time the row farthest from
// every centre chosen so far (the lowest index among equals). Prints the
// centre rows in the order of choice, "%.6lf " per element.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kernels.hpp"
#include "matvec.hpp"

// Folds centre number m (centres[m-1]) into the nearest distances, writes the
// index of the farthest row to *next and returns that row's squared distance:
// the squared covering radius of the first m centres. Both tests are strict,
// so the lowest index wins a tie, and *next keeps its value when every row
// lies on a centre.
double center_cost(const mat* A, const int32_t* centres, int32_t m, int32_t* next,
                   vec* nearest) {
  vec c, row;
  mat_get_row(A, &c, centres[m - 1]);
  double radius = 0.0;
  for (int32_t i = 0; i < A->rows; ++i) {
    mat_get_row(A, &row, i);
    double d = vec_dist_sq(&row, &c);
    if (nearest->data[i] > d) nearest->data[i] = d;
    if (nearest->data[i] > radius) {
      radius = nearest->data[i];
      *next = i;
    }
  }
  return radius;
}

// Fills centres[0..k-1] by farthest-first traversal from row 0. nearest must
// hold A->rows entries; it ends as every row's distance to its nearest centre.
void greedy_choose(const mat* A, int32_t k, int32_t* centres, vec* nearest) {
  for (int32_t i = 0; i < nearest->n; ++i) nearest->data[i] = no_distance;
  centres[0] = 0;
  // Starts at row 0: when every row coincides with row 0, row 0 is chosen again.
  int32_t next = 0;
  for (int32_t j = 1; j < k; ++j) {
    center_cost(A, centres, j, &next, nearest);
    centres[j] = next;
  }
}

// ---- the fast choice ------------------------------------------------------
//
// The same centres as greedy_choose, bit for bit, found faster. The rows
// are copied once, laid out by coordinate, so that vector lanes run across
// rows (each lane sums its own row from coordinate 0 up, as vec_dist_sq
// does). In few dimensions and for enough centres the rows are also
// grouped into buckets of nearby rows, each with a bounding box and the
// largest nearest distance among its rows, and a new centre visits only the
// buckets that it may come nearer to than some row's nearest centre.
//
// Why pruning keeps every bit: a box's bound is computed with the
// operations of the distance in the same order, and rounding is monotone,
// so it never exceeds any of its rows' computed distances. When it is no
// smaller than the bucket's largest nearest distance, no row of the bucket
// has a nearest distance above its distance to the new centre, so the plain
// pass would change none of them. Rows holding NaN or an infinity have
// distance NaN or +inf to every centre, so their nearest distance stays at
// the start value for good; they are kept out of the buckets and stand in
// the farthest-row search with that value. A centre holding one changes no
// nearest distance at all.

// Whether the fast choice groups rows into buckets: never, when it pays, always.
enum class prune_rule { never, automatic, always };

namespace {

// Rows per bucket; a multiple of the widest vector step (16 rows).
constexpr int32_t bucket_rows = 128;
// Buckets per group: a group's box holds its buckets' boxes, so a centre
// tests the groups first and only the buckets of the groups it may reach.
constexpr int32_t group_buckets = 64;

bool row_is_finite(const double* row, int32_t cols) {
  for (int32_t j = 0; j < cols; ++j)
    if (!std::isfinite(row[j])) return false;
  return true;
}

// Pruning pays in few dimensions (boxes stay tight), for enough centres to
// repay grouping the rows, and for enough rows to fill several buckets.
bool pruning_pays(int32_t rows, int32_t cols, int32_t k) {
  return cols >= 1 && cols <= 8 && k > 32 && rows >= 8 * bucket_rows;
}

// Owns blocks from work_alloc.
struct work_block {
  void* p = nullptr;
  explicit work_block(int64_t bytes) : p(work_alloc(bytes)) {}
  ~work_block() { std::free(p); }
  work_block(const work_block&) = delete;
  work_block& operator=(const work_block&) = delete;
};

// Candidate for the next centre: the largest nearest distance, then the
// lowest row. none loses to every row whose nearest distance is above 0.0.
struct candidate {
  double dist;
  int32_t row;
};
constexpr candidate none{0.0, INT32_MAX};

bool farther(candidate a, candidate b) {
  return a.dist > b.dist || (a.dist == b.dist && a.row < b.row);
}

// Once a centre is chosen again right after itself, nothing changes any
// more: its distances are already folded in, so every further choice
// repeats it. Fills the rest and says whether it did.
bool repeats(int32_t* centres, int32_t j, int32_t k) {
  if (centres[j] != centres[j - 1]) return false;
  for (int32_t t = j + 1; t < k; ++t) centres[t] = centres[j];
  return true;
}

// One vectorised pass over every row per centre. Returns false when the
// copy of the rows cannot be had.
bool choose_by_passes(const mat* A, int32_t k, int32_t* centres, vec* nearest, simd_level level) {
  const int32_t n = A->rows, d = A->cols;
  const int64_t stride = (static_cast<int64_t>(n) + 7) / 8 * 8;
  work_block block(stride * d * static_cast<int64_t>(sizeof(double)));
  if (block.p == nullptr) return false;
  double* x = static_cast<double*>(block.p);
  for (int32_t i = 0; i < n; ++i) {
    const double* row = A->data + static_cast<int64_t>(i) * d;
    for (int32_t j = 0; j < d; ++j) x[j * stride + i] = row[j];
    nearest->data[i] = no_distance;
  }
  int32_t next = 0;
  for (int32_t j = 1; j < k; ++j) {
    const double* c = A->data + static_cast<int64_t>(centres[j - 1]) * d;
    farthest_row f = soa_fold_nearest(level, x, stride, d, n, c, nearest->data);
    if (f.pos >= 0) next = static_cast<int32_t>(f.pos);
    centres[j] = next;
    if (repeats(centres, j, k)) break;
  }
  return true;
}

// Rows grouped into buckets along a Z-order curve over a grid laid on the
// bounding box of the finite rows.
struct bucketed_rows {
  int32_t d = 0;               // coordinates a row
  int32_t finite = 0;          // rows without NaN or infinity
  int32_t first_special = -1;  // lowest row holding NaN or an infinity, or -1
  int32_t buckets = 0;         // bucket b holds positions [b * bucket_rows, ...)
  int64_t stride = 0;          // coordinate j of position p: x[j * stride + p]
  int64_t box_stride = 0;      // side j of bucket b: lo / hi[j * box_stride + b]
  double* x = nullptr;
  double* near = nullptr;   // nearest distance by position (the caller's vector, reordered)
  int32_t* row = nullptr;   // the row at each position; rising within a bucket
  double* lo = nullptr;
  double* hi = nullptr;
  double* top = nullptr;        // largest nearest distance in bucket b
  int32_t* top_row = nullptr;   // its lowest row, INT32_MAX for none
  int32_t* visit = nullptr;
  int32_t groups = 0;           // group g holds buckets [g * group_buckets, ...)
  int64_t group_stride = 0;     // side j of group g: group_lo / group_hi[j * group_stride + g]
  double* group_lo = nullptr;
  double* group_hi = nullptr;
  double* group_top = nullptr;  // largest nearest distance in group g
  int32_t* group_visit = nullptr;
  candidate* tree = nullptr;    // tournament over the buckets and the special rows
  int32_t leaves = 1;           // a power of two above buckets
};

int32_t bucket_size(const bucketed_rows& R, int32_t b) {
  return static_cast<int32_t>(std::min<int64_t>(bucket_rows, R.finite - int64_t{b} * bucket_rows));
}

// Z-order key of a row: each coordinate quantised to q bits over [lo, hi]
// and the bits interleaved through `spread`.
uint32_t z_key(const double* row, int32_t key_dims, int32_t q, const double* lo,
               const double* scale, const uint32_t* spread) {
  uint32_t key = 0;
  const double cells = static_cast<double>(uint32_t{1} << q);
  for (int32_t j = 0; j < key_dims; ++j) {
    // Halves keep the differences finite over the whole double range.
    double t = (row[j] * 0.5 - lo[j] * 0.5) * scale[j];
    uint32_t cell = t >= cells - 1 ? static_cast<uint32_t>(cells - 1)
                    : t > 0        ? static_cast<uint32_t>(t)
                                   : 0u;
    key |= spread[cell] << j;
  }
  return key;
}

// Stable least-significant-digit radix sort of items by their upper 32
// bits (the key); the lower 32 bits hold the row. The lowest `bits` key
// bits count. Returns whichever of the two arrays holds the result.
uint64_t* radix_sort_keys(uint64_t* items, uint64_t* spare, int64_t n, int32_t bits) {
  constexpr int digit = 11;
  static_assert(digit * 3 >= 32);
  std::vector<int64_t> count(size_t{1} << digit);
  for (int shift = 0; shift < bits; shift += digit) {
    std::fill(count.begin(), count.end(), 0);
    for (int64_t i = 0; i < n; ++i) ++count[(items[i] >> (32 + shift)) & ((1u << digit) - 1)];
    int64_t sum = 0;
    for (int64_t& c : count) {
      int64_t t = c;
      c = sum;
      sum += t;
    }
    for (int64_t i = 0; i < n; ++i)
      spare[count[(items[i] >> (32 + shift)) & ((1u << digit) - 1)]++] = items[i];
    std::swap(items, spare);
  }
  return items;
}

bool same(candidate a, candidate b) { return a.row == b.row && a.dist == b.dist; }

// Sets one leaf and mends the way up, stopping where nothing changes.
void tree_set(bucketed_rows& R, int32_t leaf, candidate c) {
  int32_t at = R.leaves + leaf;
  R.tree[at] = c;
  for (at /= 2; at >= 1; at /= 2) {
    candidate a = R.tree[2 * at], b = R.tree[2 * at + 1];
    candidate win = farther(b, a) ? b : a;
    if (same(win, R.tree[at])) break;
    R.tree[at] = win;
  }
}

void tree_build(bucketed_rows& R) {
  for (int32_t at = R.leaves - 1; at >= 1; --at) {
    candidate a = R.tree[2 * at], b = R.tree[2 * at + 1];
    R.tree[at] = farther(b, a) ? b : a;
  }
}

// Bytes of the block that bucket_rows_of lays out.
int64_t bucketed_bytes(int32_t finite, int32_t d) {
  int64_t stride = (static_cast<int64_t>(finite) + 7) / 8 * 8;
  int64_t buckets = (finite + bucket_rows - 1) / bucket_rows;
  int64_t box_stride = (buckets + 7) / 8 * 8;
  int64_t group_stride = ((buckets + group_buckets - 1) / group_buckets + 7) / 8 * 8;
  int64_t leaves = 1;
  while (leaves < buckets + 1) leaves *= 2;
  return 8 * stride * std::max(d, 2)  // x (the sort's two arrays go here first)
         + 4 * stride                   // row
         + 8 * box_stride * (2 * d + 1) + 4 * box_stride * 2  // lo, hi, top, top_row, visit
         + 8 * group_stride * (2 * d + 1) + 4 * group_stride  // the same for groups
         + static_cast<int64_t>(sizeof(candidate)) * 2 * leaves  // tree
         + 64 * 16;  // each array's start rounded up to 64 bytes
}

template <class T>
T* carve(char*& at, int64_t count) {
  T* p = reinterpret_cast<T*>(at);
  at += (count * static_cast<int64_t>(sizeof(T)) + 63) / 64 * 64;
  return p;
}

// near must hold A->rows doubles; it serves as scratch first.
void bucket_rows_of(const mat* A, bucketed_rows& R, char* block, double* near) {
  const int32_t n = A->rows, d = A->cols;
  R.stride = (static_cast<int64_t>(R.finite) + 7) / 8 * 8;
  R.buckets = (R.finite + bucket_rows - 1) / bucket_rows;
  R.box_stride = (static_cast<int64_t>(R.buckets) + 7) / 8 * 8;
  R.groups = (R.buckets + group_buckets - 1) / group_buckets;
  R.group_stride = (static_cast<int64_t>(R.groups) + 7) / 8 * 8;
  while (R.leaves < R.buckets + 1) R.leaves *= 2;
  char* at = block;
  // The sort's two arrays of items live where x goes later: 16 bytes a
  // row, which x covers from 2 coordinates up (and is sized to cover).
  char* front = at;
  R.x = carve<double>(at, R.stride * std::max(d, 2));
  R.near = near;
  R.row = carve<int32_t>(at, R.stride);
  // Each row's bucket, kept where the nearest distances go later.
  int32_t* bucket_of = reinterpret_cast<int32_t*>(near);
  R.lo = carve<double>(at, R.box_stride * d);
  R.hi = carve<double>(at, R.box_stride * d);
  R.top = carve<double>(at, R.box_stride);
  R.top_row = carve<int32_t>(at, R.box_stride);
  R.visit = carve<int32_t>(at, R.box_stride);
  R.group_lo = carve<double>(at, R.group_stride * d);
  R.group_hi = carve<double>(at, R.group_stride * d);
  R.group_top = carve<double>(at, R.group_stride);
  R.group_visit = carve<int32_t>(at, R.group_stride);
  R.tree = carve<candidate>(at, 2 * int64_t{R.leaves});
  uint64_t* items = reinterpret_cast<uint64_t*>(front);
  uint64_t* spare = items + R.finite;

  // The grid: the bounding box of the finite rows, q bits a coordinate, at
  // most 32 key bits in all.
  const int32_t q = std::max(1, std::min(16, 32 / std::max(d, 1)));
  const int32_t key_dims = std::min(d, 32 / q);
  std::vector<double> glo(key_dims, HUGE_VAL), ghi(key_dims, -HUGE_VAL), scale(key_dims, 0.0);
  for (int32_t i = 0; i < n; ++i) {
    const double* row = A->data + static_cast<int64_t>(i) * d;
    if (!row_is_finite(row, d)) continue;
    for (int32_t j = 0; j < key_dims; ++j) {
      glo[j] = std::min(glo[j], row[j]);
      ghi[j] = std::max(ghi[j], row[j]);
    }
  }
  for (int32_t j = 0; j < key_dims; ++j) {
    double width = ghi[j] * 0.5 - glo[j] * 0.5;
    if (width > 0) scale[j] = std::ldexp(1.0, q) / width;
  }
  std::vector<uint32_t> spread(size_t{1} << q);
  for (uint32_t v = 0; v < spread.size(); ++v) {
    uint32_t s = 0;
    for (int32_t t = 0; t < q; ++t) s |= ((v >> t) & 1u) << (t * key_dims);
    spread[v] = s;
  }
  int64_t m = 0;
  for (int32_t i = 0; i < n; ++i) {
    const double* row = A->data + static_cast<int64_t>(i) * d;
    if (!row_is_finite(row, d)) continue;
    uint64_t key = z_key(row, key_dims, q, glo.data(), scale.data(), spread.data());
    items[m++] = key << 32 | static_cast<uint32_t>(i);
  }
  const uint64_t* sorted = radix_sort_keys(items, spare, m, q * key_dims);

  // Cut the curve into buckets, then list each bucket's rows in rising
  // order, so that the lowest position among equals is the lowest row.
  std::vector<int64_t> fill(static_cast<size_t>(R.buckets) + 1);
  for (int64_t p = 0; p < m; ++p)
    bucket_of[static_cast<uint32_t>(sorted[p])] = static_cast<int32_t>(p / bucket_rows);
  for (int32_t b = 0; b < R.buckets; ++b) fill[b] = int64_t{b} * bucket_rows;
  for (int32_t i = 0; i < n; ++i) {
    const double* row = A->data + static_cast<int64_t>(i) * d;
    if (row_is_finite(row, d)) R.row[fill[bucket_of[i]]++] = i;
  }

  for (int64_t p = 0; p < m; ++p) {
    // The rows come in curve order, scattered over the matrix: ask for
    // them a little ahead.
    if (p + 32 < m) __builtin_prefetch(A->data + static_cast<int64_t>(R.row[p + 32]) * d);
    const double* row = A->data + static_cast<int64_t>(R.row[p]) * d;
    for (int32_t j = 0; j < d; ++j) R.x[j * R.stride + p] = row[j];
    R.near[p] = no_distance;
  }
  for (int32_t b = 0; b < R.buckets; ++b) {
    const int64_t first = int64_t{b} * bucket_rows, last = first + bucket_size(R, b);
    for (int32_t j = 0; j < d; ++j) {
      const double* xj = R.x + j * R.stride;
      double l = xj[first], h = xj[first];
      for (int64_t p = first + 1; p < last; ++p) {
        l = std::min(l, xj[p]);
        h = std::max(h, xj[p]);
      }
      R.lo[j * R.box_stride + b] = l;
      R.hi[j * R.box_stride + b] = h;
    }
    // Every nearest distance starts at the largest finite double: the
    // bucket's lowest row is its farthest.
    R.top[b] = no_distance;
    R.top_row[b] = R.row[first];
  }
  for (int32_t g = 0; g < R.groups; ++g) {
    const int32_t first = g * group_buckets, last = std::min(R.buckets, first + group_buckets);
    for (int32_t j = 0; j < d; ++j) {
      const double* lo = R.lo + j * R.box_stride;
      const double* hi = R.hi + j * R.box_stride;
      R.group_lo[j * R.group_stride + g] = *std::min_element(lo + first, lo + last);
      R.group_hi[j * R.group_stride + g] = *std::max_element(hi + first, hi + last);
    }
    R.group_top[g] = no_distance;
  }
  for (int32_t leaf = 0; leaf < R.leaves; ++leaf) {
    candidate c = none;
    if (leaf < R.buckets) c = {R.top[leaf], R.top_row[leaf]};
    if (leaf == R.buckets && R.first_special >= 0) c = {no_distance, R.first_special};
    R.tree[R.leaves + leaf] = c;
  }
  tree_build(R);
}

// The start of bucket b's rows, asked for ahead of its fold.
void prefetch_bucket(const bucketed_rows& R, int32_t b) {
  const int64_t first = int64_t{b} * bucket_rows;
  for (int32_t j = 0; j < 3 && j < R.d; ++j) __builtin_prefetch(R.x + j * R.stride + first);
  __builtin_prefetch(R.near + first);
  __builtin_prefetch(R.row + first);
}

// The pruned search. Returns false when its storage cannot be had.
bool choose_by_buckets(const mat* A, int32_t k, int32_t* centres, vec* nearest, simd_level level) {
  const int32_t n = A->rows, d = A->cols;
  bucketed_rows R;
  R.d = d;
  for (int32_t i = 0; i < n; ++i) {
    if (row_is_finite(A->data + static_cast<int64_t>(i) * d, d)) ++R.finite;
    else if (R.first_special < 0) R.first_special = i;
  }
  work_block block(bucketed_bytes(R.finite, d));
  if (block.p == nullptr) return false;
  bucket_rows_of(A, R, static_cast<char*>(block.p), nearest->data);

  int32_t next = 0;
  for (int32_t j = 1; j < k; ++j) {
    const double* c = A->data + static_cast<int64_t>(centres[j - 1]) * d;
    if (row_is_finite(c, d)) {
      // The buckets to visit: inside the groups that the centre may reach,
      // those it may reach. A group's box holds its buckets' boxes and its
      // top is their largest, so a group skipped holds no bucket to visit.
      int64_t groups = soa_boxes_within(level, R.group_lo, R.group_hi, R.group_stride, d,
                                        R.groups, c, R.group_top, R.group_visit);
      int64_t visits = 0;
      for (int64_t v = 0; v < groups; ++v) {
        const int32_t first = R.group_visit[v] * group_buckets;
        const int32_t count = std::min(group_buckets, R.buckets - first);
        int64_t found = soa_boxes_within(level, R.lo + first, R.hi + first, R.box_stride, d, count,
                                         c, R.top + first, R.visit + visits);
        for (int64_t f = visits; f < visits + found; ++f) R.visit[f] += first;
        visits += found;
      }
      for (int64_t v = 0; v < visits; ++v) {
        const int32_t b = R.visit[v];
        const int64_t first = int64_t{b} * bucket_rows;
        if (v + 1 < visits) prefetch_bucket(R, R.visit[v + 1]);
        farthest_row f = soa_fold_nearest(level, R.x + first, R.stride, d, bucket_size(R, b), c,
                                          R.near + first);
        R.top[b] = f.dist;
        R.top_row[b] = f.pos < 0 ? INT32_MAX : R.row[first + f.pos];
        if (visits * 8 < R.buckets) tree_set(R, b, {R.top[b], R.top_row[b]});
        else R.tree[R.leaves + b] = {R.top[b], R.top_row[b]};
      }
      if (visits * 8 >= R.buckets) tree_build(R);
      for (int64_t v = 0; v < groups; ++v) {
        const int32_t g = R.group_visit[v], first = g * group_buckets;
        const int32_t last = std::min(R.buckets, first + group_buckets);
        R.group_top[g] = *std::max_element(R.top + first, R.top + last);
      }
    }
    if (R.tree[1].dist > 0.0) next = R.tree[1].row;
    centres[j] = next;
    if (repeats(centres, j, k)) break;
  }
  // Back to row order, through x, which is no longer needed.
  double* by_position = R.x;
  std::memcpy(by_position, R.near, sizeof(double) * static_cast<size_t>(R.finite));
  for (int32_t i = 0; i < n; ++i) nearest->data[i] = no_distance;
  for (int32_t p = 0; p < R.finite; ++p) nearest->data[R.row[p]] = by_position[p];
  return true;
}

}  // namespace

// Fills centres[0..k-1] with exactly the centres greedy_choose picks, and
// nearest as it leaves it (untouched when k is 1). level names the vector
// instructions to use; `prune` whether to group rows into buckets.
void greedy_choose_fast(const mat* A, int32_t k, int32_t* centres, vec* nearest, simd_level level,
                        prune_rule prune) {
  centres[0] = 0;
  if (k == 1) return;
  bool use_buckets = prune == prune_rule::always ||
                     (prune == prune_rule::automatic && pruning_pays(A->rows, A->cols, k));
  if (use_buckets && choose_by_buckets(A, k, centres, nearest, level)) return;
  if (choose_by_passes(A, k, centres, nearest, level)) return;
  greedy_choose(A, k, centres, nearest);
}

// k as atoi reads it, but refusing values atoi would wrap: the number of
// centres must be from 1 up.
static bool parse_k(const char* text, int32_t* k) {
  errno = 0;
  long v = std::strtol(text, nullptr, 10);
  if (errno == ERANGE || v < 1 || v > INT32_MAX) return false;
  *k = static_cast<int32_t>(v);
  return true;
}

static const char help_text[] =
    "usage : greedy_centers k < matrix\n"
    "\n"
    "Chooses k centres among the rows of a matrix read from standard input by\n"
    "farthest-first traversal: row 0 first, then each time the row whose squared\n"
    "distance to its nearest chosen centre is largest (the lowest row index among\n"
    "equals). The matrix is two integers, rows and columns, then the elements row\n"
    "after row. Prints the k centre rows in the order of choice, each element as\n"
    "\"%.6lf \", one row per line, and exits with 0; bad input prints one line and\n"
    "exits with 1.\n";

// The one place that picks the path: a build with FORCE_PLAIN_PATH takes
// the plain pass per centre, exactly as center_cost reads; others the fast
// choice on the widest vector instructions the processor runs.
static void choose_centres(const mat* A, int32_t k, int32_t* centres, vec* nearest) {
#ifdef FORCE_PLAIN_PATH
  greedy_choose(A, k, centres, nearest);
#else
  greedy_choose_fast(A, k, centres, nearest, simd_best(), prune_rule::automatic);
#endif
}

static const char no_memory_line[] = "error : not enough memory to read the input";

static int fail(const char* line) {
  std::printf("%s\n", line);
  return 1;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("Command usage : %s %s\n", argv[0], "k");
    return 1;
  }
  if (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help")) {
    std::fputs(help_text, stdout);
    return 0;
  }
  int32_t k = 0;
  if (!parse_k(argv[1], &k)) return fail("error : k must be a whole number from 1 to 2147483647");

  int32_t rows = 0, cols = 0;
  if (mat_read_shape(&rows, &cols) < 2)
    return fail(mat_read_no_memory() ? no_memory_line : "error reading the shape of the matrix");
  if (rows < 1 || cols < 0) {
    std::printf("error : a matrix needs at least 1 row and no negative column count, not %d x %d\n",
                rows, cols);
    return 1;
  }

  mat A;
  mat_malloc(&A, rows, cols);
  if (A.data == nullptr) {
    std::printf("error : not enough memory for a %d x %d matrix\n", rows, cols);
    return 1;
  }
  if (mat_read(&A) != static_cast<int64_t>(rows) * cols) {
    mat_free(&A);
    return fail(mat_read_no_memory() ? no_memory_line : "error reading the elements of the matrix");
  }

  // With no columns every row is the same point as row 0, so every centre is
  // row 0 and the nearest distances (gigabytes for 2^31 rows) are not needed.
  vec nearest;
  vec_malloc(&nearest, cols > 0 ? rows : 0);
  int32_t* centres = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * static_cast<size_t>(k)));
  if (nearest.data == nullptr || centres == nullptr) {
    std::free(centres);
    vec_free(&nearest);
    mat_free(&A);
    std::printf("error : not enough memory for %d centres of a %d x %d matrix\n", k, rows, cols);
    return 1;
  }

  if (cols > 0) {
    choose_centres(&A, k, centres, &nearest);
  } else {
    for (int32_t j = 0; j < k; ++j) centres[j] = 0;
  }

  vec row;
  for (int32_t j = 0; j < k; ++j) {
    mat_get_row(&A, &row, centres[j]);
    vec_print(&row);
  }

  std::free(centres);
  vec_free(&nearest);
  mat_free(&A);
  // A full disk or a closed pipe must not pass for success.
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
