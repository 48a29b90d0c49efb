// mpirun -np P kcenter_steps N D K [T]
//
// The parts of a step of kcenter's order on P processes, timed apart: the
// fold of each process's n/P rows (the engine kcenter uses, on T threads),
// the MAXLOC allreduce and the broadcast of the next centre, as kcenter
// order does them; then the allreduce and broadcast alone, K times, which
// is the latency L(P) of a step. The rows are uniform in the unit cube,
// row i the same on every P (a hash of its index), so that every P orders
// the same points. Rank 0 prints one line:
//   P N D K set-up_s step_ms fold_ms wait_ms L_us
// step: the mean wall time of a step; fold: the largest process's mean
// fold; wait: the rest (the allreduce, the broadcast and the wait for the
// slowest process); set-up: the engines' start on the largest share.
#include <mpi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kcenter_io.hpp"

namespace {

uint64_t mix(uint64_t x) {
  x += 0x9e3779b97f4a7c15u;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
  return x ^ (x >> 31);
}

struct pick {
  double value;
  int index;
};

}  // namespace

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  int rank = 0, P = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &P);
  if (argc < 4) {
    if (rank == 0) std::printf("usage : mpirun -np P kcenter_steps N D K [T]\n");
    MPI_Finalize();
    return 1;
  }
  const int64_t n = std::atoll(argv[1]);
  const int32_t d = std::atoi(argv[2]);
  const int64_t k = std::atoll(argv[3]);
  const int32_t threads = argc > 4 ? std::atoi(argv[4]) : 1;
  std::vector<int64_t> starts;
  for (int q = 0; q <= P; ++q) starts.push_back(n * q / P);
  const int64_t first = starts[static_cast<size_t>(rank)];
  const int64_t count = starts[static_cast<size_t>(rank) + 1] - first;
  std::vector<double> data(static_cast<size_t>(count * d));
  for (int64_t i = 0; i < count * d; ++i)
    data[static_cast<size_t>(i)] = static_cast<double>(mix(static_cast<uint64_t>(first * d + i)) >> 11) * 0x1p-53;
  const mat A{data.data(), static_cast<int32_t>(count), d};
  std::vector<double> centre(static_cast<size_t>(d));
  auto owner = [&](int64_t row) {
    return static_cast<int>(std::upper_bound(starts.begin(), starts.end(), row) - starts.begin()) - 1;
  };
  auto fetch = [&](int64_t row) {
    const int from = owner(row);
    if (from == rank) std::memcpy(centre.data(), data.data() + (row - first) * d, sizeof(double) * static_cast<size_t>(d));
    MPI_Bcast(centre.data(), d, MPI_DOUBLE, from, MPI_COMM_WORLD);
  };

  MPI_Barrier(MPI_COMM_WORLD);
  double t0 = MPI_Wtime();
  const row_source X = rows_of_doubles(A.data, A.rows, A.cols);
  order_team* team = order_team_start(&X, threads, k);
  double setup = MPI_Wtime() - t0, setup_max = 0.0;
  MPI_Reduce(&setup, &setup_max, 1, MPI_DOUBLE, MPI_MAX, 0, MPI_COMM_WORLD);

  fetch(0);
  MPI_Barrier(MPI_COMM_WORLD);
  double fold = 0.0;
  t0 = MPI_Wtime();
  for (int64_t step = 1; step < k; ++step) {
    const double a = MPI_Wtime();
    const choice_farthest f = order_team_fold(team, centre.data(), -1);
    fold += MPI_Wtime() - a;
    pick in[2] = {{f.dist_sq, f.row >= 0 ? static_cast<int>(first + f.row) : -1}, {0.0, 0}}, out[2];
    MPI_Allreduce(in, out, 2, MPI_DOUBLE_INT, MPI_MAXLOC, MPI_COMM_WORLD);
    if (out[0].index < 0) break;
    fetch(out[0].index);
  }
  const double loop = MPI_Wtime() - t0;
  double fold_max = 0.0;
  MPI_Reduce(&fold, &fold_max, 1, MPI_DOUBLE, MPI_MAX, 0, MPI_COMM_WORLD);

  // The allreduce and the broadcast alone.
  MPI_Barrier(MPI_COMM_WORLD);
  t0 = MPI_Wtime();
  for (int64_t step = 1; step < k; ++step) {
    pick in[2] = {{static_cast<double>(rank), rank}, {0.0, 0}}, out[2];
    MPI_Allreduce(in, out, 2, MPI_DOUBLE_INT, MPI_MAXLOC, MPI_COMM_WORLD);
    fetch(step % n);
  }
  const double latency = MPI_Wtime() - t0;
  if (rank == 0) {
    const double steps = static_cast<double>(k - 1);
    std::printf("%d %lld %d %lld %.4f %.4f %.4f %.4f %.2f\n", P, static_cast<long long>(n), d,
                static_cast<long long>(k), setup_max, 1e3 * loop / steps, 1e3 * fold_max / steps,
                1e3 * (loop - fold_max) / steps, 1e6 * latency / steps);
  }
  order_team_end(team);
  MPI_Finalize();
  return 0;
}
