// kcenter_call FILE.npy K REPS
//
// The times the Python package is measured against (bench/python_bench.py),
// on a 2-D .npy file of float64 or float32:
//   cli: the kcenter program's own order on the rows as it has read them,
//        through its driver, reading and writing left out: the program's
//        compute time;
//   api: kcenter::order on the file's own numbers where they lie (mapped,
//        float32 as such), the call the Python module makes.
// Prints "cli_s api_s checksum", the medians of REPS runs each after one
// run not counted; the checksum (the sum of the rows of both orders) shows
// that both gave the same order.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "kcenter/kcenter.hpp"
#include "kcenter_io.hpp"
#include "npy.hpp"

namespace {

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

template <class F>
double median_seconds(int reps, F run) {
  run();
  std::vector<double> s;
  for (int r = 0; r < reps; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    run();
    s.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return median(s);
}

bool no_op(void* sum, int64_t, int32_t row, double) {
  *static_cast<int64_t*>(sum) += row;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::printf("usage : kcenter_call FILE.npy K REPS\n");
    return 1;
  }
  const char* path = argv[1];
  const int64_t k = std::atoll(argv[2]);
  const int reps = std::atoi(argv[3]);

  kcenter_args args{};
  args.command = kcenter_command::order;
  args.k = k;
  args.threads = 1;
  args.input = path;
  kcenter_input in;
  kcenter_error err;
  if (!kcenter_load(&args, &in, &err)) {
    std::printf("%s\n", kcenter_error_line(err, argv[0]).c_str());
    return 1;
  }
  int64_t cli_sum = 0;
  const double cli = median_seconds(reps, [&] {
    cli_sum = 0;
    kcenter_order(&in.X, &args, no_op, &cli_sum);
  });
  kcenter_unload(&in);

  // The file's own numbers, mapped: what np.load(mmap_mode="r") hands over.
  const int fd = open(path, O_RDONLY);
  npy_file f{};
  struct stat st {};
  if (fd < 0 || npy_check_fd(&f, fd) != npy_status::ok || fstat(fd, &st) != 0 || f.h.fortran_order) {
    std::printf("error : %s is no C-order .npy file\n", path);
    return 1;
  }
  const size_t len = static_cast<size_t>(st.st_size);
  void* map = mmap(nullptr, len, PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (map == MAP_FAILED) return 1;
  const char* data = static_cast<const char*>(map) + f.h.data_offset;
  const kcenter::view x = f.h.item_size == 4
                              ? kcenter::c_order(reinterpret_cast<const float*>(data), f.h.rows, f.h.cols)
                              : kcenter::c_order(reinterpret_cast<const double*>(data), f.h.rows, f.h.cols);
  kcenter::order_options o;
  o.k = k;
  kcenter::order_result r;
  const double api = median_seconds(reps, [&] { kcenter::order(x, o, &r, nullptr); });
  int64_t api_sum = 0;
  for (int64_t row : r.rows) api_sum += row;
  munmap(map, len);
  std::printf("%.9f %.9f %lld\n", cli, api, static_cast<long long>(cli_sum == api_sum ? api_sum : -1));
  return 0;
}
