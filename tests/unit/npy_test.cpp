#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "npy.hpp"
#include "test_support.hpp"

namespace {

// Element k of the matrix read, counted row after row, whatever order and
// type the copy keeps.
double at(const npy_file& f, int64_t k) { return rows_at(&f.x, k / f.x.cols, k % f.x.cols); }


// A .npy file: preamble for `major`, the dict, blanks to a multiple of
// `align` bytes, a newline, then the data.
std::string npy_bytes(const std::string& dict, const std::string& data, int major = 1,
                      size_t align = 64) {
  const size_t pre = major == 1 ? 10 : 12;
  std::string header = dict;
  while ((pre + header.size() + 1) % align != 0) header += ' ';
  header += '\n';
  std::string out(npy_magic, 6);
  out += static_cast<char>(major);
  out += '\0';
  for (size_t b = 0; b < pre - 8; ++b) out += static_cast<char>((header.size() >> (8 * b)) & 0xff);
  return out + header + data;
}

std::string dict(const std::string& descr, bool fortran, const std::string& shape) {
  return "{'descr': '" + descr + "', 'fortran_order': " + (fortran ? "True" : "False") +
         ", 'shape': " + shape + ", }";
}

template <class T>
std::string raw(const std::vector<T>& v) {
  return std::string(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(T));
}

int open_text(const std::string& bytes, const char* name) {
  std::string path = temp_name(name);
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return open(path.c_str(), O_RDONLY);
}

npy_status read_bytes(const std::string& bytes, npy_file* f, int32_t threads = 1) {
  int fd = open_text(bytes, "read.npy");
  npy_status s = npy_read_fd(f, fd, threads);
  close(fd);
  return s;
}

npy_status parse(const std::string& text) {
  npy_header h{};
  return npy_parse_header(text.data(), text.size(), &h);
}

TEST(NpyParseHeader, ReadsWhatNumPyAndPeopleWrite) {
  const char* good[] = {
      "{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3), }",
      "{\"shape\":(2,3),\"fortran_order\":False,\"descr\":\"<f8\"}",
      "  {'descr' : '<f8',\n 'fortran_order':\tFalse, 'shape': ( 2 , 3 , ) }   \n",
      "{'descr': '<f8', 'fortran_order': False, 'shape': ((2), 3)}",
  };
  for (const char* text : good) {
    npy_header h{};
    ASSERT_EQ(npy_parse_header(text, std::strlen(text), &h), npy_status::ok) << text;
    EXPECT_EQ(h.rows, 2);
    EXPECT_EQ(h.cols, 3);
    EXPECT_EQ(h.item_size, 8);
    EXPECT_EQ(h.data_bytes, 48);
    EXPECT_FALSE(h.fortran_order);
  }
  npy_header h{};
  std::string f4 = dict("<f4", true, "(2147483647, 0)");
  ASSERT_EQ(npy_parse_header(f4.data(), f4.size(), &h), npy_status::ok);
  EXPECT_TRUE(h.fortran_order);
  EXPECT_EQ(h.item_size, 4);
  EXPECT_EQ(h.rows, 2147483647);
  EXPECT_EQ(h.data_bytes, 0);
}

// Each refusal for its own reason, checked in a fixed order: syntax, keys,
// order, dtype, shape.
TEST(NpyParseHeader, RefusesEachFaultWithItsOwnStatus) {
  const std::string deep = "{'descr': " + std::string(100, '[') + std::string(100, ']') +
                           ", 'fortran_order': False, 'shape': (1, 1)}";
  const struct {
    std::string text;
    npy_status want;
  } cases[] = {
      {"", npy_status::bad_header},
      {"['descr']", npy_status::bad_header},
      {"{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3)", npy_status::bad_header},
      {"{'descr': '<f8' 'fortran_order': False, 'shape': (2, 3)}", npy_status::bad_header},
      {"{descr: '<f8', 'fortran_order': False, 'shape': (2, 3)}", npy_status::bad_header},
      {"{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3)} x", npy_status::bad_header},
      {"{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3)} # note", npy_status::bad_header},
      {"{'descr': '<f8, 'fortran_order': False, 'shape': (2, 3)}", npy_status::bad_header},
      {"{'descr': '<f8', 'fortran_order': False, 'shape': (02, 3)}", npy_status::bad_header},
      {"{'descr', 'fortran_order', 'shape'}", npy_status::bad_header},
      {"{'descr': '<f8', 'fortran_order': False, 'shape': (2,, 3)}", npy_status::bad_header},
      {deep, npy_status::bad_header},
      {"{'descr': '<f8', 'fortran_order': False}", npy_status::bad_keys},
      {"{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3), 'extra': 1}", npy_status::bad_keys},
      {"{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3), 'shape': (2, 3)}", npy_status::bad_keys},
      {"{'descr': '<f8', 'fortran_order': False, 1: (2, 3)}", npy_status::bad_keys},
      {"{'descr': '<f8', 'fortran_order': 0, 'shape': (2, 3)}", npy_status::bad_order},
      {"{'descr': '<f8', 'fortran_order': 'False', 'shape': (2, 3)}", npy_status::bad_order},
      {dict(">f8", false, "(2, 3)"), npy_status::bad_dtype},
      {dict("<i8", false, "(2, 3)"), npy_status::bad_dtype},
      {dict("<c16", false, "(2, 3)"), npy_status::bad_dtype},
      {dict("|O", false, "(2, 3)"), npy_status::bad_dtype},
      {dict("<f2", false, "(2, 3)"), npy_status::bad_dtype},
      {"{'descr': [('x', '<f8')], 'fortran_order': False, 'shape': (2, 3)}", npy_status::bad_dtype},
      {dict("<f8", false, "[2, 3]"), npy_status::bad_shape},
      {dict("<f8", false, "(2, -3)"), npy_status::bad_shape},
      {dict("<f8", false, "(2.0, 3)"), npy_status::bad_shape},
      {dict("<f8", false, "(True, 3)"), npy_status::bad_shape},
      {dict("<f8", false, "6"), npy_status::bad_shape},
      {dict("<f8", false, "()"), npy_status::not_2d},
      {dict("<f8", false, "(6,)"), npy_status::not_2d},
      {dict("<f8", false, "(1, 2, 3)"), npy_status::not_2d},
      {dict("<f8", false, "(2147483648, 1)"), npy_status::too_large},
      {dict("<f8", false, "(1, 99999999999999999999999)"), npy_status::too_large},
      {dict("<f8", false, "(2147483647, 2147483647)"), npy_status::too_many_bytes},
      {dict("<f4", false, "(2000000000, 2000000000)"), npy_status::too_many_bytes},
  };
  for (const auto& c : cases) EXPECT_EQ(parse(c.text), c.want) << c.text;
  npy_header h{};
  std::string text = dict("<i8", false, "(2, 3)");
  npy_parse_header(text.data(), text.size(), &h);
  EXPECT_STREQ(h.descr, "'<i8'");
  text = dict("<f8", false, "(1, 2, 3)");
  npy_parse_header(text.data(), text.size(), &h);
  EXPECT_EQ(h.ndim, 3);
}

TEST(NpyReadFd, COrderFloat64IsCopiedBitForBit) {
  std::vector<double> v = {1.5, -0.0, std::numeric_limits<double>::denorm_min(), INFINITY, NAN, 0x1.fffffffffffffp+1023};
  npy_file f;
  ASSERT_EQ(read_bytes(npy_bytes(dict("<f8", false, "(3, 2)"), raw(v)), &f), npy_status::ok);
  EXPECT_EQ(f.x.rows, 3);
  EXPECT_EQ(f.x.cols, 2);
  for (size_t k = 0; k < v.size(); ++k) EXPECT_TRUE(same_bits(at(f, k), v[k])) << k;
  npy_free(&f);
  npy_free(&f);
  EXPECT_EQ(f.x.data, nullptr);
}

// Copied by parts on several threads (parts of any size, ending on rows),
// the rows are those of the file.
TEST(NpyReadFd, ThreadsCopyTheirPartsBitForBit) {
  std::vector<double> v(1001 * 3);
  for (size_t k = 0; k < v.size(); ++k) v[k] = static_cast<double>(k) * 0.1;
  for (int64_t part : {1, 4096, 10000}) {
    npy_copy_part_bytes = part;
    npy_file f;
    ASSERT_EQ(read_bytes(npy_bytes(dict("<f8", false, "(1001, 3)"), raw(v)), &f, 7), npy_status::ok);
    for (size_t k = 0; k < v.size(); ++k) ASSERT_TRUE(same_bits(at(f, k), v[k])) << part << " " << k;
    npy_free(&f);
  }
  npy_copy_part_bytes = int64_t{64} << 20;
}

// ---- files that change under the reader ------------------------------------

std::string changing_path;
off_t cut_to = 0;
void cut_file(int) {
  if (truncate(changing_path.c_str(), cut_to) != 0) std::abort();
}
// The same size, other bytes and another modification time.
void rewrite_file(int) {
  const int fd = open(changing_path.c_str(), O_WRONLY);
  const char junk[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const timespec old_times[2] = {{946684800, 0}, {946684800, 0}};
  if (fd < 0 || pwrite(fd, junk, sizeof junk, cut_to) != 8 || futimens(fd, old_times) != 0) std::abort();
  close(fd);
}

// What is read is a copy: bytes written to the file afterwards, as another
// process may write them at any time, change nothing read.
TEST(NpyReadFd, WritesToTheFileAfterwardsChangeNothingRead) {
  const std::vector<double> v(3000, 2.5);
  for (const char* descr : {"<f8", "<f4"}) {
    changing_path = temp_name("later.npy");
    const std::string bytes = npy_bytes(dict(descr, false, "(1000, 3)"), descr[2] == '8' ? raw(v) : raw(std::vector<float>(3000, 2.5f)));
    FILE* out = std::fopen(changing_path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
    const int fd = open(changing_path.c_str(), O_RDONLY);
    npy_file f;
    ASSERT_EQ(npy_read_fd(&f, fd), npy_status::ok);
    npy_file share;
    ASSERT_EQ(npy_read_rows(&share, fd, 500, 500), npy_status::ok);
    close(fd);
    const int w = open(changing_path.c_str(), O_WRONLY);
    const std::string sevens(bytes.size() - 64, '\x07');
    ASSERT_EQ(pwrite(w, sevens.data(), sevens.size(), 64), static_cast<ssize_t>(sevens.size()));
    close(w);
    for (int64_t k = 0; k < 3000; ++k) ASSERT_TRUE(same_bits(at(f, k), 2.5)) << descr << k;
    for (int64_t k = 0; k < 1500; ++k) ASSERT_TRUE(same_bits(at(share, k), 2.5)) << descr << k;
    npy_free(&f);
    npy_free(&share);
  }
}

// A file cut short or rewritten between the check of its header and the
// copy of its data (the test hook changes it there) is refused as changed,
// in every layout, whole or a share of the rows, with no storage held; a
// SIGBUS outside a copy is left to the handler the process had.
TEST(NpyReadFd, FilesChangedWhileReadAreRefused) {
  const size_t rows = 3000, cols = 3;  // 72000 bytes of doubles: several pages
  std::vector<float> f4(rows * cols, 1.0f);
  std::vector<double> f8(rows * cols, 1.0);
  struct sigaction before{};
  sigaction(SIGBUS, nullptr, &before);
  for (auto change : {cut_file, rewrite_file}) {
    npy_before_copy = change;
    for (bool fortran : {false, true}) {
      for (int size : {4, 8}) {
        for (int how : {0, 1, 2}) {  // the whole file, a share of rows, the whole file on 3 threads
          const bool share = how == 1;
          npy_copy_part_bytes = how == 2 ? 4096 : int64_t{64} << 20;
          changing_path = temp_name("changing.npy");
          const std::string bytes =
              npy_bytes(dict(size == 4 ? "<f4" : "<f8", fortran, "(3000, 3)"), size == 4 ? raw(f4) : raw(f8));
          cut_to = 1000;
          FILE* out = std::fopen(changing_path.c_str(), "wb");
          std::fwrite(bytes.data(), 1, bytes.size(), out);
          std::fclose(out);
          const int fd = open(changing_path.c_str(), O_RDONLY);
          npy_file f;
          const npy_status s = share ? npy_read_rows(&f, fd, 2000, 1000) : npy_read_fd(&f, fd, 3);
          close(fd);
          EXPECT_EQ(s, npy_status::changed) << fortran << size << how;
          EXPECT_EQ(f.x.data, nullptr);
          EXPECT_EQ(f.h.rows, 3000);
          npy_free(&f);
        }
      }
    }
  }
  npy_before_copy = nullptr;
  npy_copy_part_bytes = int64_t{64} << 20;
  struct sigaction after{};
  sigaction(SIGBUS, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
}

// float32 widens exactly (subnormals, extremes, signed zero); Fortran order is
// transposed by blocks of rows, the last one cut short, in narrow and wide matrices.
TEST(NpyReadFd, Float32AndFortranOrderAreConvertedBitForBit) {
  const float specials[] = {std::numeric_limits<float>::denorm_min(), -0.0f, std::numeric_limits<float>::max(),
                            -INFINITY, 0x1.fffffep-127f, 1.1f};
  const struct {
    size_t rows, cols;
  } shapes[] = {{70, 37}, {4000, 20}, {5000, 3}};
  for (const auto& sh : shapes) {
    const size_t rows = sh.rows, cols = sh.cols;
    std::vector<float> f4(rows * cols);
    std::vector<double> f8(rows * cols);
    for (size_t k = 0; k < rows * cols; ++k) {
      f4[k] = k < 6 ? specials[k] : static_cast<float>(k) * 0.37f - 11.0f;
      f8[k] = static_cast<double>(k) * 0.1 + 0x1p-40;
    }
    char shape[64];  // (string concatenation here trips a false -Wrestrict in GCC 12)
    std::snprintf(shape, sizeof shape, "(%zu, %zu)", rows, cols);
    for (bool fortran : {false, true}) {
      for (int size : {4, 8}) {
        npy_file f;
        const std::string data = size == 4 ? raw(f4) : raw(f8);
        ASSERT_EQ(read_bytes(npy_bytes(dict(size == 4 ? "<f4" : "<f8", fortran, shape), data), &f),
                  npy_status::ok);
        for (size_t i = 0; i < rows; ++i) {
          for (size_t j = 0; j < cols; ++j) {
            const size_t k = fortran ? j * rows + i : i * cols + j;
            const double want = size == 4 ? static_cast<double>(f4[k]) : f8[k];
            ASSERT_TRUE(same_bits(at(f, i * cols + j), want)) << shape << fortran << size << " " << i << "," << j;
          }
        }
        npy_free(&f);
      }
    }
  }
}

// Versions 2.0 and 3.0 carry a 4-byte length; a header padded to 16 bytes
// only leaves the data off an 8-byte boundary in the mapping, so it is copied.
TEST(NpyReadFd, OtherVersionsAndAlignments) {
  std::vector<double> v = {1, 2, 3, 4};
  for (int major : {2, 3}) {
    npy_file f;
    ASSERT_EQ(read_bytes(npy_bytes(dict("<f8", false, "(2, 2)"), raw(v), major), &f), npy_status::ok);
    EXPECT_TRUE(same_bits(at(f, 3), 4.0));
    npy_free(&f);
  }
  npy_file f;
  std::string odd = npy_bytes(dict("<f8", false, "(2, 2)"), raw(v), 1, 4);
  if ((odd.size() - 32) % 8 == 0) odd = npy_bytes(dict("<f8", false, "(2, 2)") + "    ", raw(v), 1, 4);
  ASSERT_EQ((odd.size() - 32) % 8, 4u);
  ASSERT_EQ(read_bytes(odd, &f), npy_status::ok);
  EXPECT_NE(f.owned, nullptr);
  EXPECT_TRUE(same_bits(at(f, 2), 3.0));
  npy_free(&f);
  // Empty matrices: no rows, or rows of no columns.
  for (const char* shape : {"(0, 3)", "(4, 0)"}) {
    ASSERT_EQ(read_bytes(npy_bytes(dict("<f8", false, shape), ""), &f), npy_status::ok) << shape;
    EXPECT_EQ(static_cast<int64_t>(f.x.rows) * f.x.cols, 0);
    EXPECT_NE(f.x.data, nullptr);
    npy_free(&f);
  }
}

// The array starts where the descriptor stands (standard input redirected
// from a file that was partly read), and ends where the file ends.
TEST(NpyReadFd, ReadsFromTheCurrentOffset) {
  std::vector<double> v = {7, 8};
  int fd = open_text("skip" + npy_bytes(dict("<f8", false, "(1, 2)"), raw(v)), "offset.npy");
  ASSERT_EQ(lseek(fd, 4, SEEK_SET), 4);
  npy_file f;
  ASSERT_EQ(npy_read_fd(&f, fd), npy_status::ok);
  close(fd);
  EXPECT_TRUE(same_bits(at(f, 1), 8.0));
  npy_free(&f);
}

// Every share of the rows, in every layout, on and off page and 8-byte
// boundaries and after an offset, is exactly those rows of the whole read.
TEST(NpyReadRows, EverySharesRowsAreThoseOfTheWholeFile) {
  const size_t rows = 1100, cols = 3;  // 26400 bytes of doubles: several pages
  std::vector<float> f4(rows * cols);
  std::vector<double> f8(rows * cols);
  for (size_t k = 0; k < rows * cols; ++k) {
    f4[k] = static_cast<float>(k) * 0.37f - 11.0f;
    f8[k] = static_cast<double>(k) * 0.1 + 0x1p-40;
  }
  for (bool fortran : {false, true}) {
    for (int size : {4, 8}) {
      for (size_t align : {64, 4}) {
        const std::string bytes =
            "skip" + npy_bytes(dict(size == 4 ? "<f4" : "<f8", fortran, "(1100, 3)"), size == 4 ? raw(f4) : raw(f8),
                               1, align);
        const int fd = open_text(bytes, "rows.npy");
        ASSERT_EQ(lseek(fd, 4, SEEK_SET), 4);
        npy_file whole;
        ASSERT_EQ(npy_read_fd(&whole, fd), npy_status::ok);
        for (int64_t P = 1; P <= 5; ++P) {
          for (int64_t r = 0; r < P; ++r) {
            const int64_t first = 1100 * r / P, count = 1100 * (r + 1) / P - first;
            npy_file share;
            ASSERT_EQ(npy_read_rows(&share, fd, first, count), npy_status::ok);
            ASSERT_EQ(share.x.rows, count);
            for (int64_t k = 0; k < count * 3; ++k)
              ASSERT_TRUE(same_bits(at(share, k), at(whole, first * 3 + k)))
                  << fortran << size << align << " P " << P << " r " << r << " k " << k;
            npy_free(&share);
          }
        }
        npy_file f;
        EXPECT_EQ(npy_read_rows(&f, fd, 1000, 101), npy_status::read_failed);
        npy_free(&whole);
        close(fd);
      }
    }
  }
  // The same checks as a whole read: a file shorter than its shape needs.
  npy_file f;
  const int fd = open_text(npy_bytes(dict("<f8", false, "(1100, 3)"), raw(f8)).substr(0, 1000), "short_rows.npy");
  EXPECT_EQ(npy_read_rows(&f, fd, 0, 10), npy_status::data_size);
  close(fd);
}

TEST(NpyReadFd, RefusesFilesThatLieAboutThemselves) {
  std::vector<double> v = {1, 2, 3, 4, 5, 6};
  const std::string good = npy_bytes(dict("<f8", false, "(3, 2)"), raw(v));
  npy_file f;
  std::string wrong_version = good;
  wrong_version[6] = 4;
  EXPECT_EQ(read_bytes(wrong_version, &f), npy_status::bad_version);
  wrong_version[6] = 1;
  wrong_version[7] = 1;
  EXPECT_EQ(read_bytes(wrong_version, &f), npy_status::bad_version);
  EXPECT_EQ(read_bytes("\x93NUMPX" + good.substr(6), &f), npy_status::not_npy);
  EXPECT_EQ(read_bytes(good.substr(0, 7), &f), npy_status::header_cut);
  EXPECT_EQ(read_bytes(good.substr(0, 9), &f), npy_status::header_cut);
  EXPECT_EQ(read_bytes(good.substr(0, 40), &f), npy_status::header_cut);
  // Version 2.0 may claim a header of up to 4 GiB: refused unread.
  std::string claims = good.substr(0, 6) + std::string("\x02\x00\xff\xff\xff\x7f", 6) + "{}";
  EXPECT_EQ(read_bytes(claims, &f), npy_status::header_too_long);
  claims = good.substr(0, 6) + std::string("\x02\x00\x00\x00\x01\x00", 6) + "{}";
  EXPECT_EQ(read_bytes(claims, &f), npy_status::header_cut);
  std::string long_header = npy_bytes(dict("<f8", false, "(0, 2)") + std::string(npy_max_header, ' '), "", 2);
  EXPECT_EQ(read_bytes(long_header, &f), npy_status::header_too_long);
  EXPECT_EQ(read_bytes(npy_bytes(dict("<i8", false, "(3, 2)"), raw(v)), &f), npy_status::bad_dtype);
  EXPECT_STREQ(f.h.descr, "'<i8'");

  EXPECT_EQ(read_bytes(good.substr(0, good.size() - 1), &f), npy_status::data_size);
  EXPECT_EQ(f.data_found, 47);
  EXPECT_EQ(f.h.data_bytes, 48);
  EXPECT_EQ(read_bytes(good + "x", &f), npy_status::data_size);
  EXPECT_EQ(f.data_found, 49);
  // A shape of 2^31 - 1 rows over a few bytes is refused before any storage.
  EXPECT_EQ(read_bytes(npy_bytes(dict("<f8", true, "(2147483647, 1000)"), raw(v)), &f), npy_status::data_size);
  EXPECT_EQ(f.x.data, nullptr);
}

// Pipes: what the caller already took, then the descriptor, never past the array.
TEST(NpyReadStream, SplitAnywhereAndStopsAtTheArraysEnd) {
  std::vector<float> v = {1.5f, -2.5f, 3.25f, 0x1p-149f, 5, 6};
  const std::string file = npy_bytes(dict("<f4", true, "(2, 3)"), raw(v));
  for (size_t head : {size_t{0}, size_t{3}, size_t{9}, size_t{11}, size_t{70}, file.size()}) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::thread writer([&] {
      std::string rest = file.substr(head) + "after";
      if (write(fds[1], rest.data(), rest.size()) < 0) std::abort();
      close(fds[1]);
    });
    npy_file f;
    ASSERT_EQ(npy_read_stream(&f, fds[0], file.data(), head), npy_status::ok) << head;
    writer.join();
    // Column-major 2 x 3: row 0 holds elements 0, 2, 4.
    EXPECT_TRUE(same_bits(at(f, 1), 3.25));
    EXPECT_TRUE(same_bits(at(f, 3), -2.5));
    EXPECT_TRUE(same_bits(at(f, 4), 0x1p-149));
    char after[8] = {};
    EXPECT_EQ(read(fds[0], after, sizeof after), 5);
    EXPECT_STREQ(after, "after");
    npy_free(&f);
    close(fds[0]);
  }
}

TEST(NpyReadStream, ShortStreamsAreRefused) {
  std::vector<double> v(6, 1.0);
  const std::string file = npy_bytes(dict("<f8", false, "(3, 2)"), raw(v));
  const struct {
    std::string bytes;
    npy_status want;
  } cases[] = {
      {file.substr(0, 5), npy_status::not_npy},
      {file.substr(0, 9), npy_status::header_cut},
      {file.substr(0, 60), npy_status::header_cut},
      {file.substr(0, file.size() - 8), npy_status::data_size},
      // 10^9 rows promised, 48 bytes given.
      {npy_bytes(dict("<f8", false, "(1000000000, 2)"), raw(v)), npy_status::data_size},
      {npy_bytes(dict("<f8", false, "(3,)"), raw(v)), npy_status::not_2d},
  };
  for (const auto& c : cases) {
    int fd = open_text(c.bytes, "stream.npy");
    npy_file f;
    EXPECT_EQ(npy_read_stream(&f, fd, nullptr, 0), c.want) << c.bytes.size();
    EXPECT_EQ(f.x.data, nullptr);
    close(fd);
  }
}

TEST(NpyStructHeader, AsNumPyWritesIt) {
  const npy_field fields[] = {{"row", npy_type::i8}, {"dist_sq", npy_type::f8}};
  char out[256];
  const size_t n = npy_struct_header(out, sizeof out, fields, 2, 5);
  ASSERT_EQ(n, 128u);
  const std::string dict_text = "{'descr': [('row', '<i8'), ('dist_sq', '<f8')], 'fortran_order': False, 'shape': (5,), }";
  EXPECT_EQ(std::string(out, 10), std::string("\x93NUMPY\x01\x00\x76\x00", 10));
  EXPECT_EQ(std::string(out + 10, dict_text.size()), dict_text);
  EXPECT_EQ(std::string(out + 10 + dict_text.size(), n - 11 - dict_text.size()),
            std::string(n - 11 - dict_text.size(), ' '));
  EXPECT_EQ(out[n - 1], '\n');
  // The same length for any count, so a header can be rewritten in place.
  EXPECT_EQ(npy_struct_header(out, sizeof out, fields, 2, INT64_MAX), n);
  EXPECT_EQ(npy_struct_header(out, 100, fields, 2, 5), 0u);
  EXPECT_EQ(npy_record_size(fields, 2), 16);
  char b[8];
  npy_put_f8(b, -2.0);
  EXPECT_EQ(std::string(b, 8), std::string("\0\0\0\0\0\0\0\xc0", 8));
  npy_put_i8(b, -2);
  EXPECT_EQ(std::string(b, 8), std::string("\xfe\xff\xff\xff\xff\xff\xff\xff", 8));
}

}  // namespace
