// Every line kcenter prints on failure, in one table. In a line, {P} stands
// for the program as invoked, {N} for the name and {T} for the text of the
// error, {A} and {B} for its numbers.
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
    {kcenter_fault::npy_data_size, "error : {N} holds {A} bytes of data where its shape needs {B}"},
    {kcenter_fault::start_beyond_rows, "error : the start row {A} is not a row of a matrix of {B} rows"},
    {kcenter_fault::start_repeated, "error : the start row {A} is given twice"},
    {kcenter_fault::no_memory_search, "error : not enough memory to search a {A} x {B} matrix"},
    {kcenter_fault::cannot_create_output, "error : could not open file {N} for writing"},
    {kcenter_fault::cannot_write_output, "error : could not write {N}"},
};

}  // namespace

std::string kcenter_error_line(const kcenter_error& e, const char* program) {
  const char* line = "error";
  for (const error_line& l : lines)
    if (l.fault == e.fault) line = l.line;
  std::string out;
  for (const char* p = line; *p != '\0'; ++p) {
    if (p[0] == '{' && p[1] != '\0' && p[2] == '}') {
      switch (p[1]) {
        case 'P': out += program; break;
        case 'N': out += e.name; break;
        case 'T': out += e.text; break;
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
