// Linked into every executable of a sanitizer build: the sanitizers' run-time
// defaults, so that ctest, a script or a hand-run binary all behave alike.
extern "C" {

// Refusing a huge request (null, which the programs report as "not enough
// memory") instead of aborting: a shape such as 65536 x 32769 must fail with
// one line, not with an allocator report. Without the cap, AddressSanitizer
// would map and poison the shadow of many gigabytes first.
const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=4096:detect_leaks=1:"
         "abort_on_error=0:exitcode=86";
}

const char* __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1"; }

}  // extern "C"
