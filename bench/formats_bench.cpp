// Google Benchmark: kcenter's readers of PLY and CSV against what bounds
// them. 10^6 uniform points (gen_points uniform 1000000 3 1):
//   - a binary little-endian PLY of them (x y z float, red green blue uchar,
//     15 bytes a vertex), against `cat` of the file (read() through one
//     128 KiB buffer) and the .npy path on the same numbers (float32, widened);
//   - the doubles as CSV (%.17g, comma), against the matrix text reader on
//     the same numbers (the same text with a shape line, blanks between).
// Each case ends with the matrix of doubles in memory and read once (its
// sum), as kcenter's drivers take it. Files are written once into $TMPDIR
// (default /tmp) and removed at the end, unless FORMATS_BENCH_KEEP is set
// (bench/formats.sh keeps them for NumPy's loadtxt). Not part of the tests.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "data.hpp"
#include "formats.hpp"
#include "matvec.hpp"
#include "npy.hpp"
#include "work.hpp"

namespace {

constexpr int64_t n = 1000000, d = 3;

enum kind { ply, npy_f4, csv, text };
const char* const names[] = {"points.ply", "points_f4.npy", "points.csv", "points.txt"};

std::string path_of(kind k) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir != nullptr ? dir : "/tmp") + "/formats_bench_" + names[k];
}

const std::string& file(kind k) {
  static std::string made[4];
  if (!made[k].empty()) return made[k];
  const std::vector<double> x = generated(gen_kind::uniform, n, d, 1);
  std::string bytes;
  char buf[64];
  if (k == ply) {
    bytes = "ply\nformat binary_little_endian 1.0\nelement vertex " + std::to_string(n) +
            "\nproperty float x\nproperty float y\nproperty float z\n"
            "property uchar red\nproperty uchar green\nproperty uchar blue\nend_header\n";
    for (int64_t i = 0; i < n; ++i) {
      for (int64_t j = 0; j < d; ++j) {
        const auto f = static_cast<float>(x[static_cast<size_t>(i * d + j)]);
        bytes.append(reinterpret_cast<const char*>(&f), 4);
      }
      const char rgb[3] = {static_cast<char>(i), static_cast<char>(i >> 8), static_cast<char>(i >> 16)};
      bytes.append(rgb, 3);
    }
  } else if (k == npy_f4) {
    std::string dict = "{'descr': '<f4', 'fortran_order': False, 'shape': (" + std::to_string(n) + ", 3), }";
    while ((10 + dict.size() + 1) % 64 != 0) dict += ' ';
    dict += '\n';
    bytes = std::string(npy_magic, 6) + '\x01' + '\0' + static_cast<char>(dict.size() & 0xff) +
            static_cast<char>(dict.size() >> 8) + dict;
    for (double v : x) {
      const auto f = static_cast<float>(v);
      bytes.append(reinterpret_cast<const char*>(&f), 4);
    }
  } else {
    if (k == text) bytes = std::to_string(n) + " " + std::to_string(d) + "\n";
    for (int64_t t = 0; t < n * d; ++t) {
      std::snprintf(buf, sizeof buf, "%.17g%c", x[static_cast<size_t>(t)], t % d == d - 1 ? '\n' : k == csv ? ',' : ' ');
      bytes += buf;
    }
  }
  made[k] = path_of(k);
  FILE* f = std::fopen(made[k].c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
  std::fclose(f);
  return made[k];
}

double sum(const double* x, int64_t count) {
  double s = 0.0;
  for (int64_t k = 0; k < count; ++k) s += x[k];
  return s;
}

fmt_bytes whole(kind k) {
  fmt_bytes b;
  if (fmt_bytes_read_path(&b, file(k).c_str()) != fmt_read::ok) std::abort();
  return b;
}

// The doubles the drivers take: the rows themselves, or widened.
double widened_sum(const fmt_matrix& m) {
  if (rows_are_doubles(&m.rows)) return sum(static_cast<const double*>(m.rows.data), n * d);
  mat A;
  mat_malloc(&A, m.rows.rows, m.rows.cols);
  fmt_matrix_widen(&m.rows, A.data);
  const double s = sum(A.data, n * d);
  mat_free(&A);
  return s;
}

// What `cat FILE > /dev/null` does: read() through one 128 KiB buffer.
void BM_cat(benchmark::State& state) {
  const std::string& path = file(static_cast<kind>(state.range(0)));
  static char buf[1 << 17];
  for (auto _ : state) {
    const int fd = open(path.c_str(), O_RDONLY);
    int64_t total = 0;
    for (ssize_t r; (r = read(fd, buf, sizeof buf)) > 0;) total += r;
    close(fd);
    benchmark::DoNotOptimize(total);
  }
  state.SetLabel(names[state.range(0)]);
}

void BM_ply(benchmark::State& state) {
  for (auto _ : state) {
    fmt_bytes b = whole(ply);
    ply_file f;
    fmt_matrix m;
    fmt_error e{};
    if (!ply_read(b.data, b.len, nullptr, false, &f, &m, &e)) std::abort();
    fmt_bytes_free(&b);
    benchmark::DoNotOptimize(widened_sum(m));
    fmt_matrix_free(&m);
  }
}

void BM_npy_f4(benchmark::State& state) {
  const std::string& path = file(npy_f4);
  for (auto _ : state) {
    const int fd = open(path.c_str(), O_RDONLY);
    npy_file f;
    if (npy_read_fd(&f, fd) != npy_status::ok) std::abort();
    close(fd);
    benchmark::DoNotOptimize(rows_visit(&f.x, [&](auto* p) {
      double total = 0.0;
      for (int64_t k = 0; k < n * d; ++k) total += static_cast<double>(p[k]);
      return total;
    }));
    npy_free(&f);
  }
}

void BM_csv(benchmark::State& state) {
  const std::string& path = file(csv);
  for (auto _ : state) {
    const int fd = open(path.c_str(), O_RDONLY);
    const csv_options o{csv_delimiter::detect, false, nullptr};
    fmt_matrix m;
    fmt_error e{};
    if (!csv_read_fd(fd, nullptr, 0, &o, &m, &e) || m.rows.rows != n) std::abort();
    close(fd);
    benchmark::DoNotOptimize(widened_sum(m));
    fmt_matrix_free(&m);
  }
}

void BM_text(benchmark::State& state) {
  const std::string& path = file(text);
  for (auto _ : state) {
    const int fd = open(path.c_str(), O_RDONLY);
    scan_reader r;
    scan_reader_open(&r, fd);
    int32_t rows = 0, cols = 0;
    mat A;
    if (mat_read_shape(&r, &rows, &cols) < 2) std::abort();
    mat_malloc(&A, rows, cols);
    if (mat_read(&r, &A) != n * d) std::abort();
    scan_reader_close(&r);
    close(fd);
    benchmark::DoNotOptimize(sum(A.data, n * d));
    mat_free(&A);
  }
}

BENCHMARK(BM_cat)->Arg(ply)->Arg(csv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ply)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_npy_f4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_csv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_text)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (std::getenv("FORMATS_BENCH_KEEP") == nullptr)
    for (kind k : {ply, npy_f4, csv, text}) std::remove(path_of(k).c_str());
  return 0;
}
