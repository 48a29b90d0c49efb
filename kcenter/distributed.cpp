// kcenter order over MPI: the rows shared among the processes, one
// allreduce and one broadcast per step. Every MPI call of kcenter is here.
//
// Failures never leave a process waiting: each step that can fail on some
// process is followed by one collective that every process enters, failed
// or not (agree), and after a failure all of them end with status 1. The
// job is not ended from the failing process alone (MPI_Abort), which leaves
// the others to the launcher.
#include "distributed.hpp"

#include <fcntl.h>
#include <mpi.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli.hpp"
#include "internal.hpp"
#include "text_share.hpp"
#include "threads.hpp"
#include "work.hpp"

static_assert(sizeof(int) == sizeof(int32_t), "rows travel as MPI_INT");

bool kcenter_launched(int* rank) {
  const char* size = std::getenv("OMPI_COMM_WORLD_SIZE");
  const char* r = std::getenv("OMPI_COMM_WORLD_RANK");
  if (size == nullptr || r == nullptr) return false;
  *rank = std::atoi(r);
  return true;
}

namespace {

struct job {
  int rank;
  int size;
  const kcenter_args* a;
  const char* program;
  // The input: rank 0's whole matrix when it alone reads it, or this
  // process's share as a NumPy file's rows or storage of its own.
  kcenter_input whole;
  npy_file npy;
  mat owned;
  mat rows;                     // this process's rows: a view of one of the above
  int32_t total_rows;
  int32_t cols;
  std::vector<int32_t> starts;  // the first row of each process, then total_rows
  // The order.
  row_source share;             // rows as the team reads them
  order_team* team;
  double* centre;               // the coordinates of centre_row
  int32_t centre_row;
  kcenter_sink sink;            // rank 0's
  bool write_failed;            // rank 0: the output failed; the order stops at the next fold
};

void say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// Every process enters; true when every one is ok. Otherwise the lowest
// failing process prints its line (rank 0 when all fail alike).
bool agree(job* j, bool ok, const std::string& line) {
  int mine = ok ? j->size : j->rank, first = 0;
  MPI_Allreduce(&mine, &first, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  if (first == j->rank) say(line);
  return first == j->size;
}

bool agree(job* j, bool ok, const kcenter_error& e) {
  return agree(j, ok, ok ? std::string() : kcenter_error_line(e, j->program));
}

// For each value, whether every process holds the same (none of them INT64_MIN).
std::vector<bool> same_each(const std::vector<int64_t>& v) {
  std::vector<int64_t> both, least(2 * v.size());
  for (int64_t x : v) {
    both.push_back(x);
    both.push_back(-x);
  }
  MPI_Allreduce(both.data(), least.data(), static_cast<int>(both.size()), MPI_INT64_T, MPI_MIN, MPI_COMM_WORLD);
  std::vector<bool> out(v.size());
  for (size_t i = 0; i < v.size(); ++i) out[i] = least[2 * i] == -least[2 * i + 1];
  return out;
}

// Whether every process holds the same values.
bool same(const std::vector<int64_t>& v) {
  const std::vector<bool> each = same_each(v);
  return std::find(each.begin(), each.end(), false) == each.end();
}

// Whether values [from, to) of same_each's answer are all equal.
bool all_of(const std::vector<bool>& each, size_t from, size_t to) {
  return std::find(each.begin() + static_cast<std::ptrdiff_t>(from), each.begin() + static_cast<std::ptrdiff_t>(to),
                   false) == each.begin() + static_cast<std::ptrdiff_t>(to);
}

// A 64-bit hash (FNV-1a) of n bytes, from `h` on; as two values from 0 to
// 2^32 - 1 when it travels to the other processes.
uint64_t hash_bytes(const char* p, size_t n, uint64_t h = 0xcbf29ce484222325u) {
  for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(p[i])) * 0x100000001b3u;
  return h;
}
int64_t high(uint64_t h) { return static_cast<int64_t>(h >> 32); }
int64_t low(uint64_t h) { return static_cast<int64_t>(h & 0xffffffffu); }

constexpr const char* same_data_line =
    "error : every process must read the same data, not files that differ (in dtype, order, size or bytes)";

kcenter_error error(kcenter_fault f, const std::string& name = "", int64_t a = 0, int64_t b = 0) {
  return kcenter_error{f, name, "", a, b};
}

int32_t share_edge(int64_t rows, int r, int P) { return static_cast<int32_t>(rows * r / P); }

// ---- reading --------------------------------------------------------------------

// Rank 0 reads the whole input (standard input, or a file that is no
// regular file) and hands every process its rows.
bool load_on_rank0(job* j) {
  kcenter_error err{};
  bool ok = j->rank != 0 || kcenter_load(j->a, &j->whole, &err);
  if (!agree(j, ok, err)) return false;
  // The rows travel as row-major doubles: rank 0 widens its input first
  // when it holds it otherwise (float32, Fortran order).
  const row_source& X = j->whole.X;
  double* all = const_cast<double*>(static_cast<const double*>(X.data));
  if (j->rank == 0 && !rows_are_doubles(&X)) {
    mat_malloc(&j->owned, X.rows, X.cols);
    all = j->owned.data;
    ok = all != nullptr;
    for (int32_t i = 0; ok && i < X.rows; ++i) rows_get(&X, i, all + int64_t{i} * X.cols);
  }
  if (!agree(j, ok, error(kcenter_fault::no_memory_matrix, "", X.rows, X.cols))) return false;
  int32_t shape[2] = {X.rows, X.cols};
  MPI_Bcast(shape, 2, MPI_INT, 0, MPI_COMM_WORLD);
  j->total_rows = shape[0];
  j->cols = shape[1];
  const int32_t first = share_edge(shape[0], j->rank, j->size);
  const int32_t count = share_edge(shape[0], j->rank + 1, j->size) - first;
  if (j->rank == 0) {
    j->rows = mat{all, count, shape[1]};
  } else {
    mat_malloc(&j->owned, count, shape[1]);
    j->rows = j->owned;
  }
  if (!agree(j, j->rows.data != nullptr, error(kcenter_fault::no_memory_matrix, "", shape[0], shape[1])))
    return false;
  if (shape[0] == 0 || shape[1] == 0) return true;
  std::vector<int> counts(static_cast<size_t>(j->size)), at(static_cast<size_t>(j->size));
  for (int q = 0; q < j->size; ++q) {
    at[static_cast<size_t>(q)] = share_edge(shape[0], q, j->size);
    counts[static_cast<size_t>(q)] = share_edge(shape[0], q + 1, j->size) - at[static_cast<size_t>(q)];
  }
  MPI_Datatype row;
  MPI_Type_contiguous(shape[1], MPI_DOUBLE, &row);
  MPI_Type_commit(&row);
  MPI_Scatterv(all, counts.data(), at.data(), row, j->rank == 0 ? MPI_IN_PLACE : j->rows.data,
               count, row, 0, MPI_COMM_WORLD);
  MPI_Type_free(&row);
  return true;
}

// The rows of a NumPy file: every process checks the header of its own
// file and reads its share of the rows.
bool load_npy_rows(job* j, int fd, const std::string& name, int64_t size, uint64_t sample) {
  const std::string read_name = "file " + name;
  kcenter_error err{};
  npy_status s = npy_check_fd(&j->npy, fd);
  const bool ok = s == npy_status::ok || kcenter_npy_refusal(s, &j->npy, name, read_name, &err);
  if (!agree(j, ok, err)) return false;
  const npy_header& h = j->npy.h;
  const int64_t rows = h.rows, cols = h.cols;
  const std::vector<bool> each =
      same_each({rows, cols, h.item_size, h.fortran_order ? 1 : 0, size, high(sample), low(sample)});
  if (!agree(j, all_of(each, 0, 2), "error : every process must read a matrix of the same shape")) return false;
  if (!agree(j, all_of(each, 2, each.size()), same_data_line)) return false;
  j->total_rows = static_cast<int32_t>(rows);
  j->cols = static_cast<int32_t>(cols);
  const int32_t first = share_edge(rows, j->rank, j->size);
  s = npy_read_rows(&j->npy, fd, first, share_edge(rows, j->rank + 1, j->size) - first);
  if (s == npy_status::no_memory) err = error(kcenter_fault::no_memory_matrix, "", rows, cols);
  else if (s != npy_status::ok) kcenter_npy_refusal(s, &j->npy, name, read_name, &err);
  if (!agree(j, s == npy_status::ok, err)) return false;
  j->share = j->npy.x;
  return true;
}

// The rows of the matrix text: every process scans its byte range of the
// body, the processes count the numbers together, and each row goes to the
// process where it starts, with the part of it that lies in later ranges.
bool load_text_rows(job* j, int fd, int64_t size, const std::string& name, uint64_t sample) {
  const std::string read_name = "file " + name;
  auto reader_error = [&](const text_window& w, kcenter_fault otherwise) {
    return error(w.no_memory ? kcenter_fault::no_memory_input : w.read_error ? kcenter_fault::cannot_read : otherwise,
                 w.no_memory || w.read_error ? read_name : "");
  };
  text_window w;
  text_window_open(&w, fd, size);
  text_shape shape;
  const bool read = text_read_shape(&w, &shape);
  bool ok = read && shape.converted == 2;
  if (!agree(j, ok, reader_error(w, kcenter_fault::text_shape))) return text_window_close(&w), false;
  const int64_t rows = shape.rows, cols = shape.cols;
  // The byte ranges are cut from the same body on every process.
  const std::vector<bool> each = same_each({rows, cols, shape.body, w.size, high(sample), low(sample)});
  if (!agree(j, all_of(each, 0, 4), "error : every process must read a matrix of the same shape") ||
      !agree(j, all_of(each, 4, each.size()), same_data_line))
    return text_window_close(&w), false;
  if (!agree(j, rows >= 0 && cols >= 0, error(kcenter_fault::text_negative_shape, "", rows, cols)))
    return text_window_close(&w), false;
  j->total_rows = shape.rows;
  j->cols = shape.cols;
  // Storage is asked for before the body is read, as one process asks for
  // the whole matrix: a shape no process can hold fails at once.
  const int64_t elements = rows * cols;
  double* probe = storage_alloc((rows + j->size - 1) / j->size * cols, false);
  ok = probe != nullptr;
  work_free(probe);
  if (!agree(j, ok, error(kcenter_fault::no_memory_matrix, "", rows, cols))) return text_window_close(&w), false;
  if (elements == 0) {
    // No number to read, and none may follow the shape: the rows are shared out by count.
    bool more = false;
    ok = text_number_at(&w, shape.body, &more);
    if (!agree(j, ok, reader_error(w, kcenter_fault::text_body))) return text_window_close(&w), false;
    if (!agree(j, !more, error(kcenter_fault::text_trailing, "", rows, cols))) return text_window_close(&w), false;
    const int32_t first = share_edge(rows, j->rank, j->size);
    mat_malloc(&j->owned, share_edge(rows, j->rank + 1, j->size) - first, shape.cols);
    j->rows = j->owned;
    text_window_close(&w);
    return agree(j, j->owned.data != nullptr, error(kcenter_fault::no_memory_matrix, "", rows, cols));
  }

  text_range range;
  const int64_t from = text_range_edge(shape.body, w.size, j->rank, j->size);
  const int64_t to = j->rank + 1 == j->size ? w.size : text_range_edge(shape.body, w.size, j->rank + 1, j->size);
  ok = text_scan_range(&w, shape.body, from, to, &range);
  const kcenter_error scan_error = reader_error(w, kcenter_fault::text_body);
  text_window_close(&w);
  if (!agree(j, ok, scan_error)) return false;

  // The body is whole when the numbers before the first range that failed,
  // and those of that range, reach rows x cols.
  int64_t mine[2] = {range.count, range.failed ? 1 : 0};
  std::vector<int64_t> all(2 * static_cast<size_t>(j->size));
  MPI_Allgather(mine, 2, MPI_INT64_T, all.data(), 2, MPI_INT64_T, MPI_COMM_WORLD);
  std::vector<int64_t> counts(static_cast<size_t>(j->size));
  int64_t good = 0;
  bool stopped = false;
  for (size_t q = 0; q < counts.size(); ++q) {
    counts[q] = all[2 * q];
    if (!stopped) good += counts[q];
    stopped = stopped || all[2 * q + 1] != 0;
  }
  if (good != elements) {
    // Too few numbers, or more after the last element (one scan would read the next).
    work_free(range.values);
    const kcenter_error e = good < elements ? error(kcenter_fault::text_body)
                                            : error(kcenter_fault::text_trailing, "", rows, cols);
    if (j->rank == 0) say(kcenter_error_line(e, j->program));
    return false;
  }

  // The rows: this range's own numbers moved to the front, the rest of its
  // last row from the ranges after it.
  const text_plan plan = text_plan_for(counts, rows, cols, j->rank);
  const int64_t need = plan.rows * cols;
  double* data = range.values;
  if (need > range.cap) {
    data = storage_alloc(need, false);
    if (data != nullptr) std::memcpy(data, range.values, static_cast<size_t>(range.count) * sizeof(double));
  }
  double* sent = nullptr;
  if (data != nullptr && plan.send > 0) {
    sent = storage_alloc(plan.send, false);
    if (sent != nullptr) std::memcpy(sent, data, static_cast<size_t>(plan.send) * sizeof(double));
  }
  int64_t received = 0;
  for (int64_t r : plan.recv) received += r;
  double* incoming = storage_alloc(received, false);
  ok = data != nullptr && (plan.send == 0 || sent != nullptr) && incoming != nullptr;
  if (data != range.values) work_free(range.values);
  if (!agree(j, ok, error(kcenter_fault::no_memory_matrix, "", rows, cols))) {
    work_free(data);
    work_free(sent);
    work_free(incoming);
    return false;
  }
  if (plan.keep > 0 && plan.keep_from > 0)
    std::memmove(data, data + plan.keep_from, static_cast<size_t>(plan.keep) * sizeof(double));

  // A row's cut part is shorter than the row, so every count fits an int.
  const size_t P = static_cast<size_t>(j->size);
  std::vector<int> send_counts(P, 0), send_at(P, 0), recv_counts(P, 0), recv_at(P, 0);
  if (plan.send_to >= 0) send_counts[static_cast<size_t>(plan.send_to)] = static_cast<int>(plan.send);
  int at = 0;
  for (size_t q = 0; q < P; ++q) {
    recv_counts[q] = static_cast<int>(plan.recv[q]);
    recv_at[q] = at;
    at += recv_counts[q];
  }
  MPI_Alltoallv(sent, send_counts.data(), send_at.data(), MPI_DOUBLE, incoming, recv_counts.data(),
                recv_at.data(), MPI_DOUBLE, MPI_COMM_WORLD);
  if (received > 0)
    std::memcpy(data + plan.keep, incoming, static_cast<size_t>(received) * sizeof(double));
  work_free(sent);
  work_free(incoming);
  j->owned = mat{data, static_cast<int32_t>(plan.rows), shape.cols};
  j->rows = j->owned;
  return true;
}

// A sample of the file: its first 64 KiB (the header and the first rows:
// a .npy file's dtype and order with them) and 4 KiB at 16 places spread
// over the rest, hashed. The processes compare it, with the size, rather
// than the device and inode: processes on other machines read copies of one
// file, or one file through a network file system, under device numbers
// that differ, while files of the same shape but other data must differ in
// it. (Files that differ only in bytes outside the sample are not told apart.)
bool sample_of(int fd, int64_t size, uint64_t* hash) {
  constexpr int64_t head = 64 << 10, block = 4 << 10, places = 16;
  std::vector<char> buf(static_cast<size_t>(head));
  uint64_t h = hash_bytes(nullptr, 0);
  for (int64_t k = -1; k < places; ++k) {
    const int64_t at = k < 0 ? 0 : std::max<int64_t>(0, (size - block) * k / (places - 1));
    const int64_t want = std::min(k < 0 ? head : block, size - at);
    int64_t got = 0;
    while (got < want) {
      const ssize_t r = ::pread(fd, buf.data() + got, static_cast<size_t>(want - got), at + got);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return false;
      got += r;
    }
    h = hash_bytes(buf.data(), static_cast<size_t>(got), h);
  }
  *hash = h;
  return true;
}

// The format of the file, told from its first bytes and name; false when
// they cannot be read.
bool format_of(const kcenter_args* a, int fd, kcenter_format* format) {
  char head[8];
  ssize_t got;
  do {
    got = ::pread(fd, head, sizeof head, 0);
  } while (got < 0 && errno == EINTR);
  *format = kcenter_detect(a, head, got < 0 ? 0 : got);
  return got >= 0;
}

// This process's rows, from whichever reading the input calls for.
bool load(job* j) {
  const kcenter_args* a = j->a;
  // A file is read in shares when rank 0's is a regular file; standard
  // input, a pipe or a device is read by rank 0 alone.
  int fd = -1;
  struct stat st {};
  const std::string name = a->input != nullptr ? a->input : "";
  kcenter_error err{};
  bool ok = true;
  // Formats other than .npy and the matrix text are read whole by rank 0 too.
  int regular = 0;
  kcenter_format format = kcenter_format::text;
  bool read_head = true;
  if (a->input != nullptr) {
    fd = ::open(a->input, O_RDONLY | O_CLOEXEC);
    if (fd < 0) ok = false, err = error(kcenter_fault::cannot_open, name);
    else if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) ok = false, err = error(kcenter_fault::cannot_read, "file " + name);
    else regular = S_ISREG(st.st_mode) ? 1 : 0;
    if (regular) {
      read_head = format_of(a, fd, &format);
      if (read_head && format != kcenter_format::npy && format != kcenter_format::text) regular = 0;
    }
  }
  MPI_Bcast(&regular, 1, MPI_INT, 0, MPI_COMM_WORLD);
  if (!regular) {
    if (fd >= 0) ::close(fd);
    if (!load_on_rank0(j)) return false;
    j->share = rows_of_doubles(j->rows.data, j->rows.rows, j->rows.cols);
    return true;
  }
  if (ok && a->input == nullptr) ok = false, err = error(kcenter_fault::cannot_read, "standard input");
  else if (ok && !S_ISREG(st.st_mode)) ok = false, err = error(kcenter_fault::cannot_read, "file " + name);
  else if (ok && !read_head) ok = false, err = error(kcenter_fault::cannot_read, "file " + name);
  else if (ok) ok = kcenter_check_options(a, format, &err);
  const bool npy = format == kcenter_format::npy;
  uint64_t sample = 0;
  if (ok && !sample_of(fd, st.st_size, &sample)) ok = false, err = error(kcenter_fault::cannot_read, "file " + name);
  if (!agree(j, ok, err) ||
      !agree(j, same({npy ? 1 : 0}), "error : every process must read a matrix of the same shape")) {
    if (fd >= 0) ::close(fd);
    return false;
  }
  ok = npy ? load_npy_rows(j, fd, name, st.st_size, sample) : load_text_rows(j, fd, st.st_size, name, sample);
  ::close(fd);
  if (ok && !npy) j->share = rows_of_doubles(j->rows.data, j->rows.rows, j->rows.cols);
  return ok;
}

// ---- the order ----------------------------------------------------------------------

int owner(const job* j, int32_t row) {
  return static_cast<int>(std::upper_bound(j->starts.begin(), j->starts.end(), row) - j->starts.begin()) - 1;
}

// The owner of `row` broadcasts its coordinates.
void fetch(job* j, int32_t row) {
  const int from = owner(j, row);
  const int32_t first = j->starts[static_cast<size_t>(j->rank)];
  if (from == j->rank) rows_get(&j->share, row - first, j->centre);
  MPI_Bcast(j->centre, j->cols, MPI_DOUBLE, from, MPI_COMM_WORLD);
  j->centre_row = row;
}

bool share_start(void* ctx, int64_t centres) {
  job* j = static_cast<job*>(ctx);
  j->centre = static_cast<double*>(work_alloc(int64_t{j->cols} * static_cast<int64_t>(sizeof(double))));
  j->team = order_team_start(&j->share, j->a->threads, centres);
  int ok = j->centre != nullptr && j->team != nullptr, all = 0;
  MPI_Allreduce(&ok, &all, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  j->centre_row = -1;
  return all != 0;
}

// This process's farthest row, then the farthest of all: MPI's MAXLOC takes
// the largest distance and, among equals, the lowest row, as one process
// does. A second pair carries rank 0's wish to stop (its output failed).
choice_farthest share_fold(void* ctx, int32_t c) {
  job* j = static_cast<job*>(ctx);
  if (c != j->centre_row) fetch(j, c);
  const int32_t first = j->starts[static_cast<size_t>(j->rank)];
  const int32_t local = owner(j, c) == j->rank ? c - first : -1;
  const choice_farthest f = order_team_fold(j->team, j->centre, local);
  struct {
    double value;
    int index;
  } in[2] = {{f.dist_sq, f.row >= 0 ? first + f.row : -1}, {j->write_failed ? 1.0 : 0.0, 0}}, out[2];
  MPI_Allreduce(in, out, 2, MPI_DOUBLE_INT, MPI_MAXLOC, MPI_COMM_WORLD);
  if (out[1].value > 0.0) return choice_farthest{0.0, -2};
  if (out[0].index >= 0) fetch(j, out[0].index);
  return choice_farthest{out[0].value, out[0].index};
}

// The owner of a row tells its nearest distance to every process.
double share_near(void* ctx, int32_t row) {
  job* j = static_cast<job*>(ctx);
  const int from = owner(j, row);
  double d = from == j->rank ? order_team_near(j->team, row - j->starts[static_cast<size_t>(j->rank)]) : 0.0;
  MPI_Bcast(&d, 1, MPI_DOUBLE, from, MPI_COMM_WORLD);
  return d;
}

void share_drop(void* ctx, int32_t row) {
  job* j = static_cast<job*>(ctx);
  if (owner(j, row) == j->rank) order_team_drop(j->team, row - j->starts[static_cast<size_t>(j->rank)]);
}

void share_end(void* ctx) {
  job* j = static_cast<job*>(ctx);
  order_team_end(j->team);
  j->team = nullptr;
  work_free(j->centre);
  j->centre = nullptr;
}

bool emit_on_rank0(void* ctx, int64_t step, int32_t row, double dist_sq) {
  job* j = static_cast<job*>(ctx);
  // A failed write stops the order at the next fold, on every process at
  // once; the failure itself is reported when the output is closed.
  if (j->rank == 0 && !j->write_failed && !kcenter_sink_step(&j->sink, step, row, dist_sq)) j->write_failed = true;
  return true;
}

int run(job* j) {
  const kcenter_args* a = j->a;
  // Every process must stop where the others stop, and name the output
  // rank 0 writes: a process given another -o would see its file unwritten.
  uint64_t r = 0;
  std::memcpy(&r, &a->radius, sizeof r);
  std::vector<int64_t> given = {a->k, a->has_radius ? 1 : 0, static_cast<int64_t>(r >> 32),
                                static_cast<int64_t>(r & 0xffffffffu), static_cast<int64_t>(a->start.size())};
  // The lists' lengths must agree before their rows are compared.
  const bool agreed = same(given);
  if (agreed) given.insert(given.end(), a->start.begin(), a->start.end());
  if (!agree(j, agreed && same(given),
             "error : every process must be given the same -k, -r and -s"))
    return 1;
  const uint64_t out = a->output != nullptr ? hash_bytes(a->output, std::strlen(a->output)) : 0;
  if (!agree(j, same({a->output != nullptr ? 1 : 0, high(out), low(out)}), "error : every process must be given the same -o"))
    return 1;
  if (!agree(j, threads_can_start(a->threads),
             "error : the system cannot start " + std::to_string(a->threads) + " threads"))
    return 1;
  if (!load(j)) return 1;

  int32_t mine = j->share.rows;
  std::vector<int32_t> counts(static_cast<size_t>(j->size));
  MPI_Allgather(&mine, 1, MPI_INT, counts.data(), 1, MPI_INT, MPI_COMM_WORLD);
  j->starts.assign(1, 0);
  for (int32_t c : counts) j->starts.push_back(j->starts.back() + c);

  const int32_t beyond = kcenter_start_beyond(a->start, j->total_rows);
  if (beyond >= 0) {
    if (j->rank == 0)
      say(kcenter_error_line(error(kcenter_fault::start_beyond_rows, "", beyond, j->total_rows), j->program));
    return 1;
  }
  kcenter_error err{};
  if (!agree(j, j->rank != 0 || kcenter_sink_open(&j->sink, a, &err), err)) return 1;
  const order_folder f{j->total_rows, j->cols, j, share_start, share_fold, share_near, share_drop, share_end};
  const std::vector<int32_t> start = kcenter_start_rows(a, j->total_rows);
  const order_rules rules = kcenter_rules(a, start);
  if (order_run(&f, &rules, emit_on_rank0, j) == order_end::no_memory) {
    if (j->rank == 0) {
      kcenter_sink_abandon(&j->sink);
      say(kcenter_error_line(error(kcenter_fault::no_memory_search, "", j->total_rows, j->cols), j->program));
    }
    return 1;
  }
  const bool ok = j->rank != 0 || kcenter_sink_close(&j->sink, &err);
  if (!agree(j, ok, err)) return 1;
  int status = j->rank == 0 ? output_status() : 0;
  MPI_Bcast(&status, 1, MPI_INT, 0, MPI_COMM_WORLD);
  return status;
}

}  // namespace

int kcenter_on_processes(const kcenter_args* a, const kcenter_error* refused, const char* program,
                         int (*alone)(const kcenter_args*, const char*)) {
  int provided = 0;
  MPI_Init_thread(nullptr, nullptr, MPI_THREAD_FUNNELED, &provided);
  job j{};
  j.a = a;
  j.program = program;
  j.owned = mat{nullptr, 0, 0};
  MPI_Comm_rank(MPI_COMM_WORLD, &j.rank);
  MPI_Comm_size(MPI_COMM_WORLD, &j.size);
  int status = 1;
  const bool parsed = refused == nullptr;
  if (agree(&j, parsed, parsed ? std::string() : kcenter_error_line(*refused, program)) &&
      agree(&j, same({static_cast<int64_t>(a->command), a->help ? 1 : 0}),
            "error : every process must be given the same command")) {
    // --points is written from the whole matrix: rank 0's alone too.
    if (a->command == kcenter_command::order && !a->help && !a->points) {
      status = run(&j);
    } else {
      // Rank 0's alone; the others wait for it in MPI_Finalize.
      status = j.rank == 0 ? alone(a, program) : 0;
    }
  }
  kcenter_unload(&j.whole);
  npy_free(&j.npy);
  mat_free(&j.owned);
  MPI_Finalize();
  return status;
}
