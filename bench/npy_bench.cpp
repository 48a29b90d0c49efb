// Google Benchmark: reading a .npy matrix (copied into memory of its own)
// against copying the file's bytes, against using a mapping of the file in
// place as C-order float64 once was, and against reading the same matrix
// as text. 10^6 x 3 uniform points
// (gen_points uniform 1000000 3 1), files written once into $TMPDIR (default /tmp), read from the
// page cache, and removed at the end. Every case ends with one pass over the doubles (their sum),
// so that each is timed to "the matrix in memory and read once". Not part of
// the tests.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "data.hpp"
#include "matvec.hpp"
#include "npy.hpp"
#include "work.hpp"

namespace {

constexpr int64_t n = 1000000, d = 3;

enum layout { c_f8, f_f8, c_f4, f_f4, text };
const char* const names[] = {"c_f8", "f_f8", "c_f4", "f_f4", "txt"};

std::string path_of(layout l) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir != nullptr ? dir : "/tmp") + "/npy_bench_" + names[l] + (l == text ? ".txt" : ".npy");
}

// The file for a layout, written on first use.
const std::string& file(layout l) {
  static std::string made[5];
  if (!made[l].empty()) return made[l];
  const std::vector<double> x = generated(gen_kind::uniform, n, d, 1);
  std::string bytes;
  if (l == text) {
    bytes = std::to_string(n) + " " + std::to_string(d) + "\n";
    char buf[32];
    for (int64_t k = 0; k < n * d; ++k) {
      std::snprintf(buf, sizeof buf, "%.17g%c", x[static_cast<size_t>(k)], k % d == d - 1 ? '\n' : ' ');
      bytes += buf;
    }
  } else {
    const bool fortran = l == f_f8 || l == f_f4, f4 = l == c_f4 || l == f_f4;
    std::string dict = std::string("{'descr': '") + (f4 ? "<f4" : "<f8") +
                       "', 'fortran_order': " + (fortran ? "True" : "False") + ", 'shape': (" +
                       std::to_string(n) + ", " + std::to_string(d) + "), }";
    while ((10 + dict.size() + 1) % 64 != 0) dict += ' ';
    dict += '\n';
    bytes = std::string(npy_magic, 6) + '\x01' + '\0' + static_cast<char>(dict.size() & 0xff) +
            static_cast<char>(dict.size() >> 8) + dict;
    for (int64_t k = 0; k < n * d; ++k) {
      const int64_t src = fortran ? (k % n) * d + k / n : k;  // element k of the file
      const double v = x[static_cast<size_t>(src)];
      if (f4) {
        const float f = static_cast<float>(v);
        bytes.append(reinterpret_cast<const char*>(&f), 4);
      } else {
        bytes.append(reinterpret_cast<const char*>(&v), 8);
      }
    }
  }
  made[l] = path_of(l);
  FILE* f = std::fopen(made[l].c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
  std::fclose(f);
  return made[l];
}

double sum(const double* x, int64_t count) {
  double s = 0.0;
  for (int64_t k = 0; k < count; ++k) s += x[k];
  return s;
}

// The file's bytes read() into fresh storage, as a plain copy of the file.
void BM_copy_bytes(benchmark::State& state) {
  const std::string& path = file(c_f8);
  for (auto _ : state) {
    const int fd = open(path.c_str(), O_RDONLY);
    const off_t size = lseek(fd, 0, SEEK_END);
    char* buf = static_cast<char*>(work_alloc(size));
    int64_t got = 0;
    for (ssize_t r; got < size && (r = pread(fd, buf + got, static_cast<size_t>(size - got), got)) > 0;) got += r;
    close(fd);
    benchmark::DoNotOptimize(sum(reinterpret_cast<const double*>(buf + 128), n * d));
    std::free(buf);
  }
  state.SetBytesProcessed(state.iterations() * (n * d * 8 + 128));
}

// The data used where it lies in a mapping of the file, filled at once: what
// C-order float64 cost when it was read in place instead of copied.
void BM_mapped_in_place(benchmark::State& state) {
  const std::string& path = file(c_f8);
  for (auto _ : state) {
    const int fd = open(path.c_str(), O_RDONLY);
    const off_t size = lseek(fd, 0, SEEK_END);
    void* map = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (map == MAP_FAILED) std::abort();
    close(fd);
    benchmark::DoNotOptimize(sum(reinterpret_cast<const double*>(static_cast<const char*>(map) + 128), n * d));
    munmap(map, static_cast<size_t>(size));
  }
}

void BM_npy_read(benchmark::State& state) {
  const auto l = static_cast<layout>(state.range(0));
  const std::string& path = file(l);
  for (auto _ : state) {
    const int fd = open(path.c_str(), O_RDONLY);
    npy_file f;
    if (npy_read_fd(&f, fd) != npy_status::ok) std::abort();
    close(fd);
    // Every element once, in the order the copy holds them (row- or column-major).
    benchmark::DoNotOptimize(rows_visit(&f.x, [&](auto* p) {
      double total = 0.0;
      for (int64_t k = 0; k < n * d; ++k) total += static_cast<double>(p[k]);
      return total;
    }));
    npy_free(&f);
  }
  state.SetLabel(names[l]);
}

void BM_text_read(benchmark::State& state) {
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

BENCHMARK(BM_copy_bytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_mapped_in_place)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_npy_read)->DenseRange(c_f8, f_f4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_text_read)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (layout l : {c_f8, f_f8, c_f4, f_f4, text}) std::remove(path_of(l).c_str());
  return 0;
}
