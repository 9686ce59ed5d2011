// The first-order reaction A -> B and its fixed-step fourth-order
// Runge-Kutta integration, shared by the simulator and the fitter.
#pragma once

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

// Advances x from t0 in steps of step_size while t + step_size <= t_end,
// the time recomputed as n * step_size + t0 from the step count n. Calls
// observe(x, t) before every step and once after the last, so also once when
// no step is taken. Returns the number of steps. The span must not need too
// many steps (see too_many_steps).
template <class Observer>
int integrate(double k, state& x, double t0, double t_end, Observer&& observe) {
  rate_stepper stepper;
  const rate_rhs rhs{k};
  double t = t0;
  int n = 0;
  if (t0 + step_size <= t_end) {
    do {
      observe(static_cast<const state&>(x), t);
      stepper.do_step(rhs, x, t, step_size);
      ++n;
      t = static_cast<double>(n) * step_size + t0;
    } while (t + step_size <= t_end);
  }
  observe(static_cast<const state&>(x), t);
  return n;
}
