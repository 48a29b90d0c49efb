// Any bytes as a .npz archive, its only array or the one named "a". The
// reader must not crash or read out of bounds, and an array it reads must be
// one that deflate could have made of the archive's bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "formats.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  const auto len = static_cast<int64_t>(size);
  for (const char* name : {static_cast<const char*>(nullptr), "a"}) {
    fmt_matrix m;
    std::string member;
    fmt_error e{};
    if (npz_read(bytes, len, name, &m, &member, &e)) {
      const int64_t item = m.rows.type == elem_type::f64 ? 8 : 4;
      if (int64_t{m.rows.rows} * m.rows.cols * item > 1032 * len) {
        std::fprintf(stderr, "an array larger than the archive can hold\n");
        std::abort();
      }
    }
    fmt_matrix_free(&m);
  }
  return 0;
}
