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

// A -> B with k at temperature t: from k(310 K) = 0.2 and Ea = 60 kJ/mol,
// or from dH = 60 kJ/mol and dS = -150 J/(mol K).
double k_at(std::size_t form, double t) {
  return form == 0 ? arrhenius_value(0.2, 60, 310, t) : eyring_value(60, -150, t);
}

TEST(Experiments, ArrheniusAndEyringValuesFromThreeTemperatures) {
  const char* const models[] = {
      "A -> B  k = arrhenius(kr, Ea, 310)\nkr = %g\nEa = 30\n",
      "A -> B  k = eyring(dH, dS)\ndH = 70\ndS = -100\n",
  };
  for (std::size_t m = 0; m < 2; ++m) {
    scratch_dir dir;
    std::string model = "column 1 = A\ncolumn 2 = B\nA = 1 fixed\n";
    char head[256];
    std::snprintf(head, sizeof head, models[m], 0.2 * 100);
    model = head + model;
    const double temperatures[] = {290, 310, 330};
    for (int i = 0; i < 3; ++i) {
      const double k = k_at(m, temperatures[i]);
      const std::string data = "r" + std::to_string(i) + ".txt";
      write_file(dir / data, table_of(30, 0.5 / k, [k](double t) {
                   return vector_d{std::exp(-k * t), 1 - std::exp(-k * t)};
                 }));
      model += "experiment e" + std::to_string(i) + "\ndata " + data + "\ntemperature " +
               std::to_string(static_cast<int>(temperatures[i])) + "\n";
    }
    const loaded l = load(dir, model);
    ASSERT_EQ(l.error, "") << model;
    const fit_result r = fit(l.p);
    ASSERT_EQ(r.failure, "") << model;
    const vector_d truth = m == 0 ? vector_d{0.2, 60} : vector_d{60, -150};
    for (std::size_t i = 0; i < 2; ++i) {
      EXPECT_NEAR(r.estimates[i].value / truth[i], 1, 1e-6) << m;
      EXPECT_LE(r.estimates[i].profile_low, r.estimates[i].value) << m;
      EXPECT_GE(r.estimates[i].profile_high, r.estimates[i].value) << m;
    }
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(part_rate(l.p, r, static_cast<std::size_t>(i), 0).value / k_at(m, temperatures[i]), 1, 1e-5) << m;
    }
  }
}

TEST(Experiments, AFittedStartTimeIsRecoveredAndAFixedOneFitsWorse) {
  scratch_dir dir;
  unsigned state = 7;
  write_file(dir / "r.txt", table_of(60, 0.25, [&](double t) {
               vector_d v = consecutive(0.5, 0.1, 1, 1, 2)(t);
               for (double& x : v) {
                 state = state * 1103515245u + 12345u;
                 x += 0.002 * (2.0 * (state >> 16 & 0x7fff) / 32767.0 - 1.0);
               }
               return v;
             }));
  const std::string reactions = "A -> B  k1 = 0.3\nB -> C  k2 = 0.05\nA = 1\ncolumn 1 = A\ncolumn 2 = B\ndata r.txt\n";
  const loaded fitted = load(dir, reactions + "start t0 = 1\n");
  ASSERT_EQ(fitted.error, "");
  const fit_result r = fit(fitted.p);
  ASSERT_EQ(r.failure, "");
  const estimate& t0 = r.estimates.back();
  EXPECT_EQ(value_name(fitted.p, r.estimates.size() - 1), "t0");
  EXPECT_LT(t0.t_low, 2);
  EXPECT_GT(t0.t_high, 2);
  const loaded at_zero = load(dir, reactions + "start t0 = 0 fixed\n");
  ASSERT_EQ(at_zero.error, "");
  const fit_result worse = fit(at_zero.p);
  ASSERT_EQ(worse.failure, "");
  EXPECT_GT(worse.ssr, 20 * r.ssr);
}

// A + B -> C from three ratios of A to B: the second order is told apart
// from a first-order decay of A by AIC.
TEST(Experiments, TheOrderIsToldApartByAkaikesCriterion) {
  scratch_dir dir;
  std::string runs;
  const double b0s[] = {0.5, 1, 2};
  for (int i = 0; i < 3; ++i) {
    const double a0 = 1, b0 = b0s[i], k = 0.4;
    write_file(dir / ("r" + std::to_string(i) + ".txt"), table_of(40, 0.25, [=](double t) {
                 if (a0 == b0) return vector_d{a0 / (1 + k * a0 * t)};
                 const double e = std::exp((b0 - a0) * k * t);
                 return vector_d{a0 * (b0 - a0) / (b0 * e - a0)};
               }));
    runs += "experiment r" + std::to_string(i) + "\ndata r" + std::to_string(i) + ".txt\nB = " +
            std::to_string(b0s[i]) + " fixed\n";
  }
  const std::string shared = "A = 1\ncolumn 1 = A\n";
  const loaded second = load(dir, "A + B -> C  k = 1\n" + shared + runs);
  ASSERT_EQ(second.error, "");
  const loaded first = load(dir, "A -> C  k = 1\nB -> D  kb = 1 fixed\n" + shared + runs);
  ASSERT_EQ(first.error, "");
  const fit_result r2 = fit(second.p), r1 = fit(first.p);
  ASSERT_EQ(r2.failure, "");
  ASSERT_EQ(r1.failure, "");
  EXPECT_LT(r2.aic + 10, r1.aic);
}

TEST(Experiments, ModelsOfOtherDataOrWeightsAreRankedApart) {
  scratch_dir dir;
  write_file(dir / "dat.txt", table_of(30, 1, consecutive(0.3, 0.07, 1, 1)));
  std::string sigma = table_of(30, 1, [](double) { return vector_d{0.01, 0.01, 0.01}; });
  write_file(dir / "sigma.txt", sigma);
  const std::string abc = "A -> B k1 = 1\nB -> C k2 = 0.1\nA = 1\ncolumn 1 = A\ncolumn 2 = B\n";
  write_file(dir / "abc.txt", abc);
  write_file(dir / "ab.txt", "A -> B k1 = 1\nA = 1\ncolumn 1 = A\ncolumn 2 = B\n");
  write_file(dir / "weighted.txt", abc + "sigma sigma.txt\n");
  const run_result r = run(RATEFIT_EXE, {"abc.txt", "weighted.txt", "ab.txt"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string models = read_file(dir / "models.txt");
  const std::size_t apart = models.find("# fitted to other data or with other weights than the models above");
  ASSERT_NE(apart, std::string::npos) << models;
  EXPECT_LT(models.find("\nab "), apart) << models;
  EXPECT_GT(models.find("\nweighted "), apart) << models;
  EXPECT_EQ(models.find("\nweighted ", apart), models.rfind("\nweighted ")) << models;
}

TEST(Experiments, ThreeTemperaturesGiveAnArrheniusPictureAndKAtEvery) {
  scratch_dir dir;
  const std::string model = (fs::path(EXAMPLES_DIR) / "temperatures" / "arrhenius.txt").string();
  const run_result r = run(RATEFIT_EXE, {model}, dir.path);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir / "arrhenius.arrhenius.png"));
  for (const char* row : {"k              cold        290  ", "k              hot         330  "}) {
    EXPECT_NE(r.out.find(row), std::string::npos) << r.out;
  }
  // Two temperatures draw no such picture.
  scratch_dir two;
  const std::string text = read_file(model);
  write_file(two / "m.txt", text.substr(0, text.find("experiment hot")));
  for (const char* data : {"t290.txt", "t310.txt"}) fs::copy(fs::path(EXAMPLES_DIR) / "temperatures" / data, two / data);
  ASSERT_EQ(run(RATEFIT_EXE, {"m.txt"}, two.path).status, 0);
  EXPECT_FALSE(fs::exists(two / "m.arrhenius.png"));
  EXPECT_TRUE(fs::exists(two / "m.cold.png"));
}

TEST(MissingCells, AreLeftOutAsIfTheirRowsWereNot) {
  const std::string full = table_of(30, 1, [](double t) {
    vector_d v = consecutive(0.3, 0.07, 1, 0.5)(t);
    for (std::size_t j = 0; j < v.size(); ++j) v[j] += 0.003 * std::sin(7 * t + 2.0 * static_cast<double>(j));
    return v;
  });
  std::string gaps, removed;
  std::size_t at = 0;
  for (int i = 0; at < full.size(); ++i) {
    const std::size_t end = full.find('\n', at) + 1;
    const std::string row = full.substr(at, end - at);
    at = end;
    if (i % 7 != 3) {
      gaps += row, removed += row;
      continue;
    }
    gaps += row.substr(0, row.find(' ')) + (i % 2 ? " nan - nan\n" : " - nan -\n");
  }
  const std::string model = "A -> B k1 = 1\nB -> C k2 = 0.1\nA = 2\ncolumn 1 = A\ncolumn 2 = e * B\ncolumn 3 = C\ne = 1\n";
  scratch_dir a, b;
  write_file(a / "dat.txt", gaps);
  write_file(b / "dat.txt", removed);
  const loaded with_gaps = load(a, model), without = load(b, model);
  ASSERT_EQ(with_gaps.error, "");
  ASSERT_EQ(without.error, "");
  const fit_result r = fit(with_gaps.p), s = fit(without.p);
  ASSERT_EQ(r.failure, "");
  ASSERT_EQ(s.failure, "");
  EXPECT_EQ(r.points, s.points);
  EXPECT_EQ(r.dof, s.dof);
  EXPECT_EQ(r.points, 3 * 26);
  for (std::size_t i = 0; i < r.estimates.size(); ++i) {
    EXPECT_NEAR(r.estimates[i].value / s.estimates[i].value, 1, 1e-9) << i;
    EXPECT_NEAR(r.estimates[i].se / s.estimates[i].se, 1, 1e-6) << i;
  }
  // Anything else that is not a number stays an error naming the line.
  write_file(a / "dat.txt", "0 1 2 3\n1 1 x 3\n");
  EXPECT_EQ(load(a, model).error, (a / "dat.txt").string() + " line 2: column 2 is \"x\", not a number");
}

}  // namespace
