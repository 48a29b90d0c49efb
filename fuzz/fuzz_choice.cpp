// Any bytes as a matrix for the farthest-first engine: the first byte picks
// k and the number of columns (1, 2, 3 or 12, so that buckets and groups both
// run), the rest is read as numbers the way the matrix reader reads them (up
// to 4096 of them). Every level and pruning rule must choose exactly the
// centres of the plain fold, and an engine over the last two thirds of the
// rows, given the same centres (by row, or every third by value only), must
// fold them exactly as the plain fold over those rows.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "choice.hpp"
#include "scan.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int32_t col_choices[] = {1, 2, 3, 12};
  const int32_t k = 1 + data[0] % 64, cols = col_choices[data[0] >> 6];
  const char* p = reinterpret_cast<const char*>(data) + 1;
  const char* end = reinterpret_cast<const char*>(data) + size;
  std::vector<double> values;
  while (values.size() < 4096) {
    double v;
    const scan_result r = scan_double(p, end, true, &v);
    if (r.status != scan_status::converted) break;
    values.push_back(v);
    p = r.next;
  }
  const int32_t rows = static_cast<int32_t>(values.size()) / cols;
  if (rows == 0) return 0;
  mat A{values.data(), rows, cols};

  std::vector<double> nearest(static_cast<size_t>(rows), no_distance);
  std::vector<int32_t> want{0};
  int32_t next = 0;
  while (static_cast<int32_t>(want.size()) < k) {
    const choice_farthest f = choice_fold_ref(&A, A.data + int64_t{want.back()} * cols, nearest.data());
    if (f.row >= 0) next = f.row;
    want.push_back(next);
  }
  const int32_t first = rows / 3, count = rows - first;
  const mat part{A.data + int64_t{first} * cols, count, cols};
  std::vector<int32_t> got(static_cast<size_t>(k));
  std::vector<double> part_near(static_cast<size_t>(count)), got_near(part_near.size());
  for (simd_level level : {simd_level::plain, simd_level::avx2, simd_level::avx512}) {
    if (!simd_runs(level)) continue;
    for (choice_prune rule : {choice_prune::never, choice_prune::always}) {
      const choice_options opt{level, rule, k};
      const int64_t m = choice_run(&A, k, got.data(), &opt);
      if (m < 1) std::abort();
      for (int64_t j = 0; j < k; ++j)
        if (got[static_cast<size_t>(j < m ? j : m - 1)] != want[static_cast<size_t>(j)]) std::abort();

      choice* s = choice_start(&A, first, count, &opt);
      if (s == nullptr) std::abort();
      std::fill(part_near.begin(), part_near.end(), no_distance);
      for (int32_t j = 0; j < k; ++j) {
        const int32_t c = want[static_cast<size_t>(j)];
        const double* centre = A.data + int64_t{c} * cols;
        choice_farthest f = choice_fold_ref(&part, centre, part_near.data());
        if (f.row >= 0) f.row += first;
        const choice_farthest g = choice_fold(s, centre, j % 3 == 2 ? -1 : c);
        if (g.row != f.row || std::memcmp(&g.dist_sq, &f.dist_sq, sizeof(double)) != 0) std::abort();
      }
      choice_nearest(s, got_near.data());
      choice_end(s);
      if (std::memcmp(got_near.data(), part_near.data(), sizeof(double) * part_near.size()) != 0) std::abort();
    }
  }
  return 0;
}
