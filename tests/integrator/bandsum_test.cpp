// bandsum run as a user runs it: in a fresh directory, every output byte
// compared.
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

#include "tests/support/blackbox.h"
#include "tests/support/expected.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using namespace expected::bandsum;

const std::string old_dat = "previous results\n";




using files = std::map<std::string, std::string>;

struct outcome {
  run_result result;
  std::string dat;  // "dat.txt" afterwards; old_dat if it was left alone
  bool others_unchanged = true;
};

// Runs bandsum in a fresh directory holding the files, with an old
// "dat.txt" in place.
outcome bandsum(const files& given, const std::vector<std::string>& args = {"peak.list", "2d.txt"}) {
  scratch_dir dir;
  for (const auto& [name, bytes] : given) write_file(dir / name, bytes);
  write_file(dir / "dat.txt", old_dat);
  outcome o;
  o.result = run(BANDSUM_EXE, args, dir.path);
  o.dat = read_file(dir / "dat.txt");
  for (const auto& [name, bytes] : given) o.others_unchanged = o.others_unchanged && read_file(dir / name) == bytes;
  return o;
}

files example(const std::string& peak_list = peaks, const std::string& spectra = series,
              const std::string& scale_table = scale) {
  return {{"peak.list", peak_list}, {"2d.txt", spectra}, {"scale.txt", scale_table}};
}

TEST(Bandsum, WorkedExample) {
  const outcome o = bandsum(example());
  EXPECT_EQ(o.result.status, 0);
  EXPECT_EQ(o.result.out, reading + saving);
  EXPECT_EQ(o.result.err, "");
  EXPECT_EQ(o.dat, worked_dat);
  EXPECT_TRUE(o.others_unchanged);
}

TEST(Bandsum, ExtraArgumentsAreIgnored) {
  const outcome o = bandsum(example(), {"peak.list", "2d.txt", "more", "args"});
  EXPECT_EQ(o.result.status, 0);
  EXPECT_EQ(o.dat, worked_dat);
}

TEST(Bandsum, UsageBanner) {
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {"peak.list"}, {"--bogus"}}) {
    scratch_dir dir;
    const run_result r = run(BANDSUM_EXE, args, dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, usage_banner);
    EXPECT_TRUE(fs::is_empty(dir.path)) << "no file may be written";
  }
}

TEST(Bandsum, HelpAndVersion) {
  for (const char* flag : {"--help", "-h", "--version"}) {
    scratch_dir dir;
    const run_result r = run(BANDSUM_EXE, {flag}, dir.path);
    EXPECT_EQ(r.status, 0) << flag;
    EXPECT_EQ(r.err, "") << flag;
    EXPECT_NE(r.out.find(std::string(flag) == "--version" ? "bandsum " : "USAGE: bandsum peak.list 2d.txt"),
              std::string::npos)
        << flag;
    EXPECT_TRUE(fs::is_empty(dir.path)) << flag;
  }
}

// Runs that must stop with a message, leaving "dat.txt" as it was.
struct failing_case {
  const char* name;
  files given;
  std::string out;  // standard output, exactly
  std::string err;  // standard error, exactly
};

TEST(Bandsum, InputErrorsLeaveDatTxtAlone) {
  const std::string two_peaks = "0 A: 1 2\n1 B: 3 4\n";
  const failing_case cases[] = {
      {"row 0 shorter than the peak list", example(peaks, series, "2\n4 2\n0.5\n"), "", scale_banner},
      {"scale.txt missing", {{"peak.list", peaks}, {"2d.txt", series}}, "", "No such read-in file\n" + scale_banner},
      {"scale.txt empty, no peaks", example("# none\n", series, ""), "",
       "bandsum: row 1 of \"scale.txt\" (its second data line) must hold two numbers a b; every integral is "
       "multiplied by b / a\n"},
      {"row 1 with one entry", example(peaks, series, "2 3\n4\n0.5\n"), "",
       "bandsum: row 1 of \"scale.txt\" (its second data line) must hold two numbers a b; every integral is "
       "multiplied by b / a\n"},
      {"no row 2", example(peaks, series, "2 3\n4 2\n"), "",
       "bandsum: row 2 of \"scale.txt\" (its third data line) must hold the time step between spectra\n"},
      {"empty row 2", example(peaks, series, "2 3\n4 2\nstep\n"), "",
       "bandsum: row 2 of \"scale.txt\" (its third data line) must hold the time step between spectra\n"},
      {"peak list missing", {{"2d.txt", series}, {"scale.txt", scale}}, reading, "peak.list file not found\n"},
      {"peak line without index", example("0 A: 1 2\nB: 3 4\n"), reading,
       "bandsum: peak.list line 2: a peak line must begin with the peak index (a whole number)\n"},
      {"peak line beginning with &", example("0 A: 1 2\n&1 B: 3 4\n"), reading,
       "bandsum: peak.list line 2: a peak line must begin with the peak index (a whole number)\n"},
      {"peak index beyond an int", example("0 A: 1 2\n99999999999 B: 3 4\n"), reading,
       "bandsum: peak.list line 2: a peak line must begin with the peak index (a whole number)\n"},
      {"peak line without colon", example("# c\n0 A 1 2\n1 B: 3 4\n"), reading,
       "bandsum: peak.list line 2: no \":\" after the peak index and label\n"},
      {"one bound", example("0 A: 1\n1 B: 3 4\n"), reading,
       "bandsum: peak.list line 1: two bounds must follow the \":\"\n"},
      {"bound not a number", example("0 A: 1 2\n1 B: x3 4\n"), reading,
       "bandsum: peak.list line 2: the bound \"x3\" is not a number\n"},
      {"NaN bound", example("0 A: 1 nan\n1 B: 3 4\n"), reading,
       "bandsum: peak.list line 1: the bound \"nan\" is not a number\n"},
      {"index too large", example("0 A: 1 2\n2 B: 3 4\n"), reading,
       "bandsum: peak.list line 2: peak index 2 is outside 0 to 1 (the list holds 2 peak lines)\n"},
      {"negative index", example("-1 A: 1 2\n1 B: 3 4\n"), reading,
       "bandsum: peak.list line 1: peak index -1 is outside 0 to 1 (the list holds 2 peak lines)\n"},
      {"two lines for one index leave another unset", example("1 A: 1 2\n1 B: 3 4\n"), reading,
       "bandsum: peak.list: no line sets the window of peak 0\n"},
      {"series missing", {{"peak.list", two_peaks}, {"scale.txt", scale}}, reading,
       "bandsum: cannot open the spectrum series 2d.txt\n"},
      {"series line with one number", example(two_peaks, "1 2\n3\n&\n"), reading,
       "bandsum: 2d.txt line 2: a sample line must begin with two numbers, x and the intensity\n"},
      {"series line of text", example(two_peaks, "# c\n\n1 2\n&\nx y\n&\n"), reading,
       "bandsum: 2d.txt line 5: a sample line must begin with two numbers, x and the intensity\n"},
      {"series line with an indented comment", example(two_peaks, "1 2\n # c\n&\n"), reading,
       "bandsum: 2d.txt line 2: a sample line must begin with two numbers, x and the intensity\n"},
      {"series number that overflows", example(two_peaks, "1 1e999\n&\n"), reading,
       "bandsum: 2d.txt line 1: a sample line must begin with two numbers, x and the intensity\n"},
      {"samples after the last separator", example(two_peaks, "1 2\n&\n3 4\n5 6\n"), reading,
       "bandsum: 2d.txt: the samples from line 3 on are not closed by a line beginning with \"&\"; every "
       "spectrum, the last included, must end with one\n"},
      {"no separator at all", example(two_peaks, "1 2\n3 4\n"), reading,
       "bandsum: 2d.txt: the samples from line 1 on are not closed by a line beginning with \"&\"; every "
       "spectrum, the last included, must end with one\n"},
      {"unequal spectra", example(two_peaks, "1 2\n3 4\n&\n1 2\n&\n"), reading,
       "bandsum: 2d.txt line 5: the spectrum closed here holds 1 samples, but the first spectrum holds 2; every "
       "spectrum must hold the same number of samples\n"},
      {"empty series", example(two_peaks, "# nothing\n\n"), reading,
       "bandsum: 2d.txt: no spectrum found; every spectrum must end with a line beginning with \"&\"\n"},
  };
  for (const auto& c : cases) {
    const outcome o = bandsum(c.given);
    EXPECT_EQ(o.result.status, 1) << c.name;
    EXPECT_EQ(o.result.out, c.out) << c.name;
    EXPECT_EQ(o.result.err, c.err) << c.name;
    EXPECT_EQ(o.dat, old_dat) << c.name;
    EXPECT_TRUE(o.others_unchanged) << c.name;
  }
}

// Successful runs: the peak list, series and scale table, and "dat.txt".
struct result_case {
  const char* name;
  files given;
  std::string dat;
};

TEST(Bandsum, WindowsAndScaling) {
  const result_case cases[] = {
      {"bounds in either order, label empty or glued, unit suffix",
       example("# comment\n\n0: 2.0 1.0\n1 B:2.5ppm 3 extra\n"), "  0.0 2.500000000 0.666666667 \n"
                                                              "  0.5 5.000000000 1.000000000 \n"},
      {"overlapping windows count a sample for each",
       example("0 A: 1 3\n1 B: 1.4 1.6\n", series, "1 1\n1 1\n1\n"), "  0.0 14.000000000 10.000000000 \n"
                                                                     "  1.0 26.000000000 20.000000000 \n"},
      {"a bound equal to a sample does not count it",
       example("0 A: 1.5 2\n1 B: 2.7 2.7\n", series, "1 1\n1 1\n1\n"), "  0.0 0.000000000 0.000000000 \n"
                                                                       "  1.0 0.000000000 0.000000000 \n"},
      {"bound 0.1 is single precision, above the double 0.1",
       example("0 A: 0 0.1\n", "0.1 7\n&\n", "1\n1 1\n1\n"), "  0.0 7.000000000 \n"},
      {"no peaks: time field only", example("# none\n", series), "  0.0 \n  0.5 \n"},
      {"spectra without samples", example(peaks, "&\n& two\n&\n"), "  0.0 0.000000000 0.000000000 \n"
                                                                   "  0.5 0.000000000 0.000000000 \n"
                                                                   "  1.0 0.000000000 0.000000000 \n"},
      {"negative zero from a negative divisor", example(peaks, "&\n", "-2 3\n4 2\n1\n"),
       "  0.0 -0.000000000 0.000000000 \n"},
      {"time step 0.05: the times one decimal cannot hold keep their second", example(peaks, "&\n&\n&\n&\n", "2 3\n4 2\n0.05\n"),
       "  0.0 0.000000000 0.000000000 \n"
       " 0.05 0.000000000 0.000000000 \n"
       "  0.1 0.000000000 0.000000000 \n"
       " 0.15 0.000000000 0.000000000 \n"},
      {"negative and wide times", example("#\n", "&\n&\n", "1\n1 1\n-0.5\n"), " -0.0 \n -0.5 \n"},
      {"times with four digits", example("#\n", "&\n&\n", "1\n1 1\n1234.5\n"), "  0.0 \n1234.5 \n"},
      {"zero divisor and zero ratio denominator", example(peaks, series, "0 3\n0 2\n1\n"),
       "  0.0        inf        inf \n  1.0        inf        inf \n"},
      {"zero over zero", example("0 A: 5 6\n1 B: 1 2\n", series, "0 3\n4 2\n1\n"),
       "  0.0       -nan 1.666666667 \n  1.0       -nan 3.333333333 \n"},
      {"CR LF files", example("0 A: 1.0 2.0\r\n1 B: 3.0 2.5\r\n", "1.50 10.0\r\n2.70 4.0\r\n&\r\n", "2 3\r\n4 2\r\n0.5\r\n"),
       "  0.0 2.500000000 0.666666667 \n"},
      {"separator with text and comments in the series",
       example(peaks, "# head\n1.50 10.0 7 8\n\n2.70 4.0kg\n& end of spectrum 0\n"), "  0.0 2.500000000 0.666666667 \n"},
  };
  for (const auto& c : cases) {
    const outcome o = bandsum(c.given);
    EXPECT_EQ(o.result.status, 0) << c.name << "\n" << o.result.err;
    EXPECT_EQ(o.result.out, reading + saving) << c.name;
    EXPECT_EQ(o.result.err, "") << c.name;
    EXPECT_EQ(o.dat, c.dat) << c.name;
  }
}

TEST(Bandsum, ReadOnlyInputsAreRead) {
  scratch_dir dir;
  for (const auto& [name, bytes] : example()) {
    write_file(dir / name, bytes);
    fs::permissions(dir / name, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  }
  const run_result r = run(BANDSUM_EXE, {"peak.list", "2d.txt"}, dir.path);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir / "dat.txt"), worked_dat);
}

TEST(Bandsum, DatTxtThatCannotBeCreated) {
  scratch_dir dir;
  for (const auto& [name, bytes] : example()) write_file(dir / name, bytes);
  fs::create_directory(dir / "dat.txt");  // even root cannot open a directory for writing
  const run_result r = run(BANDSUM_EXE, {"peak.list", "2d.txt"}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, reading);
  EXPECT_EQ(r.err, "bandsum: cannot create \"dat.txt\": Is a directory\n");
}

TEST(Bandsum, DatTxtThatCannotBeWritten) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this machine";
  scratch_dir dir;
  for (const auto& [name, bytes] : example()) write_file(dir / name, bytes);
  fs::create_symlink("/dev/full", dir / "dat.txt");
  const run_result r = run(BANDSUM_EXE, {"peak.list", "2d.txt"}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, reading);
  EXPECT_EQ(r.err, "bandsum: cannot write \"dat.txt\": No space left on device\n");
}

TEST(Bandsum, UnwritableDirectory) {
  scratch_dir dir;
  for (const auto& [name, bytes] : example()) write_file(dir / name, bytes);
  fs::permissions(dir.path, fs::perms::owner_read | fs::perms::owner_exec);
  const run_result r = run_unprivileged(BANDSUM_EXE, {"peak.list", "2d.txt"}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "bandsum: cannot create \"dat.txt\": Permission denied\n");
}

TEST(Bandsum, ExampleDataSet) {
  scratch_dir dir;
  fs::copy_file(fs::path(EXAMPLES_DIR) / "scale.txt", dir / "scale.txt");
  const std::string list = (fs::path(EXAMPLES_DIR) / "peak.list").string();
  const std::string spectra = (fs::path(EXAMPLES_DIR) / "2d.txt").string();
  const run_result r = run(BANDSUM_EXE, {list, spectra}, dir.path);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, reading + saving);
  EXPECT_EQ(read_file(dir / "dat.txt"), read_file(fs::path(TESTS_DIR) / "integrator" / "example-dat.txt"));
}

}  // namespace
