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
#include "formats.hpp"
#include "order.hpp"
#include "pair_search.hpp"
#include "matvec.hpp"
#include "npy.hpp"

enum class kcenter_command { none, order, pair, assign };

// The input's format: automatic chooses by the first bytes (.npy, .npz, PLY),
// then by the name's ending (.csv, .tsv, .ply, .npz), else the matrix text.
enum class kcenter_format { automatic, text, table, csv, tsv, ply, npy, npz };

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
  kcenter_format format = kcenter_format::automatic;  // --format
  bool header = false;             // --header: a CSV's or table's first row names the columns
  const char* columns = nullptr;   // -c / --columns: the columns (CSV, table) or vertex properties (PLY) to read
  const char* array = nullptr;     // -a: the array of a .npz archive
  bool points = false;             // --points: write the chosen rows themselves
  const char* start_file = nullptr;    // -S: the start rows, from a file
  const char* lengths_file = nullptr;  // --lengths: the rows of each item of a batch, from a file
  std::vector<int64_t> lengths = {};   // ... as read
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
  npy_too_many_bytes,
  npy_data_size,
  input_changed,
  start_beyond_rows,
  start_repeated,
  start_both,
  list_dtype,
  list_dims,
  list_value,
  list_not_number,
  batch_pipe,
  batch_lengths_count,
  batch_length,
  lengths_without_batch,
  batch_points,
  no_memory_search,
  cannot_create_output,
  output_not_regular,
  output_read_only,
  cannot_write_output,
  // formats beside the matrix text and .npy
  bad_format,
  bad_columns,
  option_not_for_format,
  bad_points_output_name,
  points_ply_output,
  text_trailing,
  unnamed_column,
  no_column_named,
  no_column_index,
  column_twice,
  name_twice,
  csv_ragged,
  csv_empty,
  csv_quoted,
  csv_not_number,
  ply_not_ply,
  ply_header,
  ply_no_vertex,
  ply_list_column,
  ply_cut,
  ply_after_bytes,
  ply_after_text,
  ply_value,
  ply_list_count,
  npz_archive,
  npz_no_array,
  npz_many,
  npz_no_such_array,
  not_npy,
};

struct kcenter_error {
  kcenter_fault fault;
  std::string name;  // the file, option or command the line names
  std::string text;  // more text for the line (a dtype as written)
  int64_t a;         // numbers for the line
  int64_t b;
};

// The line printed for e (no newline); `program` is argv[0]. Names and texts
// from outside are escaped so that it is one printable line: bytes below
// 0x20, 0x7f and bytes that are not printable UTF-8 (C1 controls included)
// as \xNN (\n, \r, \t by name); valid UTF-8 and backslashes as they are.
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
  row_source X;    // the rows as read: of one of the holders below, float32 kept
  mat m;           // the matrix text's rows
  npy_file npy;
  bool from_npy;
  kcenter_format format;  // the format read
  // CSV, tables, PLY and .npz: the rows in the type the file stores them in.
  fmt_matrix rows;
  fmt_bytes bytes;  // a PLY file's bytes, kept for --points -o OUT.ply
  ply_file ply;
  fmt_batch batch;  // a 3-D .npy file: items of rows (kcenter order only)
  bool is_batch;
};

// Reads the matrix from the file a->input (null: standard input) in the
// format kcenter_detect chooses. False with *err set when it cannot;
// nothing is then held.
bool kcenter_load(const kcenter_args* a, kcenter_input* in, kcenter_error* err);
void kcenter_unload(kcenter_input* in);

// The format of the input a->input whose first n bytes are `head`.
kcenter_format kcenter_detect(const kcenter_args* a, const char* head, int64_t n);
// A reader's refusal as the line about the file `name`: always false.
bool kcenter_format_refusal(const fmt_error& e, const std::string& name, kcenter_error* err);
// Reads the files the command line names besides the input: the start rows
// of -S (into a->start) and the lengths of --lengths. False with *err set.
bool kcenter_read_lists(kcenter_args* a, kcenter_error* err);
// Refuses the options that do not apply to format f (-c, -a, --header).
bool kcenter_check_options(const kcenter_args* a, kcenter_format f, kcenter_error* err);
// Reads a format other than the matrix text and .npy from the whole input
// in *bytes (taken over: released, or kept in in->bytes).
bool kcenter_load_bytes(const kcenter_args* a, kcenter_format f, fmt_bytes* bytes, const std::string& name,
                        kcenter_input* in, kcenter_error* err);
// Reads CSV, TSV or a table (f) from fd, after the n bytes of `head` already
// taken from it, a piece at a time.
bool kcenter_load_csv(const kcenter_args* a, kcenter_format f, int fd, const char* head, int64_t n,
                      const std::string& name, kcenter_input* in, kcenter_error* err);

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
kcenter_end kcenter_order(const row_source* X, const kcenter_args* a, kcenter_emit emit, void* ctx);

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
bool kcenter_assign(const row_source* X, const kcenter_args* a, bool (*each)(void* ctx, int32_t row, int64_t centre,
                                                                      double dist_sq),
                    void* ctx, bool* wrote);

// The farthest pair, as the library finds it; i = j = -1 when there is none,
// i = -2 when the search's storage cannot be had.
farthest kcenter_pair(const row_source* X, int32_t threads);

// ---- the output -----------------------------------------------------------------

// Where records go: CSV on standard output or in OUT.csv, or a structured
// array in OUT.npy. A file is written beside its target (OUT, or the file a
// symbolic link OUT leads to) and renamed over it only once whole, so a
// failed run leaves no partial output. The file written has no name until
// then where the file system allows it (O_TMPFILE), else TARGET.XXXXXX.
struct kcenter_sink {
  FILE* f;
  const char* path;     // -o, or null for standard output
  std::string target;   // the file replaced: path with symbolic links followed
  std::string temp;     // the name of the file being written, once it has one
  bool unnamed;         // the file being written has no name yet
  bool npy;
  bool pair;            // fields i, j, dist_sq (assign: row, centre, dist_sq); else row, dist_sq
                        // (CSV: step, row, dist_sq)
  bool assign;
  bool header_done;     // the CSV header line is out
  int64_t count;        // records written
  size_t header_len;    // bytes of the .npy header
  bool raw;             // --points: the caller writes every byte, headers included
};

// Opens the output. An OUT that exists must be a regular file (or a link
// to one) that may be written, by its permission bits too, for root as for
// anyone; it keeps its permissions when replaced.
// raw: the caller writes every byte, headers included (as for --points).
bool kcenter_sink_open(kcenter_sink* s, const kcenter_args* a, kcenter_error* err, bool raw = false);
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
bool kcenter_run(const kcenter_args* a, const row_source* X, kcenter_error* err);
// kcenter order on a batch: each item's order as if alone, into CSV lines
// item,step,row,dist_sq or a (B, K) structured .npy array.
bool kcenter_run_batch(const kcenter_args* a, const fmt_batch* b, kcenter_error* err);

// ---- the chosen rows themselves (--points) ----------------------------------------

// The run of a command that writes the rows it chooses rather than their
// indices: CSV (a header of the column names, then each value as the
// shortest text that reads back as the same double), a 2-D .npy of the
// input's element type, or, from a PLY input, a PLY file of those vertices
// with every property. Prints the no-pair line itself.
bool kcenter_run_points(const kcenter_args* a, const kcenter_input* in, kcenter_error* err);
