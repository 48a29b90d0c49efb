// kcenter apart from its main: the command line, loading the input (a NumPy
// file or the matrix text format, from a file or standard input), the order
// and pair drivers over the shared engines, and the CSV / .npy writers.
// Nothing here prints except the writers; failures come back as a
// kcenter_error, which kcenter_error_line turns into the one line to print.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "choice.hpp"
#include "order.hpp"
#include "pair_search.hpp"
#include "matvec.hpp"
#include "npy.hpp"

enum class kcenter_command { none, order, pair, assign };

// The parsed command line.
struct kcenter_args {
  kcenter_command command;
  bool help;            // -h or --help: print the command's help and stop
  int64_t k;            // -k: at most k steps; -1 for no limit
  bool has_radius;      // -r given
  double radius;        // -r: a distance, 0 or more (inf allowed)
  std::vector<int32_t> start;  // -s: the first rows of the order, in order (none: row 0)
  int32_t threads;      // -t
  const char* output;   // -o, or null for CSV on standard output
  const char* input;    // the input file, or null for standard input ("-" too)
};

// Every failure, one per line of the error table (kcenter_error_line).
enum class kcenter_fault {
  usage,
  unknown_command,
  unknown_option,
  missing_value,
  bad_k,
  bad_radius,
  bad_start,
  bad_threads,
  bad_output_name,
  two_inputs,
  cannot_open,
  cannot_read,
  text_shape,
  text_negative_shape,
  text_body,
  no_memory_input,
  no_memory_matrix,
  npy_version,
  npy_header_cut,
  npy_header_too_long,
  npy_header,
  npy_keys,
  npy_order,
  npy_dtype,
  npy_shape,
  npy_not_2d,
  npy_too_large,
  npy_data_size,
  start_beyond_rows,
  start_repeated,
  no_memory_search,
  cannot_create_output,
  cannot_write_output,
};

struct kcenter_error {
  kcenter_fault fault;
  std::string name;  // the file, option or command the line names
  std::string text;  // more text for the line (a dtype as written)
  int64_t a;         // numbers for the line
  int64_t b;
};

// The line printed for e (no newline); `program` is argv[0].
std::string kcenter_error_line(const kcenter_error& e, const char* program);

// ---- the command line ---------------------------------------------------------

inline constexpr int32_t kcenter_max_threads = 4096;

// Parses argv; false with *err set when it cannot. Options and the input may
// come in any order after the command; "--" ends the options.
bool kcenter_parse_args(int argc, char** argv, kcenter_args* a, kcenter_error* err);
// The help text of a command (the overview for none).
const char* kcenter_help(kcenter_command c);

// ---- the input ------------------------------------------------------------------

struct kcenter_input {
  mat m;           // the matrix: owned text storage, or a view of npy
  npy_file npy;
  bool from_npy;
};

// Reads the matrix from the file `path` (null or "-": standard input): a
// NumPy file when it starts with the .npy magic bytes, else the matrix text
// format. False with *err set when it cannot; nothing is then held.
bool kcenter_load(const char* path, kcenter_input* in, kcenter_error* err);
void kcenter_unload(kcenter_input* in);

// The line for a NumPy file refused with status s (not ok): always false,
// with *err set. `name` is the file as given, `read_name` as the read
// failure names it ("file F", or "standard input").
bool kcenter_npy_refusal(npy_status s, const npy_file* f, const std::string& name,
                         const std::string& read_name, kcenter_error* err);

// ---- the drivers ---------------------------------------------------------------

// Receives the steps of an order in turn; false stops the order.
using kcenter_emit = bool (*)(void* ctx, int64_t step, int32_t row, double dist_sq);

enum class kcenter_end { done, no_memory, emit_failed };

// The farthest-first order of A by the rules of kcenter order (from row
// a->start, at most a->k steps, down to a->radius), through the library's
// order: every row given at most once.
kcenter_end kcenter_order(const mat* A, const kcenter_args* a, kcenter_emit emit, void* ctx);

// The start rows of an order of a matrix of `rows` rows: those given, or
// row 0 (none when there are no rows).
std::vector<int32_t> kcenter_start_rows(const kcenter_args* a, int32_t rows);
// The first start row that is no row of a matrix of `rows` rows, or -1.
int32_t kcenter_start_beyond(const std::vector<int32_t>& start, int32_t rows);
// The order's rules as the shared loop takes them; `start` must outlive them.
order_rules kcenter_rules(const kcenter_args* a, const std::vector<int32_t>& start);

// Each row's nearest step of the order by a's rules (the lowest step among
// equals), through `each(row, centre row or -1, dist_sq)`; false when the
// search's storage cannot be had, or `each` failed (*wrote false).
bool kcenter_assign(const mat* A, const kcenter_args* a, bool (*each)(void* ctx, int32_t row, int64_t centre,
                                                                      double dist_sq),
                    void* ctx, bool* wrote);

// The farthest pair, as the library finds it; i = j = -1 when there is none,
// i = -2 when the search's storage cannot be had.
farthest kcenter_pair(const mat* A, int32_t threads);

// ---- the output -----------------------------------------------------------------

// Where records go: CSV on standard output or in OUT.csv, or a structured
// array in OUT.npy. A file is written under a temporary name beside it and
// renamed only once whole, so a failed run leaves no partial output.
struct kcenter_sink {
  FILE* f;
  const char* path;     // -o, or null for standard output
  std::string temp;     // the file being written
  bool npy;
  bool pair;            // fields i, j, dist_sq (assign: row, centre, dist_sq); else row, dist_sq
                        // (CSV: step, row, dist_sq)
  bool assign;
  bool header_done;     // the CSV header line is out
  int64_t count;        // records written
  size_t header_len;    // bytes of the .npy header
};

bool kcenter_sink_open(kcenter_sink* s, const kcenter_args* a, kcenter_error* err);
bool kcenter_sink_step(kcenter_sink* s, int64_t step, int32_t row, double dist_sq);
bool kcenter_sink_pair(kcenter_sink* s, int32_t i, int32_t j, double dist_sq);
// One row of an assignment: the row, its centre's row (-1 for none), the distance.
bool kcenter_sink_assign(kcenter_sink* s, int32_t row, int64_t centre, double dist_sq);
// Completes the output (the .npy header's count, the rename); false with
// *err set when anything failed to be written.
bool kcenter_sink_close(kcenter_sink* s, kcenter_error* err);
// Drops an unfinished output: the temporary file is removed.
void kcenter_sink_abandon(kcenter_sink* s);

// The whole run of a command on a loaded matrix: checks the start row, opens
// the output, runs the driver, writes. Prints the no-pair line itself.
bool kcenter_run(const kcenter_args* a, const mat* A, kcenter_error* err);
