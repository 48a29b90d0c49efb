// --points: the rows a command chooses written themselves, in order: as CSV,
// as a 2-D .npy array, or as a PLY file of those vertices.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "kcenter_io.hpp"

namespace {

bool ends_with(const char* s, const char* tail) {
  const size_t n = std::strlen(s), t = std::strlen(tail);
  return n >= t && std::strcmp(s + n - t, tail) == 0;
}

// The rows chosen, in order; storage that grows as they come.
struct chosen {
  int32_t* rows;
  int64_t count;
  int64_t cap;
  bool no_memory;
};

bool collect(void* ctx, int64_t, int32_t row, double) {
  chosen* c = static_cast<chosen*>(ctx);
  if (c->count == c->cap) {
    const int64_t cap = c->cap == 0 ? 1024 : c->cap * 2;
    void* grown = std::realloc(c->rows, static_cast<size_t>(cap) * sizeof(int32_t));
    if (grown == nullptr) {
      c->no_memory = true;
      return false;
    }
    c->rows = static_cast<int32_t*>(grown);
    c->cap = cap;
  }
  c->rows[c->count++] = row;
  return true;
}

// A column name as a CSV field: quoted (quotes doubled) when it holds a
// comma, a quote or a line break.
std::string csv_field(const std::string& name) {
  if (name.find_first_of(",\"\r\n") == std::string::npos) return name;
  std::string q(1, '"');
  for (char c : name) {
    q += c;
    if (c == '"') q += c;
  }
  q += '"';
  return q;
}

bool write_csv(FILE* f, const kcenter_input* in, const chosen& c) {
  const row_source& A = in->X;
  std::string line;
  for (int32_t j = 0; j < A.cols; ++j) {
    if (j > 0) line += ',';
    if (j < static_cast<int32_t>(in->rows.names.size())) {
      line += csv_field(in->rows.names[static_cast<size_t>(j)]);
    } else {
      line += 'c';
      line += std::to_string(j);
    }
  }
  line += '\n';
  bool ok = std::fwrite(line.data(), 1, line.size(), f) == line.size();
  char buf[32];
  for (int64_t i = 0; i < c.count && ok; ++i) {
    for (int32_t j = 0; j < A.cols && ok; ++j) {
      // The shortest text that reads back as the same double.
      char* end = std::to_chars(buf, buf + sizeof buf, rows_at(&A, c.rows[i], j)).ptr;
      *end++ = j + 1 < A.cols ? ',' : '\n';
      ok = std::fwrite(buf, 1, static_cast<size_t>(end - buf), f) == static_cast<size_t>(end - buf);
    }
    if (A.cols == 0) ok = std::fputc('\n', f) != EOF;
  }
  return ok;
}

// The header of a 2-D C-order array, byte for byte as np.save writes it,
// with room for the row count to grow to 21 digits.
std::string matrix_header(bool f4, int64_t rows, int32_t cols) {
  const std::string count = std::to_string(rows);
  std::string dict = "{'descr': '";
  dict += f4 ? "<f4" : "<f8";
  dict += "', 'fortran_order': False, 'shape': (";
  dict += count;
  dict += ", ";
  dict += std::to_string(cols);
  dict += "), }";
  dict.append(21 - count.size(), ' ');
  return npy_header_around(std::move(dict));
}

bool write_npy(FILE* f, const kcenter_input* in, const chosen& c) {
  const row_source& A = in->X;
  // Rows that came as float32 go out as float32.
  const bool f4 = A.type == elem_type::f32;
  const std::string h = matrix_header(f4, c.count, A.cols);
  bool ok = std::fwrite(h.data(), 1, h.size(), f) == h.size();
  const size_t cols = static_cast<size_t>(A.cols);
  std::string rec(cols * 8, '\0');
  for (int64_t i = 0; i < c.count && ok; ++i) {
    for (size_t j = 0; j < cols; ++j) {
      const double v = rows_at(&A, c.rows[i], static_cast<int64_t>(j));
      if (f4) {
        const auto x = static_cast<float>(v);  // exact: v came from a float
        std::memcpy(&rec[j * 4], &x, 4);
      } else {
        npy_put_f8(&rec[j * 8], v);
      }
    }
    const size_t n = cols * (f4 ? 4 : 8);
    ok = std::fwrite(rec.data(), 1, n, f) == n;
  }
  return ok;
}

}  // namespace

bool kcenter_run_points(const kcenter_args* a, const kcenter_input* in, kcenter_error* err) {
  const row_source* A = &in->X;
  const bool order = a->command == kcenter_command::order;
  const int32_t beyond = order ? kcenter_start_beyond(a->start, A->rows) : -1;
  if (beyond >= 0) {
    *err = kcenter_error{kcenter_fault::start_beyond_rows, "", "", beyond, A->rows};
    return false;
  }
  chosen c{nullptr, 0, 0, false};
  const char* no_pair_line = nullptr;
  if (order) {
    if (kcenter_order(A, a, collect, &c) == kcenter_end::no_memory || c.no_memory) {
      std::free(c.rows);
      *err = kcenter_error{kcenter_fault::no_memory_search, "", "", A->rows, A->cols};
      return false;
    }
  } else {
    const farthest f = kcenter_pair(A, a->threads);
    c.no_memory = f.i == -2;
    if (f.i >= 0) {
      collect(&c, 0, f.i, 0.0);
      collect(&c, 1, f.j, 0.0);
    } else if (f.i != -2) {
      no_pair_line = A->rows < 2 ? "no pair : fewer than two rows" : "no pair : no distance between two rows is a number";
    }
    if (c.no_memory) {
      *err = kcenter_error{kcenter_fault::no_memory_search, "", "", A->rows, A->cols};
      return false;
    }
  }
  kcenter_sink s;
  if (!kcenter_sink_open(&s, a, err)) {
    std::free(c.rows);
    return false;
  }
  // A missing pair on standard output is told by its line alone.
  if (a->output == nullptr) {
    if (no_pair_line == nullptr) write_csv(s.f, in, c);
  } else if (ends_with(a->output, ".ply")) {
    ply_write_vertices(s.f, in->bytes.data, &in->ply, c.rows, c.count);
  } else if (ends_with(a->output, ".npy")) {
    write_npy(s.f, in, c);
  } else {
    write_csv(s.f, in, c);
  }
  std::free(c.rows);
  // A failed write leaves its mark on the stream, which closing reports.
  if (!kcenter_sink_close(&s, err)) return false;
  if (no_pair_line != nullptr) std::printf("%s\n", no_pair_line);
  return true;
}
