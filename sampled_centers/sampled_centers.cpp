// mpirun -np P sampled_centers filename k m s
//
// Approximate k-center search on points of the plane by random sampling.
// Every process reads the whole point file, draws m random k-tuples of point
// indices from its own random stream, scores each by its coverage cost and
// keeps the cheapest. The best tuple of every process is gathered at rank 0,
// scored again there, and the cheapest of them (lowest rank among equals) is
// printed with its cost, the number of tuples tried and the wall time.
//
// Every MPI call is in main; reading, scoring and sampling (cover.hpp) know
// nothing of MPI.
#include <mpi.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "cli.hpp"
#include "cover.hpp"

static_assert(sizeof(int) == sizeof(int32_t), "indices travel as MPI_INT");

constexpr int32_t vec2set_capacity = 2000;

// Up to 2000 points stored in place, in file order; only the first n count.
struct vec2set {
  vec2 points[vec2set_capacity];
  int32_t n;
};

// Fills set from the named file: "%lf %lf" pairs up to the first pair that
// does not convert completely. When the file cannot be opened or read, or
// holds more than 2000 points, prints one line and returns false.
bool vec2set_read_file(vec2set* set, const char* filename) {
  set->n = 0;
  FILE* f = std::fopen(filename, "r");
  if (f == nullptr) {
    std::printf("error : could not open file %s for reading\n", filename);
    return false;
  }
  const vec2_scan_status status = vec2_scan_file(f, set->points, vec2set_capacity, &set->n);
  std::fclose(f);
  if (status == vec2_scan_status::too_many) std::printf("Too many points in file %s\n", filename);
  if (status == vec2_scan_status::unreadable) std::printf("error : could not read file %s\n", filename);
  return status == vec2_scan_status::ok;
}

// The coverage cost of centres[0..k-1] over the set: the largest squared
// distance from a point to its nearest centre (the plain scoring, which the
// plain path runs through the same definition).
double center_cost(const vec2set* set, const int32_t* centres, int32_t k) {
  return vec2_cover_cost_ref(set->points, set->n, centres, k);
}

// m * P is counted in 64 bits, so the number is right past 2^31 and reads as
// before below it.
static void print_report(int32_t k, int32_t m, int32_t processes, double seconds, double cost,
                         const int32_t* centres) {
  std::printf("number of %d-tuples checked = %" PRId64 "\n", k, static_cast<int64_t>(m) * processes);
  std::printf("wall time used = %.4f sec\n", seconds);
  std::printf("approximate optimal cost = %g\n", cost);
  std::printf("approx optimal centers : ");
  for (int32_t j = 0; j < k; ++j) std::printf("%d ", centres[j]);
  std::printf("\n");
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

// The search on one process and the choice among the gathered tuples. The
// one place that picks the path: a build with FORCE_PLAIN_PATH scores every
// tuple in full with center_cost; others on the widest vector instructions
// the processor runs, stopping early where the choice allows.
struct search {
  const vec2set* set;
  vec2_cover cover;
  bool fast;
};

static bool search_start(search* s, const vec2set* set) {
  s->set = set;
#ifdef FORCE_PLAIN_PATH
  s->fast = false;
  return true;
#else
  s->fast = true;
  return vec2_cover_make(&s->cover, set->points, set->n);
#endif
}

static void sample(const search* s, int32_t k, int32_t m, int32_t* trial, int32_t* centres) {
  if (s->fast) sample_best(simd_best(), &s->cover, k, m, trial, centres);
  else sample_best_ref(s->set->points, s->set->n, k, m, trial, centres);
}

static int32_t choose_gathered(const search* s, const int32_t* gathered, int32_t count, int32_t k,
                               double* cost) {
  if (s->fast) return best_gathered(simd_best(), &s->cover, gathered, count, k, cost);
  return best_gathered_ref(s->set->points, s->set->n, gathered, count, k, cost);
}

int main(int argc, char** argv) {
  // Before MPI starts, like the usage line: help needs no job.
  if (argc >= 2 && is_help(argv[1])) return print_help(help_text);
  if (argc < 5) {
    std::printf("Command usage : %s %s %s %s %s\n", argv[0], "filename", "k", "m", "s");
    return 1;
  }
  MPI_Init(&argc, &argv);
  double t0 = MPI_Wtime();
  int rank = 0, processes = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &processes);

  static vec2set set;
  int32_t k = 0, m = 0;
  int32_t* trial = nullptr;
  int32_t* centres = nullptr;
  int32_t* gathered = nullptr;
  search s{&set, vec2_cover{{nullptr, 0, 0, 0, elem_type::f64}, nullptr}, false};
  bool ok = vec2set_read_file(&set, argv[1]);
  if (ok && set.n < 1) ok = !failf("error : no points in file %s", argv[1]);
  if (ok && !parse_count(argv[2], 0, INT32_MAX, &k))
    ok = !fail("error : k must be a whole number from 0 to 2147483647");
  if (ok && !parse_count(argv[3], 1, INT32_MAX, &m))
    ok = !fail("error : m must be a whole number from 1 to 2147483647");
  // The seed is not checked: any value, wrapped to 32 bits, names a stream.
  const unsigned int seed = static_cast<unsigned int>(std::strtol(argv[4], nullptr, 10));
  if (ok) {
    // At least one entry each, so that k = 0 still hands MPI real buffers.
    const size_t n = k > 0 ? static_cast<size_t>(k) : 1;
    trial = static_cast<int32_t*>(std::malloc(n * sizeof(int32_t)));
    centres = static_cast<int32_t*>(std::malloc(n * sizeof(int32_t)));
    if (trial == nullptr || centres == nullptr || !search_start(&s, &set))
      ok = !failf("error : not enough memory for %d-tuples", k);
  }
  if (ok && rank == 0) {
    const int64_t count = static_cast<int64_t>(processes) * k;
    gathered = static_cast<int32_t*>(std::malloc(static_cast<size_t>(count > 0 ? count : 1) * sizeof(int32_t)));
    if (gathered == nullptr)
      ok = !failf("error : not enough memory to gather %d tuples of %d indices", processes, k);
  }
  std::fflush(stdout);

  // Every process, failed or not, meets the others here before the gather.
  // A failure on any of them thus ends the whole job with status 1 from
  // MPI_Finalize on every process, and no process is left waiting in the
  // gather for one that gave up. Ending the job from the failing process
  // alone (MPI_Abort, or an exit without MPI_Finalize) leaves the rest to the
  // launcher to kill, and Open MPI 4.1's mpirun was seen to crash or hang
  // doing so. The same collective compares what the processes must share,
  // n, k and m, as their least and (negated) greatest values: processes
  // given different files or counts would otherwise gather tuples of another
  // length, or indices of another set.
  const int mine[7] = {ok ? 1 : 0, set.n, -set.n, k, -k, m, -m};
  int least[7];
  MPI_Allreduce(mine, least, 7, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  bool agreed = least[0] == 1 && least[1] == -least[2] && least[3] == -least[4] && least[5] == -least[6];
  if (least[0] == 1 && !agreed && rank == 0) {
    if (least[1] != -least[2])
      failf("error : every process must read the same number of points, not %d to %d", least[1], -least[2]);
    else if (least[3] != -least[4])
      failf("error : every process must be given the same k, not %d to %d", least[3], -least[4]);
    else
      failf("error : every process must be given the same m, not %d to %d", least[5], -least[6]);
  }
  int status = 1;
  if (agreed) {
    srandom(rank_seed(seed, rank));
    sample(&s, k, m, trial, centres);
    MPI_Gather(centres, k, MPI_INT, gathered, k, MPI_INT, 0, MPI_COMM_WORLD);
    status = 0;
    if (rank == 0) {
      const int64_t count = static_cast<int64_t>(processes) * k;
      for (int64_t i = 0; i < count && status == 0; ++i)
        if (gathered[i] < 0 || gathered[i] >= set.n)
          status = failf("error : a process sent centre index %d, outside the set of %d points", gathered[i], set.n);
      if (status == 0) {
        double cost = 0.0;
        const int32_t r = choose_gathered(&s, gathered, processes, k, &cost);
        const double t1 = MPI_Wtime();
        print_report(k, m, processes, t1 - t0, cost, gathered + static_cast<int64_t>(r) * k);
        status = output_status();
      }
    }
  }
  vec2_cover_free(&s.cover);
  std::free(gathered);
  std::free(centres);
  std::free(trial);
  MPI_Finalize();
  return status;
}
