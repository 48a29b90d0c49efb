// The bucket engine: the same answers as one pass per centre, visiting only
// the rows a centre may come nearer to.
//
// The finite rows are laid out by coordinate in buckets of nearby rows, cut
// from a Z-order curve over their bounding box; each bucket keeps its
// bounding box and the largest nearest distance among its rows, and groups
// of buckets keep the same. A centre visits only the groups, then the
// buckets, whose box bound lies below their largest nearest distance.
//
// Why every bit stays: a box's bound is computed with the operations of the
// distance in the same order, and rounding is monotone, so it never exceeds
// any of its rows' computed distances (boxes_within). When it is no smaller
// than the bucket's largest nearest distance, no row of the bucket has a
// nearest distance above its distance to the centre, so the plain pass would
// change none of them. Rows holding NaN or an infinity have distance NaN or
// +inf to every centre, so their nearest distance stays at the start value
// for good: they are kept out of the buckets and stand in the farthest-row
// search with that value. A centre holding one changes no nearest distance.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

#include "engine.hpp"
#include "work.hpp"

namespace {

// Rows per bucket: a whole number of the fold's widest step (16 rows), and
// few enough that a bucket's box stays tight around its rows.
constexpr int32_t bucket_rows = 128;
// Buckets per group: a centre tests every group's box, then the boxes of the
// groups it may reach; 64 keeps both lists short up to millions of rows.
constexpr int32_t group_buckets = 64;
// Pruning repays laying out the buckets once there are enough centres (each
// fold then visits a small part of the rows) and enough rows to fill several
// buckets; boxes stay tight up to 8 dimensions.
constexpr int64_t pruning_min_centres = 33;
constexpr int32_t pruning_min_rows = 8 * bucket_rows;
constexpr int32_t pruning_max_cols = 8;


}  // namespace

struct bucket_engine {
  simd_level level;
  int32_t rows;             // rows of the matrix
  int32_t finite;           // rows without NaN or infinity: the positions
  special_rows specials;    // rows holding NaN or an infinity
  int32_t* pos_of;          // the position of each finite row; made when first asked for
  int32_t buckets;          // bucket b holds positions [b * bucket_rows, ...)
  int32_t groups;           // group g holds buckets [g * group_buckets, ...)
  candidate_tree tree;      // over the buckets, then the lowest special row left
  by_coord X;               // the finite rows by position
  by_coord lo, hi;          // bucket boxes
  by_coord group_lo, group_hi;
  void* block;              // the arrays below, carved by carve_arrays
  double* near;             // nearest distance by position
  int32_t* row;             // the row at each position; rising within a bucket
  double* top;              // largest nearest distance in bucket b
  int32_t* top_row;         // its lowest row, INT32_MAX for none
  int32_t* visit;           // buckets a centre visits
  double* group_top;        // largest nearest distance in group g
  int32_t* group_visit;
};

namespace {

int32_t bucket_size(const bucket_engine* e, int32_t b) {
  return static_cast<int32_t>(std::min<int64_t>(bucket_rows, e->finite - int64_t{b} * bucket_rows));
}

// Lays the engine's arrays out in `block`, each on a 64-byte line of its
// own, for up to `rows` positions; with block null it only counts. Returns
// the bytes they take.
int64_t carve_arrays(bucket_engine* e, int32_t rows, char* block) {
  const int64_t buckets = (int64_t{rows} + bucket_rows - 1) / bucket_rows;
  const int64_t groups = (buckets + group_buckets - 1) / group_buckets;
  int64_t leaves = 1;
  while (leaves < buckets + 1) leaves *= 2;
  int64_t at = 0;
  auto take = [&](auto*& p, int64_t count) {
    using T = std::remove_reference_t<decltype(*p)>;
    if (block != nullptr) p = reinterpret_cast<T*>(block + at);
    at += (count * static_cast<int64_t>(sizeof(T)) + 63) / 64 * 64;
  };
  take(e->near, rows);
  take(e->row, rows);
  take(e->top, buckets);
  take(e->top_row, buckets);
  take(e->visit, buckets);
  take(e->group_top, groups);
  take(e->group_visit, groups);
  take(e->tree.nodes, 2 * leaves);
  if (block != nullptr) e->tree.leaves = static_cast<int32_t>(leaves);
  return at;
}

// Lists the finite rows in e->row, in row order, and the others apart.
bool list_finite_rows(bucket_engine* e, const row_source* A) {
  e->finite = rows_list_finite(A, 0, A->rows, e->row);
  return special_rows_list(&e->specials, e->row, e->finite, 0, A->rows);
}

// Stable least-significant-digit radix sort of items by their upper 32 bits
// (the key; the lowest `bits` of them count); the lower 32 bits hold the
// row. `count` has room for 2^radix_digit counts. Returns whichever of the
// two arrays holds the result.
constexpr int radix_digit = 11;
uint64_t* radix_sort_keys(uint64_t* items, uint64_t* spare, int64_t n, int32_t bits, int64_t* count) {
  constexpr int digit = radix_digit;
  static_assert(digit * 3 >= 32);
  for (int shift = 0; shift < bits; shift += digit) {
    std::fill(count, count + (1 << digit), 0);
    auto digit_of = [&](uint64_t item) { return (item >> (32 + shift)) & ((1u << digit) - 1); };
    for (int64_t i = 0; i < n; ++i) ++count[digit_of(items[i])];
    int64_t sum = 0;
    for (int64_t c = 0; c < (1 << digit); ++c) {
      const int64_t t = count[c];
      count[c] = sum;
      sum += t;
    }
    for (int64_t i = 0; i < n; ++i) spare[count[digit_of(items[i])]++] = items[i];
    std::swap(items, spare);
  }
  return items;
}

// Puts the listed rows in the order of a Z-order curve over a grid laid on
// their bounding box (q bits a coordinate, at most 32 key bits), so that
// each cut of bucket_rows positions holds nearby rows. False when the
// sort's scratch cannot be had.
bool sort_along_curve(bucket_engine* e, const row_source* A) {
  const int32_t d = A->cols, n = e->finite;
  const int32_t q = std::max(1, std::min(16, 32 / std::max(d, 1)));
  const int32_t key_dims = std::min(d, 32 / q);
  double lo[32], hi[32], scale[32];
  for (int32_t j = 0; j < key_dims; ++j) {
    lo[j] = HUGE_VAL;
    hi[j] = -HUGE_VAL;
    scale[j] = 0.0;
  }
  const int64_t rs = A->row_stride, cs = A->col_stride;
  rows_visit(A, [&](auto* data) {
    for (int32_t p = 0; p < n; ++p) {
      const auto* r = data + e->row[p] * rs;
      for (int32_t j = 0; j < key_dims; ++j) {
        lo[j] = std::min(lo[j], static_cast<double>(r[j * cs]));
        hi[j] = std::max(hi[j], static_cast<double>(r[j * cs]));
      }
    }
  });
  // Halves keep the widths finite over the whole double range.
  for (int32_t j = 0; j < key_dims; ++j) {
    const double width = hi[j] * 0.5 - lo[j] * 0.5;
    if (width > 0) scale[j] = std::ldexp(1.0, q) / width;
  }
  work_array<uint32_t> spread(true);
  work_array<int64_t> count(true);
  work_array<int32_t> next(true);
  if (!spread.get(int64_t{1} << q) || !count.get(int64_t{1} << radix_digit) || !next.get(e->buckets))
    return false;
  for (uint32_t v = 0; v < (uint32_t{1} << q); ++v) {
    spread[v] = 0;
    for (int32_t t = 0; t < q; ++t) spread[v] |= ((v >> t) & 1u) << (t * key_dims);
  }

  // The sort's two arrays lie in the copy by coordinate while it is not yet
  // filled, when it holds them (from 2 columns on): memory the process
  // touches for the first time costs the kernel a clearing.
  const bool in_copy = e->X.stride * e->X.cols * elem_bytes(e->X.type) >= 16 * int64_t{n};
  uint64_t* items = in_copy ? static_cast<uint64_t*>(e->X.x)
                            : static_cast<uint64_t*>(work_alloc(2 * int64_t{n} * 8));
  if (items == nullptr) return false;
  const double cells = std::ldexp(1.0, q);
  rows_visit(A, [&](auto* data) {
    for (int32_t p = 0; p < n; ++p) {
      const auto* r = data + e->row[p] * rs;
      uint32_t key = 0;
      for (int32_t j = 0; j < key_dims; ++j) {
        const double t = (static_cast<double>(r[j * cs]) * 0.5 - lo[j] * 0.5) * scale[j];
        const uint32_t cell = t >= cells - 1 ? static_cast<uint32_t>(cells - 1)
                              : t > 0        ? static_cast<uint32_t>(t)
                                             : 0u;
        key |= spread[cell] << j;
      }
      items[p] = uint64_t{key} << 32 | static_cast<uint32_t>(p);
    }
  });
  uint64_t* sorted = radix_sort_keys(items, items + n, n, q * key_dims, count.data());
  // The rows in rising order within each bucket, so that its lowest position
  // among equals is its lowest row: each listed row's bucket (by where the
  // curve puts it), then the rows dealt to their buckets in list order, which
  // is row order. Both arrays fit in the sort's two halves.
  int32_t* bucket_of = reinterpret_cast<int32_t*>(sorted == items ? items + n : items);
  for (int32_t p = 0; p < n; ++p) bucket_of[sorted[p] & 0xFFFFFFFFu] = p / bucket_rows;
  int32_t* dealt = reinterpret_cast<int32_t*>(sorted);
  for (int32_t b = 0; b < e->buckets; ++b) next[b] = b * bucket_rows;
  for (int32_t p = 0; p < n; ++p) dealt[next[bucket_of[p]]++] = e->row[p];
  std::copy(dealt, dealt + n, e->row);
  if (!in_copy) work_free(items);
  return true;
}

// The boxes of the buckets, then of the groups, and every nearest distance
// at the start value: each bucket's lowest row is its farthest.
template <class T>
void make_boxes(bucket_engine* e, const T* x) {
  const int32_t d = e->X.cols;
  double* lo_x = by_coord_doubles(&e->lo);
  double* hi_x = by_coord_doubles(&e->hi);
  for (int32_t b = 0; b < e->buckets; ++b) {
    const int64_t first = int64_t{b} * bucket_rows, last = first + bucket_size(e, b);
    for (int32_t j = 0; j < d; ++j) {
      const T* xj = x + j * e->X.stride;
      T l = xj[first], h = xj[first];
      for (int64_t p = first + 1; p < last; ++p) {
        l = std::min(l, xj[p]);
        h = std::max(h, xj[p]);
      }
      lo_x[j * e->lo.stride + b] = static_cast<double>(l);
      hi_x[j * e->hi.stride + b] = static_cast<double>(h);
    }
    e->top[b] = no_distance;
    e->top_row[b] = e->row[first];
  }
  for (int32_t g = 0; g < e->groups; ++g) {
    const int32_t first = g * group_buckets, last = std::min(e->buckets, first + group_buckets);
    for (int32_t j = 0; j < d; ++j) {
      const double* lo = lo_x + j * e->lo.stride;
      const double* hi = hi_x + j * e->hi.stride;
      by_coord_doubles(&e->group_lo)[j * e->group_lo.stride + g] = *std::min_element(lo + first, lo + last);
      by_coord_doubles(&e->group_hi)[j * e->group_hi.stride + g] = *std::max_element(hi + first, hi + last);
    }
    e->group_top[g] = no_distance;
  }
  for (int32_t p = 0; p < e->finite; ++p) e->near[p] = no_distance;
}

void fill_tree(bucket_engine* e) {
  for (int32_t leaf = 0; leaf < e->tree.leaves; ++leaf) {
    candidate c = none;
    if (leaf < e->buckets) c = {e->top[leaf], e->top_row[leaf]};
    if (leaf == e->buckets) c = special_rows_top(&e->specials);
    e->tree.nodes[e->tree.leaves + leaf] = c;
  }
  tree_build(&e->tree);
}

// The start of bucket b's rows, asked for ahead of its fold.
void prefetch_bucket(const bucket_engine* e, int32_t b) {
  const int64_t first = int64_t{b} * bucket_rows;
  const char* x = static_cast<const char*>(e->X.x);
  for (int32_t j = 0; j < 3 && j < e->X.cols; ++j)
    __builtin_prefetch(x + (j * e->X.stride + first) * elem_bytes(e->X.type));
  __builtin_prefetch(e->near + first);
  __builtin_prefetch(e->row + first);
}

}  // namespace

bool buckets_pay(int32_t rows, int32_t cols, int64_t centres) {
  return cols >= 1 && cols <= pruning_max_cols && centres >= pruning_min_centres &&
         rows >= pruning_min_rows;
}

bucket_engine* buckets_start(const row_source* A, simd_level level) {
  bucket_engine* e = new (std::nothrow) bucket_engine{};
  if (e == nullptr) return nullptr;
  e->level = level;
  e->rows = A->rows;
  e->block = work_alloc(carve_arrays(e, A->rows, nullptr));
  if (e->block == nullptr) {
    buckets_end(e);
    return nullptr;
  }
  carve_arrays(e, A->rows, static_cast<char*>(e->block));
  if (!list_finite_rows(e, A)) {
    buckets_end(e);
    return nullptr;
  }
  e->buckets = (e->finite + bucket_rows - 1) / bucket_rows;
  e->groups = (e->buckets + group_buckets - 1) / group_buckets;
  e->X = by_coord_alloc(e->finite, A->cols, A->type);
  e->lo = by_coord_alloc(e->buckets, A->cols);
  e->hi = by_coord_alloc(e->buckets, A->cols);
  e->group_lo = by_coord_alloc(e->groups, A->cols);
  e->group_hi = by_coord_alloc(e->groups, A->cols);
  if (!e->X.x || !e->lo.x || !e->hi.x || !e->group_lo.x || !e->group_hi.x || !sort_along_curve(e, A)) {
    buckets_end(e);
    return nullptr;
  }
  by_coord_fill(&e->X, A, e->row);
  if (e->X.type == elem_type::f32) make_boxes(e, static_cast<const float*>(e->X.x));
  else make_boxes(e, by_coord_doubles(&e->X));
  fill_tree(e);
  return e;
}

choice_farthest buckets_fold(bucket_engine* e, const double* c) {
  if (finite_row(c, e->X.cols)) {
    // The buckets to visit: inside the groups that the centre may reach,
    // those it may reach. A group's box holds its buckets' boxes and its top
    // is their largest, so a group skipped holds no bucket to visit.
    const int64_t groups = boxes_within(e->level, &e->group_lo, &e->group_hi, 0, e->groups, c,
                                        e->group_top, e->group_visit);
    int64_t visits = 0;
    for (int64_t v = 0; v < groups; ++v) {
      const int32_t first = e->group_visit[v] * group_buckets;
      const int32_t last = std::min(e->buckets, first + group_buckets);
      visits += boxes_within(e->level, &e->lo, &e->hi, first, last, c, e->top, e->visit + visits);
    }
    // Mending the tree leaf by leaf costs a few steps up per bucket; past
    // one visit in eight buckets, building it again is cheaper.
    const bool rebuild = visits * 8 >= e->buckets;
    // The folds first, noting each bucket's farthest position; then its
    // row, a read from anywhere in the row list that would stall each fold
    // but overlaps with the others when they come together.
    for (int64_t v = 0; v < visits; ++v) {
      const int32_t b = e->visit[v];
      const int64_t first = int64_t{b} * bucket_rows;
      if (v + 1 < visits) prefetch_bucket(e, e->visit[v + 1]);
      const farthest_row f = fold_nearest(e->level, &e->X, first, first + bucket_size(e, b), c, e->near);
      e->top[b] = f.dist;
      e->top_row[b] = static_cast<int32_t>(f.pos);  // -1 for none
    }
    for (int64_t v = 0; v < visits; ++v) {
      const int32_t b = e->visit[v], pos = e->top_row[b];
      e->top_row[b] = pos < 0 ? INT32_MAX : e->row[pos];
    }
    for (int64_t v = 0; v < visits; ++v) {
      const int32_t b = e->visit[v];
      if (rebuild) e->tree.nodes[e->tree.leaves + b] = {e->top[b], e->top_row[b]};
      else tree_set(&e->tree, b, {e->top[b], e->top_row[b]});
    }
    if (rebuild) tree_build(&e->tree);
    for (int64_t v = 0; v < groups; ++v) {
      const int32_t g = e->group_visit[v], first = g * group_buckets;
      const int32_t last = std::min(e->buckets, first + group_buckets);
      e->group_top[g] = *std::max_element(e->top + first, e->top + last);
    }
  }
  const candidate win = e->tree.nodes[1];
  if (win.dist > 0.0) return choice_farthest{win.dist, win.row};
  return choice_farthest{0.0, -1};
}

void buckets_nearest(const bucket_engine* e, double* nearest) {
  for (int32_t i = 0; i < e->rows; ++i) nearest[i] = no_distance;
  for (int32_t p = 0; p < e->finite; ++p) nearest[e->row[p]] = e->near[p];
  for (int64_t t = 0; t < e->specials.count; ++t)
    if (special_rows_dropped(&e->specials, t)) nearest[~e->specials.rows[t]] = 0.0;
}

double buckets_near(bucket_engine* e, int32_t row) {
  const int64_t t = special_rows_find(&e->specials, row);
  if (t >= 0) return special_rows_dropped(&e->specials, t) ? 0.0 : no_distance;
  if (e->pos_of == nullptr) {
    // Asked for only by orders given start rows: not made before.
    e->pos_of = static_cast<int32_t*>(work_alloc(int64_t{e->rows} * static_cast<int64_t>(sizeof(int32_t))));
    if (e->pos_of == nullptr) return -1.0;
    for (int32_t p = 0; p < e->finite; ++p) e->pos_of[e->row[p]] = p;
  }
  return e->near[e->pos_of[row]];
}

void buckets_drop(bucket_engine* e, int32_t row) {
  // A finite row folded in lies at 0.0 already; a special one leaves the list.
  const int64_t t = special_rows_find(&e->specials, row);
  if (t >= 0 && special_rows_drop(&e->specials, t)) tree_set(&e->tree, e->buckets, special_rows_top(&e->specials));
}

void buckets_end(bucket_engine* e) {
  if (e == nullptr) return;
  by_coord_free(&e->X);
  by_coord_free(&e->lo);
  by_coord_free(&e->hi);
  by_coord_free(&e->group_lo);
  by_coord_free(&e->group_hi);
  work_free(e->block);
  work_free(e->pos_of);
  special_rows_free(&e->specials);
  delete e;
}
