// What the entry points share: a caller's view checked and turned into the
// rows the engines read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kcenter/kcenter.hpp"
#include "pair_search.hpp"
#include "rows.hpp"

namespace kcenter {

inline constexpr int32_t max_threads = 4096;

// The rows of a view as the engines read them, where they lie.
struct rows_input {
  row_source rows{nullptr, 0, 0, 0, 1, elem_type::f64};
};

// Checks the view (sizes, data) and makes its rows; false with *err set.
bool rows_open(const view& x, rows_input* in, error* err);

// The pruned farthest pair of the rows (at least two rows and one column);
// i = -2 when its storage cannot be had.
farthest pair_pruned(const rows_input* in, int32_t threads);

// Each row's nearest centre and distance into label and dist_sq (set to -1
// and NaN by the caller); false when storage cannot be had.
bool assign_rows(const rows_input* in, const std::vector<int64_t>& centres, int32_t threads, int64_t* label,
                 double* dist_sq);

}  // namespace kcenter
