// cover_radius [--matrix|--points] points-file centres-file [plot-dir]
//
// The covering radius of a k-center answer for planar points: the largest,
// over all points, of the distance to the nearest centre. The centres come
// from the output of greedy_centers (its centre rows) or of sampled_centers
// (its "approx optimal centers :" line of point indices). Prints the radius,
// its square (the cost, computed the way both programs compute it) and the
// centres as point indices; with a plot directory, also writes the points and
// the centres there as "x y" lines for drawing.
//
// Both files are read once, front to back, so that a pipe reads as a file
// does; storage grows only with the text read.
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "cli.hpp"
#include "cover.hpp"
#include "scan.hpp"

namespace {

const char usage_tail[] = "[--matrix|--points] points-file centres-file [plot-dir]";

const char help_text[] =
    "Prints the covering radius of a k-center answer for planar points: the largest\n"
    "distance from a point to its nearest centre. points-file is a point file (\"x y\"\n"
    "pairs) or a matrix of 2 columns (shape line, then rows); which one is told from the\n"
    "text (a first line \"R 2\" of whole numbers followed by exactly R pairs is a matrix),\n"
    "or forced with --matrix or --points. centres-file (\"-\" for standard input) is what\n"
    "greedy_centers printed (one centre row per line, matched to the point it came from)\n"
    "or what sampled_centers printed (its line of centre indices). The cost, the squared\n"
    "radius, is computed as both programs do: dx*dx + dy*dy with each square rounded.\n"
    "With plot-dir, also writes plot-dir/points.dat and plot-dir/centres.dat (\"x y\" lines).\n";

// A centres line may hold this many characters before its end (the line of
// indices after "approx optimal centers :" excepted): a centre row of two
// columns prints in under 700.
constexpr size_t max_line = 4096;

bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Text of a file read front to back through a window, for the number
// scanners. Offsets count from the start of the file; the window keeps the
// text from the oldest offset still wanted (a pinned one, or the scan in
// progress) and grows only while one number is longer than it.
class text_source {
 public:
  explicit text_source(FILE* f) : f_(f), buf_(size_t{1} << 16) {}

  bool read_failed() const { return failed_; }
  // Text before `at` is no longer wanted unless pinned.
  void pin(size_t at) { pin_ = at; }
  void unpin() { pin_ = SIZE_MAX; }

  // One conversion by scan (scan_double or scan_int) from offset *at;
  // *at moves past what it consumed.
  template <class T>
  scan_status scan(size_t* at, scan_result (*fn)(const char*, const char*, bool, T*), T* value) {
    for (;;) {
      const char* first = buf_.data() + (*at - base_);
      const char* last = buf_.data() + len_;
      scan_result r = fn(first, last, at_end_, value);
      *at = base_ + static_cast<size_t>(r.next - buf_.data());
      if (r.status != scan_status::need_more) return r.status;
      fill(*at);
    }
  }

  // The character at offset at, or -1 past the end.
  int peek(size_t at) {
    while (at - base_ >= len_ && !at_end_) fill(at);
    return at - base_ < len_ ? static_cast<unsigned char>(buf_[at - base_]) : -1;
  }

 private:
  // Drops the text before keep (or the pin), then reads more; the window
  // doubles when the text kept fills it.
  void fill(size_t keep) {
    if (keep > pin_) keep = pin_;
    size_t drop = keep - base_;
    if (drop > 0) {
      std::memmove(buf_.data(), buf_.data() + drop, len_ - drop);
      len_ -= drop;
      base_ = keep;
    }
    if (len_ == buf_.size()) buf_.resize(buf_.size() * 2);
    size_t got = std::fread(buf_.data() + len_, 1, buf_.size() - len_, f_);
    len_ += got;
    if (got == 0) {
      at_end_ = true;
      failed_ = std::ferror(f_) != 0;
    }
  }

  FILE* f_;
  std::vector<char> buf_;
  size_t base_ = 0;  // file offset of buf_[0]
  size_t len_ = 0;   // characters held
  size_t pin_ = SIZE_MAX;
  bool at_end_ = false;
  bool failed_ = false;
};

// Pairs as "%lf %lf" reads them, from offset at up to the first pair that
// does not convert whole (sampled_centers reads its point file the same
// way), or until `limit` pairs are read.
void scan_pairs(text_source* src, size_t at, std::vector<vec2>* out, size_t limit = SIZE_MAX) {
  vec2 v;
  while (out->size() < limit && src->scan(&at, scan_double, &v.x) == scan_status::converted &&
         src->scan(&at, scan_double, &v.y) == scan_status::converted)
    out->push_back(v);
}

// One "%d" of the shape line from offset *at, as the suite's matrix reader
// takes it: false when nothing converts or the value needs more than 32
// bits. *whole tells whether the number was a whole token (white space or
// the end of the text after it).
bool scan_shape_int(text_source* src, size_t* at, int32_t* out, bool* whole) {
  int64_t v = 0;
  *whole = false;
  if (src->scan(at, scan_int, &v) != scan_status::converted) return false;
  int next = src->peek(*at);
  *whole = next == -1 || is_space(next);
  if (v < INT32_MIN || v > INT32_MAX) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

enum class layout { automatic, matrix, points };

// Reads the points in one pass; returns 0, or 1 after printing why not.
int read_points(FILE* f, const char* path, layout how, std::vector<vec2>* pts, bool* was_matrix) {
  text_source src(f);
  // The start of the text is read both ways: as the shape "%d %d" and as the
  // first pair "%lf %lf".
  src.pin(0);
  size_t shape_end = 0, pair_end = 0;
  int32_t rows = 0, cols = 0;
  bool whole_rows = false, whole_cols = false;
  bool shape = how != layout::points && scan_shape_int(&src, &shape_end, &rows, &whole_rows) &&
               scan_shape_int(&src, &shape_end, &cols, &whole_cols);
  vec2 first{};
  bool first_pair = how != layout::matrix &&
                    src.scan(&pair_end, scan_double, &first.x) == scan_status::converted &&
                    src.scan(&pair_end, scan_double, &first.y) == scan_status::converted;
  src.unpin();

  if (how == layout::automatic) {
    // "R 2" in whole numbers, then exactly R pairs: a matrix. Two whole
    // numbers are also the first pair of the point file, and what follows
    // them is the rest of its pairs.
    how = layout::points;
    if (shape && whole_rows && whole_cols && cols == 2 && rows >= 0) {
      scan_pairs(&src, shape_end, pts);
      if (pts->size() == static_cast<size_t>(rows)) {
        how = layout::matrix;
      } else {
        pts->insert(pts->begin(), first);
      }
    } else if (first_pair) {
      pts->push_back(first);
      scan_pairs(&src, pair_end, pts);
    }
  } else if (how == layout::points) {
    if (first_pair) {
      pts->push_back(first);
      scan_pairs(&src, pair_end, pts);
    }
  } else if (!shape) {
    if (src.read_failed()) return std::printf("error : could not read file %s\n", path), 1;
    std::printf("error reading the shape of the matrix in %s\n", path);
    return 1;
  } else if (rows < 0 || cols < 0) {
    std::printf("error : a matrix needs at least 1 row and no negative column count, not %d x %d in %s\n",
                rows, cols, path);
    return 1;
  } else if (cols != 2) {
    std::printf("error : %s holds a %d x %d matrix, not one of 2 columns\n", path, rows, cols);
    return 1;
  } else {
    scan_pairs(&src, shape_end, pts, static_cast<size_t>(rows));
    if (pts->size() < static_cast<size_t>(rows)) {
      if (src.read_failed()) return std::printf("error : could not read file %s\n", path), 1;
      std::printf("error reading the elements of the matrix in %s\n", path);
      return 1;
    }
  }
  *was_matrix = how == layout::matrix;
  if (src.read_failed()) {
    std::printf("error : could not read file %s\n", path);
    return 1;
  }
  if (pts->empty()) {
    std::printf("error : no points in %s\n", path);
    return 1;
  }
  return 0;
}

std::string trimmed(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

// How greedy_centers prints a row of two columns, without the trailing blank.
std::string row_text(vec2 v) {
  char buf[700];
  std::snprintf(buf, sizeof buf, "%.6f %.6f", v.x, v.y);
  return buf;
}

bool same_point(vec2 a, vec2 b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Reads up to max_line characters of the next line into *line (without its
// newline); *more tells whether the line goes on past them. False at the end
// of the file.
bool next_line(FILE* f, std::string* line, bool* more) {
  line->clear();
  *more = false;
  int c = std::getc(f);
  if (c == EOF) return false;
  for (; c != EOF && c != '\n'; c = std::getc(f)) {
    if (line->size() == max_line) {
      std::ungetc(c, f);
      *more = true;
      return true;
    }
    line->push_back(static_cast<char>(c));
  }
  return true;
}

// The indices after the marker: [text, end), then the rest of its line in
// f. Each index is read as strtoll reads it (white space, a sign, digits).
// Returns 0, or 1 after printing why not.
int read_indices(const char* text, const char* end, FILE* f, bool line_goes_on, const char* path, size_t n,
                 std::vector<int64_t>* centres) {
  auto next = [&]() -> int {
    if (text < end) return static_cast<unsigned char>(*text++);
    if (!line_goes_on) return EOF;
    int c = std::getc(f);
    return c == '\n' ? EOF : c;
  };
  int c = next();
  for (;;) {
    while (c != EOF && is_space(c)) c = next();
    if (c == EOF) return 0;
    bool negative = c == '-';
    if (c == '-' || c == '+') c = next();
    if (c < '0' || c > '9') {
      std::printf("error : the centre line of %s holds something that is no index\n", path);
      return 1;
    }
    // Saturates at the long long limits, as strtoll does.
    long long idx = 0;
    for (; c >= '0' && c <= '9'; c = next()) {
      int d = c - '0';
      if (negative) idx = idx < (LLONG_MIN + d) / 10 ? LLONG_MIN : idx * 10 - d;
      else idx = idx > (LLONG_MAX - d) / 10 ? LLONG_MAX : idx * 10 + d;
    }
    if (idx < 0 || static_cast<unsigned long long>(idx) >= n) {
      std::printf("error : centre index %lld is not a point of a set of %zu points\n", idx, n);
      return 1;
    }
    centres->push_back(idx);
  }
}

// Reads the centres as point indices; returns 0, or 1 after printing why not.
// Sets *ambiguous to the first centre row that more than one different point
// prints as (0 if none). A line holding the marker of sampled_centers' report
// names the centres by index, and then every other line is ignored;
// otherwise every non-empty line is a centre row.
int read_centres(FILE* f, const char* path, const std::vector<vec2>& pts, std::vector<int64_t>* centres,
                 int* ambiguous) {
  static const char marker[] = "approx optimal centers :";
  *ambiguous = 0;
  // Each printed form names the first point printed that way; a form that
  // two different points share is marked, since the row cannot tell them apart.
  struct match {
    int64_t index;
    bool shared;
  };
  std::unordered_map<std::string, match> by_text;
  std::vector<int64_t> rows;
  int row = 0, unknown_row = 0, line_no = 0;
  std::string line;
  bool more = false;
  while (next_line(f, &line, &more)) {
    ++line_no;
    size_t at = line.find(marker);
    if (at != std::string::npos) {
      const char* text = line.data() + at + sizeof marker - 1;
      int rc = read_indices(text, line.data() + line.size(), f, more, path, pts.size(), centres);
      if (rc != 0) return rc;
      if (std::ferror(f)) break;
      if (centres->empty()) return std::printf("error : no centres in %s\n", path), 1;
      return 0;
    }
    if (more) {
      // Too long for a centre row, and no report line: refused at once, so
      // that an endless line is never read to its end.
      std::printf("error : line %d of %s is longer than %zu characters\n", line_no, path, max_line);
      return 1;
    }
    std::string text = trimmed(line);
    if (text.empty()) continue;
    ++row;
    if (unknown_row != 0) continue;
    if (by_text.empty()) {
      for (size_t i = 0; i < pts.size(); ++i) {
        auto [it, fresh] = by_text.try_emplace(row_text(pts[i]), match{static_cast<int64_t>(i), false});
        if (!fresh && !same_point(pts[static_cast<size_t>(it->second.index)], pts[i])) it->second.shared = true;
      }
    }
    auto hit = by_text.find(text);
    if (hit == by_text.end()) {
      unknown_row = row;
      continue;
    }
    if (hit->second.shared && *ambiguous == 0) *ambiguous = row;
    rows.push_back(hit->second.index);
  }
  if (std::ferror(f)) {
    std::printf("error : could not read file %s\n", path);
    return 1;
  }
  if (unknown_row != 0) {
    std::printf("error : centre row %d of %s is not a point of the point set\n", unknown_row, path);
    return 1;
  }
  if (rows.empty()) {
    std::printf("error : no centres in %s\n", path);
    return 1;
  }
  *centres = std::move(rows);
  return 0;
}

bool write_xy(const std::string& path, const std::vector<vec2>& pts, const std::vector<int64_t>* pick) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  size_t count = pick ? pick->size() : pts.size();
  for (size_t i = 0; i < count && !std::ferror(f); ++i) {
    vec2 v = pick ? pts[static_cast<size_t>((*pick)[i])] : pts[i];
    std::fprintf(f, "%.17g %.17g\n", v.x, v.y);
  }
  bool ok = !std::ferror(f);
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  layout how = layout::automatic;
  const char* positional[3] = {nullptr, nullptr, nullptr};
  int npos = 0;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (!std::strcmp(a, "-h") || !std::strcmp(a, "--help")) {
      std::printf("usage : cover_radius %s\n\n%s", usage_tail, help_text);
      return output_status();
    }
    if (!std::strcmp(a, "--matrix")) how = layout::matrix;
    else if (!std::strcmp(a, "--points")) how = layout::points;
    else if (a[0] == '-' && a[1] != '\0') {
      std::printf("error : unknown option %s\n", a);
      return 1;
    } else if (npos == 3) {
      std::printf("error : unexpected argument %s\n", a);
      return 1;
    } else {
      positional[npos++] = a;
    }
  }
  if (npos < 2) {
    std::printf("Command usage : %s %s\n", argv[0], usage_tail);
    return 1;
  }
  if (!std::strcmp(positional[0], "-")) return fail("error : the points cannot come from standard input");

  std::vector<vec2> pts;
  bool was_matrix = false;
  FILE* pf = std::fopen(positional[0], "r");
  if (pf == nullptr) {
    std::printf("error : could not open file %s for reading\n", positional[0]);
    return 1;
  }
  int rc = 1;
  try {
    rc = read_points(pf, positional[0], how, &pts, &was_matrix);
  } catch (const std::bad_alloc&) {
    std::printf("error : not enough memory for the points of %s\n", positional[0]);
  }
  std::fclose(pf);
  if (rc != 0) return 1;

  std::vector<int64_t> centres;
  int ambiguous = 0;
  FILE* cf = std::strcmp(positional[1], "-") ? std::fopen(positional[1], "r") : stdin;
  if (cf == nullptr) {
    std::printf("error : could not open file %s for reading\n", positional[1]);
    return 1;
  }
  rc = 1;
  try {
    rc = read_centres(cf, positional[1], pts, &centres, &ambiguous);
  } catch (const std::bad_alloc&) {
    std::printf("error : not enough memory for the centres of %s\n", positional[1]);
  }
  if (cf != stdin) std::fclose(cf);
  if (rc != 0) return 1;

  if (positional[2] != nullptr) {
    std::string dir = positional[2];
    if (!write_xy(dir + "/points.dat", pts, nullptr) || !write_xy(dir + "/centres.dat", pts, &centres)) {
      std::printf("error : could not write the plot data to %s\n", positional[2]);
      return 1;
    }
  }

  // The cost as sampled_centers scores a tuple, by the same code.
  if (pts.size() > INT32_MAX || centres.size() > INT32_MAX)
    return failf("error : more than 2147483647 points or centres in %s", positional[0]);
  const std::vector<int32_t> tuple(centres.begin(), centres.end());
  vec2_cover cover;
  if (!vec2_cover_make(&cover, pts.data(), static_cast<int32_t>(pts.size())))
    return failf("error : not enough memory for the points of %s", positional[0]);
  const double cost = vec2_cover_cost(simd_best(), &cover, tuple.data(), static_cast<int32_t>(tuple.size()), INFINITY);
  vec2_cover_free(&cover);
  std::printf("points = %zu (%s), centres = %zu :", pts.size(), was_matrix ? "matrix" : "point file",
              centres.size());
  for (int64_t c : centres) std::printf(" %lld", static_cast<long long>(c));
  std::printf("\ncovering radius = %.17g\ncost = %.17g\n", std::sqrt(cost), cost);
  if (ambiguous)
    std::printf("note : centre row %d prints like several different points; the first of them is used\n",
                ambiguous);
  return output_status();
}
