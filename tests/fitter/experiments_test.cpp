// Problems of several experiments and of linked values: what they fit to,
// their derivatives, and the files ratefit leaves for them.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>

#include "engine/experiments.h"
#include "fitter/models.h"
#include "tests/support/blackbox.h"

using namespace kinetics;

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

// Rows "t v1 v2 ..." at t = 0, step, ... from cols(t).
std::string table_of(int rows, double step, const std::function<vector_d(double)>& cols) {
  std::string text;
  for (int i = 0; i < rows; ++i) {
    char cell[64];
    std::snprintf(cell, sizeof cell, "%.17g", i * step);
    text += cell;
    for (double v : cols(i * step)) {
      std::snprintf(cell, sizeof cell, " %.17g", v);
      text += cell;
    }
    text += "\n";
  }
  return text;
}

// A -> B -> C from A0, the columns A, e * B and C.
std::function<vector_d(double)> consecutive(double k1, double k2, double a0, double e, double t0 = 0) {
  return [=](double t) {
    const double s = std::max(t - t0, 0.0), a = a0 * std::exp(-k1 * s);
    const double b = a0 * k1 / (k2 - k1) * (std::exp(-k1 * s) - std::exp(-k2 * s));
    return vector_d{a, e * b, a0 - a - b};
  };
}

loaded load(const scratch_dir& dir, const std::string& model) {
  write_file(dir / "m.txt", model);
  return load_problem((dir / "m.txt").string());
}

const char* const three_runs =
    "A -> B  k1 = %g\nB -> C  k2 = %g\ncolumn 1 = A\ncolumn 2 = eB * B\ncolumn 3 = C\neB = 2\n"
    "experiment run1\ndata r1.txt\nA = 3\neB = 1\n"
    "experiment run2\ndata r2.txt\nA = 0.2\n"
    "group late = run2 run3\neB = 0.1\n"
    "experiment run3\ndata r3.txt\nA = 0.1\n";

TEST(Experiments, RecoverEverySharedAndLocalValueFromFarStarts) {
  for (const double factor : {100.0, 0.01}) {
    scratch_dir dir;
    write_file(dir / "r1.txt", table_of(40, 0.5, consecutive(0.3, 0.07, 1, 0.5)));
    write_file(dir / "r2.txt", table_of(40, 0.5, consecutive(0.3, 0.07, 2, 0.8)));
    write_file(dir / "r3.txt", table_of(40, 0.5, consecutive(0.3, 0.07, 0.5, 0.8)));
    char model[1024];
    std::snprintf(model, sizeof model, three_runs, 0.3 * factor, 0.07 * factor);
    const loaded l = load(dir, model);
    ASSERT_EQ(l.error, "");
    ASSERT_EQ(l.p.parts.size(), 3u);
    const fit_result r = fit(l.p);
    ASSERT_EQ(r.failure, "");
    // k1, k2, [A]0 of each run, eB of run1 and of the group; the shared eB is
    // used by no experiment and so not fitted.
    const vector_d truth{0.3, 0.07, 1, 2, 0.5, 0.5, 0.8};
    const char* const names[] = {"k1", "k2", "[A]0@run1", "[A]0@run2", "[A]0@run3", "eB@run1", "eB@late"};
    ASSERT_EQ(r.estimates.size(), truth.size());
    for (std::size_t i = 0; i < truth.size(); ++i) {
      EXPECT_EQ(value_name(l.p, i), names[i]);
      EXPECT_NEAR(r.estimates[i].value / truth[i], 1, 1e-6) << names[i] << " from " << factor;
    }
    EXPECT_EQ(r.points, 3 * 40 * 3);
  }
}

// The derivatives of the stacked residuals against central differences,
// through expressions, a temperature form and a fitted start time.
TEST(Experiments, DerivativesFollowTheChainRule) {
  const char* const models[] = {
      "A -> B  k1 = kf / K\nB -> C  k2 = 0.05\nK = 0.5\nkf = 0.2\ncolumn 1 = A\ncolumn 2 = eB * B\neB = 0.7\n"
      "experiment one\ndata r1.txt\nA = 1\nexperiment two\ndata r2.txt\nA = 2\nk2 = exp(-ln(10) * 2) + kf\n",
      "A -> B  k1 = arrhenius(kr, Ea, 310)\nB -> C  k2 = eyring(dH, dS)\nkr = 0.1\nEa = 40\ndH = 80\ndS = -20\n"
      "A = 1\ncolumn 1 = A\ncolumn 2 = B\ncolumn 3 = C\n"
      "experiment cold\ndata r1.txt\ntemperature 300\nexperiment hot\ndata r2.txt\ntemperature 320\n",
      "A -> B  k1 = 0.2\nB -> C  k2 = 0.05\nA = 1\ncolumn 1 = A\ncolumn 2 = B\nstart t0 = 1.3\ndata r1.txt\n",
  };
  for (const char* model : models) {
    scratch_dir dir;
    write_file(dir / "r1.txt", table_of(20, 0.5, consecutive(0.2, 0.05, 1, 0.7, 1)));
    write_file(dir / "r2.txt", table_of(20, 0.5, consecutive(0.2, 0.05, 2, 0.7)));
    const loaded l = load(dir, model);
    ASSERT_EQ(l.error, "") << model;
    const vector_d x = to_solver(l.p, l.p.base);
    vector_d r;
    matrix_d j;
    ASSERT_EQ(residuals(l.p, x, true, r, j), "");
    for (std::size_t f = 0; f < x.size(); ++f) {
      const double h = 1e-6 * std::max(1.0, std::abs(x[f]));
      vector_d up = x, down = x, r_up, r_down;
      up[f] += h, down[f] -= h;
      matrix_d unused;
      ASSERT_EQ(residuals(l.p, up, false, r_up, unused), "");
      ASSERT_EQ(residuals(l.p, down, false, r_down, unused), "");
      for (std::size_t i = 0; i < r.size(); ++i) {
        const double numeric = (r_up[i] - r_down[i]) / (2 * h);
        EXPECT_NEAR(j(static_cast<long>(i), static_cast<long>(f)), numeric, 1e-6 * (1 + std::abs(numeric)))
            << model << " value " << value_name(l.p, f) << " row " << i;
      }
    }
  }
}

TEST(Experiments, TheDocumentedExampleIsTheExampleFileAndFits) {
  const std::string doc = read_file(fs::path(EXAMPLES_DIR) / ".." / "docs" / "mechanism.md");
  const std::string file = read_file(fs::path(EXAMPLES_DIR) / "experiments" / "two_runs.txt");
  const std::size_t at = doc.find("`examples/experiments/two_runs.txt`:\n\n```\n");
  ASSERT_NE(at, std::string::npos);
  const std::size_t from = doc.find("```\n", at) + 4;
  EXPECT_EQ(doc.substr(from, doc.find("```", from) - from), file);
  const loaded l = load_problem((fs::path(EXAMPLES_DIR) / "experiments" / "two_runs.txt").string());
  ASSERT_EQ(l.error, "");
  const fit_result r = fit(l.p);
  ASSERT_EQ(r.failure, "");
  EXPECT_NEAR(r.estimates[0].value, 0.1, 4 * r.estimates[0].se);
  EXPECT_NEAR(r.estimates[1].value, 0.03, 4 * r.estimates[1].se);
}

TEST(Experiments, ResultsPerExperimentAndAFitFileThatFitsAgain) {
  scratch_dir dir;
  write_file(dir / "r1.txt", table_of(30, 1, consecutive(0.3, 0.07, 1, 0.5)));
  write_file(dir / "r2.txt", table_of(30, 1, consecutive(0.3, 0.07, 2, 0.5)));
  fs::create_directories(dir / "in");
  write_file(dir / "in" / "m.txt",
             "A -> B  k1 = 1\nB -> C  k2 = 0.1\ncolumn 1 = A\ncolumn 2 = eB * B\neB = 1\n"
             "experiment a\ndata ../r1.txt\nA = 2\nexperiment b\ndata ../r2.txt\nA = 1\n");
  const run_result r = run(RATEFIT_EXE, {"in/m.txt"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* f : {"m.fit.txt", "m.a.curve.txt", "m.b.curve.txt"}) EXPECT_TRUE(fs::exists(dir / f)) << f;
  EXPECT_NE(r.out.find("[A]0@b "), std::string::npos) << r.out;
  const run_result again = run(RATEFIT_EXE, {"m.fit.txt"}, dir.path);
  ASSERT_EQ(again.status, 0) << again.err;
  const std::string first = read_file(dir / "m.fit.txt"), second = read_file(dir / "m.fit.fit.txt");
  EXPECT_EQ(first.substr(first.find("\nA -> B")), second.substr(second.find("\nA -> B")));
}

}  // namespace
