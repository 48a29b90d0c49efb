// The farthest-first order and its stopping rules, once, over whatever
// holds the rows: a team of engines on one matrix (order_team), or the
// shares of the processes of an MPI job. Everything that orders rows goes
// through order_run.
#pragma once

#include <cstdint>

#include "choice.hpp"
#include "rows.hpp"

// How the rows are folded. Every function gets ctx.
struct order_folder {
  int32_t rows;  // of the whole matrix
  int32_t cols;
  void* ctx;
  // Readies the engines for about `centres` folds; false when their storage
  // cannot be had.
  bool (*start)(void* ctx, int64_t centres);
  // Folds row c in and returns the farthest row of all afterwards, the
  // lowest among equals: row -1 when every row lies on a centre (or when
  // the order must stop: -2 for a failure of the folder's own, e.g. output).
  choice_farthest (*fold)(void* ctx, int32_t c);
  // The nearest distance of a row now; -1.0 when it cannot be looked up
  // (no storage).
  double (*near)(void* ctx, int32_t row);
  // Row c is never the farthest row again (called just before it is folded).
  void (*drop)(void* ctx, int32_t c);
  void (*end)(void* ctx);
};

// The rules of one order.
struct order_rules {
  int64_t k;             // at most k steps (k >= 1), or -1 for no limit
  bool has_radius;
  double radius;         // stop once every row lies within it (a distance)
  const int32_t* start;  // the first steps, in order: rows below rows, none twice
  int64_t starts;        // how many (at least 1 when there are rows)
  // greedy_centers' rules instead: no row is dropped, and when every row
  // lies on a centre, or a centre is chosen right after itself, that centre
  // is given once more and the order stops (every later step repeats it).
  bool repeats;
};

// Receives each step as it is made; false stops the order (cancelled).
using order_step = bool (*)(void* ctx, int64_t step, int32_t row, double dist_sq);

enum class order_end {
  covered,    // every row lies on a step (the next distance would be 0)
  k_steps,    // k steps made
  radius,     // every row lies within the radius of a step
  cancelled,  // `step` returned false
  failed,     // the folder stopped the order on a failure of its own
  no_memory,  // the engines' storage could not be had
};

// The order: step 0 is start[0] with dist_sq +inf; step i < starts is
// start[i] with its squared distance to the nearest of start[0 .. i - 1]
// (the start value when no fold came nearer: a row holding NaN or an
// infinity); every later step is the row farthest from the steps before it,
// the lowest row among equals, with that squared distance. Each row is
// given once (unless `repeats`): a row holding NaN or an infinity, which
// nothing comes nearer to, is given once at its turn, with the start value,
// and the order goes on over the others. It ends as order_end says; the
// radius is tested on the steps after the start rows.
order_end order_run(const order_folder* by, const order_rules* rules, order_step step, void* ctx);

// Whether a squared distance lies within distance r: d <= r * r exactly (the
// product unrounded), never for no_distance (a row no centre has reached).
bool order_within(double d, double r);

// ---- the rows of one matrix on a team of threads ------------------------------

// The rows on a team of up to `threads` threads, one engine each on
// contiguous shards: a fold gives the farthest row of the matrix (the lowest
// among equals) whatever the number of shards. Null when storage cannot be
// had. X must outlive the team.
struct order_team;
order_team* order_team_start(const row_source* X, int32_t threads, int64_t centres);
// Folds the point c (X->cols doubles) in; c_row is the row of X it is, or -1
// when it is no row of X. The answer is the same either way.
choice_farthest order_team_fold(order_team* t, const double* c, int32_t c_row);
// The nearest distance of row `row` now (-1.0 when it cannot be looked up).
double order_team_near(order_team* t, int32_t row);
// Row `row`, about to be folded, is never the farthest again.
void order_team_drop(order_team* t, int32_t row);
void order_team_end(order_team* t);

// A folder over one matrix on a team of threads: fill `local` and pass
// order_local_folder(&local) to order_run.
struct order_local {
  const row_source* X;
  int32_t threads;
  order_team* team;
  double* centre;  // the coordinates of the row being folded
};
order_folder order_local_folder(order_local* l);
