#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "formats.hpp"
#include "internal.hpp"
#include "test_support.hpp"

namespace {

// ---- helpers -------------------------------------------------------------------

// The pieces joined (GCC 12 warns wrongly of overlaps in chains of +).
std::string cat(std::initializer_list<std::string> pieces) {
  std::string s;
  for (const std::string& p : pieces) s.append(p);
  return s;
}

fmt_error err_of() { return fmt_error{}; }

bool read_csv(const std::string& text, fmt_matrix* m, fmt_error* e, csv_delimiter d = csv_delimiter::detect,
              const std::vector<std::string>* picks = nullptr, bool header = false) {
  const csv_options o{d, header, picks};
  return csv_read(text.data(), static_cast<int64_t>(text.size()), &o, m, e);
}

double at(const fmt_matrix& m, int64_t i, int64_t j) { return rows_at(&m.rows, i, j); }

// Every value of m against `want`, row-major, bit for bit.
void expect_values(const fmt_matrix& m, int32_t rows, int32_t cols, const std::vector<double>& want) {
  ASSERT_EQ(m.rows.rows, rows);
  ASSERT_EQ(m.rows.cols, cols);
  for (int32_t i = 0; i < rows; ++i)
    for (int32_t j = 0; j < cols; ++j) EXPECT_TRUE(same_bits(at(m, i, j), want[static_cast<size_t>(i * cols + j)])) << i << "," << j;
}

double scanned(const std::string& token) {
  double v = 0.0;
  const scan_result r = scan_double(token.data(), token.data() + token.size(), true, &v);
  EXPECT_EQ(r.status, scan_status::converted) << token;
  return v;
}

// ---- CSV and tables ---------------------------------------------------------------------

TEST(CsvRead, EveryNumberIsWhatScanfReadsWhateverTheDelimiter) {
  // Plain decimals (the fast path), and the forms only scanf's rules decide.
  std::mt19937_64 rng(7);
  std::vector<std::string> tokens = {"+1.5", "0x1p-3", "-inf", "nan", "1e400", "4.9e-324", "-.5", "1e", "2.5E+3", "7."};
  for (int k = 0; k < 300; ++k) {
    char buf[40];
    const double v = std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 80) - 100);
    std::snprintf(buf, sizeof buf, k % 3 == 0 ? "%.17g" : k % 3 == 1 ? "%.3f" : "-%.9e", v);
    tokens.push_back(buf);
  }
  while (tokens.size() % 3 != 0) tokens.push_back("0");
  for (const char* sep : {",", ";", "\t", " ", "  \t ", " , "}) {
    std::string text = "# a comment\n\n";
    std::vector<double> want;
    for (size_t t = 0; t < tokens.size(); ++t) {
      text += tokens[t];
      text += t % 3 == 2 ? (t % 2 ? "\r\n" : "\n") : sep;
      want.push_back(scanned(tokens[t]));
    }
    fmt_matrix m;
    fmt_error e = err_of();
    ASSERT_TRUE(read_csv(text, &m, &e)) << "[" << sep << "] " << e.line << ":" << e.column;
    expect_values(m, static_cast<int32_t>(tokens.size() / 3), 3, want);
    EXPECT_TRUE(m.names.empty());
    fmt_matrix_free(&m);
  }
}

TEST(CsvRead, HeaderRowsAndPickedColumns) {
  const std::string text = "id,x,label,y\n7,1.5,cat,2\n8,-3,dog,4e1\n";
  fmt_matrix m;
  fmt_error e = err_of();
  // Without picks, a text column is refused at its first value.
  ASSERT_FALSE(read_csv(text, &m, &e));
  EXPECT_EQ(e.status, fmt_status::csv_not_number);
  EXPECT_EQ(e.line, 2);
  EXPECT_EQ(e.column, 2);
  EXPECT_EQ(e.text, "cat");
  fmt_matrix_free(&m);
  // Picked by name and index, in the order given; the other fields are not read.
  const std::vector<std::string> picks = {"y", "1"};
  ASSERT_TRUE(read_csv(text, &m, &e, csv_delimiter::detect, &picks));
  expect_values(m, 2, 2, {2, 1.5, 40, -3});
  EXPECT_EQ(m.names, (std::vector<std::string>{"y", "x"}));
  fmt_matrix_free(&m);
  // A first row with a number in it is data; --header makes it names.
  ASSERT_TRUE(read_csv("1,2\n3,4\n", &m, &e));
  EXPECT_EQ(m.rows.rows, 2);
  fmt_matrix_free(&m);
  ASSERT_TRUE(read_csv("1,2\n3,4\n", &m, &e, csv_delimiter::detect, nullptr, true));
  expect_values(m, 1, 2, {3, 4});
  EXPECT_EQ(m.names, (std::vector<std::string>{"1", "2"}));
  fmt_matrix_free(&m);
  // A header and no rows: 0 rows of its columns.
  ASSERT_TRUE(read_csv("a b c\n", &m, &e, csv_delimiter::blanks));
  EXPECT_EQ(m.rows.rows, 0);
  EXPECT_EQ(m.rows.cols, 3);
  fmt_matrix_free(&m);
}

TEST(CsvRead, RefusesWithLineAndColumn) {
  struct refusal {
    const char* text;
    fmt_status status;
    int64_t line, column;
  };
  const refusal cases[] = {
      {"1,2,3\n4,5\n", fmt_status::csv_ragged, 2, 2},
      {"1,2\n\n# note\n4,5,6\n", fmt_status::csv_ragged, 4, 3},
      {"1,2\n3,\n", fmt_status::csv_empty, 2, 1},
      {"1,2\n3,\"4\"\n", fmt_status::csv_quoted, 2, 1},
      {"\"x\",y\n1,2\n", fmt_status::csv_quoted, 1, 0},
      {"1 2\n3 4x\n", fmt_status::csv_not_number, 2, 1},
      {"1;2\n3;4 5\n", fmt_status::csv_not_number, 2, 1},
      {",x,y\n0,1,2\n", fmt_status::unnamed_column, 1, 0},
  };
  for (const refusal& c : cases) {
    fmt_matrix m;
    fmt_error e = err_of();
    EXPECT_FALSE(read_csv(c.text, &m, &e)) << c.text;
    EXPECT_EQ(e.status, c.status) << c.text;
    EXPECT_EQ(e.line, c.line) << c.text;
    EXPECT_EQ(e.column, c.column) << c.text;
    fmt_matrix_free(&m);
  }
  // Picks that name nothing, or a column twice.
  const std::string text = "a,b,a\n1,2,3\n";
  for (const auto& [picks, status] : std::vector<std::pair<std::vector<std::string>, fmt_status>>{
           {{"c"}, fmt_status::no_column_named}, {{"3"}, fmt_status::no_column_index},
           {{"b", "1"}, fmt_status::column_twice}, {{"a"}, fmt_status::name_twice}}) {
    fmt_matrix m;
    fmt_error e = err_of();
    EXPECT_FALSE(read_csv(text, &m, &e, csv_delimiter::detect, &picks));
    EXPECT_EQ(e.status, status) << picks[0];
    fmt_matrix_free(&m);
  }
}

TEST(CsvReadFd, APipeReadsAsTheWholeText) {
  // More than one buffer, a line longer than one, and a head already taken.
  std::string text = "a,b,c\n";
  for (int i = 0; i < 150000; ++i) text += std::to_string(i) + ".25,-" + std::to_string(i) + ",1e-3\n";
  text += std::string(3 << 20, ' ') + "1,2,3\n7,8,9";
  fmt_matrix want, got;
  fmt_error e = err_of();
  ASSERT_TRUE(read_csv(text, &want, &e));
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::thread writer([&] {
    if (write(fds[1], text.data() + 4, text.size() - 4) < 0) std::abort();
    close(fds[1]);
  });
  const csv_options o{csv_delimiter::detect, false, nullptr};
  ASSERT_TRUE(csv_read_fd(fds[0], text.data(), 4, &o, &got, &e));
  writer.join();
  close(fds[0]);
  ASSERT_EQ(got.rows.rows, 150002);
  EXPECT_EQ(got.names, want.names);
  EXPECT_EQ(std::memcmp(got.rows.data, want.rows.data, sizeof(double) * 3 * 150002), 0);
  fmt_matrix_free(&want);
  fmt_matrix_free(&got);
}

// ---- PLY --------------------------------------------------------------------------

// x y z as float, a short, a list, and a second element after the vertices,
// in each of the three formats.
const float xs[3][3] = {{0.1f, -2.5f, 3e-8f}, {1.0f, 0.0f, -0.0f}, {7.25f, 1e30f, -1.5f}};
const int16_t tags[3] = {-300, 0, 32767};

std::string header(const char* format) {
  return cat({"ply\r\nformat ", format,
              " 1.0\ncomment kept\nelement vertex 3\nproperty float x\nproperty float y\nproperty float z\n"
              "property short tag\nproperty list uchar int near\nelement face 1\nproperty list uchar int vertex_indices\n"
              "end_header\n"});
}

template <class T>
void put(std::string* s, T v, bool big) {
  char b[sizeof(T)];
  std::memcpy(b, &v, sizeof v);
  if (big) std::reverse(b, b + sizeof b);
  s->append(b, sizeof b);
}

std::string ply_file_of(const char* format) {
  std::string s = header(format);
  const bool ascii = !std::strcmp(format, "ascii"), big = !std::strcmp(format, "binary_big_endian");
  for (int i = 0; i < 3; ++i) {
    if (ascii) {
      char line[160];
      std::snprintf(line, sizeof line, "%.9g %.9g %.9g %d %d", xs[i][0], xs[i][1], xs[i][2], tags[i], i);
      s += line;
      for (int k = 0; k < i; ++k) s += cat({" ", std::to_string(k)});
      s += "\n";
      continue;
    }
    for (float x : xs[i]) put(&s, x, big);
    put(&s, tags[i], big);
    put(&s, static_cast<uint8_t>(i), big);
    for (int k = 0; k < i; ++k) put(&s, static_cast<int32_t>(k), big);
  }
  if (ascii) return s + "3 0 1 2\n\n";
  put(&s, static_cast<uint8_t>(3), big);
  for (int32_t k = 0; k < 3; ++k) put(&s, k, big);
  return s;
}

TEST(PlyRead, TheThreeFormatsGiveTheSameValues) {
  for (const char* format : {"ascii", "binary_little_endian", "binary_big_endian"}) {
    const std::string s = ply_file_of(format);
    ply_file f;
    fmt_matrix m;
    fmt_error e = err_of();
    ASSERT_TRUE(ply_read(s.data(), static_cast<int64_t>(s.size()), nullptr, false, &f, &m, &e))
        << format << " " << static_cast<int>(e.status) << " " << e.text;
    // Floats stay floats: ascii "0.100000001" is the float nearest it.
    EXPECT_EQ(m.rows.type, elem_type::f32);
    expect_values(m, 3, 3, {xs[0][0], xs[0][1], xs[0][2], xs[1][0], xs[1][1], xs[1][2], xs[2][0], xs[2][1], xs[2][2]});
    fmt_matrix_free(&m);
    const std::vector<std::string> picks = {"tag", "0"};
    ASSERT_TRUE(ply_read(s.data(), static_cast<int64_t>(s.size()), &picks, false, &f, &m, &e)) << format;
    EXPECT_EQ(m.rows.type, elem_type::f64);
    expect_values(m, 3, 2, {-300, xs[0][0], 0, xs[1][0], 32767, xs[2][0]});
    EXPECT_EQ(m.names, (std::vector<std::string>{"tag", "x"}));
    fmt_matrix_free(&m);
  }
}

TEST(PlyRead, RefusesWhatTheFileCannotBack) {
  const std::string good = ply_file_of("binary_little_endian");
  const std::string ascii = ply_file_of("ascii");
  auto with = [](std::string s, const char* from, const char* to) {
    s.replace(s.find(from), std::strlen(from), to);
    return s;
  };
  struct refusal {
    std::string text;
    fmt_status status;
  };
  const refusal cases[] = {
      {"plyx\n", fmt_status::ply_not_ply},
      {with(good, "format binary_little_endian", "format binary_middle_endian"), fmt_status::ply_header},
      {with(good, "property short tag", "property half tag"), fmt_status::ply_header},
      {with(good, "end_header\n", "end_head\n"), fmt_status::ply_header},
      {with(good, "element vertex", "element vertices"), fmt_status::ply_no_vertex},
      // Counts the rest of the file cannot hold are refused before storage is asked for.
      {with(good, "element vertex 3", "element vertex 900000000000"), fmt_status::ply_cut},
      {with(good, "element face 1", "element face 2"), fmt_status::ply_cut},
      {good.substr(0, good.size() - 1), fmt_status::ply_cut},
      {good + "\x01", fmt_status::ply_after},
      {ascii + "5\n", fmt_status::ply_after},
      {with(ascii, "32767 2 0 1", "32767 256 0 1"), fmt_status::ply_value},
      {with(ascii, "0.100000001", "0.1x"), fmt_status::ply_value},
      {with(ascii, "32767 2 0 1", "32767 -2 0 1"), fmt_status::ply_value},
  };
  for (const refusal& c : cases) {
    ply_file f;
    fmt_matrix m;
    fmt_error e = err_of();
    EXPECT_FALSE(ply_read(c.text.data(), static_cast<int64_t>(c.text.size()), nullptr, false, &f, &m, &e))
        << c.text.substr(0, 120);
    EXPECT_EQ(e.status, c.status) << c.text.substr(0, 120) << " " << e.text;
    fmt_matrix_free(&m);
  }
  const std::vector<std::string> list = {"near"};
  ply_file f;
  fmt_matrix m;
  fmt_error e = err_of();
  EXPECT_FALSE(ply_read(good.data(), static_cast<int64_t>(good.size()), &list, false, &f, &m, &e));
  EXPECT_EQ(e.status, fmt_status::ply_list_column);
}

TEST(PlyWriteVertices, WrittenVerticesReadBackWithEveryProperty) {
  for (const char* format : {"ascii", "binary_little_endian", "binary_big_endian"}) {
    for (bool lists : {true, false}) {
      std::string s = ply_file_of(format);
      if (!lists) {
        // No list in the vertices: records of one size.
        s = cat({"ply\nformat ", format, " 1.0\nelement vertex 3\nproperty double x\nproperty uint c\nend_header\n"});
        const bool ascii = !std::strcmp(format, "ascii"), big = !std::strcmp(format, "binary_big_endian");
        for (int i = 0; i < 3; ++i) {
          if (ascii) s += cat({std::to_string(i), ".5 ", std::to_string(4000000000u - static_cast<unsigned>(i)), "\n"});
          else put(&s, i + 0.5, big), put(&s, 4000000000u - static_cast<unsigned>(i), big);
        }
      }
      ply_file f;
      fmt_matrix m;
      fmt_error e = err_of();
      const std::vector<std::string> all = lists ? std::vector<std::string>{"0", "1", "2", "3"} : std::vector<std::string>{"0", "1"};
      ASSERT_TRUE(ply_read(s.data(), static_cast<int64_t>(s.size()), &all, true, &f, &m, &e)) << format;
      const int32_t rows[] = {2, 0, 2};
      const std::string path = temp_name(cat({"written_", format, ".ply"}));
      FILE* out = std::fopen(path.c_str(), "wb");
      ASSERT_TRUE(ply_write_vertices(out, s.data(), &f, rows, 3));
      std::fclose(out);
      fmt_bytes b;
      ASSERT_EQ(fmt_bytes_read_path(&b, path.c_str()), fmt_read::ok);
      ply_file g;
      fmt_matrix back;
      ASSERT_TRUE(ply_read(b.data, b.len, &all, true, &g, &back, &e)) << format << " " << e.text;
      ASSERT_EQ(back.rows.rows, 3);
      EXPECT_EQ(g.elements.size(), 1u);
      EXPECT_EQ(g.format, f.format);
      for (int32_t i = 0; i < 3; ++i)
        for (int32_t j = 0; j < m.rows.cols; ++j) EXPECT_TRUE(same_bits(at(back, i, j), at(m, rows[i], j))) << format;
      // The lists too, byte for byte (ascii: as text).
      if (lists && f.format != ply_format::ascii) {
        for (int32_t i = 0; i < 3; ++i) {
          const auto r = static_cast<size_t>(rows[i]), k = static_cast<size_t>(i);
          EXPECT_EQ(std::string(b.data + g.spans[k], b.data + g.spans[k + 1]),
                    std::string(s.data() + f.spans[r], s.data() + f.spans[r + 1]));
        }
      }
      fmt_matrix_free(&m);
      fmt_matrix_free(&back);
      fmt_bytes_free(&b);
    }
  }
}

// ---- .npy batches and whole numbers -------------------------------------------------

std::string npy_bytes(const std::string& descr, const std::string& shape, bool fortran, const std::string& data) {
  std::string dict = cat({"{'descr': '", descr, "', 'fortran_order': ", fortran ? "True" : "False", ", 'shape': ", shape, ", }"});
  while ((10 + dict.size() + 1) % 64 != 0) dict += ' ';
  dict += '\n';
  return cat({std::string(npy_magic, 6), std::string(1, '\x01'), std::string(1, '\0'),
              std::string(1, static_cast<char>(dict.size())), std::string(1, '\0'), dict, data});
}

fmt_bytes bytes_of(const std::string& s) {
  fmt_bytes b{static_cast<char*>(std::malloc(s.size() + 1)), static_cast<int64_t>(s.size())};
  std::memcpy(b.data, s.data(), s.size());
  return b;
}

TEST(BatchRead, CAndFortranOrderGiveTheSameItems) {
  // (2, 3, 2): value 100 b + 10 n + j.
  std::string c8, f4;
  for (int b = 0; b < 2; ++b)
    for (int n = 0; n < 3; ++n)
      for (int j = 0; j < 2; ++j) put(&c8, 100.0 * b + 10 * n + j, false);
  for (int j = 0; j < 2; ++j)
    for (int n = 0; n < 3; ++n)
      for (int b = 0; b < 2; ++b) put(&f4, static_cast<float>(100 * b + 10 * n + j), false);
  for (const std::string& file : {npy_bytes("<f8", "(2, 3, 2)", false, c8), npy_bytes("<f4", "(2, 3, 2)", true, f4)}) {
    fmt_bytes b = bytes_of(file);
    fmt_batch x;
    fmt_error e = err_of();
    ASSERT_TRUE(batch_read(&b, &x, &e)) << static_cast<int>(e.status);
    ASSERT_EQ(x.items, 2);
    for (int64_t i = 0; i < 2; ++i) {
      const row_source r = batch_item(&x, i);
      ASSERT_EQ(r.rows, 3);
      ASSERT_EQ(r.cols, 2);
      for (int n = 0; n < 3; ++n)
        for (int j = 0; j < 2; ++j) EXPECT_EQ(rows_at(&r, n, j), 100.0 * static_cast<double>(i) + 10 * n + j);
    }
    batch_free(&x);
    std::free(b.data);  // not taken over by a batch laid out anew
  }
  // The wrong number of dimensions, dtype or size.
  for (const std::string& file : {npy_bytes("<f8", "(12,)", false, c8), npy_bytes("<i8", "(2, 3, 2)", false, c8),
                                  npy_bytes("<f8", "(2, 3, 3)", false, c8)}) {
    fmt_bytes b = bytes_of(file);
    fmt_batch x;
    fmt_error e = err_of();
    EXPECT_FALSE(batch_read(&b, &x, &e));
    std::free(b.data);
  }
}

TEST(WholeRead, TextAndIntegerArrays) {
  std::vector<int32_t> v;
  std::vector<int64_t> lines;
  fmt_error e = err_of();
  const std::string text = "3\n\n 17 \r\n2147483647\n";
  ASSERT_TRUE(whole_read(text.data(), static_cast<int64_t>(text.size()), &v, &lines, &e));
  EXPECT_EQ(v, (std::vector<int32_t>{3, 17, 2147483647}));
  EXPECT_EQ(lines, (std::vector<int64_t>{1, 3, 4}));
  for (const char* bad : {"1\n2 3\n", "1\n-4\n", "2147483648\n", "1.0\n"}) {
    EXPECT_FALSE(whole_read(bad, static_cast<int64_t>(std::strlen(bad)), &v, &lines, &e)) << bad;
    EXPECT_EQ(e.status, fmt_status::whole_not_number);
    EXPECT_EQ(e.line, 2 - (bad[1] != '\n')) << bad;
  }
  std::string i2, i8;
  for (int16_t x : std::initializer_list<int16_t>{5, 0, 300}) put(&i2, x, false);
  for (int64_t x : {5, -1}) put(&i8, x, false);
  const std::string ok = npy_bytes("<i2", "(3,)", false, i2);
  ASSERT_TRUE(whole_read(ok.data(), static_cast<int64_t>(ok.size()), &v, &lines, &e));
  EXPECT_EQ(v, (std::vector<int32_t>{5, 0, 300}));
  const std::string negative = npy_bytes("<i8", "(2,)", false, i8);
  EXPECT_FALSE(whole_read(negative.data(), static_cast<int64_t>(negative.size()), &v, &lines, &e));
  EXPECT_EQ(e.status, fmt_status::npy_value);
  EXPECT_EQ(e.line, 1);
  const std::string floats = npy_bytes("<f8", "(1,)", false, std::string(8, '\0'));
  EXPECT_FALSE(whole_read(floats.data(), static_cast<int64_t>(floats.size()), &v, &lines, &e));
  EXPECT_EQ(e.status, fmt_status::npy_dtype);
}

}  // namespace
