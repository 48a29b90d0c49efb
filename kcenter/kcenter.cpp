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

// Everything but the order over MPI: one process.
static int run_alone(const kcenter_args* args, const char* program) {
  if (args->help) return print_help(kcenter_help(args->command));
  if (!threads_can_start(args->threads)) return failf("error : the system cannot start %d threads", args->threads);
  kcenter_input in;
  kcenter_error err;
  if (!kcenter_load(args, &in, &err)) return fail_with(err, program);
  bool ok = false;
  if (in.is_batch && args->points) err = kcenter_error{kcenter_fault::batch_points, "", "", 0, 0};
  else if (!in.is_batch && args->lengths_file != nullptr) err = kcenter_error{kcenter_fault::lengths_without_batch, "", "", 0, 0};
  else if (in.is_batch) ok = kcenter_run_batch(args, &in.batch, &err);
  else ok = args->points ? kcenter_run_points(args, &in, &err) : kcenter_run(args, &in.X, &err);
  kcenter_unload(&in);
  if (!ok) return fail_with(err, program);
  return output_status();
}

int main(int argc, char** argv) {
  kcenter_args args;
  kcenter_error err;
  const bool parsed = kcenter_parse_args(argc, argv, &args, &err) && (args.help || kcenter_read_lists(&args, &err));
  // Started by mpirun, the processes agree on the command line before any of
  // them ends, and the order is shared out among them.
  int rank = 0;
  if (kcenter_launched(&rank)) return kcenter_on_processes(&args, parsed ? nullptr : &err, argv[0], run_alone);
  if (!parsed) return fail_with(err, argv[0]);
  return run_alone(&args, argv[0]);
}
