// The farthest-first order of the rows of a .npy file, in process, as the
// engines run it: float32 rows read where they lie (mapped from the file,
// never widened), or widened to doubles first (-w), on a team of T threads
// (one engine per shard of rows, as kcenter order runs them).
//   order_npy [-t T] [-w] [-p never|automatic|always] [-o ROWS] FILE.npy K
// Prints one line: the seconds of the whole run (mapping and copies
// included), of the order (the engines' start and the folds), of the
// engines' start alone, the steps, a checksum of the rows chosen (the sum of
// their indices) and the path the engines ended on; -o writes the rows of
// the order, one a line, for comparing with kcenter's.
#include <fcntl.h>
#include <omp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "choice.hpp"
#include "npy.hpp"

namespace {

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int usage() {
  std::printf("usage : order_npy [-t T] [-w] [-p never|automatic|always] [-o ROWS] FILE.npy K\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const double start = now();
  int threads = 1;
  bool widen = false;
  choice_prune prune = choice_prune::automatic;
  const char* rows_out = nullptr;
  std::vector<const char*> operands;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-t" && i + 1 < argc) threads = std::atoi(argv[++i]);
    else if (a == "-w") widen = true;
    else if (a == "-o" && i + 1 < argc) rows_out = argv[++i];
    else if (a == "-p" && i + 1 < argc) {
      const std::string v = argv[++i];
      prune = v == "never" ? choice_prune::never : v == "always" ? choice_prune::always : choice_prune::automatic;
    } else operands.push_back(argv[i]);
  }
  if (operands.size() != 2 || threads < 1) return usage();
  const int64_t k = std::atoll(operands[1]);
  const int fd = open(operands[0], O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) return usage();
  const size_t len = static_cast<size_t>(st.st_size);
  void* map = mmap(nullptr, len, PROT_READ, MAP_PRIVATE, fd, 0);
  if (map == MAP_FAILED) return usage();
  const char* bytes = static_cast<const char*>(map);
  npy_header h{};
  const int64_t header_len = bytes[6] == 1 ? (uint8_t(bytes[8]) | uint8_t(bytes[9]) << 8) : 0;
  if (std::memcmp(bytes, npy_magic, 6) != 0 || header_len == 0 ||
      npy_parse_header(bytes + 10, static_cast<size_t>(header_len), &h) != npy_status::ok || h.fortran_order) {
    std::printf("order_npy : a C-order .npy file of version 1.0 is needed\n");
    return 1;
  }
  const char* data = bytes + 10 + header_len;
  const auto n = static_cast<int32_t>(h.rows);
  const auto d = static_cast<int32_t>(h.cols);
  const elem_type type = h.item_size == 4 ? elem_type::f32 : elem_type::f64;
  row_source X{data, n, d, d, 1, type};
  std::vector<double> wide;
  if (widen && type == elem_type::f32) {
    wide.resize(static_cast<size_t>(int64_t{n} * d));
    const float* f = reinterpret_cast<const float*>(data);
    for (size_t t = 0; t < wide.size(); ++t) wide[t] = static_cast<double>(f[t]);
    X = rows_of_doubles(wide.data(), n, d);
  }

  // Shards of at least 4096 rows, as kcenter's team.
  const int32_t shards = std::max(1, std::min<int32_t>(threads, (n + 4095) / 4096));
  const choice_options opt{simd_best(), prune, k};
  std::vector<choice*> engines(static_cast<size_t>(shards));
  const double order_start = now();
#pragma omp parallel for num_threads(shards) schedule(static, 1)
  for (int32_t s = 0; s < shards; ++s) {
    const auto from = static_cast<int32_t>(int64_t{n} * s / shards);
    const auto to = static_cast<int32_t>(int64_t{n} * (s + 1) / shards);
    engines[static_cast<size_t>(s)] = choice_start(&X, from, to - from, &opt);
  }
  for (choice* e : engines)
    if (e == nullptr) {
      std::printf("order_npy : not enough memory\n");
      return 1;
    }
  const double started = now();
  std::vector<choice_farthest> found(static_cast<size_t>(shards));
  std::vector<double> centre(static_cast<size_t>(d));
  int64_t steps = 1, checksum = 0;
  int32_t c = 0;
  std::vector<int32_t> order{0};
  while (steps < k) {
    rows_get(&X, c, centre.data());
#pragma omp parallel for num_threads(shards) schedule(static, 1)
    for (int32_t s = 0; s < shards; ++s) found[static_cast<size_t>(s)] = choice_fold(engines[static_cast<size_t>(s)], centre.data(), c);
    choice_farthest best{0.0, -1};
    for (const choice_farthest& f : found)
      if (f.row >= 0 && f.dist_sq > best.dist_sq) best = f;
    if (best.row < 0 || best.row == c) break;
    c = best.row;
    checksum += c;
    order.push_back(c);
    ++steps;
  }
  const double order_end = now();
  const std::string path = choice_path(engines[0]);
  for (choice* e : engines) choice_end(e);
  munmap(map, len);
  close(fd);
  if (rows_out != nullptr) {
    FILE* f = std::fopen(rows_out, "w");
    if (f == nullptr) return usage();
    for (int32_t r : order) std::fprintf(f, "%d\n", r);
    std::fclose(f);
  }
  std::printf("%.3f %.3f %.3f %lld %lld %s\n", order_end - start, order_end - order_start, started - order_start,
              static_cast<long long>(steps), static_cast<long long>(checksum), path.c_str());
  return 0;
}
