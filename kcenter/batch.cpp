// kcenter order on a batch, a 3-D .npy file (B, N, D): every item ordered
// as if alone, by the library's batch order, into CSV lines
// item,step,row,dist_sq or a (B, K) structured array.
#include <charconv>
#include <cmath>
#include <string>

#include "kcenter/kcenter.hpp"
#include "kcenter_io.hpp"

namespace {

bool fail(kcenter_error* err, kcenter_fault f, int64_t a = 0, int64_t b = 0, const std::string& text = "") {
  *err = kcenter_error{f, "", text, a, b};
  return false;
}

// The header of a (B, K) array of records (row '<i8', dist_sq '<f8'), as
// np.save writes it.
std::string records_header(int64_t items, int64_t steps) {
  return npy_header_around("{'descr': [('row', '<i8'), ('dist_sq', '<f8')], 'fortran_order': False, 'shape': (" +
                           std::to_string(items) + ", " + std::to_string(steps) + "), }");
}

bool write_csv(FILE* f, const std::vector<kcenter::order_result>& r) {
  bool ok = std::fputs("item,step,row,dist_sq\n", f) >= 0;
  char line[128];
  for (size_t b = 0; b < r.size() && ok; ++b)
    for (size_t s = 0; s < r[b].rows.size() && ok; ++s) {
      char* p = line;
      char* const end = line + sizeof line;
      for (const int64_t v : {static_cast<int64_t>(b), static_cast<int64_t>(s), r[b].rows[s]}) {
        p = std::to_chars(p, end, v).ptr;
        *p++ = ',';
      }
      p = std::to_chars(p, end, r[b].dist_sq[s], std::chars_format::general, 17).ptr;
      *p++ = '\n';
      ok = std::fwrite(line, 1, static_cast<size_t>(p - line), f) == static_cast<size_t>(p - line);
    }
  return ok;
}

// Every item padded to the longest order: row -1, dist_sq NaN.
bool write_npy(FILE* f, const std::vector<kcenter::order_result>& r) {
  size_t steps = 0;
  for (const kcenter::order_result& o : r) steps = o.rows.size() > steps ? o.rows.size() : steps;
  const std::string h = records_header(static_cast<int64_t>(r.size()), static_cast<int64_t>(steps));
  bool ok = std::fwrite(h.data(), 1, h.size(), f) == h.size();
  char rec[16];
  for (size_t b = 0; b < r.size() && ok; ++b)
    for (size_t s = 0; s < steps && ok; ++s) {
      const bool real = s < r[b].rows.size();
      npy_put_i8(rec, real ? r[b].rows[s] : -1);
      npy_put_f8(rec + 8, real ? r[b].dist_sq[s] : std::nan(""));
      ok = std::fwrite(rec, 1, sizeof rec, f) == sizeof rec;
    }
  return ok;
}

}  // namespace

bool kcenter_run_batch(const kcenter_args* a, const fmt_batch* b, kcenter_error* err) {
  const int64_t B = b->items;
  if (!a->lengths.empty() && static_cast<int64_t>(a->lengths.size()) != B)
    return fail(err, kcenter_fault::batch_lengths_count, static_cast<int64_t>(a->lengths.size()), B);
  std::vector<kcenter::view> items;
  for (int64_t i = 0; i < B; ++i) {
    row_source x = batch_item(b, i);
    if (!a->lengths.empty()) {
      const int64_t n = a->lengths[static_cast<size_t>(i)];
      if (n > x.rows) return fail(err, kcenter_fault::batch_length, i, x.rows, std::to_string(n));
      x.rows = static_cast<int32_t>(n);
    }
    const int32_t beyond = kcenter_start_beyond(a->start, x.rows);
    if (beyond >= 0) return fail(err, kcenter_fault::start_beyond_rows, beyond, x.rows);
    items.push_back(kcenter::view{x.data, x.rows, x.cols, x.row_stride, x.col_stride,
                                  x.type == elem_type::f32 ? kcenter::dtype::float32 : kcenter::dtype::float64});
  }
  kcenter::batch_options o;
  if (a->k > 0) o.k = {a->k};
  if (a->has_radius) o.radius = a->radius;
  o.start.assign(a->start.begin(), a->start.end());
  o.threads = a->threads;
  std::vector<kcenter::order_result> r;
  kcenter::error e;
  if (!kcenter::order_batch(items, o, &r, &e))
    return fail(err, kcenter_fault::no_memory_search, int64_t{b->per_item}, int64_t{b->cols});
  kcenter_sink s;
  if (!kcenter_sink_open(&s, a, err, true)) return false;
  if (s.npy) write_npy(s.f, r);
  else write_csv(s.f, r);
  // A failed write leaves its mark on the stream, which closing reports.
  return kcenter_sink_close(&s, err);
}
