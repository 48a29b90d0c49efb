// The small files the command line names besides the input: start rows
// (-S) and the lengths of a batch's items (--lengths), whole numbers one a
// line or a 1-D integer .npy file.
#include <algorithm>

#include "formats.hpp"
#include "kcenter_io.hpp"

namespace {

bool read_whole(const char* path, std::vector<int32_t>* values, kcenter_error* err) {
  fmt_bytes b{nullptr, 0};
  const fmt_read r = fmt_bytes_read_path(&b, path);
  if (r != fmt_read::ok) {
    fmt_bytes_free(&b);
    if (r == fmt_read::no_memory) *err = kcenter_error{kcenter_fault::no_memory_input, "", "", 0, 0};
    else *err = kcenter_error{kcenter_fault::cannot_open, path, "", 0, 0};
    return false;
  }
  std::vector<int64_t> lines;
  fmt_error e{};
  const bool ok = whole_read(b.data, b.len, values, &lines, &e);
  fmt_bytes_free(&b);
  return ok || kcenter_format_refusal(e, path, err);
}

}  // namespace

bool kcenter_read_lists(kcenter_args* a, kcenter_error* err) {
  if (a->start_file != nullptr) {
    if (!a->start.empty()) {
      *err = kcenter_error{kcenter_fault::start_both, "", "", 0, 0};
      return false;
    }
    if (!read_whole(a->start_file, &a->start, err)) return false;
    std::vector<int32_t> sorted(a->start);
    std::sort(sorted.begin(), sorted.end());
    const auto twice = std::adjacent_find(sorted.begin(), sorted.end());
    if (twice != sorted.end()) {
      *err = kcenter_error{kcenter_fault::start_repeated, "", "", *twice, 0};
      return false;
    }
  }
  if (a->lengths_file != nullptr) {
    std::vector<int32_t> v;
    if (!read_whole(a->lengths_file, &v, err)) return false;
    a->lengths.assign(v.begin(), v.end());
  }
  return true;
}
