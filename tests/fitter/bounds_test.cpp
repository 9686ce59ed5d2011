// Rate constants at their bound 0: held there, with a one-sided upper limit,
// the other values fitted and their errors computed with them held.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>

#include "engine/bounds.h"
#include "engine/stats.h"

using namespace kinetics;

namespace {

// The problem of a mechanism text whose columns (one per species, in order)
// are the concentrations of truth_k from A0 = 1 at t = 0, 0.5, ..., plus
// normal noise of sd noise drawn from a fixed seed.
problem noisy(const std::string& text, const vector_d& truth_k, int rows, double noise, unsigned seed) {
  mechanism m;
  EXPECT_EQ(parse_mechanism("m.txt", text, m), "");
  measured d;
  for (int i = 0; i < rows; ++i) d.t.push_back(0.5 * i);
  vector_d c0(m.species.size(), 0.0);
  c0[0] = 1;
  trajectory c;
  EXPECT_EQ(solve(m.net, truth_k, c0, 0, d.t, {}, c), "");
  d.y.assign(m.columns.size(), {});
  unsigned state = seed;
  const auto uniform = [&state] {
    state = state * 1103515245u + 12345u;
    return ((state >> 8) + 0.5) / 16777216.0;
  };
  for (std::size_t j = 0; j < m.columns.size(); ++j) {
    for (int i = 0; i < rows; ++i) {
      const double gauss = std::sqrt(-2 * std::log(uniform())) * std::cos(6.283185307179586 * uniform());
      d.y[j].push_back(c.c[static_cast<std::size_t>(i) * m.species.size() + j] + noise * gauss);
    }
  }
  return make_problem(m, d);
}

const char* const triangle =
    "A <=> B  k1 = 0.1  k2 = 0.1\nB <=> C  k3 = 0.1  k4 = 0.1\nC <=> A  k5 = 0.1  k6 = 0.1\nA = 1\n"
    "column 1 = A\ncolumn 2 = B\ncolumn 3 = C\n";

TEST(Bounds, TriangleWithTwoPathsThatDoNotRun) {
  // k4 (C -> B) and k5 (C -> A) are 0.
  const vector_d truth{0.3, 0.1, 0.2, 0, 0, 0.05};
  const problem p = noisy(triangle, truth, 61, 0.005, 7);
  const fit_result r = fit(p);
  ASSERT_EQ(r.failure, "");
  for (std::size_t i = 0; i < truth.size(); ++i) {
    const estimate& e = r.estimates[i];
    if (truth[i] == 0) {
      EXPECT_TRUE(e.at_zero) << i;
      EXPECT_EQ(e.value, 0) << i;
      EXPECT_TRUE(std::isnan(e.se)) << i;
      EXPECT_GT(e.profile_high, 0) << i;
      EXPECT_LT(e.profile_high, 0.01) << i;
    } else {
      EXPECT_FALSE(e.at_zero) << i;
      EXPECT_LT(e.profile_low, truth[i]) << i;
      EXPECT_GT(e.profile_high, truth[i]) << i;
    }
  }
  EXPECT_EQ(r.dof, 183 - 5);  // five values fitted, two held
}

TEST(Bounds, ConstantsAtZeroAreHeldAndReleasedByTheGradient) {
  const problem p = noisy(triangle, {0.3, 0.1, 0.2, 0, 0, 0.05}, 61, 0.005, 7);
  const problem q = holding_at_zero(p, {3, 4});
  ASSERT_EQ(q.fitted.size(), p.fitted.size() - 2);
  EXPECT_EQ(q.base.k[3], 0);
  EXPECT_EQ(q.base.k[4], 0);
  const fit_result held = fit_without_bounds(q);
  ASSERT_EQ(held.failure, "");
  // Neither held constant would lower the sum; holding a true one at 0 would.
  EXPECT_TRUE(rates_to_release(q, held.x, {3, 4}).empty());
  const problem wrong = holding_at_zero(p, {3, 5});
  const fit_result w = fit_without_bounds(wrong);
  ASSERT_EQ(w.failure, "");
  const std::vector<int> released = rates_to_release(wrong, w.x, {3, 5});
  EXPECT_NE(std::find(released.begin(), released.end(), 5), released.end());
  // The upper limit: the profile's sum there is at the one-sided threshold.
  const lm_settings s = search_settings(q, {});
  const double limit = upper_limit(q, 4, held.x, held.ssr, held.dof, s);
  ASSERT_TRUE(std::isfinite(limit));
  problem at = q;
  at.base.k[4] = limit;
  const fit_result there = fit_without_bounds(at, {200, false});
  EXPECT_NEAR(there.ssr / one_sided_threshold(q, held.ssr, held.dof), 1, 1e-5);
  EXPECT_TRUE(leaves_trace(q, 4, held.x, s));
}

TEST(Bounds, AStepWithoutTraceIsNoBound) {
  // A + B is the same whatever k: k is not at 0, it is not determined.
  mechanism m;
  ASSERT_EQ(parse_mechanism("m.txt", "A -> B  k = 1\nA = 1\ncolumn 1 = A + B\n", m), "");
  measured d{{0, 1, 2, 3}, {{1, 1, 1, 1}}, {}};
  const fit_result r = fit(make_problem(m, d));
  EXPECT_EQ(r.status, fit_status::rate_falls_to_0);
}

}  // namespace

namespace {

// Bounds of the mechanism file that cut the free minimum off (A -> B with k
// 0.3, A0 1): the value ends on its bound, is reported there, and the sum
// of squares with it at its one-sided limit (the others fitted again) is
// the one-sided threshold; a box that holds the minimum changes nothing.
TEST(Bounds, ValuesThatEndOnABoundOfTheFile) {
  const struct {
    const char* lines;  // of k and A
    std::size_t held;   // position of the held value, or 9 for none
    double bound;
  } cases[] = {
      {"A -> B k = 0.1 <= 0.25\nA = 1\n", 0, 0.25},
      {"A -> B k = 0.5 >= 0.4\nA = 1\n", 0, 0.4},
      {"A -> B k = 0.1\nA = 0.9 <= 0.95\n", 1, 0.95},
      {"A -> B k = 0.1 >= 0.01 <= 10\nA = 1 >= 0 <= 2\n", 9, 0},
  };
  const fit_result free = fit(noisy("A -> B k = 0.1\nA = 1\ncolumn 1 = A\ncolumn 2 = B\n", {0.3}, 21, 0.01, 3));
  for (const auto& c : cases) {
    const problem p = noisy(std::string(c.lines) + "column 1 = A\ncolumn 2 = B\n", {0.3}, 21, 0.01, 3);
    const fit_result r = fit(p);
    ASSERT_EQ(r.failure, "") << c.lines;
    if (c.held == 9) {
      for (std::size_t i = 0; i < 2; ++i) EXPECT_NEAR(r.estimates[i].value, free.estimates[i].value, 1e-9);
      EXPECT_EQ(r.dof, free.dof);
      continue;
    }
    const estimate& e = r.estimates[c.held];
    EXPECT_TRUE(e.at_bound) << c.lines;
    EXPECT_EQ(e.value, c.bound) << c.lines;
    EXPECT_TRUE(std::isnan(e.se)) << c.lines;
    EXPECT_EQ(r.dof, free.dof + 1) << c.lines;
    const bool upper = e.profile_low < c.bound;
    const double limit = upper ? e.profile_low : e.profile_high;
    EXPECT_EQ(upper ? e.profile_high : e.profile_low, c.bound);
    // The profile at the limit: the other value fitted with this one there.
    problem at = p;
    value_list(at.base, p.fitted[c.held].kind)[static_cast<std::size_t>(p.fitted[c.held].index)] = limit;
    at.fitted.erase(at.fitted.begin() + static_cast<long>(c.held));
    const fit_result there = fit_without_bounds(at, {200, false});
    ASSERT_EQ(there.failure, "") << c.lines;
    EXPECT_NEAR(there.ssr / one_sided_threshold(p, r.ssr, r.dof), 1, 1e-6) << c.lines;
  }
}

}  // namespace
