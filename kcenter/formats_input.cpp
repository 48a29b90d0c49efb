// kcenter's input in the formats beside the matrix text and .npy: which
// format a file is, the readers called on its bytes, and their refusals
// worded as kcenter's lines.
#include <cstring>

#include "kcenter_io.hpp"

namespace {

bool fail(kcenter_error* err, kcenter_fault f, const std::string& name = "", int64_t a = 0, int64_t b = 0,
          const std::string& text = "") {
  *err = kcenter_error{f, name, text, a, b};
  return false;
}

bool starts(const char* head, int64_t n, const char* with, int64_t len) {
  return n >= len && std::memcmp(head, with, static_cast<size_t>(len)) == 0;
}

// Whether the name ends in `tail`, upper or lower case.
bool named(const char* path, const char* tail) {
  if (path == nullptr) return false;
  const size_t n = std::strlen(path), t = std::strlen(tail);
  if (n <= t) return false;
  for (size_t k = 0; k < t; ++k) {
    char c = path[n - t + k];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != tail[k]) return false;
  }
  return true;
}

const char* format_name(kcenter_format f) {
  switch (f) {
    case kcenter_format::table: return "table";
    case kcenter_format::csv: return "csv";
    case kcenter_format::tsv: return "tsv";
    case kcenter_format::ply: return "ply";
    case kcenter_format::npy: return "npy";
    case kcenter_format::npz: return "npz";
    default: return "text";
  }
}

// A reader's refusal as kcenter's line about the input `name`.
bool refused(const fmt_error& e, const std::string& name, kcenter_error* err) {
  switch (e.status) {
    case fmt_status::ok:
    case fmt_status::no_memory: return fail(err, kcenter_fault::no_memory_input);
    case fmt_status::too_large: return fail(err, kcenter_fault::npy_too_large, name);
    case fmt_status::no_column_named: return fail(err, kcenter_fault::no_column_named, name, 0, 0, e.text);
    case fmt_status::no_column_index: return fail(err, kcenter_fault::no_column_index, name, e.count, 0, e.text);
    case fmt_status::column_twice: return fail(err, kcenter_fault::column_twice, name, 0, 0, e.text);
    case fmt_status::name_twice: return fail(err, kcenter_fault::name_twice, name, 0, 0, e.text);
    case fmt_status::unnamed_column: return fail(err, kcenter_fault::unnamed_column, name, e.line, e.column);
    case fmt_status::csv_ragged:
      return fail(err, kcenter_fault::csv_ragged, name, e.line, e.column, std::to_string(e.count));
    case fmt_status::csv_empty: return fail(err, kcenter_fault::csv_empty, name, e.line, e.column);
    case fmt_status::csv_quoted: return fail(err, kcenter_fault::csv_quoted, name, e.line, e.column);
    case fmt_status::csv_not_number: return fail(err, kcenter_fault::csv_not_number, name, e.line, e.column, e.text);
    case fmt_status::ply_not_ply: return fail(err, kcenter_fault::ply_not_ply, name);
    case fmt_status::ply_header: return fail(err, kcenter_fault::ply_header, name, e.line, 0, e.text);
    case fmt_status::ply_no_vertex: return fail(err, kcenter_fault::ply_no_vertex, name);
    case fmt_status::ply_list_column: return fail(err, kcenter_fault::ply_list_column, name, 0, 0, e.text);
    case fmt_status::ply_cut: return fail(err, kcenter_fault::ply_cut, name, 0, 0, e.text);
    case fmt_status::ply_after:
      if (e.line > 0) return fail(err, kcenter_fault::ply_after_text, name, e.line);
      return fail(err, kcenter_fault::ply_after_bytes, name, e.column);
    case fmt_status::ply_value:
      return fail(err, kcenter_fault::ply_value, name, e.line, 0, e.text + " is not a value of type " + e.name);
    case fmt_status::ply_list_count: return fail(err, kcenter_fault::ply_list_count, name, 0, 0, e.text);
    case fmt_status::npz_archive: return fail(err, kcenter_fault::npz_archive, name, 0, 0, e.text);
    case fmt_status::npz_no_array: return fail(err, kcenter_fault::npz_no_array, name);
    case fmt_status::npz_many: return fail(err, kcenter_fault::npz_many, name, e.count, 0, e.text);
    case fmt_status::npz_no_such_array: return fail(err, kcenter_fault::npz_no_such_array, name, 0, 0, e.text);
    case fmt_status::npz_member: {
      // The member as a .npy file of its own, named within the archive.
      const size_t n = e.text.size();
      const std::string array = n > 4 && e.text.compare(n - 4, 4, ".npy") == 0 ? e.text.substr(0, n - 4) : e.text;
      const std::string member = name + " (array " + array + ")";
      if (e.npy == npy_status::not_npy) return fail(err, kcenter_fault::not_npy, member);
      npy_file f{};
      f.h = e.npy_h;
      f.data_found = e.npy_found;
      return kcenter_npy_refusal(e.npy, &f, member, "file " + name, err);
    }
    // The files of whole numbers (start rows, lengths) and batches.
    case fmt_status::npy: {
      npy_file f{};
      f.h = e.npy_h;
      f.data_found = e.npy_found;
      if (e.npy == npy_status::not_npy) return fail(err, kcenter_fault::not_npy, name);
      return kcenter_npy_refusal(e.npy, &f, name, "file " + name, err);
    }
    case fmt_status::npy_dtype: return fail(err, kcenter_fault::list_dtype, name, 0, 0, e.text);
    case fmt_status::npy_dims: return fail(err, kcenter_fault::list_dims, name, e.line, e.column);
    case fmt_status::npy_value: return fail(err, kcenter_fault::list_value, name, e.line, 0, e.text);
    case fmt_status::whole_not_number: return fail(err, kcenter_fault::list_not_number, name, e.line, 0, e.text);
    default: break;
  }
  return fail(err, kcenter_fault::cannot_read, name);
}

}  // namespace

kcenter_format kcenter_detect(const kcenter_args* a, const char* head, int64_t n) {
  if (a->format != kcenter_format::automatic) return a->format;
  if (starts(head, n, npy_magic, 6)) return kcenter_format::npy;
  if (starts(head, n, "PK\x03\x04", 4) || starts(head, n, "PK\x05\x06", 4)) return kcenter_format::npz;
  if (starts(head, n, "ply\n", 4) || starts(head, n, "ply\r\n", 5)) return kcenter_format::ply;
  // The matrix text stays the default for every other name (.txt and .dat
  // included): a table without a shape line needs --format table.
  if (named(a->input, ".csv")) return kcenter_format::csv;
  if (named(a->input, ".tsv") || named(a->input, ".tab")) return kcenter_format::tsv;
  if (named(a->input, ".ply")) return kcenter_format::ply;
  if (named(a->input, ".npz")) return kcenter_format::npz;
  return kcenter_format::text;
}

bool kcenter_format_refusal(const fmt_error& e, const std::string& name, kcenter_error* err) {
  return refused(e, name, err);
}

bool kcenter_check_options(const kcenter_args* a, kcenter_format f, kcenter_error* err) {
  const bool table = f == kcenter_format::csv || f == kcenter_format::tsv || f == kcenter_format::table;
  const char* option = nullptr;
  if (a->columns != nullptr && !table && f != kcenter_format::ply) option = "-c";
  else if (a->header && !table) option = "--header";
  else if (a->array != nullptr && f != kcenter_format::npz) option = "-a";
  if (option != nullptr) return fail(err, kcenter_fault::option_not_for_format, option, 0, 0, format_name(f));
  // A PLY file is written only of the vertices of one.
  if (a->points && a->output != nullptr && named(a->output, ".ply") && f != kcenter_format::ply)
    return fail(err, kcenter_fault::points_ply_output, a->output);
  return true;
}

bool kcenter_load_bytes(const kcenter_args* a, kcenter_format f, fmt_bytes* bytes, const std::string& name,
                        kcenter_input* in, kcenter_error* err) {
  in->format = f;
  std::vector<std::string> picks;
  const bool picked = a->columns != nullptr && fmt_pick_parse(a->columns, &picks);
  fmt_error e{};
  bool ok = false;
  switch (f) {
    case kcenter_format::ply: {
      // The vertices' bytes are kept when they are to be written again.
      const bool keep = a->points && a->output != nullptr && named(a->output, ".ply");
      ok = ply_read(bytes->data, bytes->len, picked ? &picks : nullptr, keep, &in->ply, &in->rows, &e);
      if (ok && keep) {
        in->bytes = *bytes;
        *bytes = fmt_bytes{nullptr, 0};
      }
      break;
    }
    case kcenter_format::npz: {
      std::string member;
      ok = npz_read(bytes->data, bytes->len, a->array, &in->rows, &member, &e);
      break;
    }
    default: {
      const csv_delimiter d = f == kcenter_format::table ? csv_delimiter::blanks
                              : f == kcenter_format::tsv ? csv_delimiter::tab
                                                         : csv_delimiter::detect;
      const csv_options o{d, a->header, picked ? &picks : nullptr};
      ok = csv_read(bytes->data, bytes->len, &o, &in->rows, &e);
    }
  }
  fmt_bytes_free(bytes);
  if (!ok) {
    fmt_matrix_free(&in->rows);
    fmt_bytes_free(&in->bytes);
    return refused(e, name, err);
  }
  // The drivers read the rows as they are, float32 kept.
  in->X = in->rows.rows;
  return true;
}

bool kcenter_load_csv(const kcenter_args* a, kcenter_format f, int fd, const char* head, int64_t n,
                      const std::string& name, kcenter_input* in, kcenter_error* err) {
  in->format = f;
  std::vector<std::string> picks;
  const bool picked = a->columns != nullptr && fmt_pick_parse(a->columns, &picks);
  const csv_delimiter d = f == kcenter_format::table ? csv_delimiter::blanks
                          : f == kcenter_format::tsv ? csv_delimiter::tab
                                                     : csv_delimiter::detect;
  const csv_options o{d, a->header, picked ? &picks : nullptr};
  fmt_error e{};
  if (!csv_read_fd(fd, head, n, &o, &in->rows, &e)) {
    fmt_matrix_free(&in->rows);
    if (e.status == fmt_status::read_failed) return fail(err, kcenter_fault::cannot_read, name == "standard input" ? name : "file " + name);
    return refused(e, name, err);
  }
  in->X = in->rows.rows;
  return true;
}
