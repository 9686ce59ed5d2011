// ratefit run as a user runs it, on synthetic and on the example data.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#include "common/table.h"
#include "fitter/fit.h"
#include "tests/support/blackbox.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

// dat.txt as bandsum writes it, from the exact solution of A -> B.
std::string exact_dat(double k, double a0, double b0, int points, double step, bool with_b) {
  std::string text;
  char line[128];
  for (int j = 0; j < points; ++j) {
    const double t = step * j;
    const double a = a0 * std::exp(-k * t);
    std::snprintf(line, sizeof line, with_b ? "%5.1f %10.9f %10.9f \n" : "%5.1f %10.9f \n", t, a, a0 + b0 - a);
    text += line;
  }
  return text;
}

std::string guess_txt(double k, double a0, double b0) {
  char text[128];
  std::snprintf(text, sizeof text, "# k\n%.17g\n# A0 B0\n%.17g %.17g\n# span\n0 100\n", k, a0, b0);
  return text;
}

TEST(Ratefit, NoiseFreeDataToSixSignificantDigits) {
  const double k = 0.0537, a0 = 0.8, b0 = 0.1;
  const struct {
    const char* name;
    double k_guess;
    bool with_b;
  } cases[] = {
      {"guess right, A and B", k, true},          {"guess ten times too large", 10 * k, true},
      {"guess ten times too small", k / 10, true}, {"only A, guess too large", 10 * k, false},
      {"only A, guess too small", k / 10, false},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    write_file(dir / "dat.txt", exact_dat(k, a0, b0, 41, 1.0, c.with_b));
    write_file(dir / "guess.txt", guess_txt(c.k_guess, 1.0, c.with_b ? 0.0 : b0));
    const run_result r = run(RATEFIT_EXE, {}, dir.path);
    ASSERT_EQ(r.status, 0) << c.name << "\n" << r.err;
    EXPECT_EQ(r.err, "") << c.name;
    const table fit = fileIn((dir / "fit.txt").c_str());
    ASSERT_GE(fit.size(), 6u) << c.name;
    EXPECT_NEAR(fit[0][0], k, 5e-7 * k) << c.name;
    EXPECT_NEAR(fit[1][0], a0, 5e-7 * a0) << c.name;
    EXPECT_NEAR(fit[1][1], b0, 5e-7) << c.name;
    EXPECT_EQ(fit[2], (std::vector<double>{0, 100})) << c.name;
    EXPECT_EQ(fit[3][2] == 0.0, !c.with_b) << c.name << ": B0 held exactly when B is not measured";
    EXPECT_NEAR(fit[5][0], std::log(2.0) / k, 1e-5) << c.name;

    const table curve = fileIn((dir / "fitcurve.txt").c_str());
    ASSERT_EQ(curve.size(), 41u) << c.name;
    EXPECT_EQ(curve[10].size(), c.with_b ? 5u : 3u) << c.name << ": nan stops a row where B was not measured";
    EXPECT_NEAR(curve[10][2], a0 * std::exp(-k * 10), 1e-8) << c.name;
  }
}

TEST(Ratefit, SimulationFinishesOffGridTimes) {
  // Times that are no multiple of the step are reached by one shorter step.
  const std::vector<double> times = {0.0, 0.005, 0.333, 2.0, 7.25};
  const curves sim = simulate_at(0.7, 2.0, 0.5, 0.0, times);
  for (std::size_t i = 0; i < times.size(); ++i) {
    EXPECT_NEAR(sim.a[i], 2.0 * std::exp(-0.7 * times[i]), 1e-9) << times[i];
    EXPECT_NEAR(sim.a[i] + sim.b[i], 2.5, 1e-12) << times[i];
  }
}

TEST(Ratefit, IterationLimitIsAFailure) {
  curves measured;
  for (int j = 0; j < 20; ++j) {
    measured.t.push_back(j);
    measured.a.push_back(std::exp(-0.2 * j));
    measured.b.push_back(1 - std::exp(-0.2 * j));
  }
  int reports = 0;
  const fit_result r = fit_rate(measured, guess{2.0, 1, 0, 0}, [&](int, double, double) { ++reports; }, 1);
  EXPECT_EQ(r.failure, "the fit did not converge in 1 iterations");
  EXPECT_EQ(reports, 2) << "the start and the one iteration allowed";
  EXPECT_EQ(fit_rate(measured, guess{2.0, 1, 0, 0}, nullptr).failure, "");
}

TEST(Ratefit, RecoversTheExampleRateConstant) {
  scratch_dir dir;
  fs::copy_file(fs::path(EXAMPLES_DIR) / "scale.txt", dir / "scale.txt");
  ASSERT_EQ(run(BANDSUM_EXE,
                {(fs::path(EXAMPLES_DIR) / "peak.list").string(), (fs::path(EXAMPLES_DIR) / "2d.txt").string()},
                dir.path)
                .status,
            0);
  for (const double k_guess : {0.008, 0.8}) {
    write_file(dir / "guess.txt", guess_txt(k_guess, 1.0, 0.0));
    const run_result r = run(RATEFIT_EXE, {}, dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    const table fit = fileIn((dir / "fit.txt").c_str());
    ASSERT_GE(fit.size(), 4u);
    const double k = fit[0][0], se = fit[3][0];
    EXPECT_LT(std::abs(k - 0.08), 3 * se) << "the generator's k = 0.08 within three standard errors";
    EXPECT_LT(se, 0.001);
  }
}

TEST(Ratefit, ExampleResultFilesByteForByte) {
  scratch_dir dir;
  fs::copy_file(fs::path(EXAMPLES_DIR) / "scale.txt", dir / "scale.txt");
  write_file(dir / "guess.txt", "# k\n0.08\n# A0 B0\n1 0\n# begin_time end_time\n0 59\n");
  run(BANDSUM_EXE, {(fs::path(EXAMPLES_DIR) / "peak.list").string(), (fs::path(EXAMPLES_DIR) / "2d.txt").string()},
      dir.path);
  const run_result r = run(RATEFIT_EXE, {}, dir.path);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir / "fit.txt"), read_file(fs::path(TESTS_DIR) / "fitter" / "example-fit.txt"));
  EXPECT_EQ(read_file(dir / "fitcurve.txt"), read_file(fs::path(TESTS_DIR) / "fitter" / "example-fitcurve.txt"));
}

TEST(Ratefit, ErrorsLeaveResultsAlone) {
  const std::string dat = exact_dat(0.3, 1, 0, 10, 1.0, true);
  const std::string guess = guess_txt(0.3, 1, 0);
  const struct {
    const char* name;
    std::string dat, guess, err;
    bool dat_present = true, guess_present = true;
  } cases[] = {
      {"guess.txt missing", dat, "", "No such read-in file\nratefit: \"guess.txt\" must hold three rows: k; A0 B0; "
                                     "begin_time end_time\n", true, false},
      {"guess.txt row 1 short", dat, "0.3\n1\n0 10\n",
       "ratefit: \"guess.txt\" must hold three rows: k; A0 B0; begin_time end_time\n"},
      {"dat.txt missing", "", guess, "No such read-in file\nratefit: \"dat.txt\" holds no lines: run bandsum first\n",
       false},
      {"dat.txt row without A", "0.0 1 0\n1.0\n", guess,
       "ratefit: row 1 of \"dat.txt\" must hold a time and the concentration of A\n"},
      {"too few points", "0.0 1 \n1.0 0.7 \n", guess,
       "ratefit: \"dat.txt\" holds too few points for 2 fitted values\n"},
      {"time before begin_time", "-1.0 1 0 \n" + dat, guess,
       "ratefit: row 0 of \"dat.txt\" lies before begin_time 0.000000 of \"guess.txt\"\n"},
      {"start not finite", dat, guess_txt(1e4, 1, 0),
       "ratefit: the simulation with the starting values is not finite (is k * 0.01 far below 2.8?); no result was "
       "written\n"},
      {"values undetermined", "0.0 0 0 \n1.0 0 0 \n2.0 0 0 \n3.0 0 0 \n", guess,
       "ratefit: the data do not determine the fitted values (their standard errors are not finite); no result was "
       "written\n"},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    if (c.dat_present) write_file(dir / "dat.txt", c.dat);
    if (c.guess_present) write_file(dir / "guess.txt", c.guess);
    write_file(dir / "fit.txt", "old fit\n");
    write_file(dir / "fitcurve.txt", "old curve\n");
    const run_result r = run(RATEFIT_EXE, {}, dir.path);
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    EXPECT_EQ(read_file(dir / "fit.txt"), "old fit\n") << c.name;
    EXPECT_EQ(read_file(dir / "fitcurve.txt"), "old curve\n") << c.name;
  }
}

}  // namespace
