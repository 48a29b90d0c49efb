// The matrix text read in byte ranges against one scan of the whole text:
// every cut (inside a number, inside white space, between rows) must give
// the same numbers, bit for bit, and the same verdict; and the rows handed
// on must arrive whole, in order.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "matvec.hpp"
#include "scan.hpp"
#include "test_support.hpp"
#include "text_share.hpp"
#include "work.hpp"

namespace {

struct text_file {
  std::string path;
  int fd;
  int64_t size;
  explicit text_file(const std::string& text) {
    char name[] = "/tmp/text_share_XXXXXX";
    fd = ::mkstemp(name);
    path = name;
    size = static_cast<int64_t>(text.size());
    EXPECT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  ~text_file() {
    ::close(fd);
    ::unlink(path.c_str());
  }
};

// One process's reading: the numbers of the body up to the first that does
// not convert, and whether one did not (rather than the text ending). The
// scans run over the whole text at once, and the file reader that kcenter
// uses alone must convert exactly as many.
struct whole_scan {
  int32_t rows = 0, cols = 0;
  std::vector<double> values;
  bool failed = false;
};

whole_scan scan_whole(const std::string& text, int fd) {
  whole_scan w;
  const char* p = text.data();
  const char* const end = p + text.size();
  int64_t shape[2] = {0, 0};
  for (int64_t& x : shape) {
    const scan_result r = scan_int(p, end, true, &x);
    EXPECT_EQ(r.status, scan_status::converted);
    p = r.next;
  }
  w.rows = static_cast<int32_t>(shape[0]);
  w.cols = static_cast<int32_t>(shape[1]);
  for (;;) {
    double v;
    const scan_result r = scan_double(p, end, true, &v);
    if (r.status != scan_status::converted) {
      w.failed = r.status == scan_status::mismatch;
      break;
    }
    w.values.push_back(v);
    p = r.next;
  }
  ::lseek(fd, 0, SEEK_SET);
  scan_reader r;
  scan_reader_open(&r, fd);
  int32_t rows = 0, cols = 0;
  EXPECT_EQ(mat_read_shape(&r, &rows, &cols), 2);
  std::vector<double> read(w.values.size() + 1);
  EXPECT_EQ(scan_reader_doubles(&r, read.data(), static_cast<int64_t>(read.size())),
            static_cast<int64_t>(w.values.size()));
  scan_reader_close(&r);
  return w;
}

// The ranges cut at `edges` (inside the body), joined as the processes join
// them: every range's numbers up to the first range that failed.
void expect_same_in_ranges(const text_file& f, const whole_scan& want, std::vector<int64_t> edges,
                           const std::string& label) {
  text_window w;
  text_window_open(&w, f.fd, f.size);
  text_shape shape;
  ASSERT_TRUE(text_read_shape(&w, &shape));
  ASSERT_EQ(shape.converted, 2);
  EXPECT_EQ(shape.rows, want.rows);
  edges.insert(edges.begin(), shape.body);
  edges.push_back(f.size);
  std::vector<double> got;
  bool failed = false;
  for (size_t i = 0; i + 1 < edges.size() && !failed; ++i) {
    text_range r;
    ASSERT_TRUE(text_scan_range(&w, shape.body, edges[i], edges[i + 1], &r)) << label;
    got.insert(got.end(), r.values, r.values + r.count);
    failed = r.failed;
    work_free(r.values);
  }
  text_window_close(&w);
  ASSERT_EQ(got.size(), want.values.size()) << label;
  for (size_t i = 0; i < got.size(); ++i) EXPECT_TRUE(same_bits(got[i], want.values[i])) << label << " number " << i;
  EXPECT_EQ(failed, want.failed) << label;
}

// Every cut into two ranges and, for short texts, into three.
void expect_every_cut(const std::string& text) {
  text_file f(text);
  const whole_scan want = scan_whole(text, f.fd);
  text_window w;
  text_window_open(&w, f.fd, f.size);
  text_shape shape;
  ASSERT_TRUE(text_read_shape(&w, &shape));
  text_window_close(&w);
  const int64_t step = f.size > 400 ? f.size / 97 : 1;
  for (int64_t a = shape.body; a <= f.size; a += step) {
    expect_same_in_ranges(f, want, {a}, "cut at " + std::to_string(a) + " of [" + text + "]");
    if (f.size > 80) continue;
    for (int64_t b = a; b <= f.size; ++b)
      expect_same_in_ranges(f, want, {a, b}, "cuts at " + std::to_string(a) + ", " + std::to_string(b));
  }
}

TEST(TextScanRange, ReadsWhatOneScanReadsWhereverTheTextIsCut) {
  // White space of every kind, numbers of every form "%lf" takes.
  expect_every_cut("3 2\n1.5 -2\n  .5e3\t0x1p3\r\n-inf 1e400\n");
  // Numbers that follow one another without white space, and what a scan
  // starting inside them would read otherwise: "1.5.3" is 1.5 and .3,
  // "1e+" converts as 1, "-4e2+5" is -400 and +5, "0x1p-2p" is 0.25 then p.
  expect_every_cut("2 4 1.5.3-4e2+5 1e+ 7 12.25e-1.5 0x1p-2 3");
  // The shape's last digit followed at once by the body.
  expect_every_cut("2 1.5 3");
  // Text after the matrix, read like any other text.
  expect_every_cut("1 2 1 2 3 4 trailing words 5");
}

TEST(TextScanRange, StopsAtTheSameNumberThatDoesNotConvert) {
  expect_every_cut("3 1 1 2 x 4");
  // "nx5" fails on "nx" (consumed), "infin" on the blank after it.
  expect_every_cut("2 2 1 nx5 3 4");
  expect_every_cut("2 1 7 infin 5");
  expect_every_cut("4 1 nan -nan 1..2 3");
  expect_every_cut("2 2 1 2 3");  // short
}

TEST(TextScanRange, FindsTheStartOfNumbersFarBeforeTheCut) {
  // A run of 12000 characters without white space, cut anywhere: the
  // range must go back past several of its reads to the run's start.
  std::string run = "4000 1 ";
  for (int i = 0; i < 4000; ++i) run += i % 2 ? "-7" : "-1.";
  expect_every_cut(run);
  // A number longer than the window's first buffer, and white space as long.
  std::string longer = "2 1 " + std::string(3 << 20, '0') + "1.5" + std::string(5000, ' ') + "2";
  text_file f(longer);
  const whole_scan want = scan_whole(longer, f.fd);
  ASSERT_EQ(want.values.size(), 2u);
  for (int64_t cut : {int64_t{5}, int64_t{1} << 20, (int64_t{3} << 20) + 2, (int64_t{3} << 20) + 4000})
    expect_same_in_ranges(f, want, {cut}, "long number cut at " + std::to_string(cut));
}

TEST(TextRangeEdge, CutsEvenlyWithoutOverflow) {
  EXPECT_EQ(text_range_edge(10, 20, 0, 3), 10);
  EXPECT_EQ(text_range_edge(10, 20, 1, 3), 13);
  EXPECT_EQ(text_range_edge(10, 20, 3, 3), 20);
  const int64_t big = int64_t{1} << 62;
  EXPECT_EQ(text_range_edge(0, big, 3, 4), big / 4 * 3);
}

// Each process's rows, assembled as the plan says from the numbers each
// range holds, must be exactly its rows' numbers; every row has one owner.
TEST(TextPlanFor, HandsEveryRowWholeToTheProcessWhereItStarts) {
  std::mt19937_64 gen(7);
  for (int trial = 0; trial < 3000; ++trial) {
    const int P = 1 + static_cast<int>(gen() % 6);
    const int64_t cols = 1 + static_cast<int64_t>(gen() % 5);
    const int64_t rows = static_cast<int64_t>(gen() % 9);
    const int64_t elements = rows * cols;
    // Random counts that cover the matrix, some ranges empty, some past its end.
    std::vector<int64_t> counts(static_cast<size_t>(P));
    int64_t total = 0;
    for (int q = 0; q < P; ++q) {
      counts[static_cast<size_t>(q)] = gen() % 3 == 0 ? 0 : static_cast<int64_t>(gen() % (elements + 3));
      total += counts[static_cast<size_t>(q)];
    }
    counts.back() += std::max<int64_t>(0, elements - total);
    std::vector<int64_t> pre(1, 0);
    for (int64_t c : counts) pre.push_back(pre.back() + c);

    int64_t next_row = 0;
    for (int p = 0; p < P; ++p) {
      const text_plan plan = text_plan_for(counts, rows, cols, p);
      SCOPED_TRACE("trial " + std::to_string(trial) + " process " + std::to_string(p));
      ASSERT_EQ(plan.first_row, next_row);
      next_row += plan.rows;
      // A process keeps and sends only numbers its range holds.
      const int64_t held = counts[static_cast<size_t>(p)];
      ASSERT_TRUE(plan.keep_from >= 0 && plan.keep >= 0 && plan.keep_from + plan.keep <= held);
      ASSERT_TRUE(plan.send >= 0 && plan.send <= held && (plan.keep == 0 || plan.send <= plan.keep_from));
      // Numbers are named by their index in the whole body.
      std::vector<int64_t> got;
      for (int64_t i = 0; i < plan.keep; ++i) got.push_back(pre[static_cast<size_t>(p)] + plan.keep_from + i);
      for (int q = p + 1; q < P; ++q) {
        const int64_t n = plan.recv[static_cast<size_t>(q)];
        const text_plan from = text_plan_for(counts, rows, cols, q);
        if (n > 0) {
          ASSERT_EQ(from.send_to, p);
          ASSERT_EQ(from.send, n);
        }
        for (int64_t i = 0; i < n; ++i) got.push_back(pre[static_cast<size_t>(q)] + i);
      }
      std::vector<int64_t> want;
      for (int64_t i = plan.first_row * cols; i < (plan.first_row + plan.rows) * cols; ++i) want.push_back(i);
      ASSERT_EQ(got, want);
    }
    ASSERT_EQ(next_row, rows);
  }
}

}  // namespace
