// kcenter order [-k K] [-r R] [-s ROW] [-t T] [-o OUT] [INPUT]
// kcenter pair [-t T] [-o OUT] [INPUT]
// mpirun -np P kcenter order ...
//
// The farthest-first order of a matrix's rows (indices and the squared
// distance of each to the rows before it), or its farthest pair, from a NumPy
// file or the matrix text format, as CSV or a structured NumPy array.
#include <cstdio>

#include "cli.hpp"
#include "distributed.hpp"
#include "kcenter_io.hpp"
#include "threads.hpp"

static int fail_with(const kcenter_error& e, const char* program) {
  std::printf("%s\n", kcenter_error_line(e, program).c_str());
  return 1;
}

int main(int argc, char** argv) {
  // Started by mpirun, the order is shared out among the processes of the
  // job; everything else is rank 0's alone, and said once.
  int rank = 0;
  const bool launched = kcenter_launched(&rank);
  kcenter_args args;
  kcenter_error err;
  if (!kcenter_parse_args(argc, argv, &args, &err)) return rank == 0 ? fail_with(err, argv[0]) : 1;
  if (args.help) return rank == 0 ? print_help(kcenter_help(args.command)) : 0;
  if (launched && args.command == kcenter_command::order) return kcenter_order_on_processes(&args, argv[0]);
  if (rank != 0) return 0;
  if (!threads_can_start(args.threads)) return failf("error : the system cannot start %d threads", args.threads);

  kcenter_input in;
  if (!kcenter_load(args.input, &in, &err)) return fail_with(err, argv[0]);
  const bool ok = kcenter_run(&args, &in.m, &err);
  kcenter_unload(&in);
  if (!ok) return fail_with(err, argv[0]);
  return output_status();
}
