// CSV, TSV and plain tables: one row a line, numbers read as scanf("%lf")
// reads them, every refusal naming its line and column.
#include <algorithm>
#include <charconv>
#include <cstring>

#include "formats.hpp"
#include "internal.hpp"
#include "work.hpp"

namespace {

// Field text shown in a refusal at most.
constexpr size_t shown_max = 40;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

struct line_reader {
  const char* p;  // the start of the next line
  const char* end;
  int64_t number;  // of the line last taken, from 1
};

// The next line that holds data, without its newline: blank lines and
// comments ('#' first) are passed over. False at the end of the text.
bool next_line(line_reader* r, const char** first, const char** last) {
  while (r->p < r->end) {
    const char* s = r->p;
    const char* nl = static_cast<const char*>(std::memchr(s, '\n', static_cast<size_t>(r->end - s)));
    const char* e = nl != nullptr ? nl : r->end;
    r->p = nl != nullptr ? nl + 1 : r->end;
    ++r->number;
    const char* q = s;
    while (q < e && (*q == ' ' || *q == '\t' || *q == '\r')) ++q;
    if (q == e || *q == '#') continue;
    *first = s;
    *last = e;
    return true;
  }
  return false;
}

// Fields split by one delimiter character, or (delim 0) runs of blanks.
// Blanks around a field are not part of it; a carriage return counts as one.
struct splitter {
  char delim;
  bool blank(char c) const { return (c == ' ' || c == '\t' || c == '\r') && c != delim; }
  // Where the field that starts at p (blanks skipped) ends: at the
  // delimiter, a blank (delim 0) or the line's end.
  const char* field_end(const char* p, const char* le) const {
    if (delim != 0) {
      const void* d = std::memchr(p, delim, static_cast<size_t>(le - p));
      return d != nullptr ? static_cast<const char*>(d) : le;
    }
    while (p < le && !blank(*p)) ++p;
    return p;
  }
  const char* trim(const char* fs, const char* e) const {
    while (e > fs && blank(e[-1])) --e;
    return e;
  }
};

// The fields of a line, as spans.
void split(const splitter& sp, const char* ls, const char* le, std::vector<const char*>* starts,
           std::vector<const char*>* ends) {
  starts->clear();
  ends->clear();
  const char* p = ls;
  for (;;) {
    while (p < le && sp.blank(*p)) ++p;
    if (sp.delim == 0 && p == le) return;
    const char* e = sp.field_end(p, le);
    starts->push_back(p);
    ends->push_back(sp.trim(p, e));
    if (e == le) return;
    p = sp.delim != 0 ? e + 1 : e;
  }
}

// Whether [fs, fe) is one number as scanf("%lf") reads it, all of it.
bool whole_number(const char* fs, const char* fe, double* v) {
  if (fs == fe) return false;
  const scan_result r = scan_double(fs, fe, true, v);
  return r.status == scan_status::converted && r.next == fe;
}

bool fail(fmt_error* err, fmt_status s, int64_t line, int64_t column, const char* fs = nullptr,
          const char* fe = nullptr) {
  err->status = s;
  err->line = line;
  err->column = column;
  err->text.clear();
  if (fs != nullptr) err->text.assign(fs, std::min(static_cast<size_t>(fe - fs), shown_max));
  return false;
}

}  // namespace

bool csv_read(const char* text, int64_t len, const csv_options* o, fmt_matrix* out, fmt_error* err) {
  *out = fmt_matrix{row_source{nullptr, 0, 0, 0, 1, elem_type::f64}, nullptr, {}};
  line_reader lines{text, text + len, 0};
  const char *ls = nullptr, *le = nullptr;
  if (!next_line(&lines, &ls, &le)) {
    // No row at all: 0 x 0.
    out->storage = work_alloc(0);
    out->rows.data = out->storage;
    return out->storage != nullptr || fail(err, fmt_status::no_memory, 0, 0);
  }

  splitter sp{0};
  switch (o->delimiter) {
    case csv_delimiter::comma: sp.delim = ','; break;
    case csv_delimiter::semicolon: sp.delim = ';'; break;
    case csv_delimiter::tab: sp.delim = '\t'; break;
    case csv_delimiter::blanks: break;
    case csv_delimiter::detect: {
      const size_t n = static_cast<size_t>(le - ls);
      if (std::memchr(ls, '\t', n) != nullptr) sp.delim = '\t';
      else if (std::memchr(ls, ',', n) != nullptr) sp.delim = ',';
      else if (std::memchr(ls, ';', n) != nullptr) sp.delim = ';';
    }
  }

  // The first row: a header when asked, or when none of its fields is a number.
  std::vector<const char*> starts, ends;
  split(sp, ls, le, &starts, &ends);
  const int64_t fields = static_cast<int64_t>(starts.size());
  if (fields > INT32_MAX) return fail(err, fmt_status::too_large, 0, 0);
  bool header = true;
  for (size_t j = 0; j < starts.size() && header && !o->header; ++j) {
    double v;
    header = !whole_number(starts[j], ends[j], &v);
  }
  std::vector<std::string> names;
  if (header) {
    for (size_t j = 0; j < starts.size(); ++j) {
      const auto c = static_cast<int64_t>(j);
      if (starts[j] < ends[j] && *starts[j] == '"') return fail(err, fmt_status::csv_quoted, lines.number, c);
      // A column without a name is most likely an index written beside the
      // data: it is read only when picked.
      if (starts[j] == ends[j] && o->picks == nullptr) return fail(err, fmt_status::unnamed_column, lines.number, c);
      names.emplace_back(starts[j], ends[j]);
    }
  }

  // Where each field goes in a row of the matrix, or -1 when it is not read.
  std::vector<int32_t> columns;
  if (o->picks != nullptr) {
    if (!fmt_pick_resolve(*o->picks, names, fields, &columns, err)) return false;
  } else {
    for (int64_t j = 0; j < fields; ++j) columns.push_back(static_cast<int32_t>(j));
  }
  const int32_t cols = static_cast<int32_t>(columns.size());
  std::vector<int32_t> slot(static_cast<size_t>(fields), -1);
  for (int32_t c = 0; c < cols; ++c) slot[static_cast<size_t>(columns[static_cast<size_t>(c)])] = c;
  if (header)
    for (int32_t c : columns) out->names.push_back(names[static_cast<size_t>(c)]);

  // Storage for as many rows as the text can hold: no more than its lines,
  // and no more than fit if each took its delimiters and one character per
  // field read.
  const char* rest = header ? lines.p : ls;
  int64_t row_cap = 1;
  for (const char* q = rest; q < text + len; ++q) {
    q = static_cast<const char*>(std::memchr(q, '\n', static_cast<size_t>(text + len - q)));
    if (q == nullptr) break;
    ++row_cap;
  }
  row_cap = std::min(row_cap, (text + len - rest) / ((fields - 1) + cols) + 1);
  row_cap = std::min(row_cap, int64_t{INT32_MAX});
  double* data = static_cast<double*>(work_alloc(row_cap * cols * static_cast<int64_t>(sizeof(double))));
  if (data == nullptr) return fail(err, fmt_status::no_memory, 0, 0);
  out->storage = data;

  int64_t rows = 0;
  for (bool have = !header || next_line(&lines, &ls, &le); have; have = next_line(&lines, &ls, &le)) {
    if (rows == row_cap) return fail(err, fmt_status::too_large, 0, 0);
    double* row = data + rows * cols;
    const char* p = ls;
    int64_t j = 0;
    for (;; ++j) {
      while (p < le && sp.blank(*p)) ++p;
      if (sp.delim == 0 && p == le) break;
      if (j == fields) {
        split(sp, ls, le, &starts, &ends);
        err->count = fields;
        return fail(err, fmt_status::csv_ragged, lines.number, static_cast<int64_t>(starts.size()));
      }
      if (p < le && *p == '"') return fail(err, fmt_status::csv_quoted, lines.number, j);
      const int32_t at = slot[static_cast<size_t>(j)];
      const char* next = nullptr;  // where the field ends: a delimiter or the line's end
      if (at >= 0) {
        // The common case first: plain decimal text that a delimiter, a
        // blank or the line's end follows, which from_chars takes exactly
        // as scanf would, since none of those can continue a number.
        const char* q = p + (p < le && *p == '-');
        if (q < le && (is_digit(*q) || *q == '.')) {
          const auto r = std::from_chars(p, le, row[at]);
          if (r.ec == std::errc() && (r.ptr == le || sp.blank(*r.ptr) || (sp.delim != 0 && *r.ptr == sp.delim))) {
            next = r.ptr;
            while (next < le && sp.blank(*next)) ++next;
            if (sp.delim != 0 && next < le && *next != sp.delim) next = nullptr;  // more text in the field
          }
        }
        if (next == nullptr) {
          next = sp.field_end(p, le);
          const char* fe = sp.trim(p, next);
          if (p == fe) return fail(err, fmt_status::csv_empty, lines.number, j);
          if (!whole_number(p, fe, &row[at])) return fail(err, fmt_status::csv_not_number, lines.number, j, p, fe);
        }
      } else {
        next = sp.field_end(p, le);
      }
      p = next;
      if (sp.delim != 0) {
        if (p == le) {
          ++j;
          break;
        }
        ++p;  // past the delimiter
      }
    }
    if (j != fields) {
      err->count = fields;
      return fail(err, fmt_status::csv_ragged, lines.number, j);
    }
    ++rows;
  }
  out->rows = row_source{data, static_cast<int32_t>(rows), cols, cols, 1, elem_type::f64};
  return true;
}
