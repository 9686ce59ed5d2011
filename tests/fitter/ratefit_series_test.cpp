// ratefit on whole spectral series, run as a user runs it: the documented
// example, the block format with its times, channel ranges and a known
// spectrum, and every kind of bad series input.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/blackbox.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

// The code blocks of the section of docs/mechanism.md on series lines.
std::vector<std::string> documented_blocks() {
  const std::string doc = read_file(fs::path(TESTS_DIR) / ".." / "docs" / "mechanism.md");
  const std::string section = doc.substr(doc.find("## Series lines"));
  std::vector<std::string> blocks;
  const std::regex block("```\n([^`]*)```");
  for (auto it = std::sregex_iterator(section.begin(), section.end(), block); it != std::sregex_iterator(); ++it) {
    blocks.push_back((*it)[1]);
  }
  return blocks;
}

// The value of NAME on the lines "NAME = VALUE" of a fit file.
double fitted_value(const std::string& fit, const std::string& name) {
  std::smatch m;
  const std::regex value("\n[^#\n]*\\b" + name + " = ([-0-9.e+]+)");
  return std::regex_search(fit, m, value) ? std::stod(m[1]) : NAN;
}

TEST(RatefitSeries, FitsTheDocumentedExampleAndItsResultFitsAgain) {
  const std::vector<std::string> blocks = documented_blocks();
  ASSERT_GE(blocks.size(), 3u);
  scratch_dir dir;
  fs::create_directory(dir / "in");
  write_file(dir / "in" / "ab.txt", blocks[1]);
  write_file(dir / "in" / "series.csv", blocks[2]);
  const run_result r = run(RATEFIT_EXE, {"in/ab.txt"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string fit = read_file(dir / "ab.fit.txt");
  EXPECT_NEAR(fitted_value(fit, "k"), 0.5, 1e-4);
  EXPECT_NE(fit.find("\nseries table in/series.csv\n"), std::string::npos);
  const std::string spectra = read_file(dir / "ab.spectra.txt");
  EXPECT_EQ(spectra.substr(0, spectra.find('\n', spectra.find('\n') + 1) + 1),
            "# ratefit: in/ab.txt fitted to in/series.csv\n# x A A_se B B_se\n");
  EXPECT_EQ(std::count(spectra.begin(), spectra.end(), '\n'), 2 + 4);
  EXPECT_EQ(read_file(dir / "ab.curve.txt").substr(0, 66),
            "# ratefit: in/ab.txt fitted to in/series.csv\n# t A B\n0 1 0\n1 0.606");
  fs::rename(dir / "ab.fit.txt", dir / "again.txt");
  const run_result again = run(RATEFIT_EXE, {"again.txt"}, dir.path);
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_NEAR(fitted_value(read_file(dir / "again.fit.txt"), "k"), fitted_value(fit, "k"), 1e-8);
}

// The overlap example, noisy as a measured series is: every result file
// byte for byte as a user keeps it, trailing blanks included.
TEST(RatefitSeries, WritesTheOverlapExampleToTheByte) {
  const fs::path example = fs::path(TESTS_DIR) / ".." / "examples" / "overlap";
  scratch_dir dir;
  for (const char* name : {"abc.txt", "series.txt"}) fs::copy_file(example / name, dir / name);
  const run_result r = run(RATEFIT_EXE, {"abc.txt"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.err;
  for (const std::string kind : {"fit", "curve", "spectra"}) {
    const fs::path expected = fs::path(TESTS_DIR) / "fitter" / ("overlap-" + kind + ".txt");
    EXPECT_EQ(read_file(dir / ("abc." + kind + ".txt")), read_file(expected)) << kind;
  }
}

// A -> B -> C in the block format: 40 spectra at times from a file, 30
// channels of which the ranges keep 23, B's spectrum known.
double band(double x, double at) { return std::exp(-0.5 * std::pow((x - at) / 6.0, 2)); }
double spectrum(int s, double x) { return s == 0 ? band(x, 40) : s == 1 ? band(x, 48) + 0.3 * band(x, 30) : band(x, 55); }

std::map<std::string, std::string> block_case() {
  std::string series, times, known;
  for (int i = 0; i < 40; ++i) {
    const double t = 0.25 * i, a = std::exp(-2 * t), b = 2 / (0.2 - 2) * (a - std::exp(-0.2 * t));
    const double c[] = {a, b, 1 - a - b};
    for (int ch = 0; ch < 30; ++ch) {
      const double x = 25 + ch * 1.5;
      char line[64];
      std::snprintf(line, sizeof line, "%g %.12f\n", x, c[0] * spectrum(0, x) + c[1] * spectrum(1, x) + c[2] * spectrum(2, x));
      series += line;
      if (i == 0) {
        std::snprintf(line, sizeof line, "%g %.12f\n", x, spectrum(1, x));
        known += line;
      }
    }
    series += "&\n";
    times += std::to_string(t) + "\n";
  }
  return {{"m.txt", "A -> B  k1 = 0.02\nB -> C  k2 = 0.002\nA = 1 fixed\nseries s.txt\nseries times t.txt\n"
                    "series channels 28 40 41 62\nseries known B c.txt\n"},
          {"s.txt", series}, {"t.txt", times}, {"c.txt", known}};
}

TEST(RatefitSeries, FitsABlockSeriesWithItsTimesRangesAndAKnownSpectrum) {
  scratch_dir dir;
  for (const auto& [name, text] : block_case()) write_file(dir / name, text);
  const run_result r = run(RATEFIT_EXE, {"m.txt"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string fit = read_file(dir / "m.fit.txt");
  // With B's spectrum known, k1 and k2 exchanged no longer fit as well: B
  // would be k2 / k1 times as high.
  EXPECT_NEAR(fitted_value(fit, "k1"), 2, 2e-6);
  EXPECT_NEAR(fitted_value(fit, "k2"), 0.2, 2e-7);
  EXPECT_NE(r.out.find("40 spectra x 23 channels"), std::string::npos) << r.out;
  const std::string spectra = read_file(dir / "m.spectra.txt");
  EXPECT_NE(spectra.find("# x A A_se C C_se\n28 "), std::string::npos);
}

// 501 spectra of A -> B in a table, at even times: more than the residual
// map shows.
std::map<std::string, std::string> many_case() {
  std::string table = "t 1 2 3\n";
  for (int i = 0; i <= 500; ++i) {
    const double t = 0.02 * i, a = std::exp(-0.5 * t);
    char line[96];
    std::snprintf(line, sizeof line, "%g %.9f %.9f %.9f\n", t, a + 0.2 * (1 - a), 0.5 * a, 1 - a);
    table += line;
  }
  return {{"m.txt", "A -> B  k = 0.2\nA = 1 fixed\nseries table s.csv\n"}, {"s.csv", table}};
}

// The times a residual map script shows: the blank lines that end them.
long map_rows(const std::string& script) {
  const std::size_t from = script.find("$map << EOD\n"), to = script.find("\nEOD\n", from);
  const std::string map = script.substr(from, to - from + 1);
  long rows = 0;
  if (script.find("nonuniform matrix") != std::string::npos) {  // a header of channels, then a line per row
    return static_cast<long>(std::count(map.begin(), map.end(), '\n')) - 2;
  }
  for (std::size_t at = map.find("\n\n"); at != std::string::npos; at = map.find("\n\n", at + 1)) ++rows;
  return rows;
}

// The residual map is an image on an even grid of times and channels, and
// a surface whose cells follow the positions on an uneven one (a time out
// of step, a gap between channel ranges); of more than 300 spectra it shows
// every second (or third, ...), and so stays an image: the scripts ratefit
// hands to a gnuplot that only keeps them.
TEST(RatefitSeries, DrawsTheResidualMapAsAnImageOnlyOnAnEvenGrid) {
  struct grid_case {
    std::map<std::string, std::string> files;
    std::string file, replace, with, drawn;
    long rows;
  };
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  for (const grid_case& c : std::vector<grid_case>{
           {block_case(), "t.txt", "0.250000\n", "0.250000\n", "plot $map nonuniform matrix using 1:2:3 with image", 40},
           {block_case(), "t.txt", "0.250000\n", "0.400000\n", "splot $map using 1:2:3 with pm3d", 40},
           {block_case(), "m.txt", "28 40 41 62", "28 35 50 62", "splot $map using 1:2:3 with pm3d", 40},
           {many_case(), "m.txt", "k", "k", "plot $map nonuniform matrix using 1:2:3 with image", 251}}) {
    scratch_dir dir, bin;
    ASSERT_TRUE(write_edited(dir.path, c.files, c.file, c.replace, c.with));
    write_file(bin / "gnuplot", "#!/bin/sh\ncat \"$1\" >> \"" + (bin / "scripts").string() + "\"\n");
    fs::permissions(bin / "gnuplot", fs::perms::owner_all);
    setenv("PATH", (bin.path.string() + ":" + path).c_str(), 1);
    const run_result r = run(RATEFIT_EXE, {"m.txt"}, dir.path);
    setenv("PATH", path.c_str(), 1);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string scripts = read_file(bin / "scripts");
    EXPECT_NE(scripts.find("\n" + c.drawn + " notitle\n"), std::string::npos) << c.with;
    EXPECT_EQ(scripts.find("set pm3d") != std::string::npos, c.drawn[0] == 's') << c.with;
    EXPECT_EQ(map_rows(scripts), c.rows) << c.with;
  }
}

struct bad_case {
  std::string file, replace, with;  // in the files of block_case
  std::string message;
};

class RatefitSeriesErrors : public ::testing::TestWithParam<bad_case> {};

TEST_P(RatefitSeriesErrors, SayWhereAndWriteNothing) {
  const bad_case c = GetParam();
  scratch_dir dir;
  ASSERT_TRUE(write_edited(dir.path, block_case(), c.file, c.replace, c.with));
  const run_result r = run(RATEFIT_EXE, {"m.txt"}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ratefit: " + c.message + "\n");
  EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"c.txt", "m.txt", "s.txt", "t.txt"}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RatefitSeriesErrors,
    ::testing::Values(
        bad_case{"s.txt", "\n&\n", "\n70 0.5\n&\n", "s.txt line 63: the spectrum closed here holds 30 samples, the "
                                                     "first 31: every spectrum must hold the same number of samples"},
        bad_case{"s.txt", "&\n25 ", "&\n25.5 ", "s.txt line 32: channel position 25.5 is not 25, that of sample 1 "
                                               "of the first spectrum: every spectrum must have the same channels"},
        bad_case{"s.txt", "\n26.5 ", "\n26.5 nan\n26.5 ", "s.txt line 2: \"nan\" is not a number"},
        bad_case{"t.txt", "9.750000\n", "", "s.txt line 1240: spectrum 40 has no time: t.txt holds 39 times"},
        bad_case{"t.txt", "9.750000\n", "9.750000\n10\n", "t.txt line 41: a time without a spectrum: s.txt holds 40 spectra"},
        bad_case{"c.txt", "28 ", "28.25 ", "c.txt line 3: channel position 28.25 is not a channel of the series here (28)"},
        bad_case{"m.txt", "series s.txt\nseries times t.txt\n", "series table s.csv\n",
                 "cannot read \"s.csv\": No such file or directory"}));

struct table_case {
  std::string table, message;
};

class RatefitTableErrors : public ::testing::TestWithParam<table_case> {};

TEST_P(RatefitTableErrors, SayWhereAndWriteNothing) {
  scratch_dir dir;
  write_file(dir / "m.txt", "A -> B  k = 0.1\nA = 1 fixed\nseries table s.csv\n");
  write_file(dir / "s.csv", GetParam().table);
  const run_result r = run(RATEFIT_EXE, {"m.txt"}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ratefit: " + GetParam().message + "\n");
  EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"m.txt", "s.csv"}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RatefitTableErrors,
    ::testing::Values(
        table_case{"t;1;2\n0;1;2\n1;1\n", "s.csv line 3: the row holds 2 values, the rows before 3: every row must "
                                          "hold the time and every channel"},
        table_case{"1 2\n0 1 2 3\n", "s.csv line 2: the row holds 4 values, but line 1 names 2 channel positions "
                                     "(and perhaps a corner cell)"},
        table_case{",1,2\n0,1,NaN\n", "s.csv line 2: \"NaN\" is not a number"},
        table_case{"t x y\n0 1 2\n", "s.csv line 1: \"x\" is not a number"},
        table_case{"# nothing\n", "s.csv: no spectrum"}));

}  // namespace
