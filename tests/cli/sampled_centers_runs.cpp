// sampled_centers started by mpirun with 1, 2 and 3 processes, its report
// compared with the reference model of the whole job: the tuples each rank's
// seed draws, the gather and the choice at rank 0. Both builds are run: the
// program and its plain twin.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "sampled_reference.hpp"
#include "test_support.hpp"

namespace {

struct run_output {
  int status;
  std::string out, err;
};

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream text;
  text << f.rdbuf();
  return text.str();
}

run_output mpirun(const std::string& program, int processes, const std::string& file, int32_t k,
                  int32_t m, const std::string& seed) {
  // Lets mpirun start as root; changes nothing for any other user.
  if (geteuid() == 0) {
    setenv("OMPI_ALLOW_RUN_AS_ROOT", "1", 1);
    setenv("OMPI_ALLOW_RUN_AS_ROOT_CONFIRM", "1", 1);
  }
  std::string out = temp_name("run.out");
  std::string err = temp_name("run.err");
  std::string command = std::string("'" SC_MPIEXEC "' " SC_NUMPROC_FLAG " ") + std::to_string(processes) +
                        " --oversubscribe " SC_PREFLAGS " '" + program + "' '" + file + "' " +
                        std::to_string(k) + " " + std::to_string(m) + " " + seed + " </dev/null >'" + out +
                        "' 2>'" + err + "'";
  int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
}

std::string write_points(const std::string& name, const std::vector<ref_point>& points) {
  std::string path = temp_name(name);
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) {
    ADD_FAILURE() << "cannot write " << path;
    return path;
  }
  for (const ref_point& p : points) std::fprintf(f, "%a %a\n", p.x, p.y);
  std::fclose(f);
  return path;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string centres_line(const std::vector<int32_t>& tuple) {
  std::string line = "approx optimal centers : ";
  for (int32_t c : tuple) line += std::to_string(c) + " ";
  return line;
}

std::string cost_line(double cost) {
  char text[64];
  std::snprintf(text, sizeof text, "approximate optimal cost = %g", cost);
  return text;
}

std::vector<int32_t> printed_centres(const std::string& line) {
  std::vector<int32_t> tuple;
  std::istringstream in(line.substr(line.find(':') + 1));
  for (int32_t c; in >> c;) tuple.push_back(c);
  return tuple;
}

// "wall time used = " digits "." four digits " sec". (Written out: g++ 12
// warns falsely about std::regex in the sanitizer build.)
bool is_time_line(const std::string& line) {
  const std::string head = "wall time used = ", tail = " sec";
  if (line.size() < head.size() + tail.size() + 6 || line.compare(0, head.size(), head) != 0 ||
      line.compare(line.size() - tail.size(), tail.size(), tail) != 0)
    return false;
  std::string number = line.substr(head.size(), line.size() - head.size() - tail.size());
  size_t point = number.find('.');
  if (point == std::string::npos || point == 0 || number.size() - point - 1 != 4) return false;
  for (size_t i = 0; i < number.size(); ++i)
    if (i != point && (number[i] < '0' || number[i] > '9')) return false;
  return true;
}

// The lines that do not depend on the clock: 1, 3 and 4.
std::vector<std::string> without_time(const run_output& run) {
  std::vector<std::string> lines = lines_of(run.out);
  if (lines.size() == 4) lines.erase(lines.begin() + 1);
  return lines;
}

struct job {
  const char* name;
  std::vector<ref_point> points;
  int32_t k, m;
  const char* seed;
  unsigned int seed_value;  // as srandom receives it
};

std::vector<job> jobs() {
  std::mt19937_64 g(23);
  std::uniform_real_distribution<double> u(-1000, 1000);
  std::vector<ref_point> scattered(300), grid(60), with_nan(40), sorted(2000);
  for (ref_point& p : scattered) p = {u(g), u(g)};
  // The most points a file may hold, sorted along x.
  for (ref_point& p : sorted) p = {u(g), u(g)};
  std::sort(sorted.begin(), sorted.end(), [](ref_point a, ref_point b) { return a.x < b.x; });
  // Few distinct points: many tuples cost the same, so the first and the
  // lowest rank must win.
  for (ref_point& p : grid) p = {static_cast<double>(g() % 3), static_cast<double>(g() % 2)};
  for (ref_point& p : with_nan) p = {u(g), u(g)};
  with_nan[17].y = NAN;
  return {
      {"scattered", scattered, 4, 60, "12345", 12345u},
      {"wrapped_seed", scattered, 3, 25, "-1", 4294967295u},
      {"grid", grid, 2, 20, "7", 7u},
      {"nan", with_nan, 3, 10, "99", 99u},
      {"sorted", sorted, 10, 200, "5", 5u},
  };
}

// The program, or its plain twin.
class SampledCentersRun : public testing::TestWithParam<const char*> {};

TEST_P(SampledCentersRun, PrintsTheBestTupleOfTheSeededDrawsOnEveryRank) {
  for (const job& j : jobs()) {
    std::string file = write_points(std::string(j.name) + ".txt", j.points);
    double one_process_cost = 0;
    for (int processes = 1; processes <= 3; processes += SC_PROCESS_STEP) {
      SCOPED_TRACE(std::string(j.name) + " with " + std::to_string(processes) + " processes");
      run_output run = mpirun(GetParam(), processes, file, j.k, j.m, j.seed);
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(run.err, "");
      std::vector<std::string> lines = lines_of(run.out);
      ASSERT_EQ(lines.size(), 4u) << run.out;

      ref_result want = ref_job(j.points, j.k, j.m, j.seed_value, processes);
      EXPECT_EQ(lines[0], "number of " + std::to_string(j.k) + "-tuples checked = " +
                              std::to_string(j.m * processes));
      EXPECT_TRUE(is_time_line(lines[1])) << lines[1];
      EXPECT_EQ(lines[2], cost_line(want.cost));
      EXPECT_EQ(lines[3], centres_line(want.tuple));

      // Whatever the streams: the cost printed is that of the centres printed,
      // and more processes never do worse than rank 0 alone.
      double cost = ref_cost(j.points, printed_centres(lines[3]));
      EXPECT_EQ(lines[2], cost_line(cost));
      if (processes == 1) one_process_cost = cost;
      EXPECT_LE(cost, one_process_cost);
    }
  }
}

TEST_P(SampledCentersRun, RepeatsItselfExactly) {
  job j = jobs()[2];
  std::string file = write_points("repeat.txt", j.points);
  run_output first = mpirun(GetParam(), 3, file, j.k, j.m, j.seed);
  run_output second = mpirun(GetParam(), 3, file, j.k, j.m, j.seed);
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(without_time(first), without_time(second));
  EXPECT_EQ(without_time(first).size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Builds, SampledCentersRun, testing::Values(SC_PROGRAM, SC_PROGRAM_PLAIN),
                         [](const testing::TestParamInfo<const char*>& param) {
                           return param.index == 0 ? "fast" : "plain";
                         });

}  // namespace
