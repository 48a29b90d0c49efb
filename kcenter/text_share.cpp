// The matrix text format read in byte ranges; see text_share.hpp.
#include "text_share.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "internal.hpp"
#include "work.hpp"

namespace {

__extension__ typedef __int128 i128;

constexpr int64_t first_cap = int64_t{1} << 20;

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool at_end(const text_window* w) { return w->at + w->len >= w->size; }

// pread until n bytes or the end of the file; how many, or -1 on an error.
int64_t pread_some(int fd, char* p, int64_t n, int64_t at) {
  int64_t got = 0;
  while (got < n) {
    const ssize_t r = ::pread(fd, p + got, static_cast<size_t>(n - got), at + got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    got += r;
  }
  return got;
}

// Makes the window hold the text from `from` on, more of it than it held,
// unless the file ends first: what it holds from `from` is kept, the buffer
// doubles when it is full of it.
bool more(text_window* w, int64_t from) {
  if (from < w->at || from > w->at + w->len) {
    w->at = from;
    w->len = 0;
  } else if (from > w->at) {
    w->len -= from - w->at;
    std::memmove(w->buf, w->buf + (from - w->at), static_cast<size_t>(w->len));
    w->at = from;
  }
  if (w->len == w->cap) {
    const int64_t cap = w->cap == 0 ? first_cap : w->cap * 2;
    char* grown = static_cast<char*>(work_alloc(cap));
    if (grown == nullptr) {
      w->no_memory = true;
      return false;
    }
    if (w->len > 0) std::memcpy(grown, w->buf, static_cast<size_t>(w->len));
    work_free(w->buf);
    w->buf = grown;
    w->cap = cap;
  }
  const int64_t want = std::min(w->cap - w->len, w->size - (w->at + w->len));
  if (want <= 0) return true;
  const int64_t got = pread_some(w->fd, w->buf + w->len, want, w->at + w->len);
  if (got < 0) {
    w->read_error = true;
    return false;
  }
  w->len += got;
  if (got < want) w->size = w->at + w->len;  // the file ended early
  return true;
}

// One scan (scan_double, or scan_int when `integer`) from file offset p:
// white space skipped, then one number. Sets where it starts and where the
// scan stopped. False when the text could not be read or held.
struct number {
  int64_t start;
  int64_t next;
  scan_status status;
  double value;
  int64_t whole;
};

bool scan_at(text_window* w, int64_t p, bool integer, number* n) {
  for (;;) {
    if (p < w->at || p > w->at + w->len) {
      w->at = p;
      w->len = 0;
    }
    const char* base = w->buf;
    const char* last = base + w->len;
    const char* q = base + (p - w->at);
    while (q < last && is_space(*q)) ++q;
    p = w->at + (q - base);
    if (q == last) {
      if (at_end(w)) {
        *n = number{p, p, scan_status::end_of_input, 0.0, 0};
        return true;
      }
      if (!more(w, p)) return false;
      continue;
    }
    n->start = p;
    const char* s = q;
    if (!integer && scan_double_quick(&s, last, &n->value)) {
      n->next = w->at + (s - base);
      n->status = scan_status::converted;
      return true;
    }
    const scan_result r = integer ? scan_int(q, last, at_end(w), &n->whole)
                                  : scan_double(q, last, at_end(w), &n->value);
    if (r.status == scan_status::need_more) {
      if (!more(w, p)) return false;
      continue;
    }
    n->next = w->at + (r.next - base);
    n->status = r.status;
    return true;
  }
}

bool append(text_range* r, double v) {
  if (r->count == r->cap) {
    const int64_t cap = r->cap * 2;
    double* grown = static_cast<double*>(work_alloc(cap * static_cast<int64_t>(sizeof(double))));
    if (grown == nullptr) return false;
    std::memcpy(grown, r->values, static_cast<size_t>(r->count) * sizeof(double));
    work_free(r->values);
    r->values = grown;
    r->cap = cap;
  }
  r->values[r->count++] = v;
  return true;
}

// Where the one scan of the whole body starts a number at or before `from`:
// just after the last white space before it, or the body's start. A range
// edge inside a run of characters without white space needs the run's
// start, since the numbers in it ("1.5.3", "1-2", "nx5") are found by
// scanning it from there.
bool word_start(text_window* w, int64_t body, int64_t from, int64_t* word) {
  char chunk[4096];
  int64_t at = from;
  while (at > body) {
    const int64_t n = std::min<int64_t>(sizeof chunk, at - body);
    if (pread_some(w->fd, chunk, n, at - n) != n) {
      w->read_error = true;
      return false;
    }
    for (int64_t i = n - 1; i >= 0; --i) {
      if (is_space(chunk[i])) {
        *word = at - n + i + 1;
        return true;
      }
    }
    at -= n;
  }
  *word = body;
  return true;
}

}  // namespace

void text_window_open(text_window* w, int fd, int64_t size) {
  *w = text_window{fd, size, nullptr, 0, 0, 0, false, false};
}

void text_window_close(text_window* w) {
  work_free(w->buf);
  text_window_open(w, w->fd, w->size);
}

bool text_read_shape(text_window* w, text_shape* s) {
  *s = text_shape{0, 0, 0, 0};
  number n;
  int64_t p = 0;
  for (int32_t* out : {&s->rows, &s->cols}) {
    if (!scan_at(w, p, true, &n)) return false;
    if (n.status != scan_status::converted || n.whole < INT32_MIN || n.whole > INT32_MAX) return true;
    *out = static_cast<int32_t>(n.whole);
    ++s->converted;
    p = n.next;
  }
  s->body = p;
  return true;
}

bool text_scan_range(text_window* w, int64_t body, int64_t from, int64_t to, text_range* r) {
  // Room for about one number in 8 bytes to start with (text that keeps
  // every digit of a double takes 20 or more).
  *r = text_range{nullptr, 0, std::max<int64_t>(64, (to - from) / 8), false};
  r->values = static_cast<double*>(work_alloc(r->cap * static_cast<int64_t>(sizeof(double))));
  if (r->values == nullptr) {
    w->no_memory = true;
    return false;
  }
  auto fail = [&] {
    work_free(r->values);
    *r = text_range{nullptr, 0, 0, false};
    return false;
  };
  number n;
  int64_t p = from;
  if (from > body) {
    // Numbers that start before `from` are the range before's; one that
    // does not convert ends the whole scan before this range.
    if (!word_start(w, body, from, &p)) return fail();
    for (;;) {
      if (!scan_at(w, p, false, &n)) return fail();
      if (n.status == scan_status::end_of_input || n.start >= from) break;
      if (n.status != scan_status::converted) {
        r->failed = true;
        return true;
      }
      p = n.next;
    }
  }
  for (;;) {
    if (!scan_at(w, p, false, &n)) return fail();
    if (n.status == scan_status::end_of_input || n.start >= to) break;
    if (n.status != scan_status::converted) {
      r->failed = true;
      break;
    }
    if (!append(r, n.value)) {
      w->no_memory = true;
      return fail();
    }
    p = n.next;
  }
  return true;
}

bool text_number_at(text_window* w, int64_t from, bool* converted) {
  number n;
  if (!scan_at(w, from, false, &n)) return false;
  *converted = n.status == scan_status::converted;
  return true;
}

int64_t text_range_edge(int64_t first, int64_t last, int r, int P) {
  return first + static_cast<int64_t>(static_cast<i128>(last - first) * r / P);
}

text_plan text_plan_for(const std::vector<int64_t>& counts, int64_t rows, int64_t cols, int p) {
  const int P = static_cast<int>(counts.size());
  // starts[q]: the first row that starts in range q (rows when none does);
  // the rows of q are [starts[q], starts[q + 1]).
  std::vector<int64_t> pre(static_cast<size_t>(P) + 1, 0), starts(static_cast<size_t>(P) + 1, rows);
  for (int q = 0; q < P; ++q) {
    const size_t u = static_cast<size_t>(q);
    pre[u + 1] = pre[u] + counts[u];
    starts[u] = std::min(rows, (pre[u] + cols - 1) / cols);
  }
  auto owner = [&](int64_t row) {
    return static_cast<int>(std::upper_bound(starts.begin(), starts.end(), row) - starts.begin()) - 1;
  };
  // What q sends: its numbers before its first row (at most the end of the
  // matrix), the rest of the row that started before its range.
  auto sends = [&](int q, int64_t* count) {
    const size_t u = static_cast<size_t>(q);
    *count = std::max<int64_t>(0, std::min(pre[u + 1], starts[u] * cols) - pre[u]);
    return *count > 0 ? owner(pre[u] / cols) : -1;
  };
  const size_t u = static_cast<size_t>(p);
  text_plan plan;
  plan.first_row = starts[u];
  plan.rows = starts[u + 1] - starts[u];
  plan.keep_from = plan.rows > 0 ? starts[u] * cols - pre[u] : 0;
  plan.keep = plan.rows > 0 ? std::min(pre[u + 1], starts[u + 1] * cols) - starts[u] * cols : 0;
  plan.send_to = sends(p, &plan.send);
  plan.recv.assign(static_cast<size_t>(P), 0);
  for (int q = p + 1; q < P && plan.rows > 0; ++q) {
    int64_t count = 0;
    if (sends(q, &count) == p) plan.recv[static_cast<size_t>(q)] = count;
  }
  return plan;
}
