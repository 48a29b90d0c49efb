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
// Projections. Where rows lie near a subspace of few dimensions, as
// embeddings do, a fold in many dimensions also proves rows and groups out
// through projections of q = proj_q coordinates, which cost q operations
// instead of d. Q is any q x d matrix of doubles (here an orthonormal basis
// of the span of a sample's differences, from a random range finder) and mu
// any point; Sq >= ||Q||_2 (Gershgorin on Q Q^T) and F >= ||Q||_F are
// computed with margins. For a point x, z(x) = fl(Q (x - mu)), each
// coordinate summed as tiles_project sums it (differences, products and
// sums rounded), lies within err |x - mu| + 2^-1000 of the exact Q (x - mu),
// err = gd F with gd = 2 (d + 2) u >= gamma_{d+1} (the dot product bound
// |fl(a.b) - a.b| <= gamma_n sum |a_j b_j|, Cauchy-Schwarz, and gradual
// underflow); |x - mu| is bounded by upper_root of its computed square. A
// row's projection y_p is kept rounded to float, which adds at most
// 2^-24 |z| + 2^-150 a coordinate, |z| <= (Sq + err) |x - mu|: every row lies
// within E_row = ((err + 2^-24 (Sq + err)) M)(1 + eps) + 2^-140 of its exact
// projection, M the largest |p - mu|; a centre s keeps z_s in double, within
// E_s = (err |s - mu|)(1 + eps) + 2^-140. Then, exactly,
//   |p - s| >= |Q (p - s)| / Sq >= (|y_p - z_s| - E_row - E_s) / Sq,
// and the computed t = fl(|y_p - z_s|^2) <= (1 + gamma_q) |y_p - z_s|^2 + a.
//  - A row p of a visited group keeps v_p when fl(|p - s|^2) >= v_p, which
//    holds once |p - s| >= R_p = sqrt((v_p + a) / (1 - gamma)) (the bound
//    above), so once t >= (1 + gamma_q) (Sq R_p + E_row + E_s)^2 + a. Beside
//    v_p the engine keeps W_p = fl((Sq upper_root(v_p) + E_row)(1 + eps)) >=
//    Sq R_p + E_row, and leaves the row out when t is finite and at least a
//    finite thr = fl(fl(fl(W_p + E_s)(1 + eps))^2) >= (W_p + E_s)^2
//    (1 + eps)^2 (1 - u)^5, which exceeds (1 + gamma_q)(W_p + E_s)^2 + a, as
//    (W_p + E_s)^2 >= 2^-280 makes a negligible.
//  - A group g needs no visit once |s - g| >= N: the same test on
//    t = fl(|z_s - z_g|^2) with W_g = fl((Sq need_of(T) + E_g)(1 + eps)), E_g
//    the error of z_g; that is, once the exact |z_s - z_g| >= W_g + E_s.
//  - The pivots' cells are then cells of the centres' projections: z_s and
//    z_g are points of q dimensions, and the pivot bounds above hold for
//    them as they do in d (lower_root and upper_root of computed squared
//    distances between them, eps covering q <= d), against W_g + E_s
//    computed as fl(W_g + E_s) (the factors (1 + eps) in need_of and W_g
//    carry several u to spare for that last rounding). When projections
//    stop, every group's bound to its pivot is recomputed in full.
// Rows not left out are computed as the plain pass computes them. The
// projections are kept only while they leave out most of the rows they are
// tried on; rows are kept below 2^100 from mu, so no float overflows.
//
// The rows are copied once, in tiles (by_tile), and a fold computes each
// tile that holds a row of a visited group once. When the tiles computed
// hold many rows of groups not visited, the copy is laid out again from the
// rows, group after group and the groups of one cell together, so that a
// fold reads few tiles it does not need. Float32 rows stay float32 in the
// tiles. A centre given by its row is read back from the rows where a row's
// coordinates lie next to each other, and copied otherwise.
//
// Rows holding NaN or an infinity are in no group: their distance to every
// centre is NaN or +inf, so the strict test never lowers them; they stand as
// candidates for the farthest row with the start value. A centre holding
// one changes nothing.
//
// Storage: everything a fold needs is reserved ahead for the centres the
// caller expects; a fold beyond them grows it, and when that fails it
// reports so before changing anything (choice.cpp then goes on with passes).
// Nothing throws: every request for storage says whether it was met.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

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
// Projections: their coordinates, from how many columns and finite rows
// they are tried, the sample they are found from, the largest distance of
// a row from mu, the share of a sample's local differences they must hold,
// the folds over which they must leave out half the rows they are tried
// on, and the tiles projected at a time from the rows.
constexpr int32_t proj_q = 32;
constexpr int32_t proj_min_cols = 8 * proj_q;
constexpr int64_t proj_min_rows = 4096;
constexpr int64_t proj_sample_min = 256, proj_sample_max = 1024;
constexpr double proj_max_norm = 0x1p100;
constexpr double proj_tiny = 0x1p-140;
constexpr int32_t proj_window = 16;
constexpr int64_t proj_batch = 64;

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

}  // namespace

// Bookkeeping sits on small pages (work_array's small form), so that it
// costs its own size: on huge pages each 2 MiB page touched would count
// whole (8 MiB instead of 3 at 1e5 rows).
struct group_engine {
  row_source src{nullptr, 0, 0, 0, 0, elem_type::f64};  // the rows of A
  bool by_row = false;  // whether centres are read from A by their row (rows_unit_cols)
  int32_t d = 0;
  int32_t first = 0, count = 0;  // the engine's rows of A
  simd_level level = simd_level::plain;
  int64_t finite = 0;
  int64_t tiles = 0;  // of by_tile_rows positions
  // The finite rows by position; none while projections are on, which read
  // the rows where they lie (to_tiles: projections are off, the copy still
  // to be made).
  by_tile X{nullptr, 0, 0, 0, elem_type::f64};
  bool to_tiles = false;
  work_array<int32_t> row_of{true};   // the row of A at each position
  work_array<double> near{true};      // nearest distance by position
  work_array<double> dist{true};      // a fold's distances by position; scratch between folds
  work_array<uint64_t> marks{true};   // tiles to compute, one bit each
  work_array<int32_t> pool{true};
  int64_t pool_end = 0;
  work_list<group> groups;   // groups[0]: rows no centre has lowered
  work_list<cell> cells;     // one per pivot
  work_list<double> pivots;  // the pivots' coordinates, row after row
  work_list<int32_t> pivot_ids;
  work_list<double> pivot_dist;
  work_list<double> copies;  // centres that are not read back from A, row after row
  work_array<candidate> tree_nodes{true};
  candidate_tree tree{nullptr, 0};  // over the groups' tops
  special_rows specials{nullptr, 0, 0};  // rows holding NaN or an infinity
  work_array<int32_t> pos_of{true};  // the position of each finite row, when asked for
  bool pos_stale = true;             // ... and whether the layout has changed since
  // Groups a fold tests by their centres' distance (centres that are rows
  // of A, then copies), the distances, and the groups it visits.
  work_list<int32_t> cand_rows, cand_groups, cand_copies, cand_copied, visit;
  work_list<double> cand_dist;
  double lo_f = 1.0, hi_f = 1.0, four_f = 4.0;
  int64_t visits = 0;
  int64_t window_rows = 0, window_lanes = 0;
  int32_t window_folds = 0;

  // Projections (see the top), while proj holds.
  bool proj = false;
  work_array<double> Q{true};        // proj_q rows of d
  work_array<double> mu{true};       // d
  double Sq = 0.0, err = 0.0, e_row = 0.0;
  by_tile Y{nullptr, 0, 0, 0, elem_type::f32};  // y_p by position, proj_q columns
  work_array<double> reach{true};    // W_p by position
  work_array<double> proj_t{true};   // a fold's projected distances by position
  work_array<int32_t> gather_row{true}, gather_pos{true};
  work_array<uint8_t> lowered{true};  // rows a fold lowers, by position (0 between folds)
  work_array<int32_t> group_of{true};  // the group of each position
  work_list<uint8_t> lost;             // groups a fold takes rows from (0 between folds)
  work_array<double> gather_dist{true};
  work_list<double> centre_z;        // z of each group's centre, proj_q a group
  work_list<double> centre_e;        // ... and its error bound
  work_list<double> pivot_z;         // the pivots' z, proj_q each
  double e_most = 0.0;               // the largest error bound of a centre's z
  double z_s[proj_q] = {};
  double e_s = 0.0;
  int64_t proj_rows = 0, proj_kept = 0;  // this window's rows tried, and not left out
  int32_t proj_folds = 0;

  ~group_engine() {
    by_tile_free(&X);
    by_tile_free(&Y);
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

// Room for `count` groups in every list a fold fills; false, with the lists
// as they were (some perhaps larger), when it cannot be had.
bool reserve_groups(group_engine& s, int64_t count) {
  for (auto* v : {&s.cand_rows, &s.cand_groups, &s.cand_copies, &s.cand_copied, &s.visit})
    if (!v->reserve(count)) return false;
  if (!s.cand_dist.reserve(count) || !s.groups.reserve(count) || !s.lost.reserve(count)) return false;
  while (s.lost.size() < count) s.lost.push(0);
  if (s.proj && (!s.centre_z.reserve(count * proj_q) || !s.centre_e.reserve(count))) return false;
  if (count <= s.tree.leaves) return true;
  int32_t leaves = std::max(s.tree.leaves, 16);
  while (leaves < count) leaves *= 2;
  work_array<candidate> nodes(true);
  if (!nodes.get(2 * int64_t{leaves})) return false;
  for (int64_t t = 0; t < 2 * int64_t{leaves}; ++t) nodes[t] = none;
  for (int64_t g = 0; g < s.groups.size(); ++g) nodes[leaves + g] = s.groups[g].top;
  nodes.swap(s.tree_nodes);
  s.tree = candidate_tree{s.tree_nodes.data(), leaves};
  tree_build(&s.tree);
  return true;
}

// ---- projections -----------------------------------------------------------------


// W_p for a row at nearest distance v (see the top).
double reach_of(const group_engine& s, double v) { return (s.Sq * upper_root(s, v) + s.e_row) * s.hi_f; }

// Whether a projected squared distance t proves the bound W out (see the top).
bool proj_out(const group_engine& s, double t, double W) {
  const double h = (W + s.e_s) * s.hi_f;
  const double thr = h * h;
  return t <= no_distance && thr <= no_distance && t >= thr;
}

// A deterministic draw in [-1, 1] for the range finder: the splitmix64 output
// function of the slot.
double unit_draw(uint64_t slot) {
  uint64_t x = slot * 0x9e3779b97f4a7c15u + 0x7f4a7c15u;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
  x ^= x >> 31;
  return static_cast<double>(x >> 11) * 0x1p-52 - 1.0;
}

// Q from a sample of the rows, and whether projections are worth trying:
// the sample's rows paired with their nearest in projection must differ
// mostly within the projection (local structure of few dimensions), or
// nothing would be left out. False leaves them off.
bool find_projection(group_engine& s) {
  const int32_t d = s.d, q = proj_q;
  const int64_t ns = std::clamp<int64_t>(s.finite / 64, proj_sample_min, proj_sample_max);
  work_array<double> sample, G, Z;
  if (!sample.get(ns * d) || !G.get(int64_t{d} * q) || !Z.get(ns * q) || !s.Q.get(int64_t{q} * d) ||
      !s.mu.get(d))
    return false;
  // Evenly spaced finite rows.
  for (int64_t k = 0; k < ns; ++k) rows_get(&s.src, s.row_of[k * s.finite / ns], sample.data() + k * d);
  for (int32_t j = 0; j < d; ++j) {
    double sum = 0.0;
    for (int64_t k = 0; k < ns; ++k) sum += sample[k * d + j];
    s.mu[j] = sum / static_cast<double>(ns);
  }
  for (int64_t k = 0; k < ns; ++k)
    for (int32_t j = 0; j < d; ++j) sample[k * d + j] -= s.mu[j];
  // The range finder: G = sample^T times random draws (d x q), then its
  // columns made orthonormal twice over; Q is its transpose.
  for (int64_t t = 0; t < int64_t{d} * q; ++t) G[t] = 0.0;
  for (int64_t k = 0; k < ns; ++k) {
    double w[proj_q];
    for (int32_t i = 0; i < q; ++i) w[i] = unit_draw(static_cast<uint64_t>(k * q + i));
    for (int32_t j = 0; j < d; ++j)
      for (int32_t i = 0; i < q; ++i) G[int64_t{j} * q + i] += sample[k * d + j] * w[i];
  }
  for (int32_t i = 0; i < q; ++i) {
    double* qi = s.Q.data() + int64_t{i} * d;
    for (int32_t j = 0; j < d; ++j) qi[j] = G[int64_t{j} * q + i];
    for (int pass = 0; pass < 2; ++pass)
      for (int32_t k = 0; k < i; ++k) {
        const double* qk = s.Q.data() + int64_t{k} * d;
        double dot = 0.0;
        for (int32_t j = 0; j < d; ++j) dot += qk[j] * qi[j];
        for (int32_t j = 0; j < d; ++j) qi[j] -= dot * qk[j];
      }
    double norm = 0.0;
    for (int32_t j = 0; j < d; ++j) norm += qi[j] * qi[j];
    norm = std::sqrt(norm);
    for (int32_t j = 0; j < d; ++j) qi[j] = norm > 1e-200 ? qi[j] / norm : 0.0;
  }
  // F and Sq with margins; any Q gives sound bounds. F: the sum of q d
  // squares is within gamma_{qd} of its value. Sq: by Gershgorin, ||Q||_2^2
  // is at most the largest row sum of |Q Q^T|, whose computed terms are
  // each within gd F^2 of theirs (the dot product bound) and whose sum of q
  // terms within gamma_q; the root and the few roundings after it cost 4u.
  double f2 = 0.0, lam = 0.0;
  for (int64_t t = 0; t < int64_t{q} * d; ++t) f2 += s.Q[t] * s.Q[t];
  const double gqd = 2.0 * (static_cast<double>(q) * d + 2.0) * unit_roundoff;
  const double F = std::sqrt(f2 * (1.0 + gqd)) * (1.0 + 4.0 * unit_roundoff) + sigma;
  const double gd = 2.0 * (static_cast<double>(d) + 2.0) * unit_roundoff;
  for (int32_t i = 0; i < q; ++i) {
    double row = 0.0;
    for (int32_t k = 0; k < q; ++k) {
      double dot = 0.0;
      for (int32_t j = 0; j < d; ++j) dot += s.Q[int64_t{i} * d + j] * s.Q[int64_t{k} * d + j];
      row += std::fabs(dot);
    }
    lam = std::max(lam, row);
  }
  s.Sq = std::sqrt(lam * (1.0 + 4.0 * (q + 2) * unit_roundoff) + 2.0 * q * gd * F * F) * (1.0 + 4.0 * unit_roundoff) +
         sigma;
  s.err = gd * F;
  if (!(s.Sq <= 2.0)) return false;
  // The sample in projection; each row's nearest there, and the share of
  // their whole squared distance the projection holds.
  for (int64_t k = 0; k < ns; ++k)
    for (int32_t i = 0; i < q; ++i) {
      double sum = 0.0;
      for (int32_t j = 0; j < d; ++j) sum += s.Q[int64_t{i} * d + j] * sample[k * d + j];
      Z[k * q + i] = sum;
    }
  double whole = 0.0, held = 0.0;
  for (int64_t a = 0; a < ns; ++a) {
    int64_t b = -1;
    double best = HUGE_VAL;
    for (int64_t c = 0; c < ns; ++c) {
      if (c == a) continue;
      double sum = 0.0;
      for (int32_t i = 0; i < q; ++i) {
        const double diff = Z[a * q + i] - Z[c * q + i];
        sum += diff * diff;
      }
      if (sum < best) {
        best = sum;
        b = c;
      }
    }
    double sum = 0.0;
    for (int32_t j = 0; j < d; ++j) {
      const double diff = sample[a * d + j] - sample[b * d + j];
      sum += diff * diff;
    }
    whole += sum;
    held += best;
  }
  return whole > 0.0 && held >= 0.5 * whole;
}

// Turns projections on where they may pay (see find_projection): the rows'
// projections, from the rows where they lie, and the bounds. Leaves them off
// where the rows are not runs of coordinates, where they may not pay, or
// when their storage cannot be had (they only save time).
void start_projection(group_engine& s) {
  if (!s.by_row || s.d < proj_min_cols || s.finite < proj_min_rows || !find_projection(s)) return;
  const int64_t lanes = s.tiles * by_tile_rows;
  s.Y = by_tile_alloc(s.finite, proj_q, elem_type::f32);
  by_tile batch = by_tile_alloc(std::min(s.finite, proj_batch * by_tile_rows), s.d, s.src.type);
  if (s.Y.x == nullptr || batch.x == nullptr || !s.reach.get(lanes) || !s.proj_t.get(lanes) ||
      !s.gather_row.get(lanes) || !s.gather_pos.get(lanes) || !s.gather_dist.get(lanes) ||
      !s.centre_z.reserve(s.groups.room() * proj_q) || !s.centre_e.reserve(s.groups.room()) ||
      !s.pivot_z.reserve(int64_t{max_pivots} * proj_q)) {
    by_tile_free(&s.Y);
    by_tile_free(&batch);
    return;
  }
  // A batch of tiles at a time from the rows, projected into Y, and the
  // largest computed |p - mu|^2 (the padding copies a row).
  double m2 = 0.0;
  for (int64_t t0 = 0; t0 < s.tiles; t0 += proj_batch) {
    const int64_t nt = std::min(proj_batch, s.tiles - t0);
    batch.rows = std::min(nt * by_tile_rows, s.finite - t0 * by_tile_rows);
    batch.tiles = nt;
    by_tile_fill(&batch, &s.src, s.row_of.data() + t0 * by_tile_rows);
    by_tile into = s.Y;
    into.x = static_cast<float*>(s.Y.x) + t0 * proj_q * by_tile_rows;
    tiles_project(s.level, &batch, 0, nt, s.Q.data(), proj_q, s.mu.data(), &into);
    double* sq = s.dist.data() + t0 * by_tile_rows;
    tiles_dist_sq(s.level, &batch, 0, nt, s.mu.data(), sq);
    for (int64_t p = 0; p < nt * by_tile_rows; ++p) m2 = std::max(m2, sq[p]);
  }
  by_tile_free(&batch);
  const double M = upper_root(s, m2);
  if (!(M <= proj_max_norm)) {
    by_tile_free(&s.Y);
    return;
  }
  s.e_row = ((s.err + 0x1p-24 * (s.Sq + s.err)) * M) * s.hi_f + proj_tiny;
  const double start = reach_of(s, no_distance);
  for (int64_t p = 0; p < lanes; ++p) s.reach[p] = start;
  // Group 0 has no centre: its slot is never read.
  s.centre_z.resize(proj_q);
  s.centre_e.resize(1);
  s.proj = true;
}

// Lays the rows out in tiles, by position, once projections are off.
bool make_tiles(group_engine& s) {
  s.X = by_tile_alloc(s.finite, s.d, s.src.type);
  if (s.X.x == nullptr) return false;
  by_tile_fill(&s.X, &s.src, s.row_of.data());
  return true;
}

// The cells' bounds in full once projections are off: every group's upper
// bound of its distance to its cell's pivot, from the computed distance
// between their centres (any pivot gives sound bounds).
void full_cells(group_engine& s) {
  const int32_t d = s.d;
  const row_source copies = rows_of_doubles(s.copies.data(), static_cast<int32_t>(s.copies.size() / d), d);
  for (int64_t p = 0; p < s.cells.size(); ++p) {
    cell& C = s.cells[p];
    C.reach = 0.0;
    const double* q = s.pivots.data() + p * d;
    for (int32_t g = C.head; g >= 0; g = s.groups[g].next) {
      group& G = s.groups[g];
      double D = 0.0;
      if (G.c_row >= 0) rows_dist_sq(s.level, &s.src, &G.c_row, 1, q, &D);
      else rows_dist_sq(s.level, &copies, &G.copy, 1, q, &D);
      G.to_pivot = g == C.head ? 0.0 : upper_root(s, D);
      C.reach = std::max(C.reach, G.to_pivot);
    }
  }
}

// z_s and E_s for the centre c.
void project_centre(group_engine& s, const double* c) {
  const int32_t d = s.d;
  double m2 = 0.0;
  for (int32_t j = 0; j < d; ++j) {
    const double diff = c[j] - s.mu[j];
    m2 = diff * diff + m2;
  }
  // Each coordinate summed from j = 0 up, the proj_q sums side by side.
  double z[proj_q] = {};
  for (int32_t j = 0; j < d; ++j) {
    const double diff = c[j] - s.mu[j];
    for (int32_t i = 0; i < proj_q; ++i) z[i] = s.Q[int64_t{i} * d + j] * diff + z[i];
  }
  for (int32_t i = 0; i < proj_q; ++i) s.z_s[i] = z[i];
  const double norm = upper_root(s, m2);
  // A centre too far from mu proves nothing through projections.
  s.e_s = norm <= proj_max_norm ? (s.err * norm) * s.hi_f + proj_tiny : HUGE_VAL;
}

// Packs every group's positions to the front of the pool, through the
// distance scratch.
void compact(group_engine& s) {
  int32_t* tmp = reinterpret_cast<int32_t*>(s.dist.data());
  int64_t w = 0;
  for (int64_t g = 0; g < s.groups.size(); ++g) {
    group& G = s.groups[g];
    std::memcpy(tmp + w, s.pool.data() + G.first, sizeof(int32_t) * static_cast<size_t>(G.size));
    G.first = w;
    w += G.size;
  }
  std::memcpy(s.pool.data(), tmp, sizeof(int32_t) * static_cast<size_t>(w));
  s.pool_end = w;
}

// Lays the copy out again (with projections, the rows' projections): the
// groups of each cell together, a group's rows together. Nothing changes
// when the projections' scratch cannot be had.
void relayout(group_engine& s) {
  work_array<float> ys;
  if (s.proj && !ys.get(s.tiles * by_tile_rows * proj_q)) return;
  // The old positions in their new order, then the rows, in the two halves
  // of the distance scratch; the nearest distances through the pool.
  int32_t* order = reinterpret_cast<int32_t*>(s.dist.data());
  int32_t* rows = order + s.tiles * by_tile_rows;
  double* near = reinterpret_cast<double*>(s.pool.data());
  int64_t w = 0;
  auto place = [&](int32_t g) {
    group& G = s.groups[g];
    std::memcpy(order + w, s.pool.data() + G.first, sizeof(int32_t) * static_cast<size_t>(G.size));
    G.first = w;
    w += G.size;
  };
  place(0);
  for (int64_t c = 0; c < s.cells.size(); ++c)
    for (int32_t g = s.cells[c].head; g >= 0; g = s.groups[g].next) place(g);
  for (int64_t p = 0; p < w; ++p) {
    rows[p] = s.row_of[order[p]];
    near[p] = s.near[order[p]];
  }
  std::memcpy(s.row_of.data(), rows, sizeof(int32_t) * static_cast<size_t>(w));
  std::memcpy(s.near.data(), near, sizeof(double) * static_cast<size_t>(w));
  for (int64_t p = 0; p < w; ++p) s.pool[p] = static_cast<int32_t>(p);
  s.pool_end = w;
  for (int64_t g = 0; g < s.groups.size(); ++g)
    for (int32_t t = 0; t < s.groups[g].size; ++t) s.group_of[s.groups[g].first + t] = static_cast<int32_t>(g);
  if (s.proj) {
    // The bounds through the projections' scratch, the projections through ys.
    for (int64_t p = 0; p < w; ++p) s.proj_t[p] = s.reach[order[p]];
    std::memcpy(s.reach.data(), s.proj_t.data(), sizeof(double) * static_cast<size_t>(w));
    float* y = static_cast<float*>(s.Y.x);
    std::memcpy(ys.data(), y, sizeof(float) * static_cast<size_t>(ys.size()));
    for (int64_t p = 0; p < w; ++p) {
      const int64_t o = order[p];
      const float* from = ys.data() + (o / by_tile_rows) * proj_q * by_tile_rows + o % by_tile_rows;
      float* to = y + (p / by_tile_rows) * proj_q * by_tile_rows + p % by_tile_rows;
      for (int32_t i = 0; i < proj_q; ++i) to[i * by_tile_rows] = from[i * by_tile_rows];
    }
  } else {
    by_tile_fill(&s.X, &s.src, s.row_of.data());
  }
  s.pos_stale = true;
}

// Computes the distances of every tile holding a row of a group in s.visit,
// each tile once: from c to the rows in s.X into s.dist, or with
// projections from z_s to the rows' projections in s.Y into s.proj_t.
// Returns the rows of those groups.
int64_t compute_tiles(group_engine& s, const double* c) {
  const group* groups = s.groups.data();
  const int32_t* visit = s.visit.data();
  const int64_t visits = s.visit.size();
  int64_t rows = 0;
  for (int64_t v = 0; v < visits; ++v) rows += groups[visit[v]].size;
  if (rows == 0) return 0;
  uint64_t* marks = s.marks.data();
  const int64_t words = (s.tiles + 63) / 64;
  if (rows == s.finite) {
    // Every row: every tile (the bits past the last tile are never read).
    std::memset(marks, 0xFF, sizeof(uint64_t) * static_cast<size_t>(words));
    if (s.tiles % 64 != 0) marks[words - 1] = (uint64_t{1} << (s.tiles % 64)) - 1;
  } else {
    for (int64_t v = 0; v < visits; ++v) {
      const group& G = groups[visit[v]];
      const int32_t* pos = s.pool.data() + G.first;
      for (int32_t t = 0; t < G.size; ++t) {
        const int64_t tile = pos[t] / by_tile_rows;
        marks[tile >> 6] |= uint64_t{1} << (tile & 63);
      }
    }
  }
  // Runs of marked tiles, in order.
  int64_t lanes = 0;
  int64_t run_first = -1;
  for (int64_t wi = 0; wi <= words; ++wi) {
    const uint64_t m = wi < words ? marks[wi] : 0;
    if (wi < words) marks[wi] = 0;
    for (int64_t b = 0; b < 64; ++b) {
      const bool on = (m >> b) & 1;
      if (on && run_first < 0) run_first = wi * 64 + b;
      if (!on && run_first >= 0) {
        const int64_t n = wi * 64 + b - run_first;
        if (s.proj)
          tiles_dist_sq(s.level, &s.Y, run_first, n, s.z_s, s.proj_t.data() + run_first * by_tile_rows);
        else
          tiles_dist_sq(s.level, &s.X, run_first, n, c, s.dist.data() + run_first * by_tile_rows);
        lanes += n * by_tile_rows;
        run_first = -1;
      }
      if (m >> b == 0 && run_first < 0) break;
    }
  }
  s.visits = rows;
  s.window_rows += rows;
  s.window_lanes += lanes;
  return rows;
}

// The newest group takes the positions from the pool's end up to `end`,
// where a fold has moved the rows it came nearer to, and their top.
void take_moved(group_engine& s, int64_t newest_at, int64_t end, candidate moved) {
  group& newest = s.groups[newest_at];
  newest.first = s.pool_end;
  newest.size = static_cast<int32_t>(end - s.pool_end);
  newest.top = moved;
  s.pool_end = end;
}

// Computes the centre's distance to the rows of every group in s.visit and
// moves the rows it comes nearer to into the newest group. When every row
// is visited (where nothing can be skipped), the rows are compared in the
// order of positions, and only a group that loses rows is gone through
// again, its top recomputed only when the top row left (no row left behind
// can be farther): a centre takes rows from few of them. Otherwise each
// visited group is gone through once, without branches on the test (the
// groups a centre may reach lose many rows, in no pattern).
void visit_groups(group_engine& s, const double* c) {
  group* groups = s.groups.data();
  const int64_t newest_at = s.groups.size() - 1;
  const int32_t* visit = s.visit.data();
  const int64_t visits = s.visit.size();
  int64_t rows = 0;
  for (int64_t v = 0; v < visits; ++v) rows += groups[visit[v]].size;
  if (rows == 0) return;
  if (s.pool_end + rows > s.pool.size()) compact(s);
  compute_tiles(s, c);

  candidate moved = none;
  double* near = s.near.data();
  const double* dist = s.dist.data();
  uint8_t* lowered = s.lowered.data();
  uint8_t* lost = s.lost.data();
  int32_t* group_of = s.group_of.data();
  const int32_t* row_of = s.row_of.data();
  int32_t* pool = s.pool.data();
  int64_t end = s.pool_end;
  const int32_t newest = static_cast<int32_t>(newest_at);
  if (rows == s.finite) {
    // lost[g]: 1 when group g loses rows, 3 when its top row is among them.
    for (int64_t p = 0; p < s.finite; ++p) {
      if (!(near[p] > dist[p])) continue;
      const int32_t g = group_of[p], r = row_of[p];
      near[p] = dist[p];
      lowered[p] = 1;
      lost[g] |= r == groups[g].top.row ? 3 : 1;
      group_of[p] = newest;
      pool[end++] = static_cast<int32_t>(p);
      if (farther({dist[p], r}, moved)) moved = {dist[p], r};
    }
    for (int64_t v = 0; v < visits; ++v) {
      const uint8_t how = lost[visit[v]];
      if (how == 0) continue;
      lost[visit[v]] = 0;
      group& G = groups[visit[v]];
      int32_t* pos = pool + G.first;
      int32_t w = 0;
      candidate top = none;
      for (int32_t t = 0; t < G.size; ++t) {
        const int32_t p = pos[t];
        pos[w] = p;
        w += !lowered[p];
        if (how == 3 && !lowered[p] && farther({near[p], row_of[p]}, top)) top = {near[p], row_of[p]};
        lowered[p] = 0;
      }
      G.size = w;
      if (how == 3) {
        G.top = top;
        tree_set(&s.tree, visit[v], top);
      }
    }
  } else {
    for (int64_t v = 0; v < visits; ++v) {
      group& G = groups[visit[v]];
      int32_t* pos = pool + G.first;
      candidate top = none;
      int32_t w = 0;
      for (int32_t t = 0; t < G.size; ++t) {
        // Both lists are written, and only one of them advances.
        const int32_t p = pos[t], r = row_of[p];
        const double dp = dist[p], before = near[p];
        const bool lower = before > dp;
        const double now = lower ? dp : before;
        near[p] = now;
        group_of[p] = lower ? newest : visit[v];
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
      tree_set(&s.tree, visit[v], top);
    }
  }
  take_moved(s, newest_at, end, moved);
}

// visit_groups with projections: the rows they do not leave out are
// computed from the rows where they lie, and only a group that loses rows
// is gone through again (the others keep their rows and their top).
void visit_projected(group_engine& s, const double* c) {
  group* groups = s.groups.data();
  const int64_t newest_at = s.groups.size() - 1;
  const int32_t* visit = s.visit.data();
  const int64_t visits = s.visit.size();
  int64_t rows = 0;
  for (int64_t v = 0; v < visits; ++v) rows += groups[visit[v]].size;
  if (rows == 0) return;
  if (s.pool_end + rows > s.pool.size()) compact(s);
  compute_tiles(s, c);
  // The rows not left out, group after group: kept[v] ends group v's.
  int32_t* kept = s.cand_groups.data();
  int64_t n = 0;
  for (int64_t v = 0; v < visits; ++v) {
    const group& G = groups[visit[v]];
    const int32_t* pos = s.pool.data() + G.first;
    for (int32_t t = 0; t < G.size; ++t) {
      const int32_t p = pos[t];
      if (proj_out(s, s.proj_t[p], s.reach[p])) continue;
      s.gather_row[n] = s.row_of[p];
      s.gather_pos[n++] = p;
    }
    kept[v] = static_cast<int32_t>(n);
  }
  rows_dist_sq(s.level, &s.src, s.gather_row.data(), n, c, s.gather_dist.data());
  s.proj_rows += rows;
  s.proj_kept += n;

  candidate moved = none;
  double* near = s.near.data();
  uint8_t* lowered = s.lowered.data();
  const int32_t* row_of = s.row_of.data();
  int32_t* pool = s.pool.data();
  int64_t end = s.pool_end;
  for (int64_t v = 0, t = 0; v < visits; ++v) {
    bool lost = false;
    for (; t < kept[v]; ++t) {
      const int32_t p = s.gather_pos[t];
      const double dp = s.gather_dist[t];
      if (!(near[p] > dp)) continue;
      near[p] = dp;
      s.reach[p] = reach_of(s, dp);
      lowered[p] = 1;
      s.group_of[p] = static_cast<int32_t>(newest_at);
      pool[end++] = p;
      if (farther({dp, row_of[p]}, moved)) moved = {dp, row_of[p]};
      lost = true;
    }
    if (!lost) continue;
    group& G = groups[visit[v]];
    int32_t* pos = pool + G.first;
    candidate top = none;
    int32_t w = 0;
    for (int32_t u = 0; u < G.size; ++u) {
      const int32_t p = pos[u];
      if (lowered[p]) {
        lowered[p] = 0;
        continue;
      }
      pos[w++] = p;
      if (farther({near[p], row_of[p]}, top)) top = {near[p], row_of[p]};
    }
    G.size = w;
    G.top = top;
    tree_set(&s.tree, visit[v], top);
  }
  take_moved(s, newest_at, end, moved);
}

choice_farthest farthest(const group_engine& s) {
  candidate best = s.tree.nodes[1];
  const candidate special = special_rows_top(&s.specials);
  if (farther(special, best)) best = special;
  if (best.row == INT32_MAX) return {0.0, -1};
  return {best.dist, best.row};
}

// Everything groups_start needs, in order; false when storage runs out.
bool start(group_engine& s, const row_source* A, int64_t centres) {
  const int32_t d = s.d, first = s.first, count = s.count;
  // The finite rows, in order, take the first positions.
  if (!s.row_of.get(int64_t{count} + by_tile_rows)) return false;
  s.finite = rows_list_finite(A, first, count, s.row_of.data());
  if (!special_rows_list(&s.specials, s.row_of.data(), s.finite, first, count)) return false;
  s.tiles = (s.finite + by_tile_rows - 1) / by_tile_rows;
  const int64_t lanes = s.tiles * by_tile_rows;
  // Twice the rows: a new group's positions go to the end, and the runs
  // are packed together only when the end is reached.
  const int64_t words = (s.tiles + 63) / 64 + 1;
  if (!s.pool.get(2 * s.finite + by_tile_rows) || !s.near.get(lanes + 1) || !s.dist.get(lanes + 1) ||
      !s.marks.get(words) || !s.lowered.get(lanes) || !s.group_of.get(lanes))
    return false;
  std::memset(s.lowered.data(), 0, static_cast<size_t>(lanes));
  std::memset(s.group_of.data(), 0, sizeof(int32_t) * static_cast<size_t>(lanes));
  for (int64_t p = 0; p < s.finite; ++p) s.pool[p] = static_cast<int32_t>(p);
  s.pool_end = s.finite;
  for (int64_t p = 0; p < lanes; ++p) s.near[p] = no_distance;
  std::memset(s.marks.data(), 0, sizeof(uint64_t) * static_cast<size_t>(words));
  // A group per centre at most, and the first: room for the folds asked
  // for, up to a start that stays small beside the rows (more grow it).
  if (!reserve_groups(s, std::min<int64_t>({centres, int64_t{A->rows} + 1, first_groups}) + 2) ||
      !s.cells.reserve(max_pivots) || !s.pivots.reserve(int64_t{max_pivots} * d) ||
      !s.pivot_dist.reserve(max_pivots) || !s.pivot_ids.reserve(max_pivots))
    return false;
  s.pivot_dist.resize(max_pivots);
  for (int32_t p = 0; p < max_pivots; ++p) s.pivot_ids.push(p);
  group all{0, static_cast<int32_t>(s.finite), none, -1, -1, 0.0, -1};
  if (s.finite > 0) all.top = {no_distance, s.row_of[0]};
  s.groups.push(all);
  tree_set(&s.tree, 0, all.top);
  start_projection(s);
  return s.proj || make_tiles(s);
}

}  // namespace

group_engine* groups_start(const row_source* A, int32_t first, int32_t count, simd_level level,
                           int64_t centres) {
  group_engine* s = new (std::nothrow) group_engine;
  if (s == nullptr) return nullptr;
  s->src = *A;
  s->by_row = rows_unit_cols(A);
  s->d = A->cols;
  s->first = first;
  s->count = count;
  s->level = level;
  const double eps = 8.0 * (static_cast<double>(s->d) + 2.0) * unit_roundoff;
  s->lo_f = 1.0 - eps;
  s->hi_f = 1.0 + eps;
  s->four_f = 4.0 * (1.0 + eps);
  if (!start(*s, A, centres)) {
    delete s;
    return nullptr;
  }
  return s;
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
  // Projections found not to pay: the rows in tiles, and the cells' bounds
  // in full, before anything changes.
  if (s.to_tiles) {
    if (!make_tiles(s)) return false;
    full_cells(s);
    s.to_tiles = false;
  }
  // A centre is read back by its row only where a row is one run.
  const bool copied = c_row < 0 || !s.by_row;
  if (!reserve_groups(s, s.groups.size() + 1) || (copied && !s.copies.reserve(s.copies.size() + d)) ||
      (s.cells.size() < max_pivots && !s.pivots.reserve(s.pivots.size() + d)))
    return false;
  // Nothing below asks for storage.
  const int32_t gi = static_cast<int32_t>(s.groups.size());
  group fresh{s.pool_end, 0, none, copied ? -1 : static_cast<int32_t>(c_row), -1, 0.0, -1};
  if (copied) {
    fresh.copy = static_cast<int32_t>(s.copies.size() / d);
    for (int32_t j = 0; j < d; ++j) s.copies.push(c[j]);
  }
  s.groups.push(fresh);
  group* groups = s.groups.data();
  if (s.proj) {
    project_centre(s, c);
    s.centre_z.resize(int64_t{gi} * proj_q);
    for (int32_t i = 0; i < proj_q; ++i) s.centre_z.push(s.z_s[i]);
    s.centre_e.resize(gi);
    s.centre_e.push(s.e_s);
  }
  // What a group must lie beyond to need no visit: |s - g| >= need_of(T)
  // in full; with projections, |z_s - z_g| >= W_g + E_s (see the top), the
  // cells then being cells of the centres' projections. The largest top
  // before the fold, and the largest E_g, bound every group's.
  auto need = [&](double top, double e_g) {
    return s.proj ? (s.Sq * need_of(s, top) + e_g) * s.hi_f + s.e_s : need_of(s, top);
  };
  const double need_all = need(s.tree.nodes[1].dist, s.e_most);

  // Distances to the pivots (in projection, with projections); then the
  // groups that no bound rules out.
  const int32_t pivots = static_cast<int32_t>(s.cells.size());
  double* pivot_dist = s.pivot_dist.data();
  const row_source pivot_rows = s.proj ? rows_of_doubles(s.pivot_z.data(), pivots, proj_q)
                                       : rows_of_doubles(s.pivots.data(), pivots, d);
  rows_dist_sq(s.level, &pivot_rows, s.pivot_ids.data(), pivots, s.proj ? s.z_s : c, pivot_dist);
  s.visit.clear();
  if (groups[0].size > 0) s.visit.push(0);
  s.cand_rows.clear();
  s.cand_groups.clear();
  s.cand_copies.clear();
  s.cand_copied.clear();
  // The groups that the pivots do not rule out (in the visit list's room, as
  // group numbers); then, with projections, those they do not rule out.
  int32_t* maybe = s.visit.data() + s.visit.size();
  int64_t n_maybe = 0;
  for (int32_t p = 0; p < pivots; ++p) {
    const cell& C = s.cells[p];
    const double lb = lower_root(s, pivot_dist[p]);
    if ((lb - C.reach) * s.lo_f >= need_all) continue;
    for (int32_t g = C.head; g >= 0; g = groups[g].next) {
      const group& G = groups[g];
      if (G.top.row == INT32_MAX) continue;  // no row above 0.0: nothing to lower
      if ((lb - G.to_pivot) * s.lo_f >= need(G.top.dist, s.proj ? s.centre_e[g] : 0.0)) continue;
      maybe[n_maybe++] = g;
    }
  }
  if (s.proj) {
    // A group the projections do not rule out is visited: its rows cost q
    // operations each there, no more than the centre's whole distance would.
    const row_source zs = rows_of_doubles(s.centre_z.data(), gi + 1, proj_q);
    double* t = s.cand_dist.data();
    rows_dist_sq(s.level, &zs, maybe, n_maybe, s.z_s, t);
    int64_t m = 0;
    for (int64_t k = 0; k < n_maybe; ++k) {
      const int32_t g = maybe[k];
      const double W = (s.Sq * need_of(s, groups[g].top.dist) + s.centre_e[g]) * s.hi_f;
      if (!proj_out(s, t[k], W)) maybe[m++] = g;
    }
    s.visit.resize(s.visit.size() + m);  // maybe[] lies where they go
    n_maybe = 0;
  }
  for (int64_t k = 0; k < n_maybe; ++k) {
    const int32_t g = maybe[k];
    const group& G = groups[g];
    if (G.c_row >= 0) {
      s.cand_rows.push(G.c_row);
      s.cand_groups.push(g);
    } else {
      s.cand_copies.push(G.copy);
      s.cand_copied.push(g);
    }
  }
  // The exact test on the computed distance between the centres.
  auto test = [&](int32_t g, double D) {
    const double thr = (groups[g].top.dist + tau) * s.four_f;
    if (!(D <= no_distance && thr <= no_distance && D >= thr)) s.visit.push(g);
  };
  double* D = s.cand_dist.data();
  rows_dist_sq(s.level, &s.src, s.cand_rows.data(), s.cand_rows.size(), c, D);
  for (int64_t t = 0; t < s.cand_rows.size(); ++t) test(s.cand_groups[t], D[t]);
  const row_source copy_rows = rows_of_doubles(s.copies.data(), static_cast<int32_t>(s.copies.size() / d), d);
  rows_dist_sq(s.level, &copy_rows, s.cand_copies.data(), s.cand_copies.size(), c, D);
  for (int64_t t = 0; t < s.cand_copies.size(); ++t) test(s.cand_copied[t], D[t]);
  if (s.proj) visit_projected(s, c);
  else visit_groups(s, c);

  group& G = groups[gi];
  if (s.proj) s.e_most = std::max(s.e_most, s.e_s);
  if (pivots < max_pivots) {
    // A pivot: its own cell, even without rows, for the bounds through it.
    for (int32_t j = 0; j < d; ++j) s.pivots.push(c[j]);
    if (s.proj)
      for (int32_t i = 0; i < proj_q; ++i) s.pivot_z.push(s.z_s[i]);
    s.cells.push({gi, gi, 0.0});
  } else if (G.size == 0) {
    // A centre that lowered nothing never will: its rows could only come
    // from this fold. Its place is given back.
    if (copied) s.copies.resize(s.copies.size() - d);
    s.groups.pop();
  } else {
    // The cell of the nearest pivot (the lowest among equals).
    int32_t best = 0;
    for (int32_t p = 1; p < pivots; ++p)
      if (pivot_dist[p] < pivot_dist[best]) best = p;
    G.to_pivot = upper_root(s, pivot_dist[best]);
    // An infinite distance makes the cell's bounds prove nothing, as it must.
    cell& C = s.cells[best];
    groups[C.tail].next = gi;
    C.tail = gi;
    C.reach = std::max(C.reach, G.to_pivot);
  }
  if (s.groups.size() > gi) tree_set(&s.tree, gi, G.top);

  if (s.proj && ++s.proj_folds == proj_window) {
    // Projections that leave out fewer than half the rows they are tried
    // on cost more than they save.
    if (2 * s.proj_kept > s.proj_rows) {
      s.proj = false;
      s.to_tiles = true;
    }
    s.proj_folds = 0;
    s.proj_rows = s.proj_kept = 0;
  }
  if (++s.window_folds == layout_window) {
    if (s.window_lanes > layout_waste * s.window_rows) relayout(s);
    s.window_folds = 0;
    s.window_rows = s.window_lanes = 0;
  }
  *out = farthest(s);
  return true;
}

int64_t groups_visits(const group_engine* s) { return s->visits; }

bool groups_projecting(const group_engine* s) { return s->proj; }

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
    if (s->pos_of.size() < s->count && !s->pos_of.get(s->count)) return -1.0;
    for (int64_t p = 0; p < s->finite; ++p) s->pos_of[s->row_of[p] - s->first] = static_cast<int32_t>(p);
    s->pos_stale = false;
  }
  return s->near[s->pos_of[row - s->first]];
}

void groups_drop(group_engine* s, int32_t row) {
  // A finite row folded in lies at 0.0 already; a special one leaves the list.
  const int64_t t = special_rows_find(&s->specials, row);
  if (t >= 0) special_rows_drop(&s->specials, t);
}

void groups_end(group_engine* s) { delete s; }
