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
#include <mpi.h>

#include <cerrno>
#include <cfloat>
#include <cinttypes>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static_assert(sizeof(int) == sizeof(int32_t), "indices travel as MPI_INT");

// One point of the plane.
struct vec2 {
  double x;
  double y;
};

constexpr int32_t vec2set_capacity = 2000;

// Up to 2000 points stored in place, in file order; only the first n count.
struct vec2set {
  vec2 points[vec2set_capacity];
  int32_t n;
};

// Stands for the absence of any distance wherever a minimum is sought.
constexpr double no_distance = DBL_MAX;

// Fills set from the named file: "%lf %lf" pairs up to the first pair that
// does not convert completely (end of file, text that is no number, a lone
// last number); whatever follows is ignored. When the file cannot be opened
// or read, or holds more than 2000 points, prints one line and returns false.
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

// (a.x - b.x)^2 + (a.y - b.y)^2, each square rounded before the addition
// (the build never fuses a multiply with an add).
double vec2_dist_sq(vec2 a, vec2 b) {
  double dx = a.x - b.x;
  double dy = a.y - b.y;
  return dx * dx + dy * dy;
}

// The largest, over all points, of the squared distance to the nearest of
// centres[0..k-1]: the squared radius at which disks around the centres
// cover the set. Both selections are strict, so a NaN distance never becomes
// the nearest: a point with a NaN coordinate, or one whose distance to every
// centre overflows, costs no_distance. No points cost 0.0; k = 0 costs
// no_distance when there is a point.
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

// The seed of rank r's generator: s itself on rank 0, so that one process
// draws exactly the tuples of srandom(s); rank r adds r * 2654435769 (2^32
// over the golden ratio, an odd number) modulo 2^32. Since the step is odd,
// every rank below 2^32 gets its own seed, and the streams of one run do not
// reappear as rank 0 of a run with a nearby seed.
unsigned int rank_seed(unsigned int s, int32_t rank) {
  return s + static_cast<unsigned int>(rank) * 2654435769u;
}

// Draws m tuples of k indices from the C library generator, each index
// random() % n on its 64-bit value, scores each with center_cost and leaves
// the first of the cheapest in centres; returns its cost. centres always ends
// holding a drawn tuple: the first one when none costs less than no_distance
// (a NaN coordinate, or overflow). Needs n >= 1 and m >= 1; trial is scratch
// space for k indices.
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

// Scores each of the count tuples of k indices in gathered again and returns
// the position of the cheapest, the lowest among equals, with its cost in
// *cost. When none costs less than no_distance, that is tuple 0.
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

// The four report lines. m * P is counted in 64 bits, so the number is right
// past 2^31 and reads as before below it.
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
    sample_best(&set, k, m, trial, centres);
    MPI_Gather(centres, k, MPI_INT, gathered, k, MPI_INT, 0, MPI_COMM_WORLD);
    status = 0;
    if (rank == 0) {
      double cost = no_distance;
      int32_t r = best_gathered(&set, gathered, processes, k, &cost);
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
