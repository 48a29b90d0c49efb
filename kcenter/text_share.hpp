// The matrix text format read in shares: each process scans one byte range
// of the body and keeps the numbers that start in it, and the rows are
// handed to the processes where they start. Every share together reads
// exactly what one scan of the whole text reads, number for number, whatever
// the edges cut: a number, white space, a row boundary. Nothing here knows
// of MPI; the processes exchange only the counts and the cut rows.
#pragma once

#include <cstdint>
#include <vector>

// Text read from a file by pread, held from an offset on; a number that
// reaches the end of what is held is read again with more.
struct text_window {
  int fd;
  int64_t size;     // of the file: where the text ends
  char* buf;
  int64_t cap;
  int64_t at;       // file offset of buf[0]
  int64_t len;      // bytes held
  bool read_error;  // pread failed
  bool no_memory;   // the window could not grow to hold one number
};

void text_window_open(text_window* w, int fd, int64_t size);
void text_window_close(text_window* w);

// The shape line as "%d %d" reads it from the start of the file: how many of
// the two whole numbers converted and fit in 32 bits (2: both), and where
// the body starts, just after the second.
struct text_shape {
  int converted;
  int32_t rows;
  int32_t cols;
  int64_t body;
};

// False when the file could not be read (w->read_error) or a number not held.
bool text_read_shape(text_window* w, text_shape* s);

// The numbers that start in bytes [from, to) of the body, which starts at
// `body` (from >= body), converted as "%lf" converts them in one scan of the
// whole body: a number cut by `from` belongs to the range before, one cut by
// `to` is read to its end.
struct text_range {
  double* values;   // work_alloc storage; the caller releases it with work_free
  int64_t count;    // numbers that converted, in order
  int64_t cap;
  bool failed;      // the scan stopped at a number that did not convert (or
                    // one before the range), so later numbers do not count
};

// False when the file could not be read or storage could not be had (see
// w->read_error, w->no_memory); *r then holds no storage.
bool text_scan_range(text_window* w, int64_t body, int64_t from, int64_t to, text_range* r);

// Whether a number ("%lf") converts at `from` (white space skipped): false
// when the file could not be read or the number not held.
bool text_number_at(text_window* w, int64_t from, bool* converted);

// Byte r of P equal ranges of [first, last): first + (last - first) * r / P, exactly.
int64_t text_range_edge(int64_t first, int64_t last, int r, int P);

// Where the rows go, from the numbers each range holds (counts[q], q < P;
// after a range that failed, counts no longer matter, as the rows end
// before). Row i starts at number i * cols and belongs to the process whose
// range holds that number. A process keeps its numbers from `keep_from` on
// and sends those before (a part of a row started earlier) to `send_to`;
// it receives from each later process q recv[q] numbers, the rest of its
// last row, in order of q.
struct text_plan {
  int64_t first_row;  // the process's rows: [first_row, first_row + rows)
  int64_t rows;
  int64_t keep_from;  // index of its first own number used
  int64_t keep;       // how many of its numbers it keeps
  int64_t send;       // how many it sends (its numbers [0, send))
  int send_to;        // to which process (-1: none)
  std::vector<int64_t> recv;  // per process
};

// The plan of process p. rows * cols numbers must lie within the counts
// (the body is whole); cols >= 1.
text_plan text_plan_for(const std::vector<int64_t>& counts, int64_t rows, int64_t cols, int p);
