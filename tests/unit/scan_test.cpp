#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "internal.hpp"
#include "test_support.hpp"

namespace {

// One "%lf" conversion from the whole text, as scan_double sees it.
struct scanned {
  int status;  // 1 converted, 0 failed, -1 end of input (scanf's return value)
  double value;
  long consumed;
};

std::vector<scanned> scan_all(const std::string& text, int attempts) {
  std::vector<scanned> out;
  const char* p = text.data();
  const char* end = p + text.size();
  for (int i = 0; i < attempts; ++i) {
    double v = -777.0;
    scan_result r = scan_double(p, end, true, &v);
    EXPECT_NE(r.status, scan_status::need_more);
    int st = r.status == scan_status::converted ? 1 : r.status == scan_status::end_of_input ? -1 : 0;
    p = r.next;
    out.push_back({st, v, static_cast<long>(p - text.data())});
  }
  return out;
}

std::vector<scanned> fscanf_all(const std::string& text, int attempts) {
  std::vector<scanned> out;
  std::string copy = text;  // fmemopen wants a writable buffer of at least one byte
  copy.push_back('\0');
  FILE* f = fmemopen(copy.data(), text.size() == 0 ? 1 : text.size(), "r");
  const long placeholder = text.empty() ? 1 : 0;
  if (placeholder) std::fgetc(f);  // the one placeholder byte, consumed
  for (int i = 0; i < attempts; ++i) {
    double v = -777.0;
    int st = std::fscanf(f, "%lf", &v);
    out.push_back({st, v, std::ftell(f) - placeholder});
  }
  std::fclose(f);
  return out;
}

void expect_same_as_fscanf(const std::string& text, int attempts, const std::string& why) {
  auto got = scan_all(text, attempts);
  auto want = fscanf_all(text, attempts);
  for (int i = 0; i < attempts; ++i) {
    ASSERT_EQ(got[i].status, want[i].status) << why << " attempt " << i << " [" << text << "]";
    ASSERT_TRUE(same_bits(got[i].value, want[i].value)) << why << " attempt " << i << " [" << text << "]";
    ASSERT_EQ(got[i].consumed, want[i].consumed) << why << " attempt " << i << " [" << text << "]";
  }
}

double strtod_of(const std::string& s) { return std::strtod(s.c_str(), nullptr); }

TEST(ScanDouble, EveryFormPeopleWriteEqualsStrtod) {
  const char* forms[] = {"-2.5", "+1.5", ".5", "5.", "1E-3", "1e+3", "-0", "0", "007", "inf", "-infinity",
                         "INF", "Infinity", "nan", "-nan", "NaN", "0x1p3", "-0X1.8P-2", "0x.8", "0xAbC",
                         "1e400", "-1e400", "1e-400", "4.9e-324", "2.2250738585072011e-308",
                         "2.4703282292062327e-324", "2.4703282292062328e-324", "1.7976931348623157e308",
                         "1.7976931348623158e308", "179769313486231580793728971405301e276",
                         "0.1000000000000000055511151231257827021181583404541015625",
                         "9007199254740993", "123456789012345678901234567890"};
  for (const char* f : forms) {
    double v = -1;
    std::string s = f;
    scan_result r = scan_double(s.data(), s.data() + s.size(), true, &v);
    ASSERT_EQ(r.status, scan_status::converted) << f;
    EXPECT_EQ(r.next, s.data() + s.size()) << f;
    EXPECT_TRUE(same_bits(v, strtod_of(s))) << f;
  }
}

// Random well-formed decimal and hex numbers, compared with strtod bit for bit.
std::string random_number(std::mt19937_64& g) {
  auto pick = [&](int n) { return static_cast<int>(g() % static_cast<uint64_t>(n)); };
  std::string s;
  int sign = pick(3);
  if (sign == 1) s += '-';
  if (sign == 2) s += '+';
  bool hex = pick(8) == 0;
  const char* digits = hex ? "0123456789abcdefABCDEF" : "0123456789";
  int ndig = hex ? 22 : 10;
  if (hex) s += pick(2) ? "0x" : "0X";
  int before = pick(4) == 0 ? pick(40) : pick(6);
  int after = pick(3) == 0 ? 0 : pick(pick(5) == 0 ? 40 : 8);
  if (before + after == 0) before = 1;
  for (int i = 0; i < before; ++i) s += digits[pick(ndig)];
  if (after > 0 || pick(4) == 0) s += '.';
  for (int i = 0; i < after; ++i) s += digits[pick(ndig)];
  if (pick(2)) {
    s += hex ? (pick(2) ? 'p' : 'P') : (pick(2) ? 'e' : 'E');
    int es = pick(3);
    if (es == 1) s += '-';
    if (es == 2) s += '+';
    int range = hex ? 1100 : 340;
    s += std::to_string(pick(4) == 0 ? pick(range) : pick(30));
  }
  return s;
}

TEST(ScanDouble, RandomNumbersEqualStrtod) {
  const uint64_t seed = 20261208;
  std::mt19937_64 g(seed);
  for (int i = 0; i < 1000000; ++i) {
    std::string s = random_number(g);
    double v = -1;
    scan_result r = scan_double(s.data(), s.data() + s.size(), true, &v);
    ASSERT_EQ(r.status, scan_status::converted) << "seed " << seed << " token " << s;
    ASSERT_EQ(r.next, s.data() + s.size()) << "seed " << seed << " token " << s;
    ASSERT_TRUE(same_bits(v, strtod_of(s))) << "seed " << seed << " token " << s;
  }
}

// Near-misses of every form: the scanner must take, convert and leave
// exactly what the C library's scanf does, failures included.
TEST(ScanDouble, SequencesBehaveLikeFscanf) {
  const char* cases[] = {"1ex 5", "1e 5", "nx5", "nan(12) 3", "infin 4", "infinite 4", "infx", "-x 3",
                         "0x 3", "0x.p1 3", "0xp3 2", "1e+ 3", "1e+x", ".e5 2", "1.5.5", "0x1.8p1x",
                         "0x1e+3", "+-3", "infinity5", "0X1P", "00x5", "e5 3", "-", "+", ".", "-.",
                         "n", "na", "-i", "inF", "infinit", "\v\f 12\n", "", "   ", "1,5", "0x1p-", "5e5e5"};
  for (const char* c : cases) expect_same_as_fscanf(c, 4, "fixed case");

  const uint64_t seed = 77;
  std::mt19937_64 g(seed);
  const std::string alphabet = "0123456789.eE+-xXpPaAnNiIfFtTyYb \t\n,";
  for (int i = 0; i < 100000; ++i) {
    std::string s;
    int len = static_cast<int>(g() % 14);
    for (int j = 0; j < len; ++j) s += alphabet[g() % alphabet.size()];
    if (g() % 4 == 0) s = random_number(g) + " " + s;
    expect_same_as_fscanf(s, 5, "seed 77 case " + std::to_string(i));
    if (HasFatalFailure()) return;
  }
}

TEST(ScanDouble, RangeEndingInsideANumberAsksForMore) {
  const std::string s = "  12.5";
  double v = 0;
  scan_result r = scan_double(s.data(), s.data() + s.size(), false, &v);
  EXPECT_EQ(r.status, scan_status::need_more);
  EXPECT_EQ(r.next, s.data() + 2);  // white space consumed, the number not
  r = scan_double(s.data(), s.data() + 2, false, &v);
  EXPECT_EQ(r.status, scan_status::need_more);
  r = scan_double(s.data(), s.data() + s.size(), true, &v);
  EXPECT_EQ(r.status, scan_status::converted);
  EXPECT_TRUE(same_bits(v, 12.5));
}

TEST(ScanInt, LikePercentD) {
  auto scan = [](const std::string& s, int64_t* v) {
    return scan_int(s.data(), s.data() + s.size(), true, v);
  };
  int64_t v = 0;
  std::string s = " -42x";
  scan_result r = scan(s, &v);
  EXPECT_EQ(r.status, scan_status::converted);
  EXPECT_EQ(v, -42);
  EXPECT_EQ(*r.next, 'x');
  s = "+ 1";
  r = scan(s, &v);
  EXPECT_EQ(r.status, scan_status::mismatch);
  EXPECT_EQ(r.next, s.data() + 1);  // the sign is consumed
  s = "\n\t ";
  EXPECT_EQ(scan(s, &v).status, scan_status::end_of_input);
  s = "99999999999999999999999";
  EXPECT_EQ(scan(s, &v).status, scan_status::converted);
  EXPECT_EQ(v, INT64_MAX);
  s = "-99999999999999999999999";
  scan(s, &v);
  EXPECT_EQ(v, INT64_MIN);
  s = "-9223372036854775808";
  scan(s, &v);
  EXPECT_EQ(v, INT64_MIN);
}

// Standard input as a pipe fed a few bytes at a time: numbers straddle every
// refill, and the values must be those of one scan over the whole text.
TEST(StdinRead, NumbersSplitAcrossReadsConvertAsWhole) {
  std::mt19937_64 g(5);
  std::string text;
  for (int i = 0; i < 3000; ++i) text += random_number(g) + (i % 7 == 0 ? "\n" : " ");
  text += "1e 5 nan(1) 0x";  // failures at the end, with a number between them
  const int n = 3006;
  auto want = scan_all(text, n);

  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::thread writer([&] {
    size_t pos = 0;
    std::mt19937_64 w(9);
    while (pos < text.size()) {
      size_t len = std::min<size_t>(1 + w() % 7, text.size() - pos);
      if (write(fds[1], text.data() + pos, len) < 0) break;
      pos += len;
    }
    close(fds[1]);
  });
  int saved = dup(0);
  dup2(fds[0], 0);
  close(fds[0]);
  stdin_reset();
  std::vector<double> got(n, -777.0);
  int64_t count = stdin_read_doubles(got.data(), n);
  writer.join();
  dup2(saved, 0);
  close(saved);
  stdin_reset();

  int64_t want_count = 0;
  for (int i = 0; i < n; ++i) {
    if (want[i].status == 1) ++want_count;
    ASSERT_TRUE(same_bits(got[i], want[i].value)) << "element " << i;
  }
  EXPECT_EQ(count, want_count);
}

TEST(StdinRead, NumberLongerThanTheBuffer) {
  // 0.000...01e+N with N zeros: 0.1, spelled in more than 3 MB.
  std::string zeros(3 << 20, '0');
  std::string text = "0." + zeros + "1e+" + std::to_string(3 << 20) + " 2";
  set_stdin_text(text);
  double v[2] = {0, 0};
  EXPECT_EQ(stdin_read_doubles(v, 2), 2);
  EXPECT_TRUE(same_bits(v[0], 0.1));
  EXPECT_TRUE(same_bits(v[1], 2.0));
}

// A program driving another over a pipe writes a number, then waits for the
// answer with the pipe still open: a long number must be taken once the
// white space after it arrives, not when the pipe closes. The writer closes
// the pipe only after the reader is done, or after 30 seconds if it never is.
TEST(ScanReader, LongNumberIsTakenBeforeThePipeCloses) {
  const std::string text = "0." + std::string(100000, '0') + "25e+100000 ";
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::mutex m;
  std::condition_variable cv;
  bool done = false, closed = false;
  std::thread writer([&] {
    if (write(fds[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::abort();
    std::unique_lock<std::mutex> lock(m);
    cv.wait_for(lock, std::chrono::seconds(30), [&] { return done; });
    closed = true;
    close(fds[1]);
  });
  scan_reader r;
  scan_reader_open(&r, fds[0]);
  double v[2] = {0, 0};
  int64_t got = scan_reader_doubles(&r, v, 1);
  {
    std::lock_guard<std::mutex> lock(m);
    EXPECT_FALSE(closed) << "the reader waited for the end of input";
    done = true;
  }
  cv.notify_one();
  writer.join();
  EXPECT_EQ(got, 1);
  EXPECT_TRUE(same_bits(v[0], 0.25));
  // Nothing more arrives: the next attempt meets the end of input.
  EXPECT_EQ(scan_reader_doubles(&r, v + 1, 1), 0);
  scan_reader_close(&r);
  close(fds[0]);
}

// Two readers over two descriptors keep apart; peeking consumes nothing.
TEST(ScanReader, ReadersOverFilesKeepTheirOwnPlace) {
  std::string a = temp_name("reader_a"), b = temp_name("reader_b");
  FILE* f = std::fopen(a.c_str(), "wb");
  std::fputs("2 1\n0x1p-3 7 tail", f);
  std::fclose(f);
  f = std::fopen(b.c_str(), "wb");
  std::fputs("  -4 x", f);
  std::fclose(f);
  int fa = open(a.c_str(), O_RDONLY), fb = open(b.c_str(), O_RDONLY);
  scan_reader ra, rb;
  scan_reader_open(&ra, fa);
  scan_reader_open(&rb, fb);
  ASSERT_EQ(scan_reader_peek(&ra, 3), 17);
  EXPECT_EQ(std::string(ra.data + ra.pos, 3), "2 1");
  int32_t rows = 0, cols = 0, i = 0;
  EXPECT_EQ(mat_read_shape(&ra, &rows, &cols), 2);
  EXPECT_TRUE(scan_reader_int32(&rb, &i));
  EXPECT_EQ(i, -4);
  mat A;
  mat_malloc(&A, rows, cols);
  EXPECT_EQ(mat_read(&ra, &A), 2);
  EXPECT_TRUE(same_bits(A.data[0], 0.125));
  EXPECT_TRUE(same_bits(A.data[1], 7.0));
  EXPECT_FALSE(scan_reader_int32(&rb, &i));
  EXPECT_FALSE(ra.no_memory || ra.read_error || rb.no_memory || rb.read_error);
  mat_free(&A);
  scan_reader_close(&ra);
  scan_reader_close(&rb);
  scan_reader_close(&rb);
  close(fa);
  close(fb);
}

// A directory opens but cannot be read: an error, not an empty input.
TEST(ScanReader, ReadErrorIsTold) {
  int fd = open(testing::TempDir().c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  scan_reader r;
  scan_reader_open(&r, fd);
  int32_t v = 0;
  EXPECT_FALSE(scan_reader_int32(&r, &v));
  EXPECT_TRUE(r.at_end && r.read_error);
  scan_reader_close(&r);
  close(fd);
}

TEST(StdinRead, StopsEarlyOnceNothingCanConvert) {
  set_stdin_text("1 2");
  std::vector<double> v(1000000, 0.0);
  EXPECT_EQ(stdin_read_doubles(v.data(), static_cast<int64_t>(v.size())), 2);
  set_stdin_text("1 x 3");
  EXPECT_EQ(stdin_read_doubles(v.data(), static_cast<int64_t>(v.size())), 1);
}

// Megabytes of numbers through standard input, as a file: the values, the
// failures and the count must be those of fscanf("%lf") over the same text.
// Most numbers take the direct path; the others, sprinkled among them, take
// the scanner, and the text crosses several refills of the buffer.
TEST(StdinRead, LargeTextEqualsFscanf) {
  const uint64_t seed = 4242;
  std::mt19937_64 g(seed);
  // Failures among them leave nothing behind that could not start a number
  // (after "1ex" the "x" would stop every later attempt).
  const char* others[] = {"+1.5", "0x1p3", "-0X.8p1", "inf", "-Infinity", "nan", "-nan", "1e400", "-1e-400",
                          "4.9e-324", "1e+", "1e-", "nx", "0x", "infinit", "1.5.5", "-", "+", "."};
  const char* gaps[] = {" ", "\n", "\t", "  ", "\r\n", "\v", "\f", " \n\t "};
  std::string text;
  int attempts = 0;
  while (text.size() < (5u << 20)) {
    text += g() % 100 == 0 ? others[g() % std::size(others)] : random_number(g);
    text += gaps[g() % std::size(gaps)];
    ++attempts;
  }
  // "%lf" takes "nan" alone, and the "(7)" after it stops every later
  // attempt; strtod and from_chars would take "nan(7)" whole.
  text += "nan(7) 17";
  attempts += 2;

  auto want = fscanf_all(text, attempts);
  set_stdin_text(text);
  std::vector<double> got(attempts, -777.0);
  int64_t count = stdin_read_doubles(got.data(), attempts);
  int64_t want_count = 0;
  for (int i = 0; i < attempts; ++i) {
    if (want[i].status == 1) ++want_count;
    ASSERT_TRUE(same_bits(got[i], want[i].value)) << "seed " << seed << " attempt " << i;
  }
  EXPECT_EQ(count, want_count);
  EXPECT_GT(count, attempts * 98 / 100);
}

}  // namespace
