#include "test_support.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "internal.hpp"

static std::string temp_path(const char* tag) {
  std::string path = testing::TempDir() + "matvec_" + tag + "_XXXXXX";
  int fd = mkstemp(path.data());
  if (fd < 0) std::abort();
  close(fd);
  return path;
}

namespace {
struct temp_paths {
  std::vector<std::string> made;
  ~temp_paths() {
    for (const std::string& path : made) std::remove(path.c_str());
  }
} temps;
}  // namespace

std::string temp_name(const std::string& name) {
  std::string path = testing::TempDir() + "suite_" + std::to_string(getpid()) + "_" + name;
  temps.made.push_back(path);
  return path;
}

void set_stdin_text(const std::string& text) {
  std::string path = temp_path("stdin");
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  int fd = open(path.c_str(), O_RDONLY);
  dup2(fd, 0);
  close(fd);
  unlink(path.c_str());
  stdin_reset();
}

std::string capture_stdout(const std::function<void()>& fn) {
  std::string path = temp_path("stdout");
  std::fflush(stdout);
  int saved = dup(1);
  int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
  dup2(fd, 1);
  close(fd);
  fn();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  std::string out;
  FILE* f = std::fopen(path.c_str(), "rb");
  char buf[4096];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, got);
  std::fclose(f);
  unlink(path.c_str());
  return out;
}
