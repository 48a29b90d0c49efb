// Readers of the files points come in besides the matrix text and single
// .npy files: CSV and plain tables, PLY, .npz archives; 3-D .npy batches; and
// the small files of whole numbers (rows of a start set, lengths of batch
// items). PLY vertices are also written back, every property kept.
//
// Every reader works on the whole input held in memory (fmt_bytes) and never
// asks for storage that the input's size cannot back: each value it stores
// takes at least one byte of input. Nothing here prints; a failure comes back
// as a fmt_error for the program to word.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "npy.hpp"
#include "rows.hpp"

// ---- the input's bytes ------------------------------------------------------

struct fmt_bytes {
  char* data;   // work_alloc storage (null when nothing was read)
  int64_t len;
};

enum class fmt_read { ok, failed, no_memory };

// Everything from fd, where it stands, after the head_len bytes of `head`
// already taken from it. A regular file is read up to the size it has now,
// into storage of that size; a stream into storage that grows with what
// arrives. The descriptor stays the caller's.
fmt_read fmt_bytes_read(fmt_bytes* b, int fd, const char* head, int64_t head_len);
// The same for a file named by its path (failed when it cannot be opened).
fmt_read fmt_bytes_read_path(fmt_bytes* b, const char* path);
void fmt_bytes_free(fmt_bytes* b);

// ---- failures ----------------------------------------------------------------

enum class fmt_status {
  ok,
  no_memory,
  read_failed,
  too_large,          // more than 2147483647 rows or columns
  // picking columns (-c)
  no_column_named,    // text: the name
  no_column_index,    // text: the index asked for; count: how many columns there are
  column_twice,       // text: the column, picked twice
  name_twice,         // text: a name two columns share, picked by it
  unnamed_column,     // column: a header field with no name (an index column), nothing picked
  // CSV and tables; line from 1, column from 0
  csv_ragged,         // line; column: its fields; count: the fields of the first row
  csv_empty,          // line, column
  csv_quoted,         // line, column
  csv_not_number,     // line, column, text: the field (cut short)
  // PLY
  ply_not_ply,        // no "ply" line first
  ply_header,         // line; text: what is wrong
  ply_no_vertex,      // no element named vertex
  ply_list_column,    // text: a picked property that is a list
  ply_cut,            // text: the element the data ends in
  ply_after,          // column: bytes (binary) after the last element, or line (ascii) of text after it
  ply_value,          // line; text: the value; name: the type
  ply_list_count,     // line (ascii) or 0; text: the element, whose list count is negative
  // .npz archives
  npz_archive,        // text: what is wrong with the archive
  npz_no_array,       // the archive holds no array
  npz_many,           // line: how many; text: their names, comma separated (cut short)
  npz_no_such_array,  // text: the name asked for
  npz_member,         // text: the member; npy, npy_h, npy_found: as for a .npy file
  // .npy files of other shapes and the files of whole numbers
  npy,                // npy, npy_h, npy_found: the fault of the header or the size
  npy_dtype,          // text: the dtype as written; name: what was wanted
  npy_dims,           // line: the number of dimensions found; column: the number wanted
  npy_value,          // line: the index (from 0) of a value out of range; text: the value
  whole_not_number,   // line; text: the line's text (cut short): not a whole number from 0 to 2147483647
};

struct fmt_error {
  fmt_status status;
  int64_t line;
  int64_t column;
  int64_t count;
  std::string text;
  std::string name;
  npy_status npy;
  npy_header npy_h;    // what the member's header said (version, descr, shape)
  int64_t npy_found;   // data bytes found
};

// ---- matrices read -------------------------------------------------------------

// The rows a reader found, in the type they were stored in: float64, or
// float32 for PLY float properties and '<f4' arrays (never widened here).
// Row-major, or column-major (row_stride 1) for a Fortran-order array.
struct fmt_matrix {
  row_source rows;
  void* storage;                    // work_alloc storage behind rows
  std::vector<std::string> names;   // one per column when the file names them
};

void fmt_matrix_free(fmt_matrix* m);
// The rows as row-major doubles into out (rows * cols of them): widened
// exactly, transposed from column-major a block of rows at a time.
void fmt_matrix_widen(const row_source* X, double* out);

// -c's list: names or 0-based indices (a field of digits only), separated by
// commas. False for an empty list or an empty item.
bool fmt_pick_parse(const char* text, std::vector<std::string>* picks);

// The columns `picks` name, among `count` columns called `names` (empty when
// the file names none): each pick an index below count or a name that one
// column has; no column picked twice.
bool fmt_pick_resolve(const std::vector<std::string>& picks, const std::vector<std::string>& names, int64_t count,
                      std::vector<int32_t>* columns, fmt_error* err);

// ---- CSV and plain tables -------------------------------------------------------

enum class csv_delimiter { detect, comma, semicolon, tab, blanks };

struct csv_options {
  csv_delimiter delimiter;  // detect: a tab, else a comma, else a semicolon in the first row, else blanks
  bool header;              // the first row names the columns (else: when none of its fields is a number)
  const std::vector<std::string>* picks;  // columns to read; null for all
};

// Rows of numbers, one a line, fields split by the delimiter (blanks: runs of
// spaces and tabs). Blank lines and lines starting with '#' are skipped. Each
// picked field must be one number as scanf("%lf") reads it, blanks around it
// allowed; the other fields are not read. Every row has the first row's
// number of fields; a field that starts with a quote is refused.
bool csv_read(const char* text, int64_t len, const csv_options* o, fmt_matrix* out, fmt_error* err);
// The same from fd, where it stands, after the head_len bytes of `head`
// already taken from it, a piece at a time through one buffer.
bool csv_read_fd(int fd, const char* head, int64_t head_len, const csv_options* o, fmt_matrix* out,
                 fmt_error* err);

// ---- PLY -----------------------------------------------------------------------

enum class ply_format { ascii, binary_le, binary_be };
enum class ply_type : uint8_t { i8, u8, i16, u16, i32, u32, f32, f64 };

struct ply_property {
  std::string name;
  bool list;
  ply_type type;        // of the value, or of a list's items
  ply_type count_type;  // of a list's count
  int64_t line_at;      // the header line declaring it: offset and length
  int64_t line_len;
};

struct ply_element {
  std::string name;
  int64_t count;
  std::vector<ply_property> props;
  int64_t line_at;
  int64_t line_len;
};

struct ply_file {
  ply_format format;
  std::vector<ply_element> elements;
  std::vector<int64_t> kept_lines;  // offset, length of the format, comment and obj_info lines
  int64_t data_at;                  // the first byte after end_header
  int32_t vertex;                   // the vertex element
  int64_t record_size;              // bytes of a vertex record in binary without lists, else 0
  int64_t vertex_at;                // where the vertex records start
  std::vector<int64_t> spans;       // when asked: the start of each vertex record, then the end of the last
};

// The vertex element's properties x, y, z, or the `picks` (names or indices
// among its properties), as float32 when every one is a float, else float64.
// Every element is walked, lists and all, and the data must end with the
// last one (blanks after it allowed in ascii). With `spans`, f->spans is
// filled for ply_write_vertices.
bool ply_read(const char* bytes, int64_t len, const std::vector<std::string>* picks, bool spans, ply_file* f,
              fmt_matrix* out, fmt_error* err);

// A PLY file of the vertices rows[0 .. count - 1], in that order, each with
// every property as it lies in `bytes` (the file ply_read read with spans):
// its format, comments, the vertex element and no other. False when a write fails.
bool ply_write_vertices(FILE* out, const char* bytes, const ply_file* f, const int32_t* rows, int64_t count);

// ---- .npz archives -----------------------------------------------------------------

// The 2-D array of an archive (stored or deflated members, zip64 included):
// the only one, or the one called `name` (the member name without ".npy").
// Its header is read as npy_parse_header reads a .npy file's: '<f8' or
// '<f4', C or Fortran order. *member is set to the member's name.
bool npz_read(const char* bytes, int64_t len, const char* name, fmt_matrix* out, std::string* member,
              fmt_error* err);

// ---- .npy files of other shapes ----------------------------------------------

// The magic bytes, version and header length at the start of the n bytes at
// b: *pre is the preamble's length and *header_len the header's, and
// h->major, h->minor and h->data_offset are set. header_cut when n is too
// short to tell, not_npy without the magic bytes.
npy_status fmt_npy_preamble(const char* b, int64_t n, npy_header* h, int64_t* pre, int64_t* header_len);

// The preamble and header of the .npy file in [bytes, bytes + len): the dict,
// and where its data starts. npy status faults come back as fmt_status::npy.
bool fmt_npy_header(const char* bytes, int64_t len, npy_dict* d, int64_t* data_at, fmt_error* err);

// A batch of B items of N rows of D columns, item after item, each row-major,
// float64 or float32 as the file holds them.
struct fmt_batch {
  void* storage;      // work_alloc storage behind data
  const void* data;
  elem_type type;
  int64_t items;      // B
  int32_t per_item;   // N
  int32_t cols;       // D
};

// A 3-D .npy file (B, N, D) of '<f8' or '<f4', C or Fortran order (Fortran
// order is laid out again item after item). N and D at most 2147483647; the
// file holds exactly the bytes its shape needs. In C order the file's own
// bytes serve as the rows: b is then emptied, its storage taken over.
bool batch_read(fmt_bytes* b, fmt_batch* out, fmt_error* err);
// Item i's rows (i below x->items).
row_source batch_item(const fmt_batch* x, int64_t i);
void batch_free(fmt_batch* x);

// Whole numbers from 0 to 2147483647: a text of one a line (blank lines
// skipped; lines[i] is the line of value i, from 1), or a 1-D .npy file of
// integers (any little-endian integer dtype; lines[i] is then i).
bool whole_read(const char* bytes, int64_t len, std::vector<int32_t>* values, std::vector<int64_t>* lines,
                fmt_error* err);
