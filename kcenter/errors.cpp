// Every line kcenter prints on failure, in one table. In a line, {P} stands
// for the program as invoked, {N} for the name and {T} for the text of the
// error, {A} and {B} for its numbers. What comes from outside ({P}, {N},
// {T}) is printed so that the line stays one printable line.
#include <cstring>
#include <string>

#include "kcenter_io.hpp"

namespace {

struct error_line {
  kcenter_fault fault;
  const char* line;
};

constexpr error_line lines[] = {
    {kcenter_fault::usage, "Command usage : {P} order|pair|assign [options] [INPUT]"},
    {kcenter_fault::unknown_command, "error : unknown command {N} (the commands are order, pair and assign)"},
    {kcenter_fault::unknown_option, "error : unknown option {N} for kcenter {T}"},
    {kcenter_fault::missing_value, "error : option {N} needs a value"},
    {kcenter_fault::bad_k, "error : k must be a whole number from 1 to 2147483647"},
    {kcenter_fault::bad_radius, "error : the radius must be a number from 0 up (inf allowed)"},
    {kcenter_fault::bad_start, "error : the start row must be a whole number from 0 to 2147483647"},
    {kcenter_fault::bad_threads, "error : the thread count must be a whole number from 1 to 4096"},
    {kcenter_fault::bad_output_name, "error : the output file must end in .csv or .npy, not {N}"},
    {kcenter_fault::two_inputs, "error : one input at most, not also {N}"},
    {kcenter_fault::cannot_open, "error : could not open file {N} for reading"},
    {kcenter_fault::cannot_read, "error : could not read {N}"},
    {kcenter_fault::text_shape, "error reading the shape of the matrix"},
    {kcenter_fault::text_negative_shape, "error : a matrix needs no negative row or column count, not {A} x {B}"},
    {kcenter_fault::text_body, "error reading the elements of the matrix"},
    {kcenter_fault::no_memory_input, "error : not enough memory to read the input"},
    {kcenter_fault::no_memory_matrix, "error : not enough memory for a {A} x {B} matrix"},
    {kcenter_fault::npy_version, "error : {N} is a NumPy file of format version {A}.{B}, not 1.0, 2.0 or 3.0"},
    {kcenter_fault::npy_header_cut, "error : {N} ends inside its NumPy header"},
    {kcenter_fault::npy_header_too_long, "error : {N} has a NumPy header of {A} bytes, more than 1048576"},
    {kcenter_fault::npy_header, "error : the NumPy header of {N} is not a valid dict literal"},
    {kcenter_fault::npy_keys, "error : the NumPy header of {N} must have exactly the keys 'descr', 'fortran_order' and 'shape'"},
    {kcenter_fault::npy_order, "error : the NumPy header of {N} has a fortran_order other than True or False"},
    {kcenter_fault::npy_dtype, "error : {N} holds dtype {T}, not little-endian float64 ('<f8') or float32 ('<f4')"},
    {kcenter_fault::npy_shape, "error : the NumPy header of {N} has a shape that is not a tuple of whole numbers"},
    {kcenter_fault::npy_not_2d, "error : {N} holds a {A}-dimensional array, not a matrix (2-dimensional)"},
    {kcenter_fault::npy_too_large, "error : {N} holds more than 2147483647 rows or columns"},
    {kcenter_fault::npy_too_many_bytes, "error : {N} has shape {A} x {B}, whose data would take {T} bytes, more than a file can hold"},
    {kcenter_fault::npy_data_size, "error : {N} holds {A} bytes of data where its shape needs {B}"},
    {kcenter_fault::input_changed, "error : {N} changed while it was read"},
    {kcenter_fault::start_beyond_rows, "error : the start row {A} is not a row of a matrix of {B} rows"},
    {kcenter_fault::start_repeated, "error : the start row {A} is given twice"},
    {kcenter_fault::batch_pipe, "error : {N} holds a batch (a 3-dimensional array): batches are read from files, not pipes"},
    {kcenter_fault::batch_lengths_count, "error : --lengths gives {A} lengths for a batch of {B} items"},
    {kcenter_fault::batch_length, "error : --lengths gives item {A} {T} rows, more than the {B} each item holds"},
    {kcenter_fault::lengths_without_batch, "error : --lengths applies to a batch (a 3-dimensional .npy file) only"},
    {kcenter_fault::batch_points, "error : --points writes the rows of one matrix, not of a batch"},
    {kcenter_fault::start_both, "error : the start rows come from -s or -S, not both"},
    {kcenter_fault::list_dtype, "error : {N} holds dtype {T}, not little-endian integers"},
    {kcenter_fault::list_dims, "error : {N} holds a {A}-dimensional array, not a list (1-dimensional)"},
    {kcenter_fault::list_value, "error : {N} holds {T} at index {A}, not a whole number from 0 to 2147483647"},
    {kcenter_fault::list_not_number, "error : {N} line {A}: '{T}' is not a whole number from 0 to 2147483647"},
    {kcenter_fault::no_memory_search, "error : not enough memory to search a {A} x {B} matrix"},
    {kcenter_fault::cannot_create_output, "error : could not open file {N} for writing"},
    {kcenter_fault::output_not_regular, "error : the output {N} exists and is not a regular file"},
    {kcenter_fault::output_read_only, "error : the output {N} exists and is not writable"},
    {kcenter_fault::cannot_write_output, "error : could not write {N}"},
    {kcenter_fault::bad_format, "error : the format must be text, table, csv, tsv, ply, npy or npz, not {N}"},
    {kcenter_fault::bad_columns, "error : -c takes column names or indices (from 0) separated by commas, not {N}"},
    {kcenter_fault::option_not_for_format, "error : option {N} does not apply to {T} input"},
    {kcenter_fault::bad_points_output_name, "error : the output file of --points must end in .csv, .npy or .ply, not {N}"},
    {kcenter_fault::points_ply_output, "error : --points writes a PLY file from a PLY input only, not to {N}"},
    {kcenter_fault::text_trailing, "error : numbers go on after the {A} x {B} matrix its shape line announces (no shape line? --format table reads a plain table)"},
    {kcenter_fault::unnamed_column, "error : {N} line {A}, column {B} has no name (an index? -c picks the columns to read)"},
    {kcenter_fault::no_column_named, "error : {N} has no column named {T}"},
    {kcenter_fault::no_column_index, "error : {N} has no column {T} (it has {A}, counted from 0)"},
    {kcenter_fault::column_twice, "error : column {T} is picked twice"},
    {kcenter_fault::name_twice, "error : {N} has more than one column named {T}"},
    {kcenter_fault::csv_ragged, "error : {N} line {A} has {B} fields where the first row has {T}"},
    {kcenter_fault::csv_empty, "error : {N} line {A}, column {B} is empty"},
    {kcenter_fault::csv_quoted, "error : {N} line {A}, column {B} is quoted (quoted fields are not read)"},
    {kcenter_fault::csv_not_number, "error : {N} line {A}, column {B}: {T} is not a number"},
    {kcenter_fault::ply_not_ply, "error : {N} is not a PLY file: its first line is not 'ply'"},
    {kcenter_fault::ply_header, "error : {N} line {A}: not a PLY header: {T}"},
    {kcenter_fault::ply_no_vertex, "error : {N} has no vertex element"},
    {kcenter_fault::ply_list_column, "error : the vertex property {T} of {N} is a list, not a number"},
    {kcenter_fault::ply_cut, "error : {N} ends inside its {T} element"},
    {kcenter_fault::ply_after_bytes, "error : {N} holds {A} bytes after its last element"},
    {kcenter_fault::ply_after_text, "error : {N} line {A}: text after the last element"},
    {kcenter_fault::ply_value, "error : {N} line {A}: {T}"},
    {kcenter_fault::ply_list_count, "error : {N} has a list of a negative count in its {T} element"},
    {kcenter_fault::npz_archive, "error : {N} is not a .npz archive that can be read: {T}"},
    {kcenter_fault::npz_no_array, "error : {N} holds no array"},
    {kcenter_fault::npz_many, "error : {N} holds {A} arrays ({T}): pick one with -a NAME"},
    {kcenter_fault::npz_no_such_array, "error : {N} holds no array named {T}"},
    {kcenter_fault::not_npy, "error : {N} is not a NumPy array"},
};

// The length of the UTF-8 sequence at s[i], or 0 when it is not valid UTF-8
// or encodes a C1 control (U+0080 to U+009F), which some terminals obey.
size_t utf8_printable(const std::string& s, size_t i) {
  auto byte = [&](size_t k) { return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0u; };
  auto tail = [&](size_t k, unsigned lo = 0x80, unsigned hi = 0xbf) { return byte(k) >= lo && byte(k) <= hi; };
  const unsigned c = byte(0);
  if (c >= 0xc2 && c <= 0xdf) return c == 0xc2 ? (tail(1, 0xa0) ? 2 : 0) : (tail(1) ? 2 : 0);
  if (c >= 0xe0 && c <= 0xef) {
    const bool second = c == 0xe0 ? tail(1, 0xa0) : c == 0xed ? tail(1, 0x80, 0x9f) : tail(1);
    return second && tail(2) ? 3 : 0;
  }
  if (c >= 0xf0 && c <= 0xf4) {
    const bool second = c == 0xf0 ? tail(1, 0x90) : c == 0xf4 ? tail(1, 0x80, 0x8f) : tail(1);
    return second && tail(2) && tail(3) ? 4 : 0;
  }
  return 0;
}

// Text from outside (a file name, a header's descr, the program's name) as
// part of one printable line: control bytes as \n, \r, \t or \xNN, and so
// every byte that is not part of printable UTF-8.
void append_printable(std::string* out, const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c < 0x7f) {
      *out += s[i++];
      continue;
    }
    if (const size_t n = c >= 0x80 ? utf8_printable(s, i) : 0; n > 0) {
      out->append(s, i, n);
      i += n;
      continue;
    }
    if (c == '\n') *out += "\\n";
    else if (c == '\r') *out += "\\r";
    else if (c == '\t') *out += "\\t";
    else {
      const char hex[] = "0123456789abcdef";
      *out += "\\x";
      *out += hex[c >> 4];
      *out += hex[c & 15];
    }
    ++i;
  }
}

}  // namespace

std::string kcenter_error_line(const kcenter_error& e, const char* program) {
  const char* line = "error";
  for (const error_line& l : lines)
    if (l.fault == e.fault) line = l.line;
  std::string out;
  for (const char* p = line; *p != '\0'; ++p) {
    if (p[0] == '{' && p[1] != '\0' && p[2] == '}') {
      switch (p[1]) {
        case 'P': append_printable(&out, program); break;
        case 'N': append_printable(&out, e.name); break;
        case 'T': append_printable(&out, e.text); break;
        case 'A': out += std::to_string(e.a); break;
        case 'B': out += std::to_string(e.b); break;
        default: out.append(p, 3);
      }
      p += 2;
    } else {
      out += *p;
    }
  }
  return out;
}
