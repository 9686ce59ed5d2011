// The Levenberg-Marquardt solver on small problems with known minima.
#include <cmath>
#include <gtest/gtest.h>

#include "engine/lm.h"

using namespace kinetics;

namespace {

// y = a exp(-b t) at t = 0..9, exact for a = 2, b = 0.3 (plus offset at t = 0).
residual_function decay(double offset, int* calls = nullptr, double fail_beyond = INFINITY) {
  return [=](const vector_d& x, bool jacobian, vector_d& r, matrix_d& j) -> std::string {
    if (calls) ++*calls;
    if (x[1] > fail_beyond) return "no model there";
    r.assign(10, 0.0);
    if (jacobian) j.set_size(10, 2);
    for (int i = 0; i < 10; ++i) {
      const double e = std::exp(-x[1] * i);
      r[i] = x[0] * e - (2 * std::exp(-0.3 * i) + (i == 0 ? offset : 0.0));
      if (jacobian) j(i, 0) = e, j(i, 1) = -x[0] * i * e;
    }
    return {};
  };
}

TEST(LevenbergMarquardt, FindsExactAndNoisyMinima) {
  const struct {
    double offset, a0, b0;
  } cases[] = {{0, 1, 0.01}, {0, 10, 3}, {0.1, 1, 1}, {-0.2, 5, 0.05}};
  for (const auto& c : cases) {
    lm_settings s;
    s.absolute_ssr = 1e-28;
    const lm_outcome o = levenberg_marquardt(decay(c.offset), {c.a0, c.b0}, s);
    ASSERT_EQ(o.failure, "") << c.a0 << " " << c.b0;
    // The same minimum as from a start next to it.
    const lm_outcome near = levenberg_marquardt(decay(c.offset), {2, 0.3}, s);
    EXPECT_NEAR(o.x[0], near.x[0], 1e-6);
    EXPECT_NEAR(o.x[1], near.x[1], 1e-6);
    if (c.offset == 0) {
      EXPECT_NEAR(o.x[0], 2, 1e-9);
      EXPECT_NEAR(o.x[1], 0.3, 1e-9);
    }
  }
}

TEST(LevenbergMarquardt, GroupsOfSmallResidualsAreNotTakenForRounding) {
  // Ten residuals of size 1e5 that fit exactly, and one of 1e-3 that the
  // second value moves: with one floor for all, it looks like rounding.
  const residual_function two_scales = [](const vector_d& x, bool jacobian, vector_d& r, matrix_d& j) {
    r.assign(11, 0.0);
    if (jacobian) j = dlib::zeros_matrix<double>(11, 2);
    for (int i = 0; i < 10; ++i) r[i] = 1e5 * (x[0] - 1), jacobian ? j(i, 0) = 1e5 : 0;
    r[10] = x[1] - 1e-3;
    if (jacobian) j(10, 1) = 1;
    return std::string();
  };
  lm_settings one;
  one.absolute_ssr = 11 * 1e-6;
  EXPECT_EQ(levenberg_marquardt(two_scales, {1, 4e-3}, one).iterations, 0);
  lm_settings grouped;
  grouped.group_ends = {10, 11};
  grouped.group_floors = {10 * 1e-6, 1e-22};
  const lm_outcome o = levenberg_marquardt(two_scales, {1, 4e-3}, grouped);
  ASSERT_EQ(o.failure, "");
  EXPECT_NEAR(o.x[1], 1e-3, 1e-12);
}

// f, its Jacobian given as the triangular factor of [J r]: three rows
// instead of ten, paired with residuals of their own.
residual_function compressed(const residual_function& f) {
  return [f](const vector_d& x, bool jacobian, vector_d& r, matrix_d& j) {
    std::string error = f(x, jacobian, r, j);
    if (!error.empty() || !jacobian) return error;
    const matrix_d both = dlib::join_rows(j, dlib::mat(r));
    const matrix_d t = dlib::qr_decomposition<matrix_d>(both).get_r();
    j = dlib::colm(t, dlib::range(0, j.nc() - 1));
    const matrix_d paired = dlib::colm(t, j.nc());
    r.assign(paired.begin(), paired.end());
    return error;
  };
}

TEST(LevenbergMarquardt, ACompressedJacobianLeadsToTheSameMinimum) {
  const struct {
    double offset;
    bool bounded;  // a at most 1.9, below its free minimum: the search ends on the bound
  } cases[] = {{0, false}, {0.1, false}, {0, true}, {-0.2, true}};
  for (const auto& c : cases) {
    lm_settings s;
    s.absolute_ssr = 1e-28;
    if (c.bounded) s.lower = {-1, 0}, s.upper = {1.9, 1};
    const lm_outcome plain = levenberg_marquardt(decay(c.offset), {1, 0.01}, s);
    const lm_outcome small = levenberg_marquardt(compressed(decay(c.offset)), {1, 0.01}, s);
    ASSERT_EQ(small.failure, plain.failure);
    EXPECT_EQ(small.j.nr(), 3);
    EXPECT_EQ(small.r.size(), 10u);
    for (std::size_t i = 0; i < 2; ++i) EXPECT_NEAR(small.x[i], plain.x[i], 1e-12) << c.offset << " " << i;
    EXPECT_NEAR(small.ssr, plain.ssr, 1e-12 * plain.ssr + 1e-28);
  }
}

TEST(LevenbergMarquardt, FailedTrialStepsRaiseTheDampingInsteadOfStopping) {
  // The model has no value beyond b = 0.5, where the first full step lands.
  const lm_outcome o = levenberg_marquardt(decay(0, nullptr, 0.5), {2, 0.01});
  EXPECT_EQ(o.failure, "");
  EXPECT_NEAR(o.x[1], 0.3, 1e-7);
}

TEST(LevenbergMarquardt, SaysWhyThereIsNoResult) {
  lm_settings s;
  s.max_iterations = 2;
  const lm_outcome limited = levenberg_marquardt(decay(0.1), {10, 3}, s);
  EXPECT_EQ(limited.failure, "the fit did not converge in 2 trial steps");
  EXPECT_EQ(limited.reason, termination::iteration_limit);
  EXPECT_EQ(limited.trials, 2);
  EXPECT_EQ(limited.evaluations, 3);  // the start and both trials
  s.max_iterations = 200;
  s.deadline = std::chrono::steady_clock::now();
  const lm_outcome late = levenberg_marquardt(decay(0.1), {10, 3}, s);
  EXPECT_EQ(late.failure, "out of time");
  EXPECT_EQ(late.reason, termination::out_of_time);
  EXPECT_EQ(late.x, (vector_d{10, 3}));
  const lm_outcome no_start = levenberg_marquardt(decay(0, nullptr, 0.2), {1, 0.3});
  EXPECT_EQ(no_start.failure, "at the starting values no model there");
  EXPECT_EQ(no_start.reason, termination::bad_start);
}

}  // namespace

namespace {

// The bounded step on r = x - target (J the identity): each value moves to
// its target, cut at its bound, and a value on a bound that the gradient
// pushes past it stays.
TEST(AllFinite, FindsAnyValueThatIsNotFinite) {
  // Lengths with and without a tail past the groups of four, the bad value
  // in a group, in the tail, first and last; -0, the largest and the
  // smallest values are finite.
  const double bad[] = {INFINITY, -INFINITY, NAN};
  for (std::size_t n : {1, 3, 4, 7, 8, 13}) {
    vector_d v(n, -0.0);
    v[0] = 1.7976931348623157e308;
    v[n - 1] = -4.9e-324;
    EXPECT_TRUE(all_finite(v.data(), n)) << n;
    for (double b : bad) {
      for (std::size_t at : {std::size_t{0}, n / 2, n - 1}) {
        vector_d w = v;
        w[at] = b;
        EXPECT_FALSE(all_finite(w.data(), n)) << n << " " << at << " " << b;
      }
    }
  }
  EXPECT_TRUE(all_finite(nullptr, 0));
}

TEST(BoxStep, MovesTheFreeValuesAndCutsBackIntoTheBox) {
  const struct {
    vector_d x, target, lower, upper, step;
  } cases[] = {
      {{0, 0}, {1, -1}, {-5, -5}, {5, 5}, {1, -1}},                     // inside: the plain step
      {{0, 0}, {1, -1}, {-5, -0.5}, {0.25, 5}, {0.25, -0.5}},           // cut at both bounds
      {{1, 0}, {3, 2}, {-5, -5}, {1, 5}, {0, 2}},                       // on its upper bound, pushed past it
      {{1, 0}, {-1, 2}, {-5, -5}, {1, 5}, {-2, 2}},                     // on its upper bound, pulled inside
      {{0, 0}, {2, 2}, {-INFINITY, -INFINITY}, {INFINITY, 1}, {2, 1}},  // one-sided bounds
  };
  for (const auto& c : cases) {
    lm_settings s;
    s.lower = c.lower;
    s.upper = c.upper;
    matrix_d j = dlib::identity_matrix<double>(2);
    const vector_d r{c.x[0] - c.target[0], c.x[1] - c.target[1]};
    vector_d to;
    ASSERT_TRUE(box_step(j, r, c.x, 0, s, to));
    EXPECT_NEAR(to[0] - c.x[0], c.step[0], 1e-12) << c.step[0];
    EXPECT_NEAR(to[1] - c.x[1], c.step[1], 1e-12) << c.step[1];

  }
  lm_settings s;
  s.lower = {0, 0};
  s.upper = {1, 1};
  vector_d to;
  // Both on a bound that the gradient pushes past: no step at all.
  EXPECT_FALSE(box_step(dlib::identity_matrix<double>(2), {1, -1}, {0, 1}, 0, s, to));
  EXPECT_EQ(free_values({0, 1}, {1, -1}, s), (std::vector<bool>{false, false}));
  EXPECT_EQ(free_values({0, 1}, {-1, 1}, s), (std::vector<bool>{true, true}));
  EXPECT_EQ(into_box({-1, 2}, s), (vector_d{0, 1}));
  // Cut back onto a bound exactly, though x + (bound - x) need not be it.
  lm_settings ln_bound;
  ln_bound.lower = {std::log(0.25)};
  ln_bound.upper = {INFINITY};
  ASSERT_TRUE(box_step(dlib::identity_matrix<double>(1), {3}, {std::log(0.3)}, 0, ln_bound, to));
  EXPECT_EQ(to[0], std::log(0.25));
}

// The decay fitted within boxes: converged on the bound that cuts the
// minimum off, at the minimum itself when the box holds it.
TEST(BoxStep, TheSearchEndsAtTheMinimumWithinTheBox) {
  const struct {
    vector_d lower, upper, x0;
    double a, b;  // where it ends; NAN: the free minimum's value
  } cases[] = {
      {{-INFINITY, -INFINITY}, {INFINITY, 0.2}, {1, 0.1}, NAN, 0.2},
      {{2.5, -INFINITY}, {INFINITY, INFINITY}, {3, 0.1}, 2.5, NAN},
      {{0, 0}, {10, 1}, {1, 0.01}, 2, 0.3},
  };
  for (const auto& c : cases) {
    lm_settings s;
    s.absolute_ssr = 1e-28;
    s.lower = c.lower;
    s.upper = c.upper;
    const lm_outcome o = levenberg_marquardt(decay(0), c.x0, s);
    ASSERT_EQ(o.failure, "") << c.x0[0];
    if (!std::isnan(c.a)) {
      EXPECT_NEAR(o.x[0], c.a, 1e-9);
    }
    if (!std::isnan(c.b)) {
      EXPECT_NEAR(o.x[1], c.b, 1e-9);
    }
    for (std::size_t i = 0; i < 2; ++i) {
      EXPECT_GE(o.x[i], c.lower[i]);
      EXPECT_LE(o.x[i], c.upper[i]);
    }
  }
}

}  // namespace
