// specconv, run as a user runs it: instrument exports turned into a series
// that bandsum sums to the same dat.txt as the hand-made series.
#include "converter/specconv.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "tests/support/blackbox.h"

using namespace testing_support;

namespace {

const std::string examples = EXAMPLES_DIR;

// The spectra of a series file: the "x y" texts of every sample.
std::vector<std::vector<std::pair<std::string, std::string>>> blocks_of(const std::string& series) {
  std::istringstream in(read_file(series));
  std::vector<std::vector<std::pair<std::string, std::string>>> out(1);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '&') {
      out.emplace_back();
      continue;
    }
    std::istringstream words(line);
    std::string x, y;
    words >> x >> y;
    out.back().emplace_back(x, y);
  }
  out.pop_back();
  return out;
}

// The example series as a wide table: the x axis across, a spectrum a row.
std::string as_matrix(const std::string& series, char sep, bool decimal_comma) {
  const auto blocks = blocks_of(series);
  const auto mark = [&](std::string s) {
    if (decimal_comma) std::replace(s.begin(), s.end(), '.', ',');
    return s;
  };
  std::string out = "time";
  for (const auto& [x, y] : blocks[0]) out += sep + mark(x);
  out += "\r\n";
  for (std::size_t j = 0; j < blocks.size(); ++j) {
    out += std::to_string(j);
    for (const auto& [x, y] : blocks[j]) out += sep + mark(y);
    out += "\r\n";
  }
  return out;
}

// The example series as one JCAMP-DX file: a block of XYPOINTS per
// spectrum, one second apart.
std::string as_jcamp(const std::string& series) {
  const auto blocks = blocks_of(series);
  std::string out = "##TITLE= example\n##JCAMP-DX= 5.01\n##BLOCKS= " + std::to_string(blocks.size()) + "\n";
  for (std::size_t j = 0; j < blocks.size(); ++j) {
    char date[64];
    std::snprintf(date, sizeof date, "2024/05/06 12:%02zu:%02zu", j / 60, j % 60);
    out += "##TITLE= spectrum " + std::to_string(j) + "\n##LONGDATE= " + date + "\n##NPOINTS= " +
           std::to_string(blocks[j].size()) + "\n##XYPOINTS= (XY..XY)\n";
    for (const auto& [x, y] : blocks[j]) out += x + ", " + y + "\n";
    out += "##END=\n";
  }
  return out + "##END=\n";
}

// bandsum on the example's peak list and scale table in dir.
std::string dat_of(const scratch_dir& dir, const std::vector<std::string>& args) {
  write_file(dir / "peak.list", read_file(examples + "/peak.list"));
  write_file(dir / "scale.txt", read_file(examples + "/scale.txt"));
  const run_result r = run(BANDSUM_EXE, args, dir.path);
  EXPECT_EQ(r.status, 0) << r.err;
  return read_file(dir / "dat.txt");
}

TEST(Specconv, RoundTripsGiveTheDatTxtOfTheHandMadeSeries) {
  scratch_dir reference;
  write_file(reference / "2d.txt", read_file(examples + "/2d.txt"));
  const std::string expected = dat_of(reference, {"peak.list", "2d.txt"});
  const std::string series = examples + "/2d.txt";
  const struct { const char* name; std::string file, text; } cases[] = {
      {"comma matrix", "m.csv", as_matrix(series, ',', false)},
      {"semicolon matrix, decimal comma", "m.txt", "\xEF\xBB\xBF" + as_matrix(series, ';', true)},
      {"JCAMP-DX blocks", "m.jdx", as_jcamp(series)},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    write_file(dir / c.file, c.text);
    const run_result r = run(SPECCONV_EXE, {c.file, "-o", "series.txt"}, dir.path);
    ASSERT_EQ(r.status, 0) << c.name << r.err;
    EXPECT_EQ(r.out, "specconv: 60 spectra of 2048 samples written to \"series.txt\", their times to \"times.txt\"\n");
    EXPECT_EQ(dat_of(dir, {"--times", "times.txt", "peak.list", "series.txt"}), expected) << c.name;
    EXPECT_EQ(dat_of(dir, {"peak.list", "series.txt"}), expected) << c.name;
  }
}

TEST(Specconv, MalformedInputWritesNothing) {
  const struct { const char* name; std::string text; std::vector<std::string> args; std::string err; } cases[] = {
      {"a word in the matrix", "t,1,2\n0,1,2\n1,1,x\n", {"in.csv"}, "specconv: in.csv line 3: field 3 is \"x\"; expected a number\n"},
      {"spectra of two lengths", "0 1 5\n0 2 6\n1 1 7\n", {"in.csv"},
       "specconv: in.csv: spectrum 1 holds 1 samples, but the first holds 2; every spectrum of a series must hold the same number\n"},
      {"no input", "", {}, "specconv: give the input files (or --list FILE, not both); see specconv --help\n"},
      {"unknown option", "", {"--fast", "in.csv"}, "specconv: unknown option \"--fast\"; see specconv --help\n"},
      {"bad separator", "", {"--separator", "|", "in.csv"}, "specconv: --separator takes , ; tab or blank, not \"|\"\n"},
      {"missing file", "", {"none.csv"}, "specconv: cannot open none.csv: No such file or directory\n"},
      {"the input as the result", "0 1 5\n", {"in.csv", "-t", "in.csv"},
       "specconv: \"in.csv\" is the input in.csv; write the results elsewhere (-o FILE, -t FILE)\n"},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    if (!c.text.empty()) write_file(dir / "in.csv", c.text);
    write_file(dir / "2d.txt", "old\n");
    const run_result r = run(SPECCONV_EXE, c.args, dir.path);
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(r.out, "") << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    EXPECT_EQ(read_file(dir / "2d.txt"), "old\n") << c.name;
    EXPECT_FALSE(std::filesystem::exists(dir / "times.txt")) << c.name;
  }
}

TEST(Specconv, CheckWritesNothingAndHelpAnswers) {
  scratch_dir dir;
  write_file(dir / "in.csv", "x,y\n1,2\n3,4\n");
  const run_result r = run(SPECCONV_EXE, {"--check", "in.csv"}, dir.path);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "1 spectra of 2 samples, without times\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "2d.txt"));
  const run_result plain = run(SPECCONV_EXE, {"in.csv"}, dir.path);
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(read_file(dir / "2d.txt"), "1 2\n3 4\n&\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "times.txt"));
  EXPECT_EQ(run(SPECCONV_EXE, {"--version"}, dir.path).out.rfind("specconv ", 0), 0u);
  EXPECT_EQ(run(SPECCONV_EXE, {"--help"}, dir.path).out.rfind("USAGE: specconv", 0), 0u);
}

TEST(Specconv, AcquisitionTimesCountFromTheFirstSpectrum) {
  scratch_dir dir;
  for (const auto& [name, date] : {std::pair{"a.jdx", "2024/01/01 00:00:30"}, std::pair{"b.jdx", "2024/01/01 00:00:00"}}) {
    write_file(dir / name, std::string("##TITLE= s\n##LONGDATE= ") + date + "\n##XYPOINTS= (XY..XY)\n1, 2\n##END=\n");
  }
  const run_result r = run(SPECCONV_EXE, {"--minutes", "*.jdx"}, dir.path);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir / "times.txt"), "0\n0.5\n");
}

}  // namespace
