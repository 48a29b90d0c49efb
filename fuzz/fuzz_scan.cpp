// Differential fuzzing of the number scanner: over any bytes, a sequence of
// scans must take, convert and leave exactly what a sequence of fscanf("%lf")
// calls does, and every converted value must be strtod's value of the text
// that was taken.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "scan.hpp"

static void fail(const char* what, const std::string& text, int attempt) {
  std::fprintf(stderr, "%s at attempt %d of [%s]\n", what, attempt, text.c_str());
  std::abort();
}

static bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string copy = text + '\0';
  FILE* f = fmemopen(copy.data(), size == 0 ? 1 : size, "r");
  if (f == nullptr) return 0;
  const long placeholder = size == 0 ? 1 : 0;
  if (placeholder) std::fgetc(f);

  const char* p = text.data();
  const char* end = p + size;
  for (int attempt = 0; attempt < 64; ++attempt) {
    double mine = -777.0, theirs = -777.0;
    const char* before = p;
    scan_result r = scan_double(p, end, true, &mine);
    int status = std::fscanf(f, "%lf", &theirs);
    int my_status = r.status == scan_status::converted      ? 1
                    : r.status == scan_status::end_of_input ? -1
                                                            : 0;
    if (r.status == scan_status::need_more) fail("asked for more at the end", text, attempt);
    if (my_status != status) fail("status differs from fscanf", text, attempt);
    if (!same_bits(mine, theirs)) fail("value differs from fscanf", text, attempt);
    if (r.next - text.data() != std::ftell(f) - placeholder) fail("consumed differs from fscanf", text, attempt);
    if (my_status == 1) {
      while (before < r.next && std::strchr(" \t\n\v\f\r", *before) != nullptr) ++before;
      std::string token(before, r.next);
      if (!same_bits(mine, std::strtod(token.c_str(), nullptr))) fail("value differs from strtod", text, attempt);
    }
    p = r.next;
    if (status == -1) break;
  }
  std::fclose(f);
  return 0;
}
