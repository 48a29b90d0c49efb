// Linked into every executable of a sanitizer build: the sanitizers' run-time
// defaults, so that ctest, a script or a hand-run binary all behave alike.
//
// The sanitizers' run-time looks these up by name in the executable, so they
// stay visible whatever the build's default visibility is.
#define SANITIZER_HOOK __attribute__((visibility("default")))

#ifdef SANITIZE_OPEN_MPI_PROGRAM
#include <sanitizer/lsan_interface.h>
#endif

extern "C" {

// Refusing a huge request (null, which the programs report as "not enough
// memory") instead of aborting: a shape such as 65536 x 32769 must fail with
// one line, not with an allocator report. Without the cap, AddressSanitizer
// would map and poison the shadow of many gigabytes first.
SANITIZER_HOOK const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=4096:detect_leaks=1:"
         "abort_on_error=0:exitcode=86"
#ifdef SANITIZE_OPEN_MPI_PROGRAM
         // Open MPI's allocations pass through components it loads and
         // unloads itself, built without frame pointers: only the slow
         // unwinder's stacks reach the Open MPI library that made them.
         ":fast_unwind_on_malloc=0"
#endif
      ;
}

SANITIZER_HOOK const char* __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1"; }

SANITIZER_HOOK const char* __lsan_default_options() { return "print_suppressions=0"; }

#ifdef SANITIZE_OPEN_MPI_PROGRAM
// What MPI_Init sets up is kept until the process ends, by design: through
// MPI's profiling interface, the allocations made while it runs are not
// leaks to LeakSanitizer at all, which spares matching thousands of them
// against the suppressions below at every exit (about a second a job).
// (MPI's C functions, declared here: not every MPI program's own files see mpi.h.)
int PMPI_Init(int* argc, char*** argv);
int PMPI_Init_thread(int* argc, char*** argv, int required, int* provided);
SANITIZER_HOOK int MPI_Init(int* argc, char*** argv) {
  __lsan_disable();
  const int status = PMPI_Init(argc, argv);
  __lsan_enable();
  return status;
}
SANITIZER_HOOK int MPI_Init_thread(int* argc, char*** argv, int required, int* provided) {
  __lsan_disable();
  const int status = PMPI_Init_thread(argc, argv, required, provided);
  __lsan_enable();
  return status;
}

// Open MPI keeps what MPI_Init set up (its components, its runtime's
// registry, hwloc's topology, libevent's bases) until the process ends. A
// leak is ignored only when one of these libraries made the allocation;
// anything the program allocates itself is still reported.
SANITIZER_HOOK const char* __lsan_default_suppressions() {
  return "leak:libmpi.so\n"
         "leak:libopen-pal.so\n"
         "leak:libopen-rte.so\n"
         "leak:libhwloc.so\n"
         "leak:libevent\n"
         "leak:libpmix.so\n";
}
#endif

}  // extern "C"
