// ratefit run as a user runs it: mechanism files, their results and errors,
// and the first-order fit of guess.txt on the example data.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#include "common/table.h"
#include "tests/support/blackbox.h"
#include "tests/support/expected.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

// Three columns of A -> B -> C (k1 = 0.1, k2 = 0.02) with a small fixed
// pattern of noise, as bandsum would leave them.
std::string consecutive_dat() {
  std::string text;
  for (int i = 0; i < 50; ++i) {
    const double t = 2.0 * i, a = std::exp(-0.1 * t), b = 0.1 / (0.02 - 0.1) * (a - std::exp(-0.02 * t));
    const double noise = 0.002 * std::sin(7.0 * i);
    char line[128];
    std::snprintf(line, sizeof line, "%5.1f %.9f %.9f %.9f \n", t, a + noise, b - noise, 1 - a - b + noise / 2);
    text += line;
  }
  return text;
}

const std::string& consecutive_model = expected::mechanism::consecutive;

const std::string single_step_model =
    "A -> B  k = 0.05\nA = 1\ncolumn 1 = A\ncolumn 2 = B\ncolumn 3 = eC * B\neC = 0.1\n";

TEST(Ratefit, FitsTheDocumentedExampleAndItsResultFitsAgain) {
  scratch_dir dir;
  write_file(dir / "dat.txt", consecutive_dat());
  write_file(dir / "abc.txt", consecutive_model);
  const run_result r = run(RATEFIT_EXE, {"abc.txt"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(fs::exists(dir / "abc.png"));
  EXPECT_EQ(read_file(dir / "abc.fit.txt"), read_file(fs::path(TESTS_DIR) / "fitter" / "consecutive-fit.txt"));
  EXPECT_EQ(read_file(dir / "abc.curve.txt"), read_file(fs::path(TESTS_DIR) / "fitter" / "consecutive-curve.txt"));
  const table curve = fileIn((dir / "abc.curve.txt").c_str());
  ASSERT_EQ(curve.size(), 50u);
  // The result is a mechanism file that fits again to the same values.
  const run_result again = run(RATEFIT_EXE, {"abc.fit.txt"}, dir.path);
  ASSERT_EQ(again.status, 0) << again.err;
  const std::string first = read_file(dir / "abc.fit.txt"), second = read_file(dir / "abc.fit.fit.txt");
  EXPECT_EQ(first.substr(first.find("\n# consecutive")), second.substr(second.find("\n# consecutive")));
  // Simulating the fitted file gives the fitted curves.
  ASSERT_EQ(run(RATEFIT_EXE, {"--simulate", "abc.fit.txt"}, dir.path).status, 0);
  const table simulated = fileIn((dir / "abc.fit.curve.txt").c_str());
  ASSERT_EQ(simulated.size(), 50u);
  for (std::size_t i = 0; i < 50; ++i) EXPECT_NEAR(simulated[i][2], curve[i][2], 1e-9);
}

TEST(Ratefit, RanksModelsByAic) {
  scratch_dir dir;
  write_file(dir / "dat.txt", consecutive_dat());
  write_file(dir / "abc.txt", consecutive_model);
  write_file(dir / "ab.txt", single_step_model);
  const run_result r = run(RATEFIT_EXE, {"ab.txt", "abc.txt"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir / "models.txt"), read_file(fs::path(TESTS_DIR) / "fitter" / "consecutive-models.txt"));
}

TEST(Ratefit, ErrorsNameTheirPlaceAndLeaveResultsAlone) {
  const struct {
    const char* name;
    std::string model, dat, err;
  } cases[] = {
      {"unknown keyword", "A -> B k = 1\nA = 1\ncolum 1 = A\n", "0 1\n1 0.5\n2 0.25\n",
       "ratefit: m.txt:3: unknown keyword \"colum\"\n"},
      {"inf in a used column", "A -> B k = 1\nA = 1\ncolumn 1 = A\n", "0 1\n1 inf\n2 0.25\n",
       "ratefit: dat.txt line 2: column 1 is \"inf\", not a number\n"},
      {"no trace of the step", "A -> B k = 1\nA = 1\ncolumn 1 = A + B\n", "0 1\n1 1\n2 1\n3 1\n",
       "ratefit: m.txt: k falls to 0: setting it to 0 changes no residual, so the data show no trace of its step "
       "(hold it fixed or remove the step); no result was written\n"},
      {"too few points", "A -> B k = 1\nA = 1\nB = 0\ncolumn 1 = A\n", "0 1\n1 0.5\n",
       "ratefit: m.txt: 2 measured points cannot determine 3 fitted values\n"},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    write_file(dir / "m.txt", c.model);
    write_file(dir / "dat.txt", c.dat);
    write_file(dir / "m.fit.txt", "old fit\n");
    const run_result r = run(RATEFIT_EXE, {"m.txt"}, dir.path);
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    EXPECT_EQ(read_file(dir / "m.fit.txt"), "old fit\n") << c.name;
    EXPECT_FALSE(fs::exists(dir / "m.curve.txt")) << c.name;
  }
}

// bandsum's dat.txt of the example spectra, in dir.
void example_dat(const scratch_dir& dir) {
  fs::copy_file(fs::path(EXAMPLES_DIR) / "scale.txt", dir / "scale.txt");
  ASSERT_EQ(run(BANDSUM_EXE,
                {(fs::path(EXAMPLES_DIR) / "peak.list").string(), (fs::path(EXAMPLES_DIR) / "2d.txt").string()},
                dir.path)
                .status,
            0);
}

TEST(Ratefit, GuessModeFindsTheExampleRateConstantFromFarGuesses) {
  scratch_dir dir;
  example_dat(dir);
  // Far guesses first; the example's own guess last, whose
  // results are kept byte for byte.
  for (const char* k_guess : {"0.008", "8", "16", "0.08"}) {
    write_file(dir / "guess.txt", std::string("# k\n") + k_guess + "\n# A0 B0\n1 0\n# span\n0 59\n");
    const run_result r = run(RATEFIT_EXE, {}, dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    const table fit = fileIn((dir / "fit.txt").c_str());
    ASSERT_GE(fit.size(), 4u);
    EXPECT_NEAR(fit[0][0], 0.0799, 0.0002) << k_guess;
    EXPECT_LT(fit[3][0], 0.001);
  }
  EXPECT_EQ(read_file(dir / "fit.txt"), read_file(fs::path(TESTS_DIR) / "fitter" / "example-fit.txt"));
  EXPECT_EQ(read_file(dir / "fitcurve.txt"), read_file(fs::path(TESTS_DIR) / "fitter" / "example-fitcurve.txt"));
}

TEST(Ratefit, GuessModeErrorsLeaveResultsAlone) {
  const std::string dat = "0 1 0\n1 0.74 0.26\n2 0.55 0.45\n3 0.41 0.59\n";
  const std::string guess = "0.3\n1 0\n0 10\n";
  const struct {
    const char* name;
    std::string dat, guess, err;
  } cases[] = {
      {"guess.txt row 1 short", dat, "0.3\n1\n0 10\n",
       "ratefit: \"guess.txt\" must hold three rows: k; A0 B0; begin_time end_time\n"},
      {"k not positive", dat, "-1\n1 0\n0 10\n",
       "ratefit: the rate constant k of \"guess.txt\" must be a number above 0: it is fitted as a positive value\n"},
      {"nan in column B", "0 1 0\n1 0.74 nan\n2 0.55 0.45\n", guess,
       "ratefit: dat.txt line 2: column 2 is \"nan\", not a number\n"},
      {"too few points", "0 1\n1 0.7\n", guess, "ratefit: \"dat.txt\" holds too few points for 2 fitted values\n"},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    write_file(dir / "dat.txt", c.dat);
    write_file(dir / "guess.txt", c.guess);
    write_file(dir / "fit.txt", "old fit\n");
    const run_result r = run(RATEFIT_EXE, {}, dir.path);
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    EXPECT_EQ(read_file(dir / "fit.txt"), "old fit\n") << c.name;
    EXPECT_FALSE(fs::exists(dir / "fitcurve.txt")) << c.name;
  }
}

}  // namespace

namespace {

TEST(Ratefit, GuessModeWeighsByTheSigmaFile) {
  scratch_dir dir;
  write_file(dir / "dat.txt", "0 1 0\n1 0.74 0.26\n2 0.55 0.45\n3 0.41 0.59\n4 0.3 0.7\n");
  write_file(dir / "guess.txt", "0.3\n1 0\n0 10\n");
  write_file(dir / "sigma.txt", "0 0.01 0.01\n1 0.01 0.01\n2 0.01 0.01\n3 0.01 0.01\n4 0.01 0.01\n");
  write_file(dir / "zero.txt", "0 0.01 0.01\n1 0.01 0.01\n2 0.01 0\n3 0.01 0.01\n4 0.01 0.01\n");
  write_file(dir / "fit.txt", "old fit\n");
  const run_result bad = run(RATEFIT_EXE, {"--sigma", "zero.txt"}, dir.path);
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, "ratefit: zero.txt line 3: column 2 holds the uncertainty 0; it must be above 0\n");
  EXPECT_EQ(read_file(dir / "fit.txt"), "old fit\n");
  const run_result good = run(RATEFIT_EXE, {"--sigma", "sigma.txt"}, dir.path);
  ASSERT_EQ(good.status, 0) << good.err;
  EXPECT_NE(good.out.find("  chi-square "), std::string::npos);
}

}  // namespace
