// The simulator's parts called directly: the sampled curves against the
// exact solution, the step-count limit, and the table-to-vector copy.
#include <climits>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>
#include <gtest/gtest.h>
#include <iomanip>
#include <limits>

#include "simulator/Diz.h"
#include "tests/support/blackbox.h"

namespace {

using testing_support::scratch_dir;

TEST(Curves, MatchTheExactSolutionToThePrintedPrecision) {
  for (const double k : {0.05, 0.3, 1.0, 2.5}) {
    scratch_dir dir;
    file3.open(dir / "sim.txt");
    state x = {{1.7, 0.2}};
    integrate(k, x, 0.0, 12.0, write_fit);
    file3.close();

    std::FILE* in = std::fopen((dir / "sim.txt").c_str(), "r");
    ASSERT_NE(in, nullptr);
    double t, a, b;
    int lines = 0;
    while (std::fscanf(in, "%lf %lf %lf", &t, &a, &b) == 3) {
      const double exact = 1.7 * std::exp(-k * t);
      EXPECT_NEAR(a, exact, 0.5e-6 + 1e-9) << "k " << k << " t " << t;
      EXPECT_NEAR(b, 1.9 - exact, 0.5e-6 + 1e-9) << "k " << k << " t " << t;
      EXPECT_EQ(t, lines) << "whole times only";
      ++lines;
    }
    std::fclose(in);
    EXPECT_EQ(lines, 13) << "k " << k;
  }
}

TEST(Curves, StepCountLimit) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // From 0, the loop goes on after step 2147483646 exactly when end_time is
  // at least the time it then observes plus one step.
  const double last_end = static_cast<double>(INT_MAX - 1) * 0.01 + 0.01;
  const struct {
    double t0, t_end;
    bool refused;
  } cases[] = {
      {0, 3, false},
      {5, 4, false},
      {0, nan, false},
      {nan, 1, false},
      {0, 21474836.47, false},  // rounding makes that 2147483646 steps
      {0, std::nextafter(last_end, 0.0), false},
      {0, last_end, true},
      {0, 21474837.0, true},
      {0, inf, true},
      {-inf, 0, true},        // the time never moves off minus infinity
      {-1e22, 0, true},
      {1e17, 1e17, false},    // the time jumps past end_time after about 800 steps
      {1e6, 1e6 + 100, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(too_many_steps(c.t0, c.t_end), c.refused) << std::setprecision(17) << c.t0 << " to " << c.t_end;
  }
}

TEST(Curves, Vec2MatrixCopiesRowAfterRow) {
  const dlib::matrix<double, 0, 1> m = vec2matrix({{1, 2}, {}, {3}, {4, 5, 6}});
  ASSERT_EQ(m.nr(), 6);
  for (long i = 0; i < 6; ++i) EXPECT_EQ(m(i), static_cast<double>(i + 1));
  EXPECT_EQ(dist(1.5, -0.5), 4.0);
}

}  // namespace

namespace {

TEST(Curves, LineFormatIsPrintfs) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    double t, a, b;
  } cases[] = {
      {0, 1, 0},        {1, 0.3678794411714423, 0.6321205588285577}, {-1, -0.0000004, 5e-7},
      {12345678, 1e300, -1e-300}, {3, inf, -inf},                    {4, nan, -nan},
      {1e20, 0.0000005, 0.0000015}, {-0.0, -0.0, 2.5e-7},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    file3.open(dir / "sim.txt");
    write_fit(state{{c.a, c.b}}, c.t);
    file3.close();
    std::vector<char> want(1200);
    want.resize(static_cast<std::size_t>(std::snprintf(want.data(), want.size(), "%8.6f %.6f %.6f\n", c.t, c.a, c.b)));
    EXPECT_EQ(testing_support::read_file(dir / "sim.txt"), std::string(want.begin(), want.end())) << c.t;
  }
}

}  // namespace
