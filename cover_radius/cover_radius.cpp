// cover_radius [--matrix|--points] points-file centres-file [plot-dir]
//
// The covering radius of a k-center answer for planar points: the largest,
// over all points, of the distance to the nearest centre. The centres come
// from the output of greedy_centers (its centre rows) or of sampled_centers
// (its "approx optimal centers :" line of point indices). Prints the radius,
// its square (the cost, computed the way both programs compute it) and the
// centres as point indices; with a plot directory, also writes the points and
// the centres there as "x y" lines for drawing.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

struct vec2 {
  double x;
  double y;
};

// The largest finite double: no centre seen yet.
constexpr double no_distance = 1.7976931348623157e308;

// Max over points of the min over centres of (dx*dx + dy*dy), each square
// rounded before the add. Strict comparisons: a NaN distance never becomes
// the nearest, and equal values change nothing. No centres gives no_distance
// (with at least one point), no points gives 0.
double cover_cost(const vec2* points, int64_t n, const int64_t* centres, int64_t k) {
  double cost = 0.0;
  for (int64_t i = 0; i < n; ++i) {
    double best = no_distance;
    for (int64_t j = 0; j < k; ++j) {
      vec2 q = points[centres[j]];
      double dx = points[i].x - q.x;
      double dy = points[i].y - q.y;
      double d = dx * dx + dy * dy;
      best = d < best ? d : best;
    }
    cost = best > cost ? best : cost;
  }
  return cost;
}

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

int fail(const char* line) {
  std::printf("%s\n", line);
  return 1;
}

bool read_text(const char* path, std::string* text) {
  FILE* f = std::strcmp(path, "-") ? std::fopen(path, "r") : stdin;
  if (f == nullptr) return false;
  char buf[65536];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) text->append(buf, got);
  bool ok = !std::ferror(f);
  if (f != stdin) std::fclose(f);
  return ok;
}

// Pairs read as "%lf %lf" reads them, up to the first pair that does not
// convert whole (sampled_centers reads its point file the same way).
std::vector<vec2> scan_pairs(FILE* f) {
  std::vector<vec2> out;
  vec2 v;
  while (std::fscanf(f, "%lf %lf", &v.x, &v.y) == 2) out.push_back(v);
  return out;
}

// A decimal integer token, the way a matrix shape is written.
bool whole_token(const char* s) {
  if (*s == '-' || *s == '+') ++s;
  if (*s == '\0') return false;
  for (; *s != '\0'; ++s)
    if (*s < '0' || *s > '9') return false;
  return true;
}

enum class layout { automatic, matrix, points };

// Reads the points; returns 0, or 1 after printing why not.
int read_points(const char* path, layout how, std::vector<vec2>* pts, bool* was_matrix) {
  FILE* f = std::fopen(path, "r");
  if (f == nullptr) {
    std::printf("error : could not open file %s for reading\n", path);
    return 1;
  }
  char first[64] = "", second[64] = "";
  bool whole = std::fscanf(f, "%63s %63s", first, second) == 2 && whole_token(first) && whole_token(second);
  std::rewind(f);
  int rows = 0, cols = 0;
  bool shape = std::fscanf(f, "%d %d", &rows, &cols) == 2;
  if (how != layout::points && shape) *pts = scan_pairs(f);
  if (how == layout::automatic) {
    // "R 2" in whole numbers, then exactly R pairs: a matrix.
    how = whole && cols == 2 && rows >= 0 && pts->size() == static_cast<size_t>(rows) ? layout::matrix
                                                                                      : layout::points;
  }
  *was_matrix = how == layout::matrix;
  int rc = 0;
  if (how == layout::points) {
    std::rewind(f);
    *pts = scan_pairs(f);
  } else if (!shape) {
    std::printf("error reading the shape of the matrix in %s\n", path);
    rc = 1;
  } else if (cols != 2 || rows < 0) {
    std::printf("error : %s holds a %d x %d matrix, not one of 2 columns\n", path, rows, cols);
    rc = 1;
  } else if (pts->size() < static_cast<size_t>(rows)) {
    std::printf("error reading the elements of the matrix in %s\n", path);
    rc = 1;
  } else {
    pts->resize(static_cast<size_t>(rows));
  }
  std::fclose(f);
  if (rc == 0 && pts->empty()) {
    std::printf("error : no points in %s\n", path);
    rc = 1;
  }
  return rc;
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

// Reads the centres as point indices; returns 0, or 1 after printing why not.
// Sets *ambiguous to the first centre row that more than one different point
// prints as (0 if none).
int read_centres(const char* path, const std::vector<vec2>& pts, std::vector<int64_t>* centres,
                 int* ambiguous) {
  std::string text;
  if (!read_text(path, &text)) {
    std::printf("error : could not open file %s for reading\n", path);
    return 1;
  }
  *ambiguous = 0;
  const std::string marker = "approx optimal centers :";
  size_t at = text.find(marker);
  if (at != std::string::npos) {
    size_t end = text.find('\n', at);
    std::string line = text.substr(at + marker.size(), end == std::string::npos ? end : end - at - marker.size());
    const char* p = line.c_str();
    while (*p != '\0') {
      char* next = nullptr;
      errno = 0;
      long long idx = std::strtoll(p, &next, 10);
      if (next == p) {
        if (trimmed(p).empty()) break;
        std::printf("error : the centre line of %s holds something that is no index\n", path);
        return 1;
      }
      if (errno == ERANGE || idx < 0 || idx >= static_cast<long long>(pts.size())) {
        std::printf("error : centre index %lld is not a point of a set of %zu points\n", idx, pts.size());
        return 1;
      }
      centres->push_back(idx);
      p = next;
    }
  } else {
    // Each printed form names the first point printed that way; a form that
    // two different points share is marked, since the row cannot tell them apart.
    struct match {
      int64_t index;
      bool shared;
    };
    std::unordered_map<std::string, match> by_text;
    for (size_t i = 0; i < pts.size(); ++i) {
      auto [it, fresh] = by_text.try_emplace(row_text(pts[i]), match{static_cast<int64_t>(i), false});
      if (!fresh && !same_point(pts[static_cast<size_t>(it->second.index)], pts[i])) it->second.shared = true;
    }
    int row = 0;
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      std::string line = trimmed(text.substr(pos, end - pos));
      pos = end + 1;
      if (line.empty()) continue;
      ++row;
      auto hit = by_text.find(line);
      if (hit == by_text.end()) {
        std::printf("error : centre row %d of %s is not a point of the point set\n", row, path);
        return 1;
      }
      if (hit->second.shared && *ambiguous == 0) *ambiguous = row;
      int64_t idx = hit->second.index;
      centres->push_back(idx);
    }
  }
  if (centres->empty()) {
    std::printf("error : no centres in %s\n", path);
    return 1;
  }
  return 0;
}

bool write_xy(const std::string& path, const std::vector<vec2>& pts, const std::vector<int64_t>* pick) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  size_t count = pick ? pick->size() : pts.size();
  for (size_t i = 0; i < count; ++i) {
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
      return 0;
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
  if (int rc = read_points(positional[0], how, &pts, &was_matrix)) return rc;
  std::vector<int64_t> centres;
  int ambiguous = 0;
  if (int rc = read_centres(positional[1], pts, &centres, &ambiguous)) return rc;

  if (positional[2] != nullptr) {
    std::string dir = positional[2];
    if (!write_xy(dir + "/points.dat", pts, nullptr) || !write_xy(dir + "/centres.dat", pts, &centres)) {
      std::printf("error : could not write the plot data to %s\n", positional[2]);
      return 1;
    }
  }

  double cost = cover_cost(pts.data(), static_cast<int64_t>(pts.size()), centres.data(),
                           static_cast<int64_t>(centres.size()));
  std::printf("points = %zu (%s), centres = %zu :", pts.size(), was_matrix ? "matrix" : "point file",
              centres.size());
  for (int64_t c : centres) std::printf(" %lld", static_cast<long long>(c));
  std::printf("\ncovering radius = %.17g\ncost = %.17g\n", std::sqrt(cost), cost);
  if (ambiguous)
    std::printf("note : centre row %d prints like several different points; the first of them is used\n",
                ambiguous);
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
