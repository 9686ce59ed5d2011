// The baseline-corrected window sums, their sample weights and the noise of
// the noise region, on small spectra worked by hand.
#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

#include "integrator/baseline.h"
#include "integrator/noise.h"

namespace {

using samples = std::vector<std::pair<double, double>>;

// x 0 to 5 ascending; the line through the anchors below and above the
// window 1.5..3.5 with N = 2 is y = 1 + x.
const samples up = {{0, 1}, {1, 2}, {2, 13}, {3, 14}, {4, 5}, {5, 6}};
const samples down = {{5, 6}, {4, 5}, {3, 14}, {2, 13}, {1, 2}, {0, 1}};

// Runs one spectrum through one window as bandsum does.
window_state integrate(const samples& spectrum, double lo, double hi, std::size_t n) {
  window_state w;
  recent_samples recent;
  recent.n = n;
  std::size_t seen = 0;
  for (const auto& [x, y] : spectrum) {
    window_step(w, lo, hi, true, recent, seen++, x, y);
    remember(recent, x, y);
  }
  anchor_finish(w.below, recent, seen, lo);
  anchor_finish(w.above, recent, seen, lo);
  return w;
}

TEST(Baseline, HandWorkedWindows) {
  const struct {
    const char* name;
    const samples& spectrum;
    double lo, hi;
    std::size_t n;
    double value, weights2;
  } cases[] = {
      {"ascending, N 2", up, 1.5, 3.5, 2, 20.0, 3.0},
      {"descending, N 2", down, 1.5, 3.5, 2, 20.0, 3.0},
      // anchors (1, 2) and (4, 5): T = (1 + 2) / 3 = 1, 2 + 1 + 1
      {"ascending, N 1", up, 1.5, 3.5, 1, 20.0, 4.0},
      {"descending, N 1", down, 1.5, 3.5, 1, 20.0, 4.0},
      // the last 2 of 3 leading samples, (1.5, 7.5), and (4.5, 5.5): the
      // line is 6.5 at x = 3, T = 0.5
      {"long leading stretch, ascending", up, 2.5, 3.5, 2, 7.5, 1.25},
      // (3.5, 9.5) and (0.5, 1.5): the line is 5.5 at x = 2
      {"long leading stretch, descending", down, 1.5, 2.5, 2, 7.5, 1.25},
      // a sample on the bound is an anchor: (2, 13) and (4, 5), line 9 at 3
      {"sample on the bound", up, 2.0, 3.5, 1, 5.0, 1.5},
      {"no inside sample", up, 2.2, 2.8, 1, 0.0, 0.0},
  };
  for (const auto& c : cases) {
    const window_state w = integrate(c.spectrum, c.lo, c.hi, c.n);
    EXPECT_EQ(anchor_problem(w, 0, c.n), "") << c.name;
    const corrected_sum s = baseline_corrected(w);
    EXPECT_NEAR(s.value, c.value, 1e-12) << c.name;
    EXPECT_NEAR(s.weights2, c.weights2, 1e-12) << c.name;
  }
}

// The weights are what a unit change of each sample's intensity does to the
// corrected sum; their squares must add up to weights2.
TEST(Baseline, WeightsAreTheSumsSensitivities) {
  const samples spectrum = {{0.0, 1.0}, {0.7, 2.5}, {1.1, 0.3}, {1.9, 8.0}, {2.2, 9.5},
                            {2.6, 7.0}, {3.4, 1.0}, {3.9, 2.0}, {4.4, 0.5}, {5.0, 1.5}};
  for (const auto& [lo, hi, n] : {std::tuple{1.5, 3.0, 2}, std::tuple{1.0, 3.5, 3}, std::tuple{1.5, 2.4, 1}}) {
    for (bool reversed : {false, true}) {
      samples s = spectrum;
      if (reversed) s.assign(spectrum.rbegin(), spectrum.rend());
      const double base = baseline_corrected(integrate(s, lo, hi, static_cast<std::size_t>(n))).value;
      double squares = 0.0;
      for (auto& sample : s) {
        sample.second += 1.0;
        const double w = baseline_corrected(integrate(s, lo, hi, static_cast<std::size_t>(n))).value - base;
        sample.second -= 1.0;
        squares += w * w;
      }
      EXPECT_NEAR(baseline_corrected(integrate(s, lo, hi, static_cast<std::size_t>(n))).weights2, squares, 1e-9)
          << lo << " " << hi << " " << n << (reversed ? " descending" : " ascending");
    }
  }
}

TEST(Baseline, MissingAnchorsNameThePeak) {
  const struct {
    const samples& spectrum;
    double lo, hi;
    std::size_t n;
    std::string problem;
  } cases[] = {
      {up, 4.5, 10, 1, "peak 3 has no sample at or above its upper bound for its baseline"},
      {down, 4.5, 10, 1, "peak 3 has no sample at or above its upper bound for its baseline"},
      {up, -1, 0.5, 1, "peak 3 has no sample at or below its lower bound for its baseline"},
      {down, 0.5, 3.5, 2,
       "peak 3 has only 1 of the 2 samples at or below its lower bound that --baseline 2 asks for"},
      {up, 1.5, 3.5, 3,
       "peak 3 has only 2 of the 3 samples at or below its lower bound that --baseline 3 asks for"},
      {up, 1.5, 4.5, 1, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(anchor_problem(integrate(c.spectrum, c.lo, c.hi, c.n), 3, c.n), c.problem) << c.lo << " " << c.hi;
  }
}

TEST(Noise, StandardDeviationAboutTheLine) {
  const struct {
    samples points;
    double sd;  // negative: an error
  } cases[] = {
      {{{0, 1}, {1, 3}, {2, 5}}, 0.0},
      // Sxx 5, Sxy 1, Syy 1: (1 - 1/5) / 2
      {{{0, 0}, {1, 1}, {2, 0}, {3, 1}}, std::sqrt(0.4)},
      {{{10, 0}, {11, 1}, {12, 0}, {13, 1}}, std::sqrt(0.4)},
      {{{0, 0}, {1, 1}}, -1},
      {{{2, 0}, {2, 1}, {2, 5}}, -1},
  };
  for (const auto& c : cases) {
    line_fit f;
    for (const auto& [x, y] : c.points) fit_add(f, x, y);
    double sd = -1;
    const std::string error = fit_noise(f, sd);
    EXPECT_EQ(error.empty(), c.sd >= 0) << error;
    if (c.sd >= 0) {
      EXPECT_NEAR(sd, c.sd, 1e-12);
    }
  }
}

}  // namespace
