// ratefit on several experiments whose series share the species' spectra,
// run as a user runs it: the documented example, a noise-free A -> B -> C
// of two experiments from starts 100 times off, and the inputs it refuses.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "tests/support/blackbox.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

double fitted_value(const std::string& fit, const std::string& name) {
  std::smatch m;
  const std::regex value("\n[^#\n]*\\b" + name + " = ([-0-9.e+]+)");
  return std::regex_search(fit, m, value) ? std::stod(m[1]) : NAN;
}

// The code blocks of the part of docs/mechanism.md on series of several experiments.
std::vector<std::string> documented_blocks() {
  const std::string doc = read_file(fs::path(TESTS_DIR) / ".." / "docs" / "mechanism.md");
  const std::size_t from = doc.find("### Several experiments of one series");
  const std::string section = doc.substr(from, doc.find("\n## ", from) - from);
  std::vector<std::string> blocks;
  const std::regex block("```\n([^`]*)```");
  for (auto it = std::sregex_iterator(section.begin(), section.end(), block); it != std::sregex_iterator(); ++it) {
    blocks.push_back((*it)[1]);
  }
  return blocks;
}

TEST(SeriesExperiments, FitTheDocumentedExample) {
  const std::vector<std::string> blocks = documented_blocks();
  ASSERT_EQ(blocks.size(), 3u);
  scratch_dir dir;
  write_file(dir / "ab2.txt", blocks[0]);
  write_file(dir / "run1.csv", blocks[1]);
  write_file(dir / "run2.csv", blocks[2]);
  const run_result r = run(RATEFIT_EXE, {"ab2.txt"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NEAR(fitted_value(read_file(dir / "ab2.fit.txt"), "k"), 0.5, 1e-3);
}

// A -> B -> C (k1 = 0.5, k2 = 0.1) seen in 60 channels by strongly
// overlapping bands, 50 spectra per experiment; the second experiment
// starts with less A and some B, at another time step.
double band(double x, double at, double width) { return std::exp(-0.5 * std::pow((x - at) / width, 2)); }
double spectrum(int s, double x) {
  return s == 0 ? band(x, 40, 8) : s == 1 ? band(x, 48, 9) + 0.2 * band(x, 30, 5) : band(x, 55, 8);
}

std::string series_of(double a0, double b0, double step) {
  const double k1 = 0.5, k2 = 0.1;
  std::string text;
  char line[80];
  for (int i = 0; i < 50; ++i) {
    const double t = step * i, e1 = std::exp(-k1 * t), e2 = std::exp(-k2 * t);
    const double a = a0 * e1, b = b0 * e2 + a0 * k1 / (k2 - k1) * (e1 - e2), c = a0 + b0 - a - b;
    for (int ch = 0; ch < 60; ++ch) {
      const double x = 20 + ch;
      std::snprintf(line, sizeof line, "%g %.17g\n", x, a * spectrum(0, x) + b * spectrum(1, x) + c * spectrum(2, x));
      text += line;
    }
    text += "&\n";
  }
  return text;
}

std::map<std::string, std::string> two_runs() {
  return {{"m.txt", "A -> B  k1 = 50\nB -> C  k2 = 0.001\nseries channels 20 79\n"
                    "experiment one\nseries one.txt\nseries times 0 0.2\nA = 1 fixed\n"
                    "experiment two\nseries two.txt\nseries times 0 0.3\nA = 0.6 fixed\nB = 0.3 fixed\n"},
          {"one.txt", series_of(1, 0, 0.2)},
          {"two.txt", series_of(0.6, 0.3, 0.3)}};
}

TEST(SeriesExperiments, RecoverTheConstantsAndTheSharedSpectra) {
  scratch_dir dir;
  for (const auto& [name, text] : two_runs()) write_file(dir / name, text);
  const run_result r = run(RATEFIT_EXE, {"m.txt"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string fit = read_file(dir / "m.fit.txt");
  EXPECT_NEAR(fitted_value(fit, "k1"), 0.5, 5e-7);
  EXPECT_NEAR(fitted_value(fit, "k2"), 0.1, 1e-7);
  EXPECT_NE(r.out.find("100 spectra x 60 channels"), std::string::npos) << r.out;
  EXPECT_EQ(names_in(dir.path),
            (std::vector<std::string>{"m.fit.txt", "m.one.curve.txt", "m.one.png", "m.one.residuals.png",
                                      "m.spectra.txt", "m.two.curve.txt", "m.two.png", "m.two.residuals.png",
                                      "m.txt", "one.txt", "two.txt"}));
  std::istringstream spectra(read_file(dir / "m.spectra.txt"));
  std::string line;
  std::getline(spectra, line);
  EXPECT_EQ(line, "# ratefit: m.txt fitted to one.txt, two.txt");
  std::getline(spectra, line);
  EXPECT_EQ(line, "# x A A_se B B_se C C_se");
  double worst = 0;
  int rows = 0;
  for (double x, v[6]; spectra >> x >> v[0] >> v[1] >> v[2] >> v[3] >> v[4] >> v[5]; ++rows) {
    for (int s = 0; s < 3; ++s) worst = std::max(worst, std::abs(v[2 * s] - spectrum(s, x)));
  }
  EXPECT_EQ(rows, 60);
  EXPECT_LT(worst, 1e-6);
  const std::string two = read_file(dir / "m.two.curve.txt");
  EXPECT_EQ(two.substr(0, two.find('\n', two.find('\n', two.find('\n') + 1) + 1) + 1),
            "# ratefit: m.txt fitted to two.txt\n# t A B C\n0 0.6 0.3 0\n");
  // The fit file fits again as it stands, to the same constants.
  fs::rename(dir / "m.fit.txt", dir / "again.txt");
  const run_result again = run(RATEFIT_EXE, {"again.txt"}, dir.path);
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_NEAR(fitted_value(read_file(dir / "again.fit.txt"), "k1"), fitted_value(fit, "k1"), 1e-9);
}

TEST(SeriesExperiments, SimulateEveryExperimentAtItsSpectrasTimes) {
  scratch_dir dir;
  for (const auto& [name, text] : two_runs()) write_file(dir / name, text);
  const run_result r = run(RATEFIT_EXE, {"--simulate", "m.txt"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string two = read_file(dir / "m.two.curve.txt");
  EXPECT_EQ(two.substr(0, two.find('\n', two.find('\n', two.find('\n') + 1) + 1) + 1),
            "# ratefit: m.txt simulated at the times of two.txt\n# t A B C\n0 0.6 0.3 0\n");
  EXPECT_EQ(std::count(two.begin(), two.end(), '\n'), 2 + 50);
}

struct bad_case {
  std::string file, replace, with;  // in the files of two_runs
  std::string message;
};

class SeriesExperimentErrors : public ::testing::TestWithParam<bad_case> {};

TEST_P(SeriesExperimentErrors, SayWhyAndWriteNothing) {
  const bad_case c = GetParam();
  scratch_dir dir;
  ASSERT_TRUE(write_edited(dir.path, two_runs(), c.file, c.replace, c.with));
  const run_result r = run(RATEFIT_EXE, {"m.txt"}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ratefit: " + c.message + "\n");
  EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"m.txt", "one.txt", "two.txt"}));
}

// Every channel of two.txt moved by half a channel: another grid.
std::string shifted(std::string text) {
  std::string out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line == "&") {
      out += "&\n";
      continue;
    }
    const std::size_t blank = line.find(' ');
    out += std::to_string(std::stod(line.substr(0, blank)) + 0.5) + line.substr(blank) + "\n";
  }
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SeriesExperimentErrors,
    ::testing::Values(
        bad_case{"m.txt", "series one.txt\n", "", "m.txt:4: experiment \"one\" has no series: add \"series FILE\" or "
                                                  "\"series table FILE\" to it"},
        bad_case{"m.txt", "A = 0.6 fixed\n", "A = 0.6 fixed\nseries absorbing A B\n",
                 "m.txt:12: \"series absorbing\" is shared by every experiment's series: it belongs before the "
                 "first experiment"},
        bad_case{"m.txt", "A = 0.6 fixed\n", "A = 0.6 fixed\ncolumn 1 = A\n",
                 "m.txt:3: a mechanism is fitted either to column lines or to a series; give one of them"},
        bad_case{"m.txt", "series times 0 0.3\n", "", "m.txt:9: the series needs its times: \"series times FILE\" or "
                                                      "\"series times START STEP\""},
        bad_case{"two.txt", "\n21 ", "\n21 nan\n", "two.txt line 2: \"nan\" is not a number"}));

TEST(SeriesExperiments, RefuseSeriesOnOtherChannels) {
  scratch_dir dir;
  std::map<std::string, std::string> files = two_runs();
  files["two.txt"] = shifted(files["two.txt"]);
  files["m.txt"].replace(files["m.txt"].find("series channels 20 79\n"), 22, "");
  for (const auto& [name, bytes] : files) write_file(dir / name, bytes);
  const run_result r = run(RATEFIT_EXE, {"m.txt"}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ratefit: two.txt: its channels are not those of one.txt: the series of every experiment need the "
                   "same channels (after \"series channels\")\n");
  EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"m.txt", "one.txt", "two.txt"}));
}

}  // namespace
