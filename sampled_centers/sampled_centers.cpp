// mpirun -np P sampled_centers filename k m s
//
// Approximate k-center search on points of the plane by random sampling.
// Every process reads the whole point file, draws m random k-tuples of point
// indices from its own random stream, scores each by its coverage cost and
// keeps the cheapest. The best tuple of every process is gathered at rank 0,
// scored again there, and the cheapest of them (lowest rank among equals) is
// printed with its cost, the number of tuples tried and the wall time.
//
// Every MPI call is in main; reading, scoring and sampling know nothing of MPI.
#include <immintrin.h>
#include <mpi.h>

#include <cerrno>
#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>

#include "sampled_centers.hpp"

static_assert(sizeof(int) == sizeof(int32_t), "indices travel as MPI_INT");

// Stands for the absence of any distance wherever a minimum is sought.
constexpr double no_distance = DBL_MAX;

bool vec2set_read_file(vec2set* set, const char* filename) {
  set->n = 0;
  FILE* f = std::fopen(filename, "r");
  if (f == nullptr) {
    std::printf("error : could not open file %s for reading\n", filename);
    return false;
  }
  double x, y;
  while (std::fscanf(f, "%lf %lf", &x, &y) == 2) {
    if (set->n > vec2set_capacity - 1) {
      std::printf("Too many points in file %s\n", filename);
      std::fclose(f);
      return false;
    }
    set->points[set->n++] = vec2{x, y};
  }
  // A failed read (a directory, a device error) is not the end of the
  // points: taking what came before it would silently drop the rest.
  bool unreadable = std::ferror(f) != 0;
  std::fclose(f);
  if (unreadable) {
    std::printf("error : could not read file %s\n", filename);
    return false;
  }
  return true;
}

// The build never fuses a multiply with an add.
double vec2_dist_sq(vec2 a, vec2 b) {
  double dx = a.x - b.x;
  double dy = a.y - b.y;
  return dx * dx + dy * dy;
}

// The plain definition that every faster scoring must agree with.
double center_cost(const vec2set* set, const int32_t* centres, int32_t k) {
  double cost = 0.0;
  for (int32_t i = 0; i < set->n; ++i) {
    double best = no_distance;
    for (int32_t j = 0; j < k; ++j) {
      double d = vec2_dist_sq(set->points[i], set->points[centres[j]]);
      best = d < best ? d : best;
    }
    cost = best > cost ? best : cost;
  }
  return cost;
}

// s itself on rank 0, so that one process draws exactly the tuples of
// srandom(s); rank r adds r * 2654435769 (2^32 over the golden ratio, an odd
// number) modulo 2^32. Since the step is odd, every rank below 2^32 gets its
// own seed, and the streams of one run do not reappear as rank 0 of a run
// with a nearby seed.
unsigned int rank_seed(unsigned int s, int32_t rank) {
  return s + static_cast<unsigned int>(rank) * 2654435769u;
}

double sample_best(const vec2set* set, int32_t k, int32_t m, int32_t* trial, int32_t* centres) {
  double best = no_distance;
  for (int32_t t = 0; t < m; ++t) {
    for (int32_t j = 0; j < k; ++j) trial[j] = static_cast<int32_t>(random() % set->n);
    double cost = center_cost(set, trial, k);
    if (t == 0 || best > cost) {
      best = cost;
      for (int32_t j = 0; j < k; ++j) centres[j] = trial[j];
    }
  }
  return best;
}

int32_t best_gathered(const vec2set* set, const int32_t* gathered, int32_t count, int32_t k,
                      double* cost) {
  int32_t best = 0;
  *cost = no_distance;
  for (int32_t r = 0; r < count; ++r) {
    double c = center_cost(set, gathered + static_cast<int64_t>(r) * k, k);
    if (*cost > c) {
      *cost = c;
      best = r;
    }
  }
  return best;
}

// ---- the fast scoring ------------------------------------------------------
//
// The same costs and the same tuples as center_cost, sample_best and
// best_gathered, bit for bit, found faster. The points are copied once, laid
// out by coordinate, so that vector lanes run across points: each lane
// computes its point's distances as vec2_dist_sq does (two differences, two
// products, one sum, never fused) and keeps the nearest with the same strict
// test. No nearest distance is ever NaN or -0.0 (the strict test never takes
// a NaN, and a sum of squares is never -0.0), so the largest of them is the
// same whichever order lanes and blocks are taken in.
//
// Scoring a sampled tuple stops as soon as its running cost is no less than
// the best cost so far: the cost only grows from there, so the tuple could
// not replace the best, and the choice is the one full scoring makes.

// Point (i * step) mod n goes to position i, with step near n / 1.618 and
// prime to n: the first blocks scored are then scattered over the set even
// when the file is sorted, so a tuple's far points turn up, and stop its
// scoring, early. The padding holds copies of one point: a copy is exactly
// as near to each centre as its original, so the largest nearest distance is
// the same.
void vec2cols_fill(vec2cols* cols, const vec2set* set) {
  const int32_t n = set->n;
  cols->n = n;
  cols->count = (n + cover_block - 1) / cover_block * cover_block;
  cols->points = set->points;
  int32_t step = 1;
  for (int32_t s = static_cast<int32_t>(n * int64_t{618} / 1000); s > 1; --s) {
    if (std::gcd(s, n) == 1) {
      step = s;
      break;
    }
  }
  for (int32_t i = 0; i < cols->count; ++i) {
    const vec2& p = set->points[static_cast<int64_t>(i < n ? i : n - 1) * step % n];
    cols->x[i] = p.x;
    cols->y[i] = p.y;
  }
}

namespace {

// Point by point, as center_cost reads, stopping once the cost reaches stop.
double cover_plain(const vec2cols* cols, const int32_t* centres, int32_t k, double stop) {
  double cost = 0.0;
  for (int32_t i = 0; i < cols->n; ++i) {
    double best = no_distance;
    for (int32_t j = 0; j < k; ++j) {
      const vec2& q = cols->points[centres[j]];
      double dx = cols->x[i] - q.x;
      double dy = cols->y[i] - q.y;
      double d = dx * dx + dy * dy;
      best = d < best ? d : best;
    }
    cost = best > cost ? best : cost;
    if (cost >= stop) break;
  }
  return cost;
}

// The largest lane; lanes hold no NaN, so the order of the tests is free.
double largest(const double* lanes, int count) {
  double cost = 0.0;
  for (int l = 0; l < count; ++l) cost = lanes[l] > cost ? lanes[l] : cost;
  return cost;
}

// ---- AVX-512: 4 vectors of 8 points per block ------------------------------------
//
// min_pd(d, best) is d < best ? d : best and max_pd(best, cost) is
// best > cost ? best : cost, operand order included: the tests of center_cost.
// (g++ 12 takes the unused pass-through operand of the masked builtin behind
// them for an uninitialised variable.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

__attribute__((target("avx512f"), always_inline)) inline __m512d nearer_avx512(
    __m512d px, __m512d py, __m512d qx, __m512d qy, __m512d best) {
  __m512d dx = _mm512_sub_pd(px, qx);
  __m512d dy = _mm512_sub_pd(py, qy);
  __m512d d = _mm512_add_pd(_mm512_mul_pd(dx, dx), _mm512_mul_pd(dy, dy));
  return _mm512_min_pd(d, best);
}

__attribute__((target("avx512f"))) double cover_avx512(const vec2cols* cols, const int32_t* centres,
                                                       int32_t k, double stop) {
  const __m512d limit = _mm512_set1_pd(stop);
  const __m512d none = _mm512_set1_pd(no_distance);
  __m512d cost = _mm512_setzero_pd();
  for (int32_t i = 0; i < cols->count; i += cover_block) {
    const double* x = cols->x + i;
    const double* y = cols->y + i;
    const __m512d x0 = _mm512_load_pd(x), x1 = _mm512_load_pd(x + 8);
    const __m512d x2 = _mm512_load_pd(x + 16), x3 = _mm512_load_pd(x + 24);
    const __m512d y0 = _mm512_load_pd(y), y1 = _mm512_load_pd(y + 8);
    const __m512d y2 = _mm512_load_pd(y + 16), y3 = _mm512_load_pd(y + 24);
    __m512d b0 = none, b1 = none, b2 = none, b3 = none;
    for (int32_t j = 0; j < k; ++j) {
      const vec2& q = cols->points[centres[j]];
      const __m512d qx = _mm512_set1_pd(q.x);
      const __m512d qy = _mm512_set1_pd(q.y);
      b0 = nearer_avx512(x0, y0, qx, qy, b0);
      b1 = nearer_avx512(x1, y1, qx, qy, b1);
      b2 = nearer_avx512(x2, y2, qx, qy, b2);
      b3 = nearer_avx512(x3, y3, qx, qy, b3);
    }
    cost = _mm512_max_pd(b0, cost);
    cost = _mm512_max_pd(b1, cost);
    cost = _mm512_max_pd(b2, cost);
    cost = _mm512_max_pd(b3, cost);
    if (_mm512_cmp_pd_mask(cost, limit, _CMP_GE_OQ) != 0) break;
  }
  alignas(64) double lanes[8];
  _mm512_store_pd(lanes, cost);
  return largest(lanes, 8);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// ---- AVX2: 4 vectors of 4 points per step, two steps per block ----------------------

__attribute__((target("avx2"), always_inline)) inline __m256d nearer_avx2(
    __m256d px, __m256d py, __m256d qx, __m256d qy, __m256d best) {
  __m256d dx = _mm256_sub_pd(px, qx);
  __m256d dy = _mm256_sub_pd(py, qy);
  __m256d d = _mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy));
  return _mm256_min_pd(d, best);
}

__attribute__((target("avx2"))) double cover_avx2(const vec2cols* cols, const int32_t* centres,
                                                  int32_t k, double stop) {
  const __m256d limit = _mm256_set1_pd(stop);
  const __m256d none = _mm256_set1_pd(no_distance);
  __m256d cost = _mm256_setzero_pd();
  for (int32_t i = 0; i < cols->count; i += 16) {
    const double* x = cols->x + i;
    const double* y = cols->y + i;
    const __m256d x0 = _mm256_load_pd(x), x1 = _mm256_load_pd(x + 4);
    const __m256d x2 = _mm256_load_pd(x + 8), x3 = _mm256_load_pd(x + 12);
    const __m256d y0 = _mm256_load_pd(y), y1 = _mm256_load_pd(y + 4);
    const __m256d y2 = _mm256_load_pd(y + 8), y3 = _mm256_load_pd(y + 12);
    __m256d b0 = none, b1 = none, b2 = none, b3 = none;
    for (int32_t j = 0; j < k; ++j) {
      const vec2& q = cols->points[centres[j]];
      const __m256d qx = _mm256_broadcast_sd(&q.x);
      const __m256d qy = _mm256_broadcast_sd(&q.y);
      b0 = nearer_avx2(x0, y0, qx, qy, b0);
      b1 = nearer_avx2(x1, y1, qx, qy, b1);
      b2 = nearer_avx2(x2, y2, qx, qy, b2);
      b3 = nearer_avx2(x3, y3, qx, qy, b3);
    }
    cost = _mm256_max_pd(b0, cost);
    cost = _mm256_max_pd(b1, cost);
    cost = _mm256_max_pd(b2, cost);
    cost = _mm256_max_pd(b3, cost);
    if (_mm256_movemask_pd(_mm256_cmp_pd(cost, limit, _CMP_GE_OQ)) != 0) break;
  }
  alignas(32) double lanes[4];
  _mm256_store_pd(lanes, cost);
  return largest(lanes, 4);
}

}  // namespace

double vec2cols_cover_cost(simd_level level, const vec2cols* cols, const int32_t* centres,
                           int32_t k, double stop) {
  switch (level) {
    case simd_level::avx512:
      return cover_avx512(cols, centres, k, stop);
    case simd_level::avx2:
      return cover_avx2(cols, centres, k, stop);
    default:
      return cover_plain(cols, centres, k, stop);
  }
}

// The first tuple is kept whatever it costs, so it is scored in full; a
// later one only replaces the best by costing less, so its scoring stops at
// the best cost so far.
double sample_best_fast(const vec2set* set, int32_t k, int32_t m, int32_t* trial, int32_t* centres,
                        simd_level level) {
  vec2cols cols;
  vec2cols_fill(&cols, set);
  double best = no_distance;
  for (int32_t t = 0; t < m; ++t) {
    for (int32_t j = 0; j < k; ++j) trial[j] = static_cast<int32_t>(random() % set->n);
    double cost = vec2cols_cover_cost(level, &cols, trial, k, t == 0 ? INFINITY : best);
    if (t == 0 || best > cost) {
      best = cost;
      for (int32_t j = 0; j < k; ++j) centres[j] = trial[j];
    }
  }
  return best;
}

// Every tuple is scored in full, since the winner's cost is printed.
int32_t best_gathered_fast(const vec2set* set, const int32_t* gathered, int32_t count, int32_t k,
                           double* cost, simd_level level) {
  vec2cols cols;
  vec2cols_fill(&cols, set);
  int32_t best = 0;
  *cost = no_distance;
  for (int32_t r = 0; r < count; ++r) {
    double c = vec2cols_cover_cost(level, &cols, gathered + static_cast<int64_t>(r) * k, k, INFINITY);
    if (*cost > c) {
      *cost = c;
      best = r;
    }
  }
  return best;
}

// m * P is counted in 64 bits, so the number is right past 2^31 and reads as
// before below it.
void print_report(int32_t k, int32_t m, int32_t processes, double seconds, double cost,
                  const int32_t* centres) {
  std::printf("number of %d-tuples checked = %" PRId64 "\n", k, static_cast<int64_t>(m) * processes);
  std::printf("wall time used = %.4f sec\n", seconds);
  std::printf("approximate optimal cost = %g\n", cost);
  std::printf("approx optimal centers : ");
  for (int32_t j = 0; j < k; ++j) std::printf("%d ", centres[j]);
  std::printf("\n");
}

// A count from the command line as strtol reads it (text that is no number
// is 0), refused below lo or beyond 32 bits rather than wrapped.
static bool parse_count(const char* text, long lo, int32_t* out) {
  errno = 0;
  long v = std::strtol(text, nullptr, 10);
  if (errno == ERANGE || v < lo || v > INT32_MAX) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

// Prints one line (the newline is added) and reports failure.
[[gnu::format(printf, 1, 2)]] static bool say(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::printf("\n");
  return false;
}

static const char help_text[] =
    "usage : mpirun -np P sampled_centers filename k m s\n"
    "\n"
    "Approximate k-center search by random sampling on the points of a file of\n"
    "\"x y\" pairs (at most 2000 points). Each of the P processes draws m random\n"
    "k-tuples of point indices from a generator seeded from s and its rank, and\n"
    "keeps the tuple whose coverage cost (the largest squared distance from a\n"
    "point to its nearest centre) is lowest; rank 0 gathers the P tuples and\n"
    "prints the number of tuples checked, the wall time, the best cost and the\n"
    "indices of its centres. Exits with 0 after the report; bad input prints one\n"
    "line and exits with 1.\n";

// The one place that picks the path: a build with FORCE_PLAIN_PATH scores
// every tuple in full with center_cost; others score on the widest vector
// instructions the processor runs, and stop early where the choice allows.
static double sample(const vec2set* set, int32_t k, int32_t m, int32_t* trial, int32_t* centres) {
#ifdef FORCE_PLAIN_PATH
  return sample_best(set, k, m, trial, centres);
#else
  return sample_best_fast(set, k, m, trial, centres, simd_best());
#endif
}

static int32_t choose_gathered(const vec2set* set, const int32_t* gathered, int32_t count, int32_t k,
                               double* cost) {
#ifdef FORCE_PLAIN_PATH
  return best_gathered(set, gathered, count, k, cost);
#else
  return best_gathered_fast(set, gathered, count, k, cost, simd_best());
#endif
}

int main(int argc, char** argv) {
  // Before MPI starts, like the usage line: help needs no job.
  if (argc >= 2 && (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help"))) {
    std::fputs(help_text, stdout);
    return 0;
  }
  if (argc < 5) {
    std::printf("Command usage : %s %s %s %s %s\n", argv[0], "filename", "k", "m", "s");
    return 1;
  }
  MPI_Init(&argc, &argv);
  double t0 = MPI_Wtime();
  int rank = 0, processes = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &processes);

  vec2set set;
  int32_t k = 0, m = 0;
  int32_t* trial = nullptr;
  int32_t* centres = nullptr;
  int32_t* gathered = nullptr;
  bool ok = vec2set_read_file(&set, argv[1]);
  if (ok && set.n < 1) ok = say("error : no points in file %s", argv[1]);
  if (ok && !parse_count(argv[2], 0, &k)) ok = say("error : k must be a whole number from 0 to 2147483647");
  if (ok && !parse_count(argv[3], 1, &m)) ok = say("error : m must be a whole number from 1 to 2147483647");
  // The seed is not checked: any value, wrapped to 32 bits, names a stream.
  unsigned int s = static_cast<unsigned int>(std::strtol(argv[4], nullptr, 10));
  if (ok) {
    // At least one entry each, so that k = 0 still hands MPI real buffers.
    size_t n = k > 0 ? static_cast<size_t>(k) : 1;
    trial = static_cast<int32_t*>(std::malloc(n * sizeof(int32_t)));
    centres = static_cast<int32_t*>(std::malloc(n * sizeof(int32_t)));
    if (trial == nullptr || centres == nullptr)
      ok = say("error : not enough memory for %d-tuples", k);
  }
  if (ok && rank == 0) {
    int64_t count = static_cast<int64_t>(processes) * k;
    gathered = static_cast<int32_t*>(std::malloc(static_cast<size_t>(count > 0 ? count : 1) * sizeof(int32_t)));
    if (gathered == nullptr)
      ok = say("error : not enough memory to gather %d tuples of %d indices", processes, k);
  }
  std::fflush(stdout);

  // Every process, failed or not, meets the others here before the gather.
  // A failure on any of them thus ends the whole job with status 1 from
  // MPI_Finalize on every process, and no process is left waiting in the
  // gather for one that gave up. Ending the job from the failing process
  // alone (MPI_Abort, or an exit without MPI_Finalize) leaves the rest to the
  // launcher to kill, and Open MPI 4.1's mpirun was seen to crash or hang
  // doing so.
  int mine = ok ? 1 : 0, all = 0;
  MPI_Allreduce(&mine, &all, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  int status = 1;
  if (all == 1) {
    srandom(rank_seed(s, rank));
    sample(&set, k, m, trial, centres);
    MPI_Gather(centres, k, MPI_INT, gathered, k, MPI_INT, 0, MPI_COMM_WORLD);
    status = 0;
    if (rank == 0) {
      double cost = no_distance;
      int32_t r = choose_gathered(&set, gathered, processes, k, &cost);
      double t1 = MPI_Wtime();
      print_report(k, m, processes, t1 - t0, cost, gathered + static_cast<int64_t>(r) * k);
      // A full disk or a closed pipe must not pass for success.
      if (std::fflush(stdout) != 0 || std::ferror(stdout)) status = 1;
    }
  }
  std::free(gathered);
  std::free(centres);
  std::free(trial);
  MPI_Finalize();
  return status;
}
