// The step loop that stops stepping once nothing can change any more, against
// the plain loop that steps every time: long decays into the smallest
// doubles, growths, negative concentrations and signed zeros give the same
// sim.txt, byte for byte, and the same states.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>

#include "simulator/Diz.h"
#include "tests/support/blackbox.h"

namespace {

using namespace testing_support;

struct run_case {
  double k, a0, b0, t0, t_end;
};

// Steps x every time from t0 to t_end, observing as integrate does.
template <class Observer>
void plain_loop(double k, state& x, double t0, double t_end, Observer&& observe) {
  rate_stepper stepper;
  double t = t0;
  int n = 0;
  if (t0 + step_size <= t_end) {
    do {
      observe(x, t);
      stepper.do_step(rate_rhs{k}, x, t, step_size);
      t = static_cast<double>(++n) * step_size + t0;
    } while (t + step_size <= t_end);
  }
  observe(x, t);
}

// The lines of sim.txt from the plain loop, formatted by printf.
std::string plain_lines(const run_case& c) {
  std::string lines;
  state x = {{c.a0, c.b0}};
  plain_loop(c.k, x, c.t0, c.t_end, [&](const state& now, double t) {
    if (!(std::abs(std::floor(t) - t) < 0.001)) return;
    char line[1000];
    lines.append(line, static_cast<std::size_t>(std::snprintf(line, sizeof line, "%8.6f %.6f %.6f\n", t, now[0], now[1])));
  });
  return lines;
}

std::string show(const run_case& c) {
  char text[200];
  std::snprintf(text, sizeof text, "k %.17g A0 %.17g B0 %.17g from %.17g to %.17g", c.k, c.a0, c.b0, c.t0, c.t_end);
  return text;
}

const double tiny = 4.9406564584124654e-324;  // the smallest subnormal

const run_case cases[] = {
    {1, 1, 0, 0, 2000},             // A sinks to its last subnormal and stays
    {50, 1, 0, 0, 100},             // the largest k whose lines settle
    {60, 1, 0, 0, 100},             // beyond it only the fixed point stops the steps
    {300, 1, 0, 0, 30},             // unstable: A grows to infinity, then nan
    {0.1, 1, 0, 0.0005, 8000},      // a slow decay, times off the whole numbers
    {1, -1, 0, 0, 1000},            // negative A: -0.000000 for good
    {1, 1, -1, 0, 1000},            // B runs to zero from below
    {1, -1e-310, 0, 0, 40},         // B = 0 gains negative subnormal steps
    {-1, 1e-310, 0, 0, 40},         // growth from a subnormal A, B falls below 0
    {-1, tiny, -0.0, 0, 40},        // growth from the smallest subnormal
    {-1, 1e-300, 0, 0, 800},        // growth from tiny to huge
    {-0.5, 1, 0, 0, 1600},          // growth into infinity and nan
    {1, -0.0, 1, 0, 20},            // A = -0 turns into +0
    {1, 0, -0.0, 0, 20},            // B = -0 turns into +0
    {0, 1, 0, 0, 20},               // k = 0: nothing moves
    {1e-3, 1e-310, 1, 0, 30},       // a subnormal A next to B = 1 settles at once
    {1, 1e-300, 1e-300, 0, 1000},   // B too small to settle: only the fixed point
    {2, 1, 1e300, -100.3, 100},     // huge B, negative times
    {1, 1, 0, 1e6, 1e6 + 60},       // huge times
};

TEST(Settled, RatesimWritesThePlainLoopsLines) {
  for (const run_case& c : cases) {
    scratch_dir dir;
    char guess[200];
    std::snprintf(guess, sizeof guess, "%.17g\n%.17g %.17g\n%.17g %.17g\n", c.k, c.a0, c.b0, c.t0, c.t_end);
    write_file(dir / "guess.txt", guess);
    const run_result r = run(RATESIM_EXE, {}, dir.path);
    ASSERT_EQ(r.status, 0) << show(c);
    EXPECT_EQ(read_file(dir / "sim.txt"), plain_lines(c)) << show(c);
  }
}

bool same_bits(const state& a, const state& b) {
  return std::bit_cast<std::uint64_t>(a[0]) == std::bit_cast<std::uint64_t>(b[0]) &&
         std::bit_cast<std::uint64_t>(a[1]) == std::bit_cast<std::uint64_t>(b[1]);
}

TEST(Settled, FixedPointsKeepEveryStateExact) {
  for (const run_case& c : cases) {
    state plain = {{c.a0, c.b0}};
    state fast = plain;
    std::uint64_t plain_hash = 0, fast_hash = 0;
    const auto hash = [](std::uint64_t& h, const state& x, double t) {
      for (const double v : {x[0], x[1], t}) h = (h ^ std::bit_cast<std::uint64_t>(v)) * 0x100000001b3u;
    };
    plain_loop(c.k, plain, c.t0, c.t_end, [&](const state& x, double t) { hash(plain_hash, x, t); });
    integrate(c.k, fast, c.t0, c.t_end, [&](const state& x, double t) { hash(fast_hash, x, t); });
    EXPECT_TRUE(same_bits(plain, fast)) << show(c);
    EXPECT_EQ(plain_hash, fast_hash) << show(c);
  }
}

TEST(Settled, SettledLinesStopTheSteps) {
  // Stepped to the end, A sinks to about 7.4e-322; the lines settle long
  // before that, at about 3.5e-18, where the steps stop.
  state x = {{1, 0}};
  integrate(1.0, x, 0, 2000, [](const state&, double) {}, [](const state& now) { return lines_settled(1.0, now); });
  EXPECT_GT(x[0], 1e-19);
  EXPECT_LT(x[0], 4e-18);
}

TEST(Settled, WhenBSettles) {
  const double a_max = std::ldexp(1.0, -58);  // below 1/32 of the spacing at B = 1
  const struct {
    double k, a, b;
    bool settled;
  } rows[] = {
      {1, a_max, 1, true},
      {1, 2 * a_max, 1, false},
      {1, -a_max, 1, true},
      {1, 0.0, 1, true},
      {1, -0.0, 1, false},
      {1, tiny, 0x1p-964, true},
      {1, tiny, 0x1p-965, false},  // B's spacing must dwarf the smallest subnormal
      {1, a_max, -1, true},
      {50, a_max, 1, true},
      {50.000000000000007, a_max, 1, false},
      {0, a_max, 1, false},
      {-1, a_max, 1, false},
      {1, a_max, INFINITY, false},
      {1, NAN, 1, false},
      {1, 0.0, 0.0, false},
  };
  for (const auto& r : rows) EXPECT_EQ(b_settled(r.k, state{{r.a, r.b}}), r.settled) << r.k << " " << r.a << " " << r.b;
}

}  // namespace
