// Matrices read by the format readers, and the columns -c picks.
#include <algorithm>
#include <cstring>

#include "formats.hpp"
#include "work.hpp"

void fmt_matrix_free(fmt_matrix* m) {
  work_free(m->storage);
  m->storage = nullptr;
  m->rows = row_source{nullptr, 0, 0, 0, 1, elem_type::f64};
  m->names.clear();
}

void fmt_matrix_widen(const row_source* X, double* out) {
  const int64_t rows = X->rows, cols = X->cols;
  if (rows == 0 || cols == 0) return;
  if ((rows == 1 || X->row_stride == cols) && (cols == 1 || X->col_stride == 1)) {
    if (X->type == elem_type::f64) {
      std::memcpy(out, X->data, static_cast<size_t>(rows * cols) * sizeof(double));
    } else {
      const float* in = static_cast<const float*>(X->data);
      for (int64_t k = 0; k < rows * cols; ++k) out[k] = static_cast<double>(in[k]);
    }
    return;
  }
  // Any other layout a block of rows at a time, column by column within it,
  // so that each column's run is read in order while the block stays in cache.
  const int64_t block = 256;
  for (int64_t i0 = 0; i0 < rows; i0 += block) {
    const int64_t i1 = std::min(rows, i0 + block);
    for (int64_t j = 0; j < cols; ++j)
      for (int64_t i = i0; i < i1; ++i) out[i * cols + j] = rows_at(X, i, j);
  }
}

bool fmt_pick_parse(const char* text, std::vector<std::string>* picks) {
  picks->clear();
  const char* p = text;
  for (;;) {
    const char* comma = std::strchr(p, ',');
    const size_t n = comma != nullptr ? static_cast<size_t>(comma - p) : std::strlen(p);
    if (n == 0) return false;
    picks->emplace_back(p, n);
    if (comma == nullptr) return true;
    p = comma + 1;
  }
}

static bool digits_only(const std::string& s) {
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return !s.empty();
}

static bool pick_fail(fmt_error* err, fmt_status s, const std::string& text, int64_t count = 0) {
  err->status = s;
  err->text = text;
  err->count = count;
  return false;
}

bool fmt_pick_resolve(const std::vector<std::string>& picks, const std::vector<std::string>& names, int64_t count,
                      std::vector<int32_t>* columns, fmt_error* err) {
  columns->clear();
  std::vector<bool> taken(static_cast<size_t>(count), false);
  for (const std::string& p : picks) {
    int64_t c = -1;
    if (digits_only(p)) {
      // An index: digits only, from 0; a long run of digits is beyond any count.
      c = p.size() > 18 ? INT64_MAX : std::stoll(p);
      if (c >= count) return pick_fail(err, fmt_status::no_column_index, p, count);
    } else {
      for (size_t j = 0; j < names.size(); ++j) {
        if (names[j] != p) continue;
        if (c >= 0) return pick_fail(err, fmt_status::name_twice, p);
        c = static_cast<int64_t>(j);
      }
      if (c < 0) return pick_fail(err, fmt_status::no_column_named, p);
    }
    if (taken[static_cast<size_t>(c)]) return pick_fail(err, fmt_status::column_twice, p);
    taken[static_cast<size_t>(c)] = true;
    columns->push_back(static_cast<int32_t>(c));
  }
  return true;
}
