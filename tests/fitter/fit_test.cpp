// Fits of mechanisms to synthetic data whose true values are known.
#include <cmath>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <string>

#include "engine/fit.h"
#include "fitter/data.h"
#include "tests/support/blackbox.h"

using namespace kinetics;

namespace {

using namespace testing_support;

// A data file of rows "t col1 col2 ..." from the closed form cols(t).
std::string table_of(int rows, double step, const std::function<vector_d(double)>& cols, double noise = 0) {
  std::string text;
  unsigned state = 12345;
  for (int i = 0; i < rows; ++i) {
    const double t = i * step;
    text += std::to_string(t);
    for (double v : cols(t)) {
      state = state * 1103515245u + 12345u;  // small fixed noise, uniform in [-noise, noise]
      char cell[64];
      std::snprintf(cell, sizeof cell, " %.17g", v + noise * (2.0 * (state >> 16 & 0x7fff) / 32767.0 - 1.0));
      text += cell;
    }
    text += "\n";
  }
  return text;
}

struct fitted {
  fit_result r;
  problem p;
};

fitted fit_text(const scratch_dir& dir, const std::string& model, const std::string& data) {
  write_file(dir / "dat.txt", data);
  mechanism m;
  EXPECT_EQ(parse_mechanism((dir / "m.txt").string(), model, m), "");
  measured d;
  EXPECT_EQ(read_data(m, d), "");
  fitted f{{}, make_problem(m, d)};
  f.r = fit(f.p);
  return f;
}

vector_d abc(double t) {
  const double k1 = 0.3, k2 = 0.07, a = std::exp(-k1 * t);
  const double b = k1 / (k2 - k1) * (a - std::exp(-k2 * t));
  return {a, 0.5 * b, 1 - a - b};
}
vector_d reversible(double t) {
  const double e = std::exp(-(0.2 + 0.05) * t), a = 0.2 + 0.8 * e;
  return {a, 1 - a};
}
vector_d dimer(double t) { return {1 / (1 + 2 * 0.5 * t)}; }
vector_d bimolecular(double t) {  // A + B -> C, A0 = 1, B0 = 0.6, k = 0.4
  const double d = 0.4, e = std::exp(-d * 0.4 * t), a = d / (1 - 0.6 * e);
  return {a, a - d};
}

TEST(Fit, RecoversNoiseFreeValuesFromFarGuesses) {
  const struct {
    const char* model;  // %g stands for the guessed factor of every rate constant
    std::function<vector_d(double)> truth;
    double step;
    vector_d values;  // the true fitted values in the problem's order
  } cases[] = {
      {"A -> B  k1 = %g\nB -> C  k2 = %g\nA = 1\ncolumn 1 = A\ncolumn 2 = eB * B\ncolumn 3 = C\neB = 1\n", abc, 0.5,
       {0.3, 0.07, 1, 0.5}},
      {"A <=> B  kf = %g  kr = %g\nA = 1\ncolumn 1 = A\ncolumn 2 = B\n", reversible, 0.5, {0.2, 0.05, 1}},
      {"2 A -> B  k = %g\nA = 1\ncolumn 1 = A\n", dimer, 0.2, {0.5, 1}},
      {"A + B -> C  k = %g\nA = 1\nB = 0.6\ncolumn 1 = A\ncolumn 2 = B\n", bimolecular, 0.5, {0.4, 1, 0.6}},
  };
  for (const auto& c : cases) {
    for (const double factor : {100.0, 0.01}) {
      scratch_dir dir;
      char model[512];
      std::snprintf(model, sizeof model, c.model, factor * c.values[0], factor * c.values[1]);
      const fitted f = fit_text(dir, model, table_of(40, c.step, c.truth));
      ASSERT_EQ(f.r.failure, "") << model;
      for (std::size_t i = 0; i < c.values.size(); ++i) {
        EXPECT_NEAR(f.r.estimates[i].value / c.values[i], 1, 1e-6) << model << " value " << i;
      }
    }
  }
}

TEST(Fit, IntervalsOfNoisyDataContainTheEstimate) {
  for (const double noise : {0.01, 1e-8}) {
    scratch_dir dir;
    const auto truth = [](double t) { return vector_d{std::exp(-0.2 * t), 1 - std::exp(-0.2 * t)}; };
    const fitted f = fit_text(dir, "A -> B  k = 0.1\nA = 1\ncolumn 1 = A\ncolumn 2 = B\n", table_of(30, 1, truth, noise));
    ASSERT_EQ(f.r.failure, "");
    const estimate& k = f.r.estimates[0];
    EXPECT_NEAR(k.value, 0.2, 4 * k.se);
    EXPECT_LT(k.t_low, k.value);
    EXPECT_GT(k.t_high, k.value);
    // Nearly linear here, so the profile interval is close to the t interval.
    EXPECT_NEAR(k.profile_low, k.t_low, 0.05 * (k.t_high - k.t_low)) << noise;
    EXPECT_NEAR(k.profile_high, k.t_high, 0.05 * (k.t_high - k.t_low)) << noise;
    EXPECT_TRUE(std::isnan(f.r.estimates[1].profile_low));
    EXPECT_EQ(f.r.dof, 60 - 2);
    EXPECT_NEAR(f.r.correlation(0, 1), f.r.correlation(1, 0), 1e-12);
  }
}

TEST(Fit, WeightsFromKnownUncertainties) {
  // The same uncertainty everywhere gives the unweighted estimates, with
  // standard errors from it rather than from the scatter, and chi-square is
  // the sum of squares over its square.
  scratch_dir dir;
  const auto truth = [](double t) { return vector_d{std::exp(-0.2 * t), 1 - std::exp(-0.2 * t)}; };
  const std::string model = "A -> B  k = 0.1\nA = 1\ncolumn 1 = A\ncolumn 2 = B\n";
  const fitted plain = fit_text(dir, model, table_of(30, 1, truth, 0.01));
  fitted weighted{{}, plain.p};
  weigh(weighted.p, {vector_d(30, 0.02), vector_d(30, 0.02)});
  weighted.r = fit(weighted.p);
  ASSERT_EQ(weighted.r.failure, "");
  EXPECT_TRUE(weighted.r.weighted);
  const double s = std::sqrt(plain.r.ssr / plain.r.dof);
  EXPECT_NEAR(weighted.r.ssr, plain.r.ssr / (0.02 * 0.02), 1e-6 * weighted.r.ssr);
  EXPECT_NEAR(weighted.r.reduced_chi_square, weighted.r.ssr / 58, 1e-12);
  EXPECT_GT(weighted.r.chi_square_p, 0.99);  // the scatter is far below the stated uncertainty
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_NEAR(weighted.r.estimates[i].value, plain.r.estimates[i].value, 1e-9);
    EXPECT_NEAR(weighted.r.estimates[i].se, plain.r.estimates[i].se * 0.02 / s, 1e-6 * weighted.r.estimates[i].se);
  }
}

TEST(Fit, ColumnsOfVeryDifferentScalesConvergeEachOnItsOwn) {
  // Counts of A (about 1e5) and the concentration of C (about 1e-3): the
  // small column's misfit is no rounding of the large one.
  scratch_dir dir;
  const auto truth = [](double t) { return vector_d{1e8 * 1e-3 * std::exp(-0.2 * t), 1e-3 * std::exp(-0.1 * t)}; };
  const fitted f = fit_text(dir,
                            "A -> B  k1 = 0.2\nC -> D  k2 = 0.1\nA = 0.001 fixed\nC = 0.004\n"
                            "column 1 = eA * A\ncolumn 2 = C\neA = 1e8\n",
                            table_of(30, 0.5, truth));
  ASSERT_EQ(f.r.failure, "");
  const vector_d want{0.2, 0.1, 0.001, 1e8};
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(f.r.estimates[i].value / want[i], 1, 1e-7) << i;
  EXPECT_GT(f.r.iterations, 0);
}

TEST(Fit, CertifiedFirstOrderProblemFromBothPublishedStarts) {
  // y = b1 (1 - exp(-b2 x)) with six observations of oxygen demand, as B of
  // A -> B: b1 = [A]0, b2 = k. Certified: b1 = 213.80940889 +- 12.354515176,
  // b2 = 0.54723748542 +- 0.10455993237, sum of squares 1168.0088766.
  const char* const data = "1 109\n2 149\n3 149\n5 191\n7 213\n10 224\n";
  for (const char* start : {"A -> B  k = 1\nA = 1\ncolumn 1 = B\n", "A -> B  k = 0.75\nA = 100\ncolumn 1 = B\n"}) {
    scratch_dir dir;
    const fit_result r = fit_text(dir, start, data).r;
    ASSERT_EQ(r.failure, "") << start;
    EXPECT_NEAR(r.estimates[0].value / 0.54723748542, 1, 2e-8) << start;
    EXPECT_NEAR(r.estimates[1].value / 213.80940889, 1, 1e-8) << start;
    EXPECT_NEAR(r.estimates[0].se / 0.10455993237, 1, 1e-6) << start;
    EXPECT_NEAR(r.estimates[1].se / 12.354515176, 1, 1e-6) << start;
    EXPECT_NEAR(r.ssr / 1168.0088766, 1, 1e-10) << start;
  }
}

TEST(Fit, SaysWhyThereIsNoResult) {
  const struct {
    const char* model;
    std::function<vector_d(double)> truth;
    const char* failure;
  } cases[] = {
      {"A -> B  k = 0.1\nA = 1\nB = 0\ncolumn 1 = A + B\n", [](double) { return vector_d{1}; },
       "k falls to 0: setting it to 0 changes no residual, so the data show no trace of its step (hold it fixed or "
       "remove the step)"},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    const fit_result r = fit_text(dir, c.model, table_of(20, 1, c.truth)).r;
    EXPECT_EQ(r.failure, c.failure) << c.model;
    EXPECT_EQ(r.status, fit_status::rate_falls_to_0) << c.model;
  }
}

TEST(Fit, ARateConstantTheDataDoNotNeedIsReportedAt0) {
  // B never forms: k is 0, held there with an upper limit, A0 fitted alone.
  scratch_dir dir;
  const fitted f = fit_text(dir, "A -> B  k = 0.1\nA = 1\ncolumn 1 = A\ncolumn 2 = B\n",
                            table_of(20, 1, [](double) { return vector_d{1, 0}; }, 1e-3));
  ASSERT_EQ(f.r.failure, "");
  EXPECT_TRUE(f.r.estimates[0].at_zero);
  EXPECT_EQ(f.r.estimates[0].value, 0);
  EXPECT_GT(f.r.estimates[0].profile_high, 0);
  EXPECT_LT(f.r.estimates[0].profile_high, 1e-3);
  EXPECT_NEAR(f.r.estimates[1].value, 1, 1e-3);
  EXPECT_EQ(f.r.dof, 40 - 1);
}

TEST(Fit, WarnsOfRivalMinimaAndUndeterminedValues) {
  // Only B of A -> B -> C, with its factor free: k1 and k2 may trade places.
  scratch_dir dir;
  const fitted f = fit_text(dir, "A -> B  k1 = 0.3\nB -> C  k2 = 0.07\nA = 1 fixed\ncolumn 1 = eB * B\neB = 1\n",
                            table_of(40, 0.5, [](double t) { return vector_d{abc(t)[1]}; }, 1e-4));
  ASSERT_EQ(f.r.failure, "");
  bool rival = false;
  for (const std::string& w : f.r.warnings) rival = rival || w.find("another minimum fits nearly as well") == 0;
  EXPECT_TRUE(rival);
}

TEST(Fit, AFitPastItsTimeSaysWhereItStopped) {
  scratch_dir dir;
  write_file(dir / "dat.txt", table_of(40, 1.0, abc, 0.001));
  mechanism m;
  ASSERT_EQ(parse_mechanism((dir / "m.txt").string(),
                            "A -> B  k1 = 0.1\nB -> C  k2 = 0.1\nA = 1\ncolumn 1 = A\ncolumn 2 = eB * B\neB = 1\n"
                            "column 3 = C\n",
                            m),
            "");
  measured d;
  ASSERT_EQ(read_data(m, d), "");
  const problem p = make_problem(m, d);
  fit_settings settings;
  settings.max_seconds = 1e-9;
  const fit_result r = fit(p, settings);
  EXPECT_EQ(r.status, fit_status::out_of_time);
  EXPECT_EQ(r.failure, "out of time");
  EXPECT_EQ(r.stopped_start, 0);
  const vector_d start{0.1, 0.1, 1, 1};
  ASSERT_EQ(r.stopped_at.size(), start.size());
  for (std::size_t i = 0; i < start.size(); ++i) EXPECT_NEAR(r.stopped_at[i], start[i], 1e-15);
  settings.max_seconds = 600;  // a budget it keeps gives the fit of no budget
  const fit_result within = fit(p, settings), free = fit(p);
  EXPECT_EQ(within.status, fit_status::converged);
  EXPECT_EQ(within.x, free.x);
}

}  // namespace
