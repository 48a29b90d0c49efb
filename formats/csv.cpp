// CSV, TSV and plain tables: one row a line, numbers read as scanf("%lf")
// reads them, every refusal naming its line and column.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "formats.hpp"
#include "internal.hpp"
#include "work.hpp"

namespace {

// Field text shown in a refusal at most.
constexpr size_t shown_max = 40;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

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

// The reading of one text, a piece of lines at a time.
struct csv_state {
  const csv_options* o;
  fmt_matrix* out;
  fmt_error* err;
  int64_t total;  // bytes of the whole text when known (a file), else -1
  splitter sp;
  bool started;   // the first row has been seen
  bool header;    // ... and it named the columns
  int64_t fields;
  int32_t cols;
  std::vector<int32_t> slot;  // where each field goes in a row, or -1 when it is not read
  std::vector<const char*> starts, ends;
  double* data;
  int64_t cap;
  int64_t rows;
  int64_t line;   // the line last taken, from 1
};

// The first row: the delimiter, the header, the columns read and the storage.
bool first_row(csv_state* s, const char* ls, const char* le) {
  const csv_options* o = s->o;
  fmt_error* err = s->err;
  switch (o->delimiter) {
    case csv_delimiter::comma: s->sp.delim = ','; break;
    case csv_delimiter::semicolon: s->sp.delim = ';'; break;
    case csv_delimiter::tab: s->sp.delim = '\t'; break;
    case csv_delimiter::blanks: break;
    case csv_delimiter::detect: {
      const size_t n = static_cast<size_t>(le - ls);
      if (std::memchr(ls, '\t', n) != nullptr) s->sp.delim = '\t';
      else if (std::memchr(ls, ',', n) != nullptr) s->sp.delim = ',';
      else if (std::memchr(ls, ';', n) != nullptr) s->sp.delim = ';';
    }
  }
  // A header when asked, or when none of its fields is a number.
  split(s->sp, ls, le, &s->starts, &s->ends);
  const std::vector<const char*>& starts = s->starts;
  const std::vector<const char*>& ends = s->ends;
  s->fields = static_cast<int64_t>(starts.size());
  if (s->fields > INT32_MAX) return fail(err, fmt_status::too_large, 0, 0);
  bool header = true;
  for (size_t j = 0; j < starts.size() && header && !o->header; ++j) {
    double v;
    header = !whole_number(starts[j], ends[j], &v);
  }
  std::vector<std::string> names;
  if (header) {
    for (size_t j = 0; j < starts.size(); ++j) {
      const auto c = static_cast<int64_t>(j);
      if (starts[j] < ends[j] && *starts[j] == '"') return fail(err, fmt_status::csv_quoted, s->line, c);
      // A column without a name is most likely an index written beside the
      // data: it is read only when picked.
      if (starts[j] == ends[j] && o->picks == nullptr) return fail(err, fmt_status::unnamed_column, s->line, c);
      names.emplace_back(starts[j], ends[j]);
    }
  }
  std::vector<int32_t> columns;
  if (o->picks != nullptr) {
    if (!fmt_pick_resolve(*o->picks, names, s->fields, &columns, err)) return false;
  } else {
    for (int64_t j = 0; j < s->fields; ++j) columns.push_back(static_cast<int32_t>(j));
  }
  s->cols = static_cast<int32_t>(columns.size());
  s->slot.assign(static_cast<size_t>(s->fields), -1);
  for (int32_t c = 0; c < s->cols; ++c) s->slot[static_cast<size_t>(columns[static_cast<size_t>(c)])] = c;
  if (header)
    for (int32_t c : columns) s->out->names.push_back(names[static_cast<size_t>(c)]);

  // Room for the rows a text of this size holds if they are like this one,
  // and never more than fit if each took only its delimiters and one
  // character per field read; a stream starts small. More is made as needed.
  s->cap = 4096;
  if (s->total >= 0) {
    const int64_t most = s->total / ((s->fields - 1) + s->cols) + 1;
    s->cap = std::min(most, s->total / (le - ls + 1) * 5 / 4 + 4096);
  }
  s->cap = std::min(s->cap, int64_t{INT32_MAX});
  s->data = static_cast<double*>(work_alloc(s->cap * s->cols * static_cast<int64_t>(sizeof(double))));
  s->out->storage = s->data;
  if (s->data == nullptr) return fail(err, fmt_status::no_memory, 0, 0);
  s->started = true;
  s->header = header;
  return true;
}

// One row of data into the storage.
bool data_row(csv_state* s, const char* ls, const char* le) {
  fmt_error* err = s->err;
  const splitter sp = s->sp;
  if (s->rows == s->cap) {
    if (s->cap == INT32_MAX) return fail(err, fmt_status::too_large, 0, 0);
    const int64_t cap = std::min(s->cap * 2, int64_t{INT32_MAX});
    auto* grown = static_cast<double*>(work_alloc(cap * s->cols * static_cast<int64_t>(sizeof(double))));
    if (grown == nullptr) return fail(err, fmt_status::no_memory, 0, 0);
    std::memcpy(grown, s->data, static_cast<size_t>(s->rows * s->cols) * sizeof(double));
    work_free(s->data);
    s->data = grown;
    s->out->storage = grown;
    s->cap = cap;
  }
  double* row = s->data + s->rows * s->cols;
  const int32_t* slot = s->slot.data();
  const int64_t fields = s->fields;
  const char* p = ls;
  int64_t j = 0;
  for (;; ++j) {
    while (p < le && sp.blank(*p)) ++p;
    if (sp.delim == 0 && p == le) break;
    if (j == fields) {
      split(sp, ls, le, &s->starts, &s->ends);
      err->count = fields;
      return fail(err, fmt_status::csv_ragged, s->line, static_cast<int64_t>(s->starts.size()));
    }
    if (p < le && *p == '"') return fail(err, fmt_status::csv_quoted, s->line, j);
    const int32_t at = slot[j];
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
        if (p == fe) return fail(err, fmt_status::csv_empty, s->line, j);
        if (!whole_number(p, fe, &row[at])) return fail(err, fmt_status::csv_not_number, s->line, j, p, fe);
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
    return fail(err, fmt_status::csv_ragged, s->line, j);
  }
  ++s->rows;
  return true;
}

// The whole lines of [p, end), and the last one too when `final`; *stop is
// where the lines not taken start.
bool take_lines(csv_state* s, const char* p, const char* end, bool final, const char** stop) {
  while (p < end) {
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    if (nl == nullptr && !final) break;
    const char* e = nl != nullptr ? nl : end;
    const char* ls = p;
    p = nl != nullptr ? nl + 1 : end;
    ++s->line;
    // Blank lines and comments ('#' first) are passed over.
    const char* q = ls;
    while (q < e && (*q == ' ' || *q == '\t' || *q == '\r')) ++q;
    if (q == e || *q == '#') continue;
    if (!s->started) {
      if (!first_row(s, ls, e)) return false;
      if (s->header) continue;
    }
    if (!data_row(s, ls, e)) return false;
  }
  *stop = p;
  return true;
}

bool finish(csv_state* s, bool ok) {
  if (!ok) return false;
  if (!s->started) {
    // No row at all: 0 x 0.
    s->out->storage = work_alloc(0);
    s->out->rows.data = s->out->storage;
    return s->out->storage != nullptr || fail(s->err, fmt_status::no_memory, 0, 0);
  }
  s->out->rows = row_source{s->data, static_cast<int32_t>(s->rows), s->cols, s->cols, 1, elem_type::f64};
  return true;
}

csv_state state_of(const csv_options* o, fmt_matrix* out, fmt_error* err, int64_t total) {
  *out = fmt_matrix{row_source{nullptr, 0, 0, 0, 1, elem_type::f64}, nullptr, {}};
  return csv_state{o, out, err, total, splitter{0}, false, false, 0, 0, {}, {}, {}, nullptr, 0, 0, 0};
}

}  // namespace

bool csv_read(const char* text, int64_t len, const csv_options* o, fmt_matrix* out, fmt_error* err) {
  csv_state s = state_of(o, out, err, len);
  const char* stop = nullptr;
  return finish(&s, take_lines(&s, text, text + len, true, &stop));
}

bool csv_read_fd(int fd, const char* head, int64_t head_len, const csv_options* o, fmt_matrix* out,
                 fmt_error* err) {
  struct stat st;
  int64_t total = -1;
  const off_t at = ::lseek(fd, 0, SEEK_CUR);
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && at >= 0) total = head_len + std::max<int64_t>(0, st.st_size - at);
  csv_state s = state_of(o, out, err, total);
  // The text a piece at a time through one buffer, as the matrix text reader
  // reads it: a line longer than the buffer makes it grow.
  int64_t cap = std::max<int64_t>(int64_t{1} << 21, 2 * head_len);
  char* buf = static_cast<char*>(work_alloc(cap));
  if (buf == nullptr) return fail(err, fmt_status::no_memory, 0, 0);
  if (head_len > 0) std::memcpy(buf, head, static_cast<size_t>(head_len));
  int64_t len = head_len;
  bool ok = true, at_end = false;
  while (ok && !at_end) {
    if (len == cap) {
      char* grown = static_cast<char*>(work_alloc(2 * cap));
      if (grown == nullptr) {
        ok = fail(err, fmt_status::no_memory, 0, 0);
        break;
      }
      std::memcpy(grown, buf, static_cast<size_t>(len));
      work_free(buf);
      buf = grown;
      cap *= 2;
    }
    const ssize_t got = ::read(fd, buf + len, static_cast<size_t>(cap - len));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ok = fail(err, fmt_status::read_failed, 0, 0);
      break;
    }
    at_end = got == 0;
    len += got;
    const char* stop = nullptr;
    ok = take_lines(&s, buf, buf + len, at_end, &stop);
    if (!ok) break;
    len -= stop - buf;
    std::memmove(buf, stop, static_cast<size_t>(len));
  }
  work_free(buf);
  return finish(&s, ok);
}
