// The grouped engine: the same answers as one pass per centre, computing a
// centre's distance only to the rows of the groups it may come nearer to.
//
// Every finite row belongs to the group of the centre that last lowered its
// nearest distance (group 0 holds the rows that no centre has lowered yet,
// and is always visited). A group keeps its rows, its top (largest nearest
// distance and lowest row with it) and its centre. A new centre s visits
// group g, computing its distance to every row of g, unless a bound proves
// that it lowers none.
//
// The bound. Let T be g's top, v_p = fl(|p - g|^2) a row's nearest distance
// (v_p <= T), and let u = 2^-53 and gamma = (d + 2) u / (1 - (d + 2) u). The
// computed squared distance fl(S) of exact S, for any two finite points,
// satisfies (1 - gamma) S - a <= fl(S) <= (1 + gamma) S + a: each term
// carries three roundings (difference, square, and its share of the d - 1
// additions: gamma covers d + 2 of them, all terms being >= 0), and
// gradual underflow adds at most a = (d + 1) 2^-1074 in absolute terms
// (subtraction and addition of subnormals are exact). Put tau = 2^-1000 >=
// 3a. If the true |s - g| >= N = 2 sqrt((T + 2a) / (1 - gamma)), then for
// every row p of g, |p - g| <= sqrt((v_p + a) / (1 - gamma)) <= N / 2, so
// |p - s| >= |s - g| - |p - g| >= N / 2 and
//   fl(|p - s|^2) >= (1 - gamma) N^2 / 4 - a = T + a >= v_p:
// the plain pass would lower no nearest distance of g (its test is strict).
// Three ways to show |s - g| >= N, each on computed values, each rounding
// counted, with eps = 8 (d + 2) u, which exceeds 2 gamma + 4u:
//  - D = fl(|s - g|^2) finite and D >= thr = fl(fl(T + tau) * fl(4 (1 + eps))):
//    |s - g|^2 >= (D - a) / (1 + gamma) >= N^2, since
//    thr >= 4 (T + tau)(1 + eps)(1 - u)^3 >= (1 + gamma) N^2 + a (the factor
//    4 (1 + eps) and each rounding cost at most (1 - u), and tau >= 3a); an
//    infinite D or thr proves nothing (overflow), so the group is visited.
//  - through a pivot centre q: |s - g| >= |s - q| - |g - q|, with a lower
//    bound of |s - q| and an upper bound of |g - q| from their computed
//    squares (lower_root, upper_root below), and an upper bound of N
//    (need_of). Each multiplies a square root by (1 -/+ eps), which covers
//    gamma / 2 from the square, u from the root and u from each later
//    operation, and moves it by sigma = 2^-500 >= sqrt(a).
//  - the same for a whole cell of centres under one pivot, with the largest
//    upper bound of its members' distances to the pivot and the largest top.
// The first max_pivots centres are the pivots; each later centre joins the
// cell of its nearest pivot. So a fold computes its distance to the pivots,
// then to the centres of the cells it may reach, then to the rows of the
// groups it may reach.
//
// The rows are copied once, in tiles (by_tile), and a fold computes each
// tile that holds a row of a visited group once. When the tiles computed
// hold many rows of groups not visited, the copy is laid out again from the
// rows, group after group and the groups of one cell together, so that a
// fold reads few tiles it does not need. A centre given by its row is read
// back from the rows when they are row-major doubles, and copied otherwise.
//
// Rows holding NaN or an infinity are in no group: their distance to every
// centre is NaN or +inf, so the strict test never lowers them; they stand as
// candidates for the farthest row with the start value. A centre holding
// one changes nothing.
//
// Storage: everything a fold needs is reserved ahead for the centres the
// caller expects; a fold beyond them grows it, and when that fails it
// reports so before changing anything (choice.cpp then goes on with passes).
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "engine.hpp"
#include "work.hpp"

namespace {

constexpr double unit_roundoff = 0x1p-53;
constexpr double tau = 0x1p-1000;
constexpr double sigma = 0x1p-500;
// Centres that become pivots: the first ones folded, which farthest-first
// spreads over the whole set.
constexpr int32_t max_pivots = 64;
// Folds between two looks at how many computed tiles were needed, and the
// share of unneeded lanes that makes a new layout pay (it costs about two
// passes over the rows).
constexpr int32_t layout_window = 16;
constexpr int64_t layout_waste = 2;
// Groups reserved at the start at most: 2 MiB of bookkeeping.
constexpr int64_t first_groups = 16384;


struct group {
  int64_t first;     // its rows' positions: pool[first, first + size)
  int32_t size;
  candidate top;     // none when no row lies above 0.0
  int32_t c_row;     // the row of A holding the centre, or -1
  int32_t copy;      // else its index among the copies; -1 for group 0
  double to_pivot;   // an upper bound of the true distance to its cell's pivot
  int32_t next;      // the next group of its cell, or -1
};

struct cell {
  int32_t head, tail;  // its groups, the pivot's first; -1 when none
  double reach;        // the largest of their to_pivot
};

// A bookkeeping array, released with its owner. It comes from malloc, whose
// small pages keep it at its own size: work_alloc would round it up to huge
// pages, each touched and counted whole (8 MiB instead of 3 at 1e5 rows).
template <class T>
class block {
 public:
  block() = default;
  block(const block&) = delete;
  block& operator=(const block&) = delete;
  ~block() { std::free(p_); }
  T& operator[](int64_t i) const { return p_[i]; }
  T* get() const { return p_; }
  // count elements; throws std::bad_alloc when they cannot be had.
  void get(int64_t count) {
    std::free(p_);
    p_ = static_cast<T*>(std::malloc(static_cast<size_t>(count) * sizeof(T)));
    if (p_ == nullptr) throw std::bad_alloc();
  }

 private:
  T* p_ = nullptr;
};

}  // namespace

struct group_engine {
  row_source src{nullptr, 0, 0, 0, 0, elem_type::f64};  // the rows of A
  bool by_row = false;  // whether centres are read from A (row-major doubles) by their row
  int32_t d = 0;
  int32_t first = 0, count = 0;  // the engine's rows of A
  simd_level level = simd_level::plain;
  int64_t finite = 0;
  by_tile X{nullptr, 0, 0, 0};  // the finite rows by position
  block<int32_t> row_of;       // the row of A at each position
  block<double> near;          // nearest distance by position
  block<double> dist;          // a fold's distances by position; scratch between folds
  block<uint64_t> marks;       // tiles to compute, one bit each
  block<int32_t> pool;
  int64_t pool_cap = 0, pool_end = 0;
  std::vector<group> groups;   // groups[0]: rows no centre has lowered
  std::vector<cell> cells;     // one per pivot
  std::vector<double> pivots;  // the pivots' coordinates, row after row
  std::vector<int32_t> pivot_ids;
  std::vector<double> pivot_dist;
  std::vector<double> copies;  // centres that are no row of A, row after row
  std::vector<candidate> tree;  // tournament over the groups' tops
  int32_t leaves = 0;
  special_rows specials{nullptr, 0, 0};  // rows holding NaN or an infinity
  std::vector<int32_t> pos_of;  // the position of each finite row, when asked for
  bool pos_stale = true;        // ... and whether the layout has changed since
  // Groups a fold tests by their centres' distance (centres that are rows
  // of A, then copies), the distances, and the groups it visits.
  std::vector<int32_t> cand_rows, cand_groups, cand_copies, cand_copied, visit;
  std::vector<double> cand_dist;
  double lo_f = 1.0, hi_f = 1.0, four_f = 4.0;
  int64_t visits = 0;
  int64_t window_rows = 0, window_lanes = 0;
  int32_t window_folds = 0;

  ~group_engine() {
    by_tile_free(&X);
    special_rows_free(&specials);
  }
};

namespace {

// A square that overflowed bounds nothing from below: 0.0 then.
double lower_root(const group_engine& s, double sq) {
  return sq <= no_distance ? std::sqrt(sq) * s.lo_f - sigma : 0.0;
}
double upper_root(const group_engine& s, double sq) { return std::sqrt(sq) * s.hi_f + sigma; }
double need_of(const group_engine& s, double top) { return 2.0 * std::sqrt(top + tau) * s.hi_f; }

void tree_set(group_engine& s, int32_t leaf, candidate c) {
  candidate* tree = s.tree.data();
  int32_t at = s.leaves + leaf;
  tree[at] = c;
  for (at /= 2; at >= 1; at /= 2) {
    const candidate a = tree[2 * at], b = tree[2 * at + 1];
    const candidate win = farther(b, a) ? b : a;
    if (win.row == tree[at].row && win.dist == tree[at].dist) break;
    tree[at] = win;
  }
}

// Room for `count` groups in every list a fold fills; may throw
// std::bad_alloc, leaving the lists as they were but larger.
void reserve_groups(group_engine& s, int64_t count) {
  const size_t n = static_cast<size_t>(count);
  if (s.groups.capacity() < n) {
    const size_t grown = std::max(n, 2 * s.groups.capacity());
    for (auto* v : {&s.cand_rows, &s.cand_groups, &s.cand_copies, &s.cand_copied, &s.visit})
      v->reserve(grown);
    s.cand_dist.resize(grown);  // written through data(): sized, not only reserved
    s.groups.reserve(grown);
  }
  if (count <= s.leaves) return;
  int32_t leaves = std::max(s.leaves, 16);
  while (leaves < count) leaves *= 2;
  std::vector<candidate> tree(2 * static_cast<size_t>(leaves), none);
  for (size_t g = 0; g < s.groups.size(); ++g) tree[static_cast<size_t>(leaves) + g] = s.groups[g].top;
  for (int32_t at = leaves - 1; at >= 1; --at) {
    const candidate a = tree[2 * static_cast<size_t>(at)], b = tree[2 * static_cast<size_t>(at) + 1];
    tree[static_cast<size_t>(at)] = farther(b, a) ? b : a;
  }
  s.tree.swap(tree);
  s.leaves = leaves;
}

// Packs every group's positions to the front of the pool, through the
// distance scratch.
void compact(group_engine& s) {
  int32_t* tmp = reinterpret_cast<int32_t*>(s.dist.get());
  int64_t w = 0;
  for (group& g : s.groups) {
    std::memcpy(tmp + w, s.pool.get() + g.first, sizeof(int32_t) * static_cast<size_t>(g.size));
    g.first = w;
    w += g.size;
  }
  std::memcpy(s.pool.get(), tmp, sizeof(int32_t) * static_cast<size_t>(w));
  s.pool_end = w;
}

// Lays the copy out again: the groups of each cell together, a group's rows
// together.
void relayout(group_engine& s) {
  // The old positions in their new order, then the rows, in the two halves
  // of the distance scratch; the nearest distances through the pool.
  int32_t* order = reinterpret_cast<int32_t*>(s.dist.get());
  int32_t* rows = order + s.X.tiles * by_tile_rows;
  double* near = reinterpret_cast<double*>(s.pool.get());
  int64_t w = 0;
  auto place = [&](int32_t g) {
    group& G = s.groups[static_cast<size_t>(g)];
    std::memcpy(order + w, s.pool.get() + G.first, sizeof(int32_t) * static_cast<size_t>(G.size));
    G.first = w;
    w += G.size;
  };
  place(0);
  for (const cell& c : s.cells)
    for (int32_t g = c.head; g >= 0; g = s.groups[static_cast<size_t>(g)].next) place(g);
  for (int64_t p = 0; p < w; ++p) {
    rows[p] = s.row_of[order[p]];
    near[p] = s.near[order[p]];
  }
  std::memcpy(s.row_of.get(), rows, sizeof(int32_t) * static_cast<size_t>(w));
  std::memcpy(s.near.get(), near, sizeof(double) * static_cast<size_t>(w));
  for (int64_t p = 0; p < w; ++p) s.pool[p] = static_cast<int32_t>(p);
  s.pool_end = w;
  by_tile_fill(&s.X, &s.src, s.row_of.get());
  s.pos_stale = true;
}

// Computes the centre's distance to the rows of every group in s.visit,
// each tile once, and moves the rows it comes nearer to into the newest
// group.
void visit_groups(group_engine& s, const double* c) {
  group* groups = s.groups.data();
  const size_t newest_at = s.groups.size() - 1;
  int64_t rows = 0;
  for (int32_t g : s.visit) rows += groups[g].size;
  if (rows == 0) return;
  if (s.pool_end + rows > s.pool_cap) compact(s);
  uint64_t* marks = s.marks.get();
  for (int32_t g : s.visit) {
    const int32_t* pos = s.pool.get() + groups[g].first;
    for (int32_t t = 0; t < groups[g].size; ++t) {
      const int64_t tile = pos[t] / by_tile_rows;
      marks[tile >> 6] |= uint64_t{1} << (tile & 63);
    }
  }
  // Runs of marked tiles, in order.
  int64_t lanes = 0;
  const int64_t words = (s.X.tiles + 63) / 64;
  int64_t run_first = -1;
  for (int64_t wi = 0; wi <= words; ++wi) {
    const uint64_t m = wi < words ? marks[wi] : 0;
    if (wi < words) marks[wi] = 0;
    for (int64_t b = 0; b < 64; ++b) {
      const bool on = (m >> b) & 1;
      if (on && run_first < 0) run_first = wi * 64 + b;
      if (!on && run_first >= 0) {
        const int64_t n = wi * 64 + b - run_first;
        tiles_dist_sq(s.level, &s.X, run_first, n, c, s.dist.get() + run_first * by_tile_rows);
        lanes += n * by_tile_rows;
        run_first = -1;
      }
      if (m >> b == 0 && run_first < 0) break;
    }
  }
  s.visits = rows;
  s.window_rows += rows;
  s.window_lanes += lanes;

  candidate moved = none;
  double* near = s.near.get();
  const double* dist = s.dist.get();
  const int32_t* row_of = s.row_of.get();
  int32_t* pool = s.pool.get();
  int64_t end = s.pool_end;
  for (int32_t g : s.visit) {
    group& G = groups[g];
    int32_t* pos = pool + G.first;
    candidate top = none;
    int32_t w = 0;
    for (int32_t t = 0; t < G.size; ++t) {
      // Without branches on the test, which follows no pattern: both
      // lists are written, and only one of them advances.
      const int32_t p = pos[t], r = row_of[p];
      const double v = dist[p], before = near[p];
      const bool lower = before > v;
      const double now = lower ? v : before;
      near[p] = now;
      pool[end] = p;
      pos[w] = p;
      end += lower;
      w += !lower;
      if (lower) {
        if (farther({now, r}, moved)) moved = {now, r};
      } else if (farther({now, r}, top)) {
        top = {now, r};
      }
    }
    G.size = w;
    G.top = top;
    tree_set(s, g, top);
  }
  group& newest = groups[newest_at];
  newest.first = s.pool_end;
  newest.size = static_cast<int32_t>(end - s.pool_end);
  newest.top = moved;
  s.pool_end = end;
}

choice_farthest farthest(const group_engine& s) {
  candidate best = s.tree[1];
  const candidate special = special_rows_top(&s.specials);
  if (farther(special, best)) best = special;
  if (best.row == INT32_MAX) return {0.0, -1};
  return {best.dist, best.row};
}

}  // namespace

group_engine* groups_start(const row_source* A, int32_t first, int32_t count, simd_level level,
                           int64_t centres) {
  try {
    auto s = std::make_unique<group_engine>();
    s->src = *A;
    s->by_row = rows_are_doubles(A);
    s->d = A->cols;
    s->first = first;
    s->count = count;
    s->level = level;
    const int32_t d = s->d;
    const double eps = 8.0 * (static_cast<double>(d) + 2.0) * unit_roundoff;
    s->lo_f = 1.0 - eps;
    s->hi_f = 1.0 + eps;
    s->four_f = 4.0 * (1.0 + eps);
    // The finite rows, in order, take the first positions.
    s->row_of.get(int64_t{count} + by_tile_rows);
    for (int32_t i = first; i < first + count; ++i)
      if (rows_finite(A, i)) s->row_of[s->finite++] = i;
    if (!special_rows_list(&s->specials, s->row_of.get(), s->finite, first, count)) return nullptr;
    s->X = by_tile_alloc(s->finite, d);
    if (s->X.x == nullptr) return nullptr;
    const int64_t lanes = s->X.tiles * by_tile_rows;
    // Twice the rows: a new group's positions go to the end, and the runs
    // are packed together only when the end is reached.
    s->pool_cap = 2 * s->finite + by_tile_rows;
    s->pool.get(s->pool_cap);
    for (int64_t p = 0; p < s->finite; ++p) s->pool[p] = static_cast<int32_t>(p);
    s->pool_end = s->finite;
    s->near.get(lanes + 1);
    for (int64_t p = 0; p < lanes; ++p) s->near[p] = no_distance;
    s->dist.get(lanes + 1);
    const int64_t words = (s->X.tiles + 63) / 64 + 1;
    s->marks.get(words);
    std::memset(s->marks.get(), 0, sizeof(uint64_t) * static_cast<size_t>(words));
    by_tile_fill(&s->X, A, s->row_of.get());
    // A group per centre at most, and the first: room for the folds asked
    // for, up to a start that stays small beside the rows (more grow it).
    reserve_groups(*s, std::min<int64_t>({centres, int64_t{A->rows} + 1, first_groups}) + 2);
    s->cells.reserve(max_pivots);
    s->pivots.reserve(static_cast<size_t>(max_pivots) * static_cast<size_t>(d));
    s->pivot_dist.resize(max_pivots);
    for (int32_t p = 0; p < max_pivots; ++p) s->pivot_ids.push_back(p);
    group all{0, static_cast<int32_t>(s->finite), none, -1, -1, 0.0, -1};
    if (s->finite > 0) all.top = {no_distance, s->row_of[0]};
    s->groups.push_back(all);
    tree_set(*s, 0, all.top);
    return s.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

bool groups_fold(group_engine* sp, const double* c, int64_t c_row, choice_farthest* out) {
  group_engine& s = *sp;
  const int32_t d = s.d;
  s.visits = 0;
  if (!finite_row(c, d)) {
    // Its distance to every row is NaN or +inf: nothing changes.
    *out = farthest(s);
    return true;
  }
  // A centre is read back by its row only from row-major doubles.
  const bool copied = c_row < 0 || !s.by_row;
  try {
    reserve_groups(s, static_cast<int64_t>(s.groups.size()) + 1);
    if (copied && s.copies.capacity() < s.copies.size() + static_cast<size_t>(d))
      s.copies.reserve(std::max(2 * s.copies.capacity(), s.copies.size() + static_cast<size_t>(d)));
  } catch (const std::bad_alloc&) {
    return false;
  }
  // Nothing below asks for storage.
  const int32_t gi = static_cast<int32_t>(s.groups.size());
  group fresh{s.pool_end, 0, none, copied ? -1 : static_cast<int32_t>(c_row), -1, 0.0, -1};
  if (copied) {
    fresh.copy = static_cast<int32_t>(s.copies.size() / static_cast<size_t>(d));
    s.copies.insert(s.copies.end(), c, c + d);
  }
  // The largest top before the fold bounds every group's.
  const double need_all = need_of(s, s.tree[1].dist);
  s.groups.push_back(fresh);
  group* groups = s.groups.data();

  // Distances to the pivots; then the groups that no bound rules out.
  const int32_t pivots = static_cast<int32_t>(s.cells.size());
  double* pivot_dist = s.pivot_dist.data();
  rows_dist_sq(s.level, s.pivots.data(), d, s.pivot_ids.data(), pivots, c, pivot_dist);
  s.visit.clear();
  if (groups[0].size > 0) s.visit.push_back(0);
  s.cand_rows.clear();
  s.cand_groups.clear();
  s.cand_copies.clear();
  s.cand_copied.clear();
  for (int32_t p = 0; p < pivots; ++p) {
    const cell& C = s.cells[static_cast<size_t>(p)];
    const double lb = lower_root(s, pivot_dist[p]);
    if ((lb - C.reach) * s.lo_f >= need_all) continue;
    for (int32_t g = C.head; g >= 0; g = groups[g].next) {
      const group& G = groups[g];
      if (G.top.row == INT32_MAX) continue;  // no row above 0.0: nothing to lower
      if ((lb - G.to_pivot) * s.lo_f >= need_of(s, G.top.dist)) continue;
      if (G.c_row >= 0) {
        s.cand_rows.push_back(G.c_row);
        s.cand_groups.push_back(g);
      } else {
        s.cand_copies.push_back(G.copy);
        s.cand_copied.push_back(g);
      }
    }
  }
  // The exact test on the computed distance between the centres.
  auto test = [&](int32_t g, double D) {
    const double thr = (groups[g].top.dist + tau) * s.four_f;
    if (!(D <= no_distance && thr <= no_distance && D >= thr)) s.visit.push_back(g);
  };
  double* D = s.cand_dist.data();
  rows_dist_sq(s.level, static_cast<const double*>(s.src.data), d, s.cand_rows.data(),
               static_cast<int64_t>(s.cand_rows.size()), c, D);
  for (size_t t = 0; t < s.cand_rows.size(); ++t) test(s.cand_groups[t], D[t]);
  rows_dist_sq(s.level, s.copies.data(), d, s.cand_copies.data(),
               static_cast<int64_t>(s.cand_copies.size()), c, D);
  for (size_t t = 0; t < s.cand_copies.size(); ++t) test(s.cand_copied[t], D[t]);
  visit_groups(s, c);

  group& G = groups[gi];
  if (pivots < max_pivots) {
    // A pivot: its own cell, even without rows, for the bounds through it.
    s.pivots.insert(s.pivots.end(), c, c + d);
    s.cells.push_back({gi, gi, 0.0});
  } else if (G.size == 0) {
    // A centre that lowered nothing never will: its rows could only come
    // from this fold. Its place is given back.
    if (copied) s.copies.resize(s.copies.size() - static_cast<size_t>(d));
    s.groups.pop_back();
  } else {
    // The cell of the nearest pivot (the lowest among equals).
    int32_t best = 0;
    for (int32_t p = 1; p < pivots; ++p)
      if (pivot_dist[p] < pivot_dist[best]) best = p;
    G.to_pivot = upper_root(s, pivot_dist[best]);
    // An infinite distance makes the cell's bounds prove nothing, as it must.
    cell& C = s.cells[static_cast<size_t>(best)];
    groups[C.tail].next = gi;
    C.tail = gi;
    C.reach = std::max(C.reach, G.to_pivot);
  }
  if (static_cast<int32_t>(s.groups.size()) > gi) tree_set(s, gi, G.top);

  if (++s.window_folds == layout_window) {
    if (s.window_lanes > layout_waste * s.window_rows) relayout(s);
    s.window_folds = 0;
    s.window_rows = s.window_lanes = 0;
  }
  *out = farthest(s);
  return true;
}

int64_t groups_visits(const group_engine* s) { return s->visits; }

void groups_nearest(const group_engine* s, double* nearest) {
  for (int32_t i = 0; i < s->count; ++i) nearest[i] = no_distance;
  for (int64_t p = 0; p < s->finite; ++p) nearest[s->row_of[p] - s->first] = s->near[p];
  for (int64_t t = 0; t < s->specials.count; ++t)
    if (special_rows_dropped(&s->specials, t)) nearest[~s->specials.rows[t] - s->first] = 0.0;
}

double groups_near(group_engine* s, int32_t row) {
  const int64_t t = special_rows_find(&s->specials, row);
  if (t >= 0) return special_rows_dropped(&s->specials, t) ? 0.0 : no_distance;
  if (s->pos_stale) {
    // Asked for only by orders given start rows: not kept up before.
    try {
      s->pos_of.resize(static_cast<size_t>(s->count));
    } catch (const std::bad_alloc&) {
      return -1.0;
    }
    for (int64_t p = 0; p < s->finite; ++p) s->pos_of[static_cast<size_t>(s->row_of[p] - s->first)] = static_cast<int32_t>(p);
    s->pos_stale = false;
  }
  return s->near[s->pos_of[static_cast<size_t>(row - s->first)]];
}

void groups_drop(group_engine* s, int32_t row) {
  // A finite row folded in lies at 0.0 already; a special one leaves the list.
  const int64_t t = special_rows_find(&s->specials, row);
  if (t >= 0) special_rows_drop(&s->specials, t);
}

void groups_end(group_engine* s) { delete s; }
