// bandsum --baseline N and --noise LO HI run as a user runs them: the bytes
// of "dat.txt" and "sigma.txt", and errors that leave both files alone.
#include <filesystem>
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/blackbox.h"
#include "tests/support/expected.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

const std::string old_dat = "previous results\n";
const std::string old_sigma = "previous uncertainties\n";

// x 0 to 5: a band on the line y = 1 + x in the window 1.5..3.5; x 6 to 9:
// the noise region, scattered about its line with sd sqrt(0.4). Once
// ascending, once descending.
const std::string series =
    "0 1\n1 2\n2 13\n3 14\n4 5\n5 6\n6 0\n7 1\n8 0\n9 1\n&\n"
    "9 1\n8 0\n7 1\n6 0\n5 6\n4 5\n3 14\n2 13\n1 2\n0 1\n&\n";
const std::string peaks = "0 A: 1.5 3.5\n1 B: 8.5 5.5\n";
// every integral times 2/4, then over 2 (peak A) or -1 (peak B)
const std::string scale = "2 -1\n4 2\n0.5\n";

struct outcome {
  run_result result;
  std::string dat, sigma;  // afterwards
};

outcome bandsum(const std::vector<std::string>& args, const std::string& spectra = series,
                const std::string& peak_list = peaks) {
  scratch_dir dir;
  write_file(dir / "peak.list", peak_list);
  write_file(dir / "2d.txt", spectra);
  write_file(dir / "scale.txt", scale);
  write_file(dir / "dat.txt", old_dat);
  write_file(dir / "sigma.txt", old_sigma);
  outcome o;
  o.result = run(BANDSUM_EXE, args, dir.path);
  o.dat = read_file(dir / "dat.txt");
  o.sigma = read_file(dir / "sigma.txt");
  return o;
}

const std::string saving_sigma = "Saving \"sigma.txt\" file with the standard uncertainty of every integral \n\n";

// Peak A: 20 above the line (weights2 4 with N 1), peak B: window 5.5..8.5 holds x 6
// to 8 (sum 1), anchors (5, 6) and (9, 1) with N 1: line 4.75, 3.5, 2.25,
// sum 1 - 10.5 = -9.5; T = 1.5, weights2 3 + 2.25 + 2.25. The noise sd is
// sqrt(0.4); A is scaled by 1/4, B by -1/2.
const std::string both_dat = "  0.0 5.000000000 4.750000000 \n  0.5 5.000000000 4.750000000 \n";
const std::string both_sigma = "  0.0 0.316227766 0.866025404 \n  0.5 0.316227766 0.866025404 \n";

TEST(BandsumOptions, BaselineAndNoiseBytes) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--baseline", "1", "--noise", "5.5", "10", "peak.list", "2d.txt"},
           {"--noise", "5.5", "10", "--baseline", "1", "peak.list", "2d.txt"}}) {
    const outcome o = bandsum(args);
    EXPECT_EQ(o.result.status, 0) << o.result.err;
    EXPECT_EQ(o.result.out, expected::bandsum::reading + expected::bandsum::saving + saving_sigma);
    EXPECT_EQ(o.dat, both_dat);
    EXPECT_EQ(o.sigma, both_sigma);
  }
}

TEST(BandsumOptions, BaselineAloneLeavesSigmaTxtAlone) {
  const outcome o = bandsum({"--baseline", "1", "peak.list", "2d.txt"});
  EXPECT_EQ(o.result.status, 0) << o.result.err;
  EXPECT_EQ(o.result.out, expected::bandsum::reading + expected::bandsum::saving);
  EXPECT_EQ(o.dat, both_dat);
  EXPECT_EQ(o.sigma, old_sigma);
}

// With --noise alone the sums are the plain ones, byte for byte.
TEST(BandsumOptions, NoiseAloneKeepsThePlainSums) {
  const std::string example = read_file(fs::path(EXAMPLES_DIR) / "2d.txt");
  const std::string example_peaks = read_file(fs::path(EXAMPLES_DIR) / "peak.list");
  const outcome plain = bandsum({"peak.list", "2d.txt"}, example, example_peaks);
  const outcome noisy = bandsum({"--noise", "4.5", "5.5", "peak.list", "2d.txt"}, example, example_peaks);
  EXPECT_EQ(noisy.result.status, 0) << noisy.result.err;
  EXPECT_EQ(noisy.dat, plain.dat);
  EXPECT_EQ(std::count(noisy.sigma.begin(), noisy.sigma.end(), '\n'), 60);
  EXPECT_EQ(noisy.sigma.substr(0, 6), "  0.0 ");
}

TEST(BandsumOptions, ErrorsLeaveBothFilesAlone) {
  const std::string unknown =
      "; the options are --baseline N and --noise LO HI, before the peak list and the series (write a path "
      "beginning with \"--\" as \"./--...\")\n";
  const std::string baseline_usage =
      "bandsum: --baseline takes the number of anchor samples on each side of a window, a whole number from 1 to "
      "1000000";
  const std::string noise_usage =
      "bandsum: --noise takes two numbers LO HI with LO < HI, the x range of each spectrum that holds no band";
  const struct {
    std::vector<std::string> args;
    std::string peak_list;
    std::string err;
  } cases[] = {
      {{"--bogus", "peak.list", "2d.txt"}, peaks, "bandsum: unknown option \"--bogus\"" + unknown},
      {{"--baseline", "0", "peak.list", "2d.txt"}, peaks, baseline_usage + ", not \"0\"\n"},
      {{"--baseline", "2.5", "peak.list", "2d.txt"}, peaks, baseline_usage + ", not \"2.5\"\n"},
      {{"--baseline", "peak.list", "2d.txt"}, peaks, baseline_usage + ", not \"peak.list\"\n"},
      {{"--baseline", "1", "--baseline", "2", "peak.list", "2d.txt"}, peaks, "bandsum: --baseline is given twice\n"},
      {{"--noise", "2", "1", "peak.list", "2d.txt"}, peaks, noise_usage + ", not \"2\" \"1\"\n"},
      {{"--noise", "1", "x", "peak.list", "2d.txt"}, peaks, noise_usage + ", not \"1\" \"x\"\n"},
      {{"--noise", "1", "2", "--noise", "1", "2", "peak.list", "2d.txt"}, peaks, "bandsum: --noise is given twice\n"},
      {{"--baseline", "1", "peak.list"}, peaks,
       "bandsum: the options must be followed by two paths, the peak list and the series\n"},
      {{"peak.list", "2d.txt", "--noise", "1", "2"}, peaks,
       "bandsum: \"--noise\" comes after the peak list and the series; options go before them\n"},
      {{"--baseline", "1", "peak.list", "2d.txt", "more", "--baseline"}, peaks,
       "bandsum: \"--baseline\" comes after the peak list and the series; options go before them\n"},
      {{"--baseline", "2", "peak.list", "2d.txt"}, peaks,
       "bandsum: 2d.txt line 11: spectrum 0 (closed here) peak 1 has only 1 of the 2 samples at or above its upper "
       "bound that --baseline 2 asks for\n"},
      {{"--baseline", "1", "peak.list", "2d.txt"}, "0 A: 1.5 3.5\n1 B: 8.5 9.5\n",
       "bandsum: 2d.txt line 11: spectrum 0 (closed here) peak 1 has no sample at or above its upper bound for its "
       "baseline\n"},
      {{"--noise", "7.5", "9.5", "peak.list", "2d.txt"}, peaks,
       "bandsum: 2d.txt line 11: spectrum 0 (closed here) holds 2 samples in the noise region; at least 3 are "
       "needed (7.5 < x < 9.5)\n"},
  };
  for (const auto& c : cases) {
    const outcome o = bandsum(c.args, series, c.peak_list);
    EXPECT_EQ(o.result.status, 1) << c.err;
    EXPECT_EQ(o.result.err, c.err);
    EXPECT_EQ(o.dat, old_dat) << c.err;
    EXPECT_EQ(o.sigma, old_sigma) << c.err;
  }
}

// dat.txt is only replaced when sigma.txt can be written too.
TEST(BandsumOptions, ResultsAreReplacedTogether) {
  scratch_dir dir;
  write_file(dir / "peak.list", peaks);
  write_file(dir / "2d.txt", series);
  write_file(dir / "scale.txt", scale);
  write_file(dir / "dat.txt", old_dat);
  fs::create_directory(dir / "sigma.txt");
  const run_result r = run(BANDSUM_EXE, {"--noise", "5.5", "10", "peak.list", "2d.txt"}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("bandsum: cannot ", 0), 0u) << r.err;
  EXPECT_EQ(read_file(dir / "dat.txt"), old_dat);
}

}  // namespace
