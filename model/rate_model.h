// The first-order reaction A -> B and its fixed-step fourth-order
// Runge-Kutta integration, shared by the simulator and the fitter.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <boost/array.hpp>
#include <boost/numeric/odeint/stepper/runge_kutta4.hpp>

// Concentrations: x[0] of A, x[1] of B.
using state = boost::array<double, 2>;

// The rate equations dA/dt = -k A, dB/dt = +k A, for a fixed k.
struct rate_rhs {
  double k;
  void operator()(const state& x, state& dxdt, double /*t*/) const {
    dxdt[0] = -k * x[0];
    dxdt[1] = +k * x[0];
  }
};

// The classic fourth-order Runge-Kutta stepper over that state, with the
// library's default algebra, operations and resizer.
using rate_stepper = boost::numeric::odeint::runge_kutta4<state>;

// Every step is of this size, in time units.
constexpr double step_size = 0.01;

// True when integrating from t0 to t_end would take 2,147,483,647 steps or
// more (an infinite end time, or a span too long or too fine for the step
// count): such a run must not start.
bool too_many_steps(double t0, double t_end);

// True when every later step from x with rate constant k is known to leave
// B exactly as it is and A on its side of zero (+0 stays +0, a nonzero A
// stays nonzero), never larger in magnitude: 0 < k <= 50 (so k times the
// step is at most 1/2), B is a normal number, A is not -0 (which turns into
// +0) and |A| is below 1/32 of the spacing of doubles at B.
//
// Why: write RN for rounding to nearest, u = 2^-1074 for the smallest
// subnormal and e = 2^-53; for y >= 0, RN(y) <= y (1 + e) + u/2, and a sum of
// two doubles below 2^-1022 is exact. Take 0 < A (a negative A mirrors it:
// rounding is symmetric, and where the mirror differs, x4 = +0 and not -0,
// only the sign of a zero added to a nonzero value changes) and K(y) =
// RN(k y), monotone. A step computes (the Butcher zeros add zeros to A):
//   x1 = A, x2 = RN(A - RN(h/2 K(x1))), x3 = RN(A - RN(h/2 K(x2))),
//   x4 = RN(A - RN(h K(x3))), D_j = RN(b_j K(x_j)), b_j ~ h/6, h/3, h/3, h/6,
//   A' = RN(RN(RN(RN(A - D1) - D2) - D3) - D4), B' the same with B + D_j.
// With k h <= 1/2, h K(y) <= A/2 (1 + 3e) + u/200 < A for 0 <= y <= A, so
// every x_j is in [+0, A]. The D_j are >= 0, so A' <= A; their sum is at
// most A/2 (1 + 8e) + 2.01u and each difference loses at most a factor 1 - e,
// so A' >= A (1/2 - 8e) - 2.01u > 0 for A >= 5u; for A <= 4u, K(y) <= 200u
// gives D1 = D4 = 0 and D2, D3 <= u (all 0 for A <= 2u), so A' > 0 again.
// A = +0 gives stages of +0 and -0 and stays +0. For B, |D_j| <= 0.17 |A| +
// u, below a quarter of B's spacing ulp(B) when |A| < ulp(B) / 32 and u <=
// ulp(B) / 2^57, so B' = B. A' is no larger and B' = B: the same holds at
// the next step, and at every one after it.
inline bool b_settled(double k, const state& x) {
  if (!(k > 0 && k <= 50)) return false;
  const auto a_bits = std::bit_cast<std::uint64_t>(x[0]);
  if (a_bits == 0x8000000000000000u) return false;  // -0
  // With the exponent fields a and b, |A| < 2^(a - 1022), ulp(B) = 2^(b - 1075).
  const int a = std::max(static_cast<int>((a_bits >> 52) & 0x7ff), 1);
  const int b = static_cast<int>((std::bit_cast<std::uint64_t>(x[1]) >> 52) & 0x7ff);
  return b != 0x7ff && a + 58 <= b;
}

// True when one step from x gives x back, bit for bit. The step does not
// depend on the time, so every later step would give x back too.
inline bool step_keeps(double k, const state& x) {
  rate_stepper stepper;
  state next = x;
  stepper.do_step(rate_rhs{k}, next, 0.0, step_size);
  return std::bit_cast<std::uint64_t>(next[0]) == std::bit_cast<std::uint64_t>(x[0]) &&
         std::bit_cast<std::uint64_t>(next[1]) == std::bit_cast<std::uint64_t>(x[1]);
}

// Advances x from t0 in steps of step_size while t + step_size <= t_end,
// the time recomputed as n * step_size + t0 from the step count n. Calls
// observe(x, t) before every step and once after the last, so also once when
// no step is taken. Returns the number of steps. The span must not need too
// many steps (see too_many_steps).
//
// Every 64 steps the loop looks whether the steps can stop while the time
// goes on: when a step would give x back (step_keeps: a decay that has run
// down into the smallest doubles, for one), observe sees exactly the states
// that stepping on would give; when frozen(x) is true, observe sees x as it
// is then, for every later time, so frozen must only say so when no later
// step could change anything observe makes of x. Nothing here calls out of
// line: a call in the loop would cost the step its registers.
template <class Observer, class Frozen>
int integrate(double k, state& x, double t0, double t_end, Observer&& observe, Frozen&& frozen) {
  rate_stepper stepper;
  const rate_rhs rhs{k};
  double t = t0;
  int n = 0;
  bool stepping = t0 + step_size <= t_end;
  while (stepping) {
    const double pause = std::min(t_end, t + 64 * step_size);
    do {
      observe(static_cast<const state&>(x), t);
      stepper.do_step(rhs, x, t, step_size);
      ++n;
      t = static_cast<double>(n) * step_size + t0;
    } while (t + step_size <= pause);
    if (!(t + step_size <= t_end)) break;
    if (frozen(static_cast<const state&>(x)) || step_keeps(k, x)) stepping = false;
  }
  while (!stepping && t + step_size <= t_end) {
    observe(static_cast<const state&>(x), t);
    ++n;
    t = static_cast<double>(n) * step_size + t0;
  }
  observe(static_cast<const state&>(x), t);
  return n;
}

// The same, with every state observed exactly as stepping makes it.
template <class Observer>
int integrate(double k, state& x, double t0, double t_end, Observer&& observe) {
  return integrate(k, x, t0, t_end, observe, [](const state&) { return false; });
}
