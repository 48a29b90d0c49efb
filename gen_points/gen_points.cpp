// gen_points [options] uniform|clusters|sphere|embedding n d seed
//
// Writes n seeded random points of d coordinates to standard output, as a
// matrix (shape line, then one row per line), as a point file (x y per
// line) or as a NumPy float32 array. Every number is printed with 17
// significant digits, so it reads back as the same double, and the same
// arguments always give the same bytes.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli.hpp"
#include "generate.hpp"

namespace {

const char usage_tail[] =
    "[-f matrix|points|npy] [-s scale] [-c clusters] [-w sigma] [-m dims] [-e noise] "
    "uniform|clusters|sphere|embedding n d seed";

const char help_text[] =
    "Writes n random points of d coordinates to standard output, drawn from a seeded\n"
    "generator of its own (xoshiro256** seeded by splitmix64), so that the same arguments\n"
    "give the same bytes on any machine. The shape is `uniform` (every coordinate in\n"
    "[-scale, scale]), `clusters` (a normal cloud of standard deviation sigma around each of\n"
    "C centres placed uniformly in that box) or `sphere` (uniform on the sphere of radius\n"
    "scale around the origin; a circle for d = 2) or `embedding` (C clusters in a random\n"
    "subspace of m dimensions, each of its own spread, from sigma/4 to 4 sigma, carried into\n"
    "d coordinates, plus normal noise of standard deviation e in every coordinate). The\n"
    "output is the matrix format (the line \"n d\", then one point per line), with -f points\n"
    "and d = 2 the point file format (\"x y\" per line), or with -f npy a NumPy .npy file of\n"
    "float32 (each value rounded to float); text numbers have 17 significant digits and\n"
    "read back exactly. Defaults: -f matrix, -s 1, -c 5, -w scale/10, -m 16, -e sigma/20.\n"
    "Errors print one line and exit with 1.\n";

// A whole number from lo to hi in base 10, nothing after it.
bool parse_int(const char* text, long lo, long hi, int32_t* out) {
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno == ERANGE || v < lo || v > hi) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

bool parse_seed(const char* text, uint64_t* out) {
  // strtoull would quietly negate "-1"; only digits are a seed.
  if (*text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text, &end, 10);
  if (*end != '\0' || errno == ERANGE) return false;
  *out = v;
  return true;
}

bool parse_real(const char* text, double lo, double hi, double* out) {
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || errno == ERANGE || !(v >= lo && v <= hi)) return false;
  *out = v;
  return true;
}

enum class out_format { matrix, points, npy };

struct options {
  gen_params p;
  int32_t n;
  out_format format;
  bool sigma_given;
  bool noise_given;
};

// Fills o from the command line; returns 0, or the exit status after
// printing the one line that explains the refusal.
int parse_arguments(int argc, char** argv, options* o) {
  o->p = gen_params{gen_kind::uniform, 0, 0, 1.0, 5, 0.0};
  o->n = 0;
  o->format = out_format::matrix;
  o->sigma_given = false;
  o->noise_given = false;
  const char* positional[4];
  int npos = 0;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    bool is_option = a[0] == '-' && a[1] != '\0' && !(a[1] >= '0' && a[1] <= '9');
    if (!is_option) {
      if (npos == 4) {
        std::printf("error : unexpected argument %s\n", a);
        return 1;
      }
      positional[npos++] = a;
      continue;
    }
    char name = '\0';
    if (!std::strcmp(a, "-f") || !std::strcmp(a, "--format")) name = 'f';
    else if (!std::strcmp(a, "-s") || !std::strcmp(a, "--scale")) name = 's';
    else if (!std::strcmp(a, "-c") || !std::strcmp(a, "--clusters")) name = 'c';
    else if (!std::strcmp(a, "-w") || !std::strcmp(a, "--sigma")) name = 'w';
    else if (!std::strcmp(a, "-m") || !std::strcmp(a, "--dims")) name = 'm';
    else if (!std::strcmp(a, "-e") || !std::strcmp(a, "--noise")) name = 'e';
    else {
      std::printf("error : unknown option %s\n", a);
      return 1;
    }
    if (i + 1 == argc) {
      std::printf("error : option %s needs a value\n", a);
      return 1;
    }
    const char* v = argv[++i];
    switch (name) {
      case 'f':
        if (!std::strcmp(v, "matrix")) o->format = out_format::matrix;
        else if (!std::strcmp(v, "points")) o->format = out_format::points;
        else if (!std::strcmp(v, "npy")) o->format = out_format::npy;
        else return fail("error : the format must be matrix, points or npy");
        break;
      case 's':
        if (!parse_real(v, 0x1p-1022, 1e300, &o->p.scale))
          return fail("error : the scale must be a number from 2.2250738585072014e-308 to 1e300");
        break;
      case 'c':
        if (!parse_int(v, 1, INT32_MAX, &o->p.clusters))
          return fail("error : the number of clusters must be a whole number from 1 to 2147483647");
        break;
      case 'w':
        if (!parse_real(v, 0.0, 1e300, &o->p.sigma))
          return fail("error : sigma must be a number from 0 to 1e300");
        o->sigma_given = true;
        break;
      case 'm':
        if (!parse_int(v, 1, INT32_MAX, &o->p.dims))
          return fail("error : the subspace's dimensions must be a whole number from 1 to 2147483647");
        break;
      case 'e':
        if (!parse_real(v, 0.0, 1e300, &o->p.noise))
          return fail("error : the noise must be a number from 0 to 1e300");
        o->noise_given = true;
        break;
    }
  }
  if (npos < 4) {
    std::printf("Command usage : %s %s\n", argv[0], usage_tail);
    return 1;
  }
  const char* kind = positional[0];
  if (!std::strcmp(kind, "uniform")) o->p.kind = gen_kind::uniform;
  else if (!std::strcmp(kind, "clusters")) o->p.kind = gen_kind::clusters;
  else if (!std::strcmp(kind, "sphere")) o->p.kind = gen_kind::sphere;
  else if (!std::strcmp(kind, "embedding")) o->p.kind = gen_kind::embedding;
  else {
    std::printf("error : unknown shape %s (uniform, clusters, sphere or embedding)\n", kind);
    return 1;
  }
  if (!parse_int(positional[1], 0, INT32_MAX, &o->n))
    return fail("error : n must be a whole number from 0 to 2147483647");
  bool sphere = o->p.kind == gen_kind::sphere;
  if (!parse_int(positional[2], sphere ? 1 : 0, INT32_MAX, &o->p.d))
    return fail(sphere ? "error : d must be a whole number from 1 to 2147483647 for a sphere"
                       : "error : d must be a whole number from 0 to 2147483647");
  if (!parse_seed(positional[3], &o->p.seed))
    return fail("error : the seed must be a whole number from 0 to 18446744073709551615");
  if (o->format == out_format::points && o->p.d != 2) {
    std::printf("error : the points format holds 2 coordinates per point, not %d\n", o->p.d);
    return 1;
  }
  if (!o->sigma_given) o->p.sigma = o->p.scale / 10.0;
  if (!o->noise_given) o->p.noise = o->p.sigma / 20.0;
  return 0;
}

// The header of a C-order float32 array of n rows of d, as np.save writes
// it: magic, version 1.0, the length of the dict, the dict padded with
// blanks and a newline to a multiple of 64 bytes.
bool write_npy_header(int32_t n, int32_t d) {
  char dict[128];
  const int len = std::snprintf(dict, sizeof dict,
                                "{'descr': '<f4', 'fortran_order': False, 'shape': (%d, %d), }", n, d);
  const int total = (10 + len + 1 + 63) / 64 * 64;
  const int header = total - 10;
  const char magic[8] = {'\x93', 'N', 'U', 'M', 'P', 'Y', 1, 0};
  const unsigned char size[2] = {static_cast<unsigned char>(header & 0xff),
                                 static_cast<unsigned char>(header >> 8)};
  std::fwrite(magic, 1, 8, stdout);
  std::fwrite(size, 1, 2, stdout);
  std::fwrite(dict, 1, static_cast<size_t>(len), stdout);
  for (int i = len; i < header - 1; ++i) std::putchar(' ');
  std::putchar('\n');
  return !std::ferror(stdout);
}

// Streams the points: one row of storage (and the embedding's basis),
// whatever n is.
int write_points(const options* o) {
  const int64_t basis_size = gen_basis_size(&o->p);
  const size_t d = static_cast<size_t>(o->p.d) + 1;
  double* row = static_cast<double*>(std::malloc(sizeof(double) * d));
  float* narrow = static_cast<float*>(std::malloc(sizeof(float) * d));
  double* basis = basis_size > 0 && static_cast<uint64_t>(basis_size) < SIZE_MAX / sizeof(double)
                      ? static_cast<double*>(std::malloc(sizeof(double) * static_cast<size_t>(basis_size)))
                      : nullptr;
  if (row == nullptr || narrow == nullptr || (basis_size != 0 && basis == nullptr)) {
    std::free(row);
    std::free(narrow);
    std::free(basis);
    if (basis_size != 0)
      std::printf("error : not enough memory for a basis of %d x %d coordinates\n", o->p.dims, o->p.d);
    else
      std::printf("error : not enough memory for a point of %d coordinates\n", o->p.d);
    return 1;
  }
  gen_state g;
  gen_start(&g, &o->p, basis);
  if (o->format == out_format::matrix) std::printf("%d %d\n", o->n, o->p.d);
  if (o->format == out_format::npy) write_npy_header(o->n, o->p.d);
  // A failed write (a full disk, a closed pipe) ends the run at once: the
  // stream keeps its error mark, so one test per row finds it.
  for (int32_t i = 0; i < o->n && !std::ferror(stdout); ++i) {
    gen_point(&g, row);
    if (o->format == out_format::npy) {
      // Little-endian floats, as the header says (this is x86).
      for (int32_t j = 0; j < o->p.d; ++j) narrow[j] = static_cast<float>(row[j]);
      std::fwrite(narrow, sizeof(float), static_cast<size_t>(o->p.d), stdout);
      continue;
    }
    for (int32_t j = 0; j < o->p.d; ++j) std::printf(j ? " %.17g" : "%.17g", row[j]);
    std::putchar('\n');
  }
  std::free(row);
  std::free(narrow);
  std::free(basis);
  return output_status();
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help")) {
      std::printf("usage : gen_points %s\n\n%s", usage_tail, help_text);
      return output_status();
    }
  }
  options o;
  int status = parse_arguments(argc, argv, &o);
  if (status != 0) return status;
  return write_points(&o);
}
