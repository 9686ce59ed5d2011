// Least-squares fit of the first-order reaction A -> B to measured
// concentrations: k, A0 and B0 (or only k and A0 when B was not measured).
#pragma once

#include <functional>
#include <string>
#include <vector>

// The measured curves: one time per point, the concentration of A, and that
// of B when it was measured (b empty otherwise).
struct curves {
  std::vector<double> t;
  std::vector<double> a;
  std::vector<double> b;
};

// Where the fit starts, and the start of the simulated time axis.
struct guess {
  double k;
  double a0;
  double b0;
  double t0;
};

struct fit_result {
  std::string failure;  // why the fit has no result; empty when it converged
  int iterations = 0;   // accepted solver steps
  double k = 0, a0 = 0, b0 = 0;
  double se_k = 0, se_a0 = 0, se_b0 = 0;  // standard errors; 0 for B0 when it is held fixed
  double sum_of_squares = 0;
  double rms = 0;  // root-mean-square residual
  int points = 0;  // number of residuals
  curves simulated;  // at the measured times, at the optimum (b always filled)
};

// Simulates A and B at the given times (each at least t0), integrating from
// t0 in the fixed steps of ratesim and finishing each time with one shorter
// step from the last whole step before it.
curves simulate_at(double k, double a0, double b0, double t0, const std::vector<double>& times);

// Called after every accepted iteration: iteration number, sum of squares,
// current k.
using fit_monitor = std::function<void(int, double, double)>;

// Fits k, A0 and, when measured.b is filled, B0 with the Levenberg-Marquardt
// solver, starting from start; gives up after max_iterations, and fails when
// the simulation is not finite or the data leave a value undetermined. The
// times must be at least start.t0 and the points more than the fitted values.
fit_result fit_rate(const curves& measured, const guess& start, const fit_monitor& monitor,
                    int max_iterations = 200);
