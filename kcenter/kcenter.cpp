// kcenter order [-k K] [-r R] [-s ROW] [-t T] [-o OUT] [INPUT]
// kcenter pair [-t T] [-o OUT] [INPUT]
//
// The farthest-first order of a matrix's rows (indices and the squared
// distance of each to the rows before it), or its farthest pair, from a NumPy
// file or the matrix text format, as CSV or a structured NumPy array.
#include <cstdio>

#include "cli.hpp"
#include "kcenter_io.hpp"
#include "threads.hpp"

static int fail_with(const kcenter_error& e, const char* program) {
  std::printf("%s\n", kcenter_error_line(e, program).c_str());
  return 1;
}

int main(int argc, char** argv) {
  kcenter_args args;
  kcenter_error err;
  if (!kcenter_parse_args(argc, argv, &args, &err)) return fail_with(err, argv[0]);
  if (args.help) return print_help(kcenter_help(args.command));
  if (!threads_can_start(args.threads)) return failf("error : the system cannot start %d threads", args.threads);

  kcenter_input in;
  if (!kcenter_load(args.input, &in, &err)) return fail_with(err, argv[0]);
  const bool ok = kcenter_run(&args, &in.m, &err);
  kcenter_unload(&in);
  if (!ok) return fail_with(err, argv[0]);
  return output_status();
}
