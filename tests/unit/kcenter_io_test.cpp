// kcenter's input, output and error lines against what the world does to
// them: files changed while read, memory refused, outputs that are links,
// read-only or no files at all, names that hold control bytes.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "kcenter_io.hpp"
#include "test_support.hpp"

namespace {

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A folder of its own, emptied and removed at the end.
struct folder {
  std::string path;
  folder() {
    path = testing::TempDir() + "kcenter_io_XXXXXX";
    if (mkdtemp(path.data()) == nullptr) std::abort();
  }
  ~folder() {
    for (const std::string& name : names()) unlink((path + "/" + name).c_str());
    rmdir(path.c_str());
  }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    DIR* d = opendir(path.c_str());
    while (dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") out.push_back(e->d_name);
    closedir(d);
    return out;
  }
};

kcenter_args order_to(const char* output) {
  return kcenter_args{kcenter_command::order, false, 2, false, 0.0, {}, 1, output, nullptr};
}

std::string cut_path;
void cut_to_header(int) {
  if (truncate(cut_path.c_str(), 128) != 0) std::abort();
}

}  // namespace

// A file cut short while it is read ends the load with one line and holds
// nothing: the run never starts, so it writes no output, not even a
// temporary file.
TEST(KcenterLoad, FileCutShortWhileReadIsOneLine) {
  folder dir;
  cut_path = dir.path + "/cut.npy";
  std::string header = "{'descr': '<f8', 'fortran_order': False, 'shape': (4096, 2), }";
  header.resize(117, ' ');
  write_file(cut_path, std::string("\x93NUMPY\x01\x00\x76\x00", 10) + header + "\n" + std::string(65536, '\0'));
  npy_before_copy = cut_to_header;
  kcenter_args a = order_to(nullptr);
  a.input = cut_path.c_str();
  kcenter_input in;
  kcenter_error e;
  const bool ok = kcenter_load(&a, &in, &e);
  npy_before_copy = nullptr;
  ASSERT_FALSE(ok);
  EXPECT_EQ(kcenter_error_line(e, "kcenter"), "error : " + cut_path + " changed while it was read");
  EXPECT_EQ(in.m.data, nullptr);
}

// Under a limit on the address space that leaves room for the matrix but
// not for the pruned search's copy of it, kcenter pair says so rather than
// comparing all 5 * 10^11 pairs. The search runs in a process of its own
// (gtest's death test), where no earlier test has left memory reserved.
void pair_under_a_limit() {
  const int32_t rows = 1000000, cols = 4;
  std::vector<double> v(static_cast<size_t>(rows) * cols);
  for (size_t k = 0; k < v.size(); ++k) v[k] = static_cast<double>(k % 9973);
  const row_source A = rows_of_doubles(v.data(), rows, cols);
  long pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  // 16 MB more than now: the rows' classes (6 MB) fit, their copy (32 MB) does not.
  rlimit tight{};
  getrlimit(RLIMIT_AS, &tight);
  tight.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (rlim_t{16} << 20);
  if (setrlimit(RLIMIT_AS, &tight) != 0) std::_Exit(2);
  kcenter_args a = order_to(nullptr);
  a.command = kcenter_command::pair;
  kcenter_error e;
  const bool ok = kcenter_run(&a, &A, &e);
  std::fflush(stdout);
  std::fputs(ok ? "answered\n" : kcenter_error_line(e, "kcenter").c_str(), stderr);
  std::_Exit(0);
}

TEST(KcenterRun, PairWithoutItsStorageSaysSo) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's allocator does not return null";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(pair_under_a_limit(), testing::ExitedWithCode(0),
              "^error : not enough memory to search a 1000000 x 4 matrix$");
}

// -o through a symbolic link writes the file it leads to and keeps the link;
// a file replaced keeps its permissions; while the output is written, the
// folder holds no file of it under another name (a kill leaves nothing).
TEST(KcenterSink, WritesThroughLinksAndKeepsPermissions) {
  folder dir;
  const std::string target = dir.path + "/target.csv", link = dir.path + "/link.csv";
  write_file(target, "old\n");
  chmod(target.c_str(), 0640);
  ASSERT_EQ(symlink("target.csv", link.c_str()), 0);
  const kcenter_args a = order_to(link.c_str());
  kcenter_sink s;
  kcenter_error e;
  ASSERT_TRUE(kcenter_sink_open(&s, &a, &e));
  ASSERT_TRUE(kcenter_sink_step(&s, 0, 3, HUGE_VAL));
  ASSERT_EQ(std::fflush(s.f), 0);
  EXPECT_EQ(dir.names().size(), 2u);  // target.csv and link.csv alone
  ASSERT_TRUE(kcenter_sink_close(&s, &e));
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(read_file(target), "step,row,dist_sq\n0,3,inf\n");
  EXPECT_EQ(dir.names().size(), 2u);
}

// A read-only file is not replaced, as root neither (whom the system lets
// write anything); nor is what is no regular file, even behind a link.
TEST(KcenterSink, RefusesReadOnlyFilesAndWhatIsNoRegularFile) {
  folder dir;
  const std::string kept = dir.path + "/kept.csv", null_link = dir.path + "/null.csv";
  write_file(kept, "keep me\n");
  chmod(kept.c_str(), 0444);
  ASSERT_EQ(symlink("/dev/null", null_link.c_str()), 0);
  const struct {
    std::string path, line;
  } cases[] = {
      {kept, "error : the output " + kept + " exists and is not writable"},
      {null_link, "error : the output " + null_link + " exists and is not a regular file"},
      {dir.path + "/loop.csv", "error : could not open file " + dir.path + "/loop.csv for writing"},
  };
  ASSERT_EQ(symlink("loop.csv", cases[2].path.c_str()), 0);
  for (const auto& c : cases) {
    const kcenter_args a = order_to(c.path.c_str());
    kcenter_sink s;
    kcenter_error e;
    ASSERT_FALSE(kcenter_sink_open(&s, &a, &e)) << c.path;
    EXPECT_EQ(kcenter_error_line(e, "kcenter"), c.line);
  }
  EXPECT_EQ(read_file(kept), "keep me\n");
  struct stat st;
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_EQ(dir.names().size(), 3u);
}

// Names and header texts from outside print as one printable line: control
// bytes, DEL, C1 controls and bytes that are no UTF-8 escaped; other UTF-8
// and backslashes as they are.
TEST(KcenterErrorLine, EscapesWhatIsNotPrintable) {
  const kcenter_error named{kcenter_fault::cannot_open, "a\nb\x1b[31m\x7f\t\r", "", 0, 0};
  EXPECT_EQ(kcenter_error_line(named, "kcenter"), "error : could not open file a\\nb\\x1b[31m\\x7f\\t\\r for reading");
  const kcenter_error descr{kcenter_fault::npy_dtype, "f\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80.npy",
                            "'<f\\\n8' \xc2\x9b \xff \xc3 \xed\xa0\x80 \xe0\x80\xaf", 0, 0};
  EXPECT_EQ(kcenter_error_line(descr, "kcenter"),
            "error : f\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80.npy holds dtype '<f\\\\n8' \\xc2\\x9b \\xff \\xc3 "
            "\\xed\\xa0\\x80 \\xe0\\x80\\xaf, not little-endian float64 ('<f8') or float32 ('<f4')");
  const kcenter_error usage{kcenter_fault::usage, "", "", 0, 0};
  EXPECT_EQ(kcenter_error_line(usage, "./k\ncenter").rfind("Command usage : ./k\\ncenter order|", 0), 0u);
}
