// The farthest pair without computing most pairs (farthest_pair_pruned).
//
// The search, in order:
//  1. Rows are sorted into three classes. A row holding NaN has a NaN
//     distance to every row and is never part of the answer. A row holding an
//     infinity (and no NaN) lies +inf from every finite row, so with both kinds
//     present the answer is +inf and a plain scan of one row finds it. Only
//     finite rows go on, into a copy by coordinate.
//  2. A lower bound: a real pair and its computed distance, from a few chains
//     of farthest-row scans started at extreme rows.
//  3. A filter: a row whose every distance is proven below the bound is
//     dropped. The proofs are a box (the bounding box of all rows) and a ball
//     (around the box centre).
//  4. A tree over the rows left (split at the median of the widest side, or of
//     the distance from the centre), and a walk over pairs of its nodes that
//     drops every pair whose upper bound (box, ball or cone, see node) is
//     below the best distance found. The pairs of leaves left go through
//     pair_block_most, and each row whose largest distance reaches the best is
//     searched again for its partners (pair_first_at).
//
// Bounds are safe under rounding. A box bound repeats the operations of the
// squared distance on the largest gap a box allows in each coordinate, in the
// same order; rounding is monotone, so it never falls below a distance
// computed for a pair inside the boxes. The ball and cone bounds follow from
// the triangle inequality and an exact identity, and carry explicit margins
// for the rounding on both sides.
//
// Ties: a pair of nodes is dropped when its bound is below the best distance,
// or equal to it with every pair inside having a higher first row than the
// best pair. Every pair at the answer's distance is therefore computed, and the
// lowest (i, j) among them wins, whatever the lower bound or the team.
#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

#include "kernels.hpp"
#include "pair_search.hpp"
#include "work.hpp"

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
// Above the sum of d squares that underflow (d * 2^-1074) for any int32 d.
constexpr double tiny = 1e-300;
// Splits fall on multiples of this many positions: a vector of the widest
// level.
constexpr int32_t lanes = 8;
// Positions per leaf at most. In more than 4 dimensions a leaf spans about
// 64 KiB of coordinates (leaf_words doubles): the positions a kernel call
// reads again for every block of rows stay within the second-level cache,
// and the runs of positions are long enough that a call's fixed cost does
// not show where nothing can be pruned (a sphere in 16 dimensions: 6 % more
// time with leaves of 16 KiB, 1 % with these).
constexpr int32_t leaf_max = 512;
constexpr int32_t leaf_words = 8192;
// Nodes at least this large are built as tasks of their own, and passes over
// fewer rows run on one thread: starting a team costs more than they do.
constexpr int32_t task_min = 4096;
constexpr int32_t R = pair_block_rows;

// ---- storage -------------------------------------------------------------------

// Working storage released at the end of the scope; null when it cannot be had.
template <class T>
struct buffer {
  T* p = nullptr;
  explicit buffer(int64_t count) {
    if (count >= 0 && static_cast<uint64_t>(count) <= (uint64_t{1} << 60) / sizeof(T))
      p = static_cast<T*>(
          work_alloc(std::max<int64_t>(count, 1) * static_cast<int64_t>(sizeof(T))));
  }
  ~buffer() { work_free(p); }
  buffer(const buffer&) = delete;
  buffer& operator=(const buffer&) = delete;
  T& operator[](int64_t k) const { return p[k]; }
};

// ---- the answer's order ------------------------------------------------------------

// Raises *best to the pair (i, j), i < j, at distance dist when it comes first
// in the answer's order: the larger distance, then the lower (i, j). A NaN or
// 0.0 distance is never taken.
void offer(farthest* best, double dist, int32_t i, int32_t j) {
  const farthest f{dist, i, j, 0};
  if (dist > 0.0 && (best->i < 0 || farthest_beats(&f, best))) {
    best->dist_sq = dist;
    best->i = i;
    best->j = j;
  }
}

void offer_unordered(farthest* best, double dist, int32_t a, int32_t b) {
  offer(best, dist, std::min(a, b), std::max(a, b));
}

// vec_dist_sq of rows a and b, each coordinate widened as it is read.
double row_dist(const row_source* A, int32_t a, int32_t b) {
  double sum = 0.0;
  for (int32_t k = 0; k < A->cols; ++k) {
    const double diff = rows_at(A, a, k) - rows_at(A, b, k);
    sum = diff * diff + sum;
  }
  return sum;
}

// Raises `to` to v when v is larger (relaxed: only a hint for other threads).
void raise_shared(std::atomic<double>* to, double v) {
  double seen = to->load(std::memory_order_relaxed);
  while (v > seen && !to->compare_exchange_weak(seen, v, std::memory_order_relaxed)) {
  }
}

// ---- rows that are not finite ------------------------------------------------------

enum row_class : uint8_t { finite_row, infinite_row, nan_row };

row_class classify(const row_source* A, int32_t i) {
  if (rows_finite(A, i)) return finite_row;
  for (int32_t k = 0; k < A->cols; ++k)
    if (std::isnan(rows_at(A, i, k))) return nan_row;
  return infinite_row;
}

// The answer when some row holds an infinity. Every distance involving such
// a row is +inf or NaN (never NaN between a finite row and it), and +inf is the
// largest there is, so the answer is the first pair at +inf in (i, j) order.
// With a finite row present, the first row that holds no NaN has one (it lies
// +inf from every finite row after it, or is finite with an infinite row after
// it), and one scan of it finds its partner. Otherwise all pairs of the rows
// without NaN are scanned in order until the first +inf, as the all-pairs
// search would.
farthest answer_with_infinities(const row_source* A, const uint8_t* cls) {
  farthest best = no_pair;
  const int32_t n = A->rows;
  for (int32_t i = 0; i < n; ++i) {
    if (cls[i] == nan_row) continue;
    for (int32_t j = i + 1; j < n; ++j) {
      if (cls[j] == nan_row) continue;
      ++best.compared;
      if (row_dist(A, i, j) == infinity) {
        best.dist_sq = infinity;
        best.i = i;
        best.j = j;
        return best;
      }
    }
  }
  return best;
}

// ---- the finite rows ---------------------------------------------------------

// A node's rows, relative to the centre (a' = a - centre), are bounded three
// ways: by their box; by a ball, |a'| <= scale; and by a cone around a unit
// axis e: |a' . e| <= height and |a' - (a' . e) e| <= spread. The cone bound
// of two nodes is second order in their spread, so it separates nearly
// antipodal patches of a curved surface, where boxes and balls cannot.
struct node {
  int32_t begin;   // positions [begin, end) of the tree order
  int32_t end;
  int32_t child;   // the first of two children, -1 for a leaf
  int32_t lowest;  // the lowest original row inside
  double reach;    // sqrt(rho_max + tiny) rounded: the ball bound's radius
  double scale;    // above the largest true |a'|
  double height;   // above the largest true |a' . e|
  double spread;   // above the largest true |a' - (a' . e) e|
};

struct search {
  const row_source* A;
  simd_level level;
  int32_t team;
  int32_t d;
  double margin;  // the ball and cone bounds' factor for rounding
  int32_t leaf_size = leaf_max;

  // Finite rows: position p holds original row orig[p], coordinates in X,
  // computed squared distance from the centre in rho.
  by_coord X{nullptr, 0, 0, 0};
  int32_t* orig = nullptr;
  double* rho = nullptr;
  int32_t count = 0;  // positions in use
  int32_t lowest = 0;

  double* centre = nullptr;
  double* scratch = nullptr;  // R rows of d doubles, for farthest_from
  double* box_lo = nullptr;  // of all finite rows
  double* box_hi = nullptr;

  node* nodes = nullptr;
  double* lo = nullptr;  // node b's box: lo[b * d + k] .. hi[b * d + k]
  double* hi = nullptr;
  double* axis = nullptr;  // node b's cone axis: axis[b * d + k]
  std::atomic<int32_t> nodes_used{0};

  farthest best = no_pair;  // the lower bound, then the answer
  std::atomic<double> shared{0.0};
  int64_t compared = 0;

  // Rows in tree order, row after row, once the tree is built (until then,
  // and when there is no room for them, null: rows are gathered from X).
  double* rows = nullptr;

  // The coordinates of position p, in rows or else gathered into `into` (d doubles).
  const double* row(int32_t p, double* into) const {
    if (rows != nullptr) return rows + static_cast<int64_t>(p) * d;
    for (int32_t k = 0; k < d; ++k) into[k] = coord(k)[p];
    return into;
  }
  double* coord(int32_t k) const { return X.x + k * X.stride; }

  // Whether every pair with a bound of u whose first row is at least `first`
  // loses to `b` (or to a distance some thread has found).
  bool beaten(double u, int32_t first, const farthest& b) const {
    if (u < b.dist_sq || u < shared.load(std::memory_order_relaxed)) return true;
    return u == b.dist_sq && first > b.i;
  }

  // |a - b| <= |a'| + |b'|. A computed squared distance (or rho) is within a
  // factor (1 +- 2^-53)^(d + 2) of the true one, give or take `tiny` for
  // squares that underflow; `margin` = 1 + 8 (d + 16) 2^-53 covers that on
  // both sides, and the rounding of the square roots and of this sum.
  double ball_bound(double reach_a, double reach_b) const {
    const double s = reach_a + reach_b;
    return s * s * margin + tiny;
  }

  // |a - b|^2 = |a'|^2 + |b'|^2 - 2 a'.b', and with a' = h_a e_p + t_a (t_a
  // orthogonal to e_p), likewise for b:
  //   -2 a'.b' <= 2 H_p H_q |g| + 2 |delta| (H_p T_q + H_q T_p) + 2 T_p T_q,
  // g = e_p . e_q, delta = e_p + e_q (e_p . t_b = delta . t_b as e_q . t_b
  // = 0). The axes are stored rounded, so g and |delta| are off by a few
  // units of 2^-53; that, the rounding here and that of the computed
  // distance are covered by the factor `margin` and an absolute term of
  // (32 d + 128) 2^-53 (S_p^2 + S_q^2).
  double cone_bound(int32_t p, int32_t q) const {
    const node& np = nodes[p];
    const node& nq = nodes[q];
    const double* ep = axis + static_cast<int64_t>(p) * d;
    const double* eq = axis + static_cast<int64_t>(q) * d;
    double g = 0.0, delta = 0.0;
    for (int32_t k = 0; k < d; ++k) {
      g = ep[k] * eq[k] + g;
      const double t = ep[k] + eq[k];
      delta = t * t + delta;
    }
    delta = std::sqrt(delta);
    const double radii = np.scale * np.scale + nq.scale * nq.scale;
    const double f = radii + 2.0 * np.height * nq.height * std::fabs(g) +
                     2.0 * delta * (np.height * nq.spread + nq.height * np.spread) +
                     2.0 * np.spread * nq.spread;
    return f * margin + (32.0 * d + 128.0) * 0x1p-53 * radii + tiny;
  }
};

double reach_of(double rho) { return std::sqrt(rho + tiny); }

// The largest distance from each of the rows c[0 .. used) to the positions
// [j0, j1) of X, pair_block_rows rows a call (the last row repeated to fill
// a block; its answer is not used).
void block_most(const search* s, const double* const c[], int32_t used, int64_t j0, int64_t j1,
                double most[]) {
  const double* block[R];
  for (int32_t r = 0; r < R; ++r) block[r] = c[std::min(r, used - 1)];
  pair_block_most(s->level, &s->X, block, j0, j1, most);
}

// -- 2. the lower bound ------------------------------------------------------------

// The farthest position from each of the `used` positions from[] over all
// positions (the largest distance, and the lowest position at it), split over
// the team. far[r] is -1 when nothing lies above 0.0.
void farthest_from(search* s, const int32_t* from, int32_t used, double* most, int64_t* far) {
  const double* c[R];
  for (int32_t r = 0; r < used; ++r) c[r] = s->row(from[r], s->scratch + int64_t{r} * s->d);
  const int64_t n = s->count;
  // One thread when there is no room for the team's partial answers.
  buffer<double> part(int64_t{s->team} * R);
  buffer<int64_t> hit(int64_t{s->team} * R);
  double part_one[R];
  int64_t hit_one[R];
  const bool room = part.p != nullptr && hit.p != nullptr;
  double* const most_of = room ? part.p : part_one;
  int64_t* const hit_of = room ? hit.p : hit_one;
  int32_t granted = 1;
#pragma omp parallel num_threads(s->team) if (room && n >= task_min)
  {
    const int64_t t = omp_get_thread_num(), g = omp_get_num_threads();
    // Ranges on vector boundaries, so that no vector straddles two.
    const int64_t step = (n + g - 1) / g + lanes - 1;
    const int64_t j0 = std::min(n, t * (step / lanes * lanes));
    const int64_t j1 = std::min(n, j0 + step / lanes * lanes);
    block_most(s, c, used, j0, j1, most_of + t * R);
#pragma omp barrier
#pragma omp single
    {
      granted = static_cast<int32_t>(g);
      for (int32_t r = 0; r < used; ++r) {
        most[r] = 0.0;
        for (int64_t u = 0; u < g; ++u) most[r] = std::max(most[r], most_of[u * R + r]);
      }
    }
    for (int32_t r = 0; r < used; ++r)
      hit_of[t * R + r] = most[r] > 0.0 ? pair_first_at(s->level, &s->X, c[r], j0, j1, most[r]) : -1;
  }
  for (int32_t r = 0; r < used; ++r) {
    far[r] = -1;
    for (int64_t u = 0; u < granted && far[r] < 0; ++u) far[r] = hit_of[u * R + r];
  }
  s->compared += 2 * used * n;
}

// Chains of farthest rows from three extreme rows: from each row, the
// row farthest from it, then the row farthest from that, while the distance
// grows. The best pair met is a real pair: its distance is a lower bound.
void lower_bound(search* s) {
  const int32_t n = s->count;
  int32_t starts[R];
  int32_t used = 0;
  auto add_start = [&](int32_t p) {
    for (int32_t r = 0; r < used; ++r)
      if (starts[r] == p) return;
    if (used < R) starts[used++] = p;
  };
  // The row farthest from the centre, and the extremes of the widest side.
  int32_t far_out = 0;
  for (int32_t p = 1; p < n; ++p)
    if (s->rho[p] > s->rho[far_out]) far_out = p;
  add_start(far_out);
  int32_t widest = 0;
  for (int32_t k = 1; k < s->d; ++k)
    if (s->box_hi[k] - s->box_lo[k] > s->box_hi[widest] - s->box_lo[widest]) widest = k;
  const double* x = s->coord(widest);
  int32_t lo = 0, hi = 0;
  for (int32_t p = 1; p < n; ++p) {
    if (x[p] < x[lo]) lo = p;
    if (x[p] > x[hi]) hi = p;
  }
  add_start(lo);
  add_start(hi);

  double reached[R] = {};
  for (int round = 0; round < 6 && used > 0; ++round) {
    double most[R];
    int64_t far[R];
    farthest_from(s, starts, used, most, far);
    int32_t next = 0;
    double next_reached[R];
    for (int32_t r = 0; r < used; ++r) {
      if (far[r] < 0) continue;
      offer_unordered(&s->best, most[r], s->orig[starts[r]], s->orig[far[r]]);
      if (most[r] > reached[r]) {
        next_reached[next] = most[r];
        starts[next++] = static_cast<int32_t>(far[r]);
      }
    }
    used = next;
    std::copy(next_reached, next_reached + next, reached);
  }
}

// -- 3. the filter ---------------------------------------------------------------------

// Keeps the positions with a pair that may reach the best: the box bound over
// the bounding box of all rows, and the ball bound around its centre with the
// farthest row, must both reach it. Compacts the kept positions to the front.
void filter(search* s) {
  const int32_t n = s->count, d = s->d;
  double rho_max = 0.0;
  for (int32_t p = 0; p < n; ++p) rho_max = std::max(rho_max, s->rho[p]);
  const double reach_max = reach_of(rho_max);
  buffer<uint8_t> keep(n);
  buffer<int32_t> kept(n);
  if (keep.p == nullptr || kept.p == nullptr) return;  // keeps everything
  const farthest b = s->best;
#pragma omp parallel for num_threads(s->team) schedule(static) if (n >= task_min)
  for (int32_t p0 = 0; p0 < n; p0 += 256) {
    const int32_t p1 = std::min(n, p0 + 256);
    double far[256];
    pair_box_far(s->level, &s->X, p0, p1, s->box_lo, s->box_hi, far);
    for (int32_t p = p0; p < p1; ++p) {
      const double u = std::min(far[p - p0], s->ball_bound(reach_of(s->rho[p]), reach_max));
      keep[p] = !s->beaten(u, s->lowest, b);
    }
  }
  int32_t m = 0;
  for (int32_t p = 0; p < n; ++p)
    if (keep[p]) kept[m++] = p;
  if (m == n) return;
  // kept[q] >= q, so moving each kept position down never overwrites one
  // still to be read.
  for (int32_t k = 0; k < d; ++k) {
    double* x = s->coord(k);
    for (int32_t q = 0; q < m; ++q) x[q] = x[kept[q]];
  }
  for (int32_t q = 0; q < m; ++q) {
    s->orig[q] = s->orig[kept[q]];
    s->rho[q] = s->rho[kept[q]];
  }
  s->count = m;
  s->X.rows = m;
  by_coord_pad_out(&s->X);
}

// -- 4. the tree -------------------------------------------------------------------------

void swap_positions(search* s, int32_t a, int32_t b) {
  for (int32_t k = 0; k < s->d; ++k) std::swap(s->coord(k)[a], s->coord(k)[b]);
  std::swap(s->orig[a], s->orig[b]);
  std::swap(s->rho[a], s->rho[b]);
}

// Moves the `moves` positions of [from, to) with the smallest keys to its
// front (when `smallest`), or those with the largest keys to its back, and
// returns the new boundary: from + moves, or to - moves.
int32_t move_extremes(search* s, const double* key, int32_t from, int32_t to, int32_t moves,
                      bool smallest) {
  int32_t pick[lanes * 2];
  int32_t picked = 0;
  auto before = [&](int32_t a, int32_t b) { return smallest ? key[a] < key[b] : key[a] > key[b]; };
  for (int32_t p = from; p < to; ++p) {
    if (picked < moves) {
      pick[picked++] = p;
    } else {
      int32_t worst = 0;
      for (int32_t q = 1; q < picked; ++q)
        if (before(pick[worst], pick[q])) worst = q;
      if (before(p, pick[worst])) pick[worst] = p;
    }
  }
  if (smallest) {
    std::sort(pick, pick + picked);
    for (int32_t q = 0; q < picked; ++q) swap_positions(s, from++, pick[q]);
    return from;
  }
  std::sort(pick, pick + picked, [](int32_t a, int32_t b) { return a > b; });
  for (int32_t q = 0; q < picked; ++q) swap_positions(s, --to, pick[q]);
  return to;
}

// Reorders [b, e) into two parts of multiple-of-lanes sizes split about the
// median of key (sampled); returns the first position of the second part.
int32_t split(search* s, const double* key, double key_min, int32_t b, int32_t e) {
  const int32_t len = e - b;
  double sample[33];
  const int32_t samples = std::min(len, 33);
  for (int32_t q = 0; q < samples; ++q)
    sample[q] = key[b + static_cast<int64_t>(q) * (len - 1) / std::max(samples - 1, 1)];
  std::nth_element(sample, sample + samples / 2, sample + samples);
  const double v = sample[samples / 2];
  // With the sampled median at the smallest key, "<" would leave the first
  // part empty; "<=" cannot, and the widest side has some key above it.
  const bool or_equal = v <= key_min;
  auto first = [&](double x) { return or_equal ? x <= v : x < v; };
  int32_t i = b, j = e - 1;
  for (;;) {
    while (i <= j && first(key[i])) ++i;
    while (i <= j && !first(key[j])) --j;
    if (i >= j) break;
    swap_positions(s, i++, j--);
  }
  const int32_t half = len / 2 / lanes * lanes;
  if (std::min(i - b, e - i) < len / 16) return b + half;  // lopsided: split by rank
  int32_t want = b + (i - b + lanes / 2) / lanes * lanes;
  want = std::clamp(want, b + lanes, b + (len - lanes) / lanes * lanes);
  if (want > i) i = move_extremes(s, key, i, e, want - i, true);
  if (want < i) i = move_extremes(s, key, b, i, i - want, false);
  return i;
}

// The cone of node id: the axis from the centre to the middle of its box
// (any unit vector would do; this one makes the spread small for a patch of
// a surface around the centre), and the height and spread of its rows. The
// computed h and t are within (4 d + 16) 2^-53 S of the true ones for rows
// within S of the centre (the rounding of a', of the dot product, of the
// stored axis' length, of t and of its length); twice that is added.
void cone(search* s, int32_t id) {
  const int32_t d = s->d;
  node& nd = s->nodes[id];
  const double* lo = s->lo + static_cast<int64_t>(id) * d;
  const double* hi = s->hi + static_cast<int64_t>(id) * d;
  double* e = s->axis + static_cast<int64_t>(id) * d;
  double norm = 0.0;
  for (int32_t k = 0; k < d; ++k) {
    e[k] = (lo[k] / 2 + hi[k] / 2) - s->centre[k];
    norm = e[k] * e[k] + norm;
  }
  norm = std::sqrt(norm);
  if (!(norm > 0.0) || !std::isfinite(norm)) {
    std::fill(e, e + d, 0.0);
    e[0] = 1.0;
  } else {
    for (int32_t k = 0; k < d; ++k) e[k] /= norm;
  }
  // 256 rows at a time, coordinate by coordinate: loops the compiler runs
  // in vector lanes.
  double hmax = 0.0, tmax = 0.0;
  for (int32_t p0 = nd.begin; p0 < nd.end; p0 += 256) {
    const int32_t m = std::min(nd.end - p0, 256);
    double h[256], t[256];
    std::fill(h, h + m, 0.0);
    std::fill(t, t + m, 0.0);
    for (int32_t k = 0; k < d; ++k) {
      const double* x = s->coord(k) + p0;
      const double ck = s->centre[k], ek = e[k];
      for (int32_t r = 0; r < m; ++r) h[r] = (x[r] - ck) * ek + h[r];
    }
    for (int32_t k = 0; k < d; ++k) {
      const double* x = s->coord(k) + p0;
      const double ck = s->centre[k], ek = e[k];
      for (int32_t r = 0; r < m; ++r) {
        const double tk = (x[r] - ck) - h[r] * ek;
        t[r] = tk * tk + t[r];
      }
    }
    for (int32_t r = 0; r < m; ++r) {
      hmax = std::max(hmax, std::fabs(h[r]));
      tmax = std::max(tmax, t[r]);
    }
  }
  const double scale = nd.reach * s->margin;
  const double slack = (8.0 * d + 32.0) * 0x1p-53 * scale;
  nd.scale = scale;
  nd.height = hmax + slack;
  nd.spread = std::sqrt(tmax) + slack;
}

void build(search* s, int32_t id, int32_t b, int32_t e) {
  const int32_t d = s->d;
  node& nd = s->nodes[id];
  double* lo = s->lo + static_cast<int64_t>(id) * d;
  double* hi = s->hi + static_cast<int64_t>(id) * d;
  for (int32_t k = 0; k < d; ++k) {
    const double* x = s->coord(k);
    double l = x[b], h = x[b];
    for (int32_t p = b + 1; p < e; ++p) {
      l = std::min(l, x[p]);
      h = std::max(h, x[p]);
    }
    lo[k] = l;
    hi[k] = h;
  }
  double rmin = s->rho[b], rmax = s->rho[b];
  int32_t least = s->orig[b];
  for (int32_t p = b + 1; p < e; ++p) {
    rmin = std::min(rmin, s->rho[p]);
    rmax = std::max(rmax, s->rho[p]);
    least = std::min(least, s->orig[p]);
  }
  nd = {b, e, -1, least, reach_of(rmax), 0.0, 0.0, 0.0};
  cone(s, id);
  if (e - b <= s->leaf_size) return;

  // Split the widest side, or the distance from the centre when it spreads
  // over a quarter of that side: for round clouds the ball bound is the one
  // that separates the rows that matter (far out) from the rest.
  int32_t widest = 0;
  for (int32_t k = 1; k < d; ++k)
    if (hi[k] - lo[k] > hi[widest] - lo[widest]) widest = k;
  const double width = hi[widest] - lo[widest];
  int32_t at;
  if (std::sqrt(rmax) - std::sqrt(rmin) > 0.25 * width)
    at = split(s, s->rho, rmin, b, e);
  else if (width > 0.0)
    at = split(s, s->coord(widest), lo[widest], b, e);
  else
    at = b + (e - b) / 2 / lanes * lanes;  // all rows alike
  const int32_t child = s->nodes_used.fetch_add(2);
  s->nodes[id].child = child;
  if (e - b >= task_min) {
#pragma omp task default(none) firstprivate(s, child, b, at)
    build(s, child, b, at);
  } else {
    build(s, child, b, at);
  }
  build(s, child + 1, at, e);
}

// -- the walk over pairs of nodes ---------------------------------------------------------

struct walker {
  search* s;
  farthest best;
  double* scratch;  // R rows of d doubles, for rows gathered from the copy
  int64_t compared = 0;

  double bound(int32_t p, int32_t q) const {
    const int32_t d = s->d;
    const double* lp = s->lo + static_cast<int64_t>(p) * d;
    const double* hp = s->hi + static_cast<int64_t>(p) * d;
    const double* lq = s->lo + static_cast<int64_t>(q) * d;
    const double* hq = s->hi + static_cast<int64_t>(q) * d;
    double sum = 0.0;
    for (int32_t k = 0; k < d; ++k) {
      const double g = std::max(hp[k] - lq[k], hq[k] - lp[k]);
      sum = g * g + sum;
    }
    // A NaN cone bound (0 * inf from huge rows) is dropped by min here.
    return std::min(std::min(sum, s->ball_bound(s->nodes[p].reach, s->nodes[q].reach)),
                    s->cone_bound(p, q));
  }

  bool dropped(int32_t p, int32_t q) const {
    return s->beaten(bound(p, q), std::min(s->nodes[p].lowest, s->nodes[q].lowest), best);
  }

  void visit(int32_t p, int32_t q) {
    if (dropped(p, q)) return;
    const node& np = s->nodes[p];
    const node& nq = s->nodes[q];
    if (np.child < 0 && nq.child < 0) return leaves(p, q);
    if (p == q) {
      visit(np.child, np.child + 1);
      visit(np.child, np.child);
      visit(np.child + 1, np.child + 1);
    } else if (nq.child < 0 || (np.child >= 0 && np.end - np.begin >= nq.end - nq.begin)) {
      visit(np.child, q);
      visit(np.child + 1, q);
    } else {
      visit(p, nq.child);
      visit(p, nq.child + 1);
    }
  }

  // The row filter of leaves() pays only where it drops rows: it stays on
  // while it drops an eighth of the rows it tests, and after 1024 leaf pairs
  // without it, is tried on the next 64 again.
  int64_t filter_tested = 0, filter_dropped = 0;
  int32_t filter_pairs = 0, filter_skipped = 0;

  bool filter_now() {
    if (filter_pairs < 64 || filter_dropped * 8 >= filter_tested) return true;
    if (++filter_skipped < 1024) return false;
    filter_tested = filter_dropped = 0;
    filter_pairs = filter_skipped = 0;
    return true;
  }

  // Rows of leaf p against the positions of leaf q (p == q: each pair twice,
  // which changes no answer). A row goes to the kernel only when its own box
  // bound against q's box may reach the best (when the filter is on).
  void leaves(int32_t p, int32_t q) {
    const int32_t d = s->d;
    const node& np = s->nodes[p];
    const node& nq = s->nodes[q];
    const int32_t rows = np.end - np.begin;
    double far[leaf_max];
    const bool filter = filter_now();
    if (filter) {
      pair_box_far(s->level, &s->X, np.begin, np.end, s->lo + static_cast<int64_t>(q) * d,
                   s->hi + static_cast<int64_t>(q) * d, far);
      ++filter_pairs;
      filter_tested += rows;
    }
    int32_t pos[R];
    int32_t used = 0;
    for (int32_t r = 0; r < rows; ++r) {
      const int32_t a = np.begin + r;
      if (filter && s->beaten(far[r], std::min(s->orig[a], nq.lowest), best)) {
        ++filter_dropped;
        continue;
      }
      pos[used++] = a;
      if (used == R) {
        block(pos, used, nq.begin, nq.end, nq.lowest);
        used = 0;
      }
    }
    if (used > 0) block(pos, used, nq.begin, nq.end, nq.lowest);
  }

  void block(const int32_t* pos, int32_t used, int32_t j0, int32_t j1, int32_t first) {
    const double* c[R];
    for (int32_t r = 0; r < used; ++r) c[r] = s->row(pos[r], scratch + int64_t{r} * s->d);
    double most[R];
    block_most(s, c, used, j0, j1, most);
    compared += static_cast<int64_t>(used) * (j1 - j0);
    for (int32_t r = 0; r < used; ++r) {
      const int32_t a = s->orig[pos[r]];
      if (s->beaten(most[r], std::min(a, first), best)) continue;
      // Every position at that distance: the lowest original row among them
      // makes the lowest pair with a.
      int32_t partner = -1;
      for (int64_t j = pair_first_at(s->level, &s->X, c[r], j0, j1, most[r]); j >= 0;
           j = pair_first_at(s->level, &s->X, c[r], j + 1, j1, most[r])) {
        const int32_t b = s->orig[j];
        if (partner < 0 || b < partner) partner = b;
      }
      compared += j1 - j0;
      if (partner >= 0 && partner != a) offer_unordered(&best, most[r], a, partner);
    }
    raise_shared(&s->shared, best.dist_sq);
  }
};

// The pairs of nodes the team shares out: the root pair opened, the pair
// with the most row pairs first (dropping what the lower bound already rules
// out), until there are enough to keep every thread busy; then largest
// bound first.
struct node_pair {
  int32_t p, q;
  double bound;
  double work;  // row pairs inside
};

int32_t open_pairs(search* s, node_pair* list, int32_t capacity, int32_t want) {
  walker w{s, s->best, nullptr};
  auto size = [&](int32_t p) { return static_cast<double>(s->nodes[p].end - s->nodes[p].begin); };
  auto more_work = [](const node_pair& a, const node_pair& b) { return a.work < b.work; };
  int32_t n = 0;
  auto add = [&](int32_t p, int32_t q) {
    if (w.dropped(p, q)) return;
    list[n++] = {p, q, w.bound(p, q), p == q ? size(p) * size(p) / 2 : size(p) * size(q)};
    std::push_heap(list, list + n, more_work);
  };
  add(0, 0);
  // The heap's top is the pair with the most work; leaf pairs cannot open.
  while (n > 0 && n < want && n + 3 <= capacity) {
    const node_pair top = list[0];
    const node& np = s->nodes[top.p];
    const node& nq = s->nodes[top.q];
    if (np.child < 0 && nq.child < 0) break;
    std::pop_heap(list, list + n, more_work);
    --n;
    if (top.p == top.q) {
      add(np.child, np.child + 1);
      add(np.child, np.child);
      add(np.child + 1, np.child + 1);
    } else if (nq.child < 0 || (np.child >= 0 && np.end - np.begin >= nq.end - nq.begin)) {
      add(np.child, top.q);
      add(np.child + 1, top.q);
    } else {
      add(top.p, nq.child);
      add(top.p, nq.child + 1);
    }
  }
  std::sort(list, list + n, [](const node_pair& a, const node_pair& b) {
    if (a.bound != b.bound) return a.bound > b.bound;
    return a.p != b.p ? a.p < b.p : a.q < b.q;
  });
  return n;
}

// False when storage is short (nothing is searched then).
bool walk(search* s) {
  const int32_t want = s->team == 1 ? 1 : std::min(32 * s->team, 8192);
  const int32_t capacity = want + 8;
  buffer<node_pair> list(capacity);
  buffer<farthest> found(s->team);
  buffer<int64_t> counted(s->team);
  // Rows are gathered from the copy only when the rows in tree order could not be had.
  buffer<double> scratch(s->rows != nullptr ? 0 : int64_t{s->team} * R * s->d);
  int32_t granted = 1;
  if (list.p == nullptr || found.p == nullptr || counted.p == nullptr || scratch.p == nullptr)
    return false;
  const int32_t pairs = open_pairs(s, list.p, capacity, want);
#pragma omp parallel num_threads(s->team) if (pairs > 1)
  {
    const int32_t t = omp_get_thread_num();
    walker w{s, s->best, s->rows != nullptr ? nullptr : scratch.p + int64_t{t} * R * s->d};
#pragma omp for schedule(dynamic, 1)
    for (int32_t k = 0; k < pairs; ++k) w.visit(list[k].p, list[k].q);
    found[t] = w.best;
    counted[t] = w.compared;
    if (t == 0) granted = omp_get_num_threads();
  }
  for (int32_t t = 0; t < granted; ++t) {
    offer(&s->best, found[t].dist_sq, found[t].i, found[t].j);
    s->compared += counted[t];
  }
  return true;
}

// The search over the finite rows fin[0 .. count) (increasing), which number
// at least two. Returns false when storage is short; the caller then runs the
// all-pairs search.
bool search_finite(search* s, const int32_t* fin, int32_t count) {
  const row_source* A = s->A;
  const int32_t d = s->d;
  s->X = by_coord_alloc(count, d);
  buffer<int32_t> orig(count);
  buffer<double> rho(count), centre(d), box_lo(d), box_hi(d), scratch(int64_t{R} * d);
  if (s->X.x == nullptr || orig.p == nullptr || rho.p == nullptr || centre.p == nullptr ||
      box_lo.p == nullptr || box_hi.p == nullptr || scratch.p == nullptr) {
    by_coord_free(&s->X);
    return false;
  }
  s->orig = orig.p;
  s->rho = rho.p;
  s->centre = centre.p;
  s->box_lo = box_lo.p;
  s->box_hi = box_hi.p;
  s->scratch = scratch.p;
  s->count = count;
  s->lowest = fin[0];
  s->leaf_size = d <= 4 ? 64 : std::clamp(leaf_words / d / lanes * lanes, 2 * lanes, leaf_max);

  // The copy by coordinate, a few rows at a time so each row is read once.
  const int64_t stride = s->X.stride;
  double* x = s->X.x;
  rows_visit(A, [&](auto* data) {
    const int64_t rs = A->row_stride, cs = A->col_stride;
#pragma omp parallel for num_threads(s->team) schedule(static) if (count >= task_min)
    for (int32_t p0 = 0; p0 < count; p0 += lanes) {
      const int32_t p1 = std::min(count, p0 + lanes);
      for (int32_t p = p0; p < p1; ++p) orig[p] = fin[p];
      for (int64_t k = 0; k < d; ++k)
        for (int32_t p = p0; p < p1; ++p) x[k * stride + p] = static_cast<double>(data[fin[p] * rs + k * cs]);
    }
  });
  by_coord_pad_out(&s->X);
  // The bounding box and its centre (halves first: the sum could overflow).
  for (int32_t k = 0; k < d; ++k) {
    const double* xk = x + k * stride;
    double l = xk[0], h = xk[0];
    for (int32_t p = 1; p < count; ++p) {
      l = std::min(l, xk[p]);
      h = std::max(h, xk[p]);
    }
    box_lo[k] = l;
    box_hi[k] = h;
    centre[k] = l / 2 + h / 2;
  }
#pragma omp parallel for num_threads(s->team) schedule(static) if (count >= task_min)
  for (int32_t p0 = 0; p0 < count; p0 += 256) {
    const int32_t p1 = std::min(count, p0 + 256);
    for (int32_t p = p0; p < p1; ++p) rho[p] = 0.0;
    for (int64_t k = 0; k < d; ++k)
      for (int32_t p = p0; p < p1; ++p) {
        const double diff = x[k * stride + p] - centre[k];
        rho[p] = diff * diff + rho[p];
      }
  }

  lower_bound(s);
  s->shared.store(s->best.dist_sq);
  filter(s);
  // The tree, for the rows left only: after the filter they are often few.
  const int64_t max_nodes = 2 * (static_cast<int64_t>(s->count) / lanes + 2);
  buffer<node> nodes(max_nodes);
  buffer<double> lo(max_nodes * d), hi(max_nodes * d), axis(max_nodes * d);
  bool stored = nodes.p != nullptr && lo.p != nullptr && hi.p != nullptr && axis.p != nullptr;
  if (stored && s->count >= 2) {
    s->nodes = nodes.p;
    s->lo = lo.p;
    s->hi = hi.p;
    s->axis = axis.p;
    s->nodes_used.store(1);
#pragma omp parallel num_threads(s->team) if (s->count >= 2 * task_min)
#pragma omp single
    build(s, 0, 0, s->count);
    // The kernels read 4 rows at a time: in tree order, the rows of a leaf
    // lie together instead of all over A.
    buffer<double> rows(static_cast<int64_t>(s->count) * d);
    if (rows.p != nullptr) {
#pragma omp parallel for num_threads(s->team) schedule(static) if (s->count >= task_min)
      for (int32_t p = 0; p < s->count; ++p)
        for (int32_t k = 0; k < d; ++k) rows[static_cast<int64_t>(p) * d + k] = s->coord(k)[p];
      s->rows = rows.p;
    }
    stored = walk(s);
    s->rows = nullptr;
  }
  by_coord_free(&s->X);
  return stored;
}

// The all-pairs search, where the pruned one's storage cannot be had: over
// A itself when it is a row-major matrix of doubles, else the plain scan of
// every pair through the row source, which needs no storage.
farthest all_pairs(const row_source* A, int32_t team, simd_level level) {
  if (rows_are_doubles(A)) {
    const mat M{static_cast<double*>(const_cast<void*>(A->data)), A->rows, A->cols};
    return farthest_pair_search(&M, team, level);
  }
  farthest best = no_pair;
  for (int32_t i = 0; i + 1 < A->rows; ++i)
    for (int32_t j = i + 1; j < A->rows; ++j) {
      const double dist = row_dist(A, i, j);
      if (dist > best.dist_sq) best = farthest{dist, i, j, 0};
    }
  best.compared = int64_t{A->rows} * (A->rows - 1) / 2;
  return best;
}

}  // namespace

farthest farthest_pair_pruned(const row_source* A, int32_t threads, simd_level level, bool* short_of_storage) {
  const int32_t n = A->rows, d = A->cols;
  if (short_of_storage != nullptr) *short_of_storage = false;
  // Without the storage the search needs: every pair, or no answer at all.
  auto without_storage = [&](int32_t team) {
    if (short_of_storage == nullptr) return all_pairs(A, team, level);
    *short_of_storage = true;
    return no_pair;
  };
  // No columns: every distance is the empty sum 0.0, and no pair counts.
  if (n < 2 || d <= 0) return no_pair;
  if (!simd_runs(level)) level = simd_level::plain;
  const int32_t team = std::clamp(threads, int32_t{1}, pair_search_max_threads);

  buffer<uint8_t> cls(n);
  buffer<int32_t> fin(n);
  if (cls.p == nullptr || fin.p == nullptr) return without_storage(team);
  int32_t finite = 0, infinite = 0;
#pragma omp parallel for num_threads(team) schedule(static) reduction(+ : infinite) \
    if (n >= task_min)
  for (int32_t i = 0; i < n; ++i) {
    cls[i] = classify(A, i);
    infinite += cls[i] == infinite_row;
  }
  for (int32_t i = 0; i < n; ++i)
    if (cls[i] == finite_row) fin[finite++] = i;

  if (infinite > 0) return answer_with_infinities(A, cls.p);
  if (finite < 2) return no_pair;

  search s{A, level, team, d, 1.0 + (static_cast<double>(d) + 16.0) * 0x1p-50};
  if (!search_finite(&s, fin.p, finite)) return without_storage(team);
  farthest out = s.best;
  out.compared = s.compared;
  return out;
}
