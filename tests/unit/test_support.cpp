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

const char* layout_name(layout how) {
  switch (how) {
    case layout::c_slice: return "C-order slice";
    case layout::fortran: return "Fortran order";
    case layout::reversed: return "reversed rows";
    case layout::f32: return "float32";
    default: return "float32 Fortran order";
  }
}

laid_rows lay_out(const std::vector<double>& data, int32_t rows, int32_t cols, layout how) {
  laid_rows out;
  const size_t n = static_cast<size_t>(rows), d = static_cast<size_t>(cols);
  auto at = [&](size_t i, size_t j) { return data[i * d + j]; };
  switch (how) {
    case layout::c_slice:
      out.f64.assign(n * (d + 3) + 1, -1.0);
      for (size_t i = 0; i < n; ++i)
        for (size_t j = 0; j < d; ++j) out.f64[1 + i * (d + 3) + j] = at(i, j);
      out.X = row_source{out.f64.data() + 1, rows, cols, cols + 3, 1, elem_type::f64};
      break;
    case layout::fortran:
      out.f64.resize(n * d);
      for (size_t i = 0; i < n; ++i)
        for (size_t j = 0; j < d; ++j) out.f64[j * n + i] = at(i, j);
      out.X = row_source{out.f64.data(), rows, cols, 1, rows, elem_type::f64};
      break;
    case layout::reversed:
      out.f64.resize(n * d);
      for (size_t i = 0; i < n; ++i)
        for (size_t j = 0; j < d; ++j) out.f64[(n - 1 - i) * d + j] = at(i, j);
      out.X = row_source{out.f64.data() + (n > 0 ? (n - 1) * d : 0), rows, cols, -int64_t{cols}, 1,
                         elem_type::f64};
      break;
    case layout::f32:
      out.f32.resize(n * d);
      for (size_t i = 0; i < n * d; ++i) out.f32[i] = static_cast<float>(data[i]);
      out.X = row_source{out.f32.data(), rows, cols, cols, 1, elem_type::f32};
      break;
    case layout::f32_fortran:
      out.f32.resize(n * d);
      for (size_t i = 0; i < n; ++i)
        for (size_t j = 0; j < d; ++j) out.f32[j * n + i] = static_cast<float>(at(i, j));
      out.X = row_source{out.f32.data(), rows, cols, 1, rows, elem_type::f32};
      break;
  }
  return out;
}
