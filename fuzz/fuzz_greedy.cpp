// Any bytes on standard input of greedy_centers: the program must end with
// status 0 (an answer) or 1 (one error line), never crash or hang. The first
// byte picks k; the rest is standard input.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "internal.hpp"

int greedy_centers_main(int argc, char** argv);

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The centres the program prints are of no interest here.
  int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  close(null);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string k = std::to_string(1 + data[0] % 8);
  std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  // Shapes that ask for real gigabytes are the command-line tests' business;
  // here they would only hit the fuzzer's own memory limit.
  long long rows = 0, cols = 0;
  if (std::sscanf(input.c_str(), "%lld %lld", &rows, &cols) == 2 && rows > 0 && cols >= 0 &&
      (rows > 1000000 || cols > 1000000 || rows * cols > 1000000))
    return 0;

  int fd = memfd_create("stdin", 0);
  if (fd < 0) return 0;
  if (write(fd, input.data(), input.size()) != static_cast<ssize_t>(input.size())) std::abort();
  lseek(fd, 0, SEEK_SET);
  dup2(fd, 0);
  close(fd);
  stdin_reset();

  char name[] = "greedy_centers";
  char* argv[] = {name, k.data(), nullptr};
  int status = greedy_centers_main(2, argv);
  std::fflush(stdout);
  if (status != 0 && status != 1) std::abort();
  return 0;
}
