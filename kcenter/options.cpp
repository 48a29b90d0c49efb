// kcenter's command line and help texts.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kcenter_io.hpp"

namespace {

// A whole number from lo to hi, digits only (no sign, no blanks, no text after).
bool whole(const char* s, int64_t lo, int64_t hi, int64_t* out) {
  if (*s == '\0') return false;
  int64_t v = 0;
  for (const char* p = s; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    v = v * 10 + (*p - '0');
    if (v > hi) return false;
  }
  if (v < lo) return false;
  *out = v;
  return true;
}

// A distance as strtod reads it, the whole text: 0 or more, or inf; never NaN.
bool distance(const char* s, double* out) {
  char* end = nullptr;
  const double v = std::strtod(s, &end);
  if (end == s || *end != '\0' || !(v >= 0.0)) return false;
  *out = v == 0.0 ? 0.0 : v;  // -0 is 0
  return true;
}

bool ends_with(const char* s, const char* tail) {
  const size_t n = std::strlen(s), t = std::strlen(tail);
  return n > t && std::strcmp(s + n - t, tail) == 0;
}

// --format's names, in kcenter_format's order from text on.
constexpr const char* format_names[] = {"text", "table", "csv", "tsv", "ply", "npy", "npz"};

bool format_named(const char* s, kcenter_format* f) {
  for (size_t k = 0; k < sizeof format_names / sizeof *format_names; ++k) {
    if (std::strcmp(s, format_names[k]) == 0) {
      *f = static_cast<kcenter_format>(k + 1);
      return true;
    }
  }
  return false;
}

bool fail(kcenter_error* err, kcenter_fault f, const char* name = "", const char* text = "", int64_t a = 0) {
  *err = kcenter_error{f, name, text, a, 0};
  return false;
}

// ROW or ROW,ROW,...: whole numbers from 0 to 2147483647, none twice.
bool start_rows(const char* s, std::vector<int32_t>* out, kcenter_error* err) {
  out->clear();
  std::string item;
  for (const char* p = s;; ++p) {
    if (*p != ',' && *p != '\0') {
      item += *p;
      continue;
    }
    int64_t v = 0;
    if (!whole(item.c_str(), 0, INT32_MAX, &v)) return fail(err, kcenter_fault::bad_start);
    out->push_back(static_cast<int32_t>(v));
    item.clear();
    if (*p == '\0') break;
  }
  std::vector<int32_t> sorted(*out);
  std::sort(sorted.begin(), sorted.end());
  const auto twice = std::adjacent_find(sorted.begin(), sorted.end());
  if (twice != sorted.end()) return fail(err, kcenter_fault::start_repeated, "", "", *twice);
  return true;
}

}  // namespace

bool kcenter_parse_args(int argc, char** argv, kcenter_args* a, kcenter_error* err) {
  *a = kcenter_args{};
  a->k = -1;
  a->threads = 1;
  if (argc < 2) return fail(err, kcenter_fault::usage);
  const char* cmd = argv[1];
  if (!std::strcmp(cmd, "-h") || !std::strcmp(cmd, "--help")) {
    a->help = true;
    return true;
  }
  if (!std::strcmp(cmd, "order")) a->command = kcenter_command::order;
  else if (!std::strcmp(cmd, "pair")) a->command = kcenter_command::pair;
  else if (!std::strcmp(cmd, "assign")) a->command = kcenter_command::assign;
  else return fail(err, kcenter_fault::unknown_command, cmd);

  // Help anywhere among the options wins over everything else on the line.
  for (int i = 2; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help")) {
      a->help = true;
      return true;
    }
  }

  // assign takes the options of the order whose steps are its centres.
  const bool order = a->command != kcenter_command::pair;
  bool options_end = false;
  for (int i = 2; i < argc; ++i) {
    const char* arg = argv[i];
    if (options_end || arg[0] != '-' || !std::strcmp(arg, "-")) {
      if (a->input != nullptr) return fail(err, kcenter_fault::two_inputs, arg);
      a->input = arg;
      continue;
    }
    if (!std::strcmp(arg, "--")) {
      options_end = true;
      continue;
    }
    if (arg[1] == '-') {
      // --header, --points; --format F or --format=F, --columns L or --columns=L.
      if (!std::strcmp(arg, "--header")) {
        a->header = true;
        continue;
      }
      if (!std::strcmp(arg, "--points")) {
        // assign writes every row already.
        if (a->command == kcenter_command::assign) return fail(err, kcenter_fault::unknown_option, arg, cmd);
        a->points = true;
        continue;
      }
      const char* eq = std::strchr(arg, '=');
      const std::string name = eq != nullptr ? std::string(arg, eq) : std::string(arg);
      const bool known = name == "--format" || name == "--columns" ||
                         (a->command == kcenter_command::order && name == "--lengths");
      if (!known) return fail(err, kcenter_fault::unknown_option, name.c_str(), cmd);
      const char* value = eq != nullptr ? eq + 1 : (i + 1 < argc ? argv[++i] : nullptr);
      if (value == nullptr) return fail(err, kcenter_fault::missing_value, name.c_str());
      if (name == "--columns") {
        a->columns = value;
        continue;
      }
      if (name == "--lengths") {
        a->lengths_file = value;
        continue;
      }
      if (!format_named(value, &a->format)) return fail(err, kcenter_fault::bad_format, value);
      continue;
    }
    // -k 5 or -k5.
    const char opt = arg[1];
    const bool known = opt == 't' || opt == 'o' || opt == 'c' || opt == 'a' ||
                       (order && (opt == 'k' || opt == 'r' || opt == 's' || opt == 'S'));
    if (!known) return fail(err, kcenter_fault::unknown_option, arg, cmd);
    const char name[3] = {'-', opt, '\0'};
    const char* value = arg[2] != '\0' ? arg + 2 : (i + 1 < argc ? argv[++i] : nullptr);
    if (value == nullptr) return fail(err, kcenter_fault::missing_value, name);
    int64_t v = 0;
    switch (opt) {
      case 'k':
        if (!whole(value, 1, INT32_MAX, &v)) return fail(err, kcenter_fault::bad_k);
        a->k = v;
        break;
      case 'r':
        if (!distance(value, &a->radius)) return fail(err, kcenter_fault::bad_radius);
        a->has_radius = true;
        break;
      case 's':
        if (!start_rows(value, &a->start, err)) return false;
        break;
      case 'S':
        a->start_file = value;
        break;
      case 't':
        if (!whole(value, 1, kcenter_max_threads, &v)) return fail(err, kcenter_fault::bad_threads);
        a->threads = static_cast<int32_t>(v);
        break;
      case 'c':
        a->columns = value;
        break;
      case 'a':
        a->array = value;
        break;
      default:  // 'o'
        a->output = value;
    }
  }
  if (a->columns != nullptr) {
    std::vector<std::string> picks;
    if (!fmt_pick_parse(a->columns, &picks)) return fail(err, kcenter_fault::bad_columns, a->columns);
  }
  // --points may write a PLY file too; the name is judged once every option is in.
  const char* out = a->output;
  if (out != nullptr && !ends_with(out, ".csv") && !ends_with(out, ".npy") && !(a->points && ends_with(out, ".ply")))
    return fail(err, a->points ? kcenter_fault::bad_points_output_name : kcenter_fault::bad_output_name, out);
  if (a->input != nullptr && !std::strcmp(a->input, "-")) a->input = nullptr;
  return true;
}

static const char overview_help[] =
    "usage : kcenter order [-k K] [-r R] [-s ROWS] [-t T] [-o OUT] [INPUT]\n"
    "        kcenter pair [-t T] [-o OUT] [INPUT]\n"
    "        kcenter assign [-k K] [-r R] [-s ROWS] [-t T] [-o OUT] [INPUT]\n"
    "        kcenter [order|pair|assign] --help\n"
    "\n"
    "order: the farthest-first order of the rows of a matrix, one line\n"
    "step,row,dist_sq per step. pair: the two rows farthest apart, i,j,dist_sq.\n"
    "assign: each row's nearest step of that order, row,centre,dist_sq.\n"
    "\n"
    "INPUT is a NumPy .npy file (2-D, little-endian float64 or float32, C or\n"
    "Fortran order, recognised by its first bytes) or a matrix in text: two\n"
    "integers, rows and columns, then the elements row after row. Also read:\n"
    "CSV and TSV (.csv, .tsv), PLY (vertices' x y z), .npz archives, and plain\n"
    "tables without a shape line (--format table); see --format below. Without\n"
    "INPUT, or with -, standard input is read. Output is CSV on standard\n"
    "output; -o OUT.csv writes it to a file, -o OUT.npy a structured NumPy\n"
    "array. -t T runs T threads (1 to 4096); the answer does not depend on T.\n"
    "\n"
    "  --format F   read INPUT as F: text, table, csv, tsv, ply, npy or npz\n"
    "               (default: by its first bytes, then its name's ending)\n"
    "  --header     the first row of a CSV or table names the columns\n"
    "               (default: when none of its fields is a number)\n"
    "  -c LIST      the columns (CSV, table) or vertex properties (PLY) to read:\n"
    "               names or indices from 0, separated by commas\n"
    "  -a NAME      the array of a .npz archive that holds several\n"
    "  --points     write the chosen rows themselves, not their indices: CSV,\n"
    "               -o OUT.npy (2-D), or -o OUT.ply from a PLY input (every\n"
    "               property of those vertices)\n"
    "\n"
    "Exits with 0 after the answer; bad input prints one line and exits with 1.\n";

static const char order_help[] =
    "usage : kcenter order [-k K] [-r R] [-s ROWS] [-t T] [-o OUT] [INPUT]\n"
    "\n"
    "Orders the rows of a matrix farthest first: the start rows first (default\n"
    "row 0), then each time the row whose squared distance to its nearest\n"
    "earlier row is largest (the lowest row index among equals). Prints the header\n"
    "step,row,dist_sq and one line per step: the step from 0, the 0-based row,\n"
    "and its squared distance to the nearest earlier row, as %.17g (inf for\n"
    "step 0). The order ends as soon as every row lies on a chosen row.\n"
    "\n"
    "  -k K    at most K steps (1 to 2147483647; default: no limit)\n"
    "  -r R    stop once every row lies within distance R of a chosen row\n"
    "          (R itself, not squared; 0 or more): the shortest such prefix\n"
    "  -s ROWS start with these rows, in order: ROW or ROW,ROW,... (from 0; none\n"
    "          twice); K counts them, and each gets its squared distance to the\n"
    "          nearest start row before it\n"
    "  -S FILE the start rows from a file: whole numbers one a line, or a 1-D\n"
    "          integer .npy\n"
    "  --lengths FILE  for a batch (a 3-D .npy (B, N, D)): the rows of each item\n"

    "  -t T    threads (1 to 4096)\n"
    "  -o OUT  write OUT.csv, or OUT.npy with fields row (int64), dist_sq (float64)\n"
    "  --points, --format, --header, -c, -a: see kcenter --help\n"
    "\n"
    "A 3-D .npy file is a batch: each item is ordered as if alone, and the CSV\n"
    "reads item,step,row,dist_sq (-o OUT.npy: a (B, K) array of row, dist_sq,\n"
    "padded with -1 and nan).\n"
    "\n"
    "A row is given at most once. A row holding NaN or an infinity lies at\n"
    "distance NaN from every row, itself included, so no chosen row ever comes\n"
    "nearer to it: it is chosen once, at its turn, with dist_sq\n"
    "1.7976931348623157e+308, and the order goes on over the other rows. Such a\n"
    "row is never within R.\n";

static const char pair_help[] =
    "usage : kcenter pair [-t T] [-o OUT] [INPUT]\n"
    "\n"
    "Finds the two rows of a matrix farthest apart: the largest squared\n"
    "distance, the lowest (i, j) among equals; a NaN distance never counts.\n"
    "Prints the header i,j,dist_sq and one line i,j,dist_sq (0-based rows,\n"
    "i < j, dist_sq as %.17g). When no two rows lie a positive distance apart,\n"
    "the pair is the first two rows at distance 0. With fewer than two rows, or\n"
    "when every distance is NaN, prints a line saying there is no pair instead\n"
    "(status 0; -o then writes an empty table).\n"
    "\n"
    "  -t T    threads (1 to 4096)\n"
    "  -o OUT  write OUT.csv, or OUT.npy with fields i, j (int64), dist_sq (float64)\n"
    "  --points, --format, --header, -c, -a: see kcenter --help\n";

static const char assign_help[] =
    "usage : kcenter assign [-k K] [-r R] [-s ROWS] [-t T] [-o OUT] [INPUT]\n"
    "\n"
    "The clusters of a k-center answer: orders the rows as kcenter order does\n"
    "with the same options, then gives each row its nearest step of that order.\n"
    "Prints the header row,centre,dist_sq and one line per row, in row order: the\n"
    "row, the row of its nearest step (the earliest step among equal distances;\n"
    "-1 for a row whose distance to every step is NaN: a row holding NaN), and\n"
    "its squared distance to it, as %.17g (nan for -1). -s ROWS -k N with N\n"
    "rows listed assigns to exactly those rows.\n"
    "\n"
    "  -k K, -r R, -s ROWS, -t T   as for kcenter order\n"
    "  -o OUT  write OUT.csv, or OUT.npy with fields row, centre (int64), dist_sq (float64)\n"
    "  --format, --header, -c, -a: see kcenter --help\n";

const char* kcenter_help(kcenter_command c) {
  switch (c) {
    case kcenter_command::assign: return assign_help;
    case kcenter_command::order: return order_help;
    case kcenter_command::pair: return pair_help;
    default: return overview_help;
  }
}
