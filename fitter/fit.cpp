#include "fitter/fit.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include <dlib/matrix.h>
#include <dlib/optimization.h>

#include "model/rate_model.h"

namespace {

using column = dlib::matrix<double, 0, 1>;

curves simulate(const column& p, const curves& measured, const guess& start) {
  const double b0 = measured.b.empty() ? start.b0 : p(2);
  return simulate_at(p(0), p(1), b0, start.t0, measured.t);
}

// The residuals simulated minus measured, A of every point first, then B.
std::vector<double> residuals(const column& p, const curves& measured, const guess& start) {
  const curves sim = simulate(p, measured, start);
  std::vector<double> r;
  r.reserve(measured.t.size() * 2);
  for (std::size_t i = 0; i < measured.t.size(); ++i) r.push_back(sim.a[i] - measured.a[i]);
  for (std::size_t i = 0; i < measured.b.size(); ++i) r.push_back(sim.b[i] - measured.b[i]);
  return r;
}

// The Jacobian of the residuals by central differences, one row per residual.
dlib::matrix<double> jacobian(const column& p, const curves& measured, const guess& start) {
  const std::size_t m = measured.t.size() + measured.b.size();
  dlib::matrix<double> j(static_cast<long>(m), p.size());
  for (long c = 0; c < p.size(); ++c) {
    const double h = 1e-6 * std::max(std::abs(p(c)), 1e-3);
    column up = p;
    column down = p;
    up(c) += h;
    down(c) -= h;
    const std::vector<double> ru = residuals(up, measured, start);
    const std::vector<double> rd = residuals(down, measured, start);
    for (std::size_t i = 0; i < m; ++i) j(static_cast<long>(i), c) = (ru[i] - rd[i]) / (up(c) - down(c));
  }
  return j;
}

// Stops the solver when the objective no longer changes or after the
// iteration limit, and reports every iteration; the first call reports the
// starting values as iteration 0.
struct stop_and_report {
  const fit_monitor* monitor;
  int max_iterations;
  int* calls;
  bool* hit_limit;
  double previous = 0;

  template <typename T>
  bool should_continue_search(const T& x, double objective, const T& /*gradient*/) {
    const int iteration = (*calls)++;
    if (*monitor) (*monitor)(iteration, 2 * objective, x(0));  // the solver minimises half the sum
    if (iteration > 0 && std::abs(previous - objective) <= 1e-12 * previous + 1e-300) return false;
    if (iteration >= max_iterations) {
      *hit_limit = true;
      return false;
    }
    previous = objective;
    return true;
  }
};

}  // namespace

curves simulate_at(double k, double a0, double b0, double t0, const std::vector<double>& times) {
  std::vector<std::size_t> order(times.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t l, std::size_t r) { return times[l] < times[r]; });

  curves out{times, std::vector<double>(times.size()), std::vector<double>(times.size())};
  if (times.empty()) return out;
  const rate_rhs rhs{k};
  rate_stepper partial;
  std::size_t next = 0;
  state last{};
  double last_t = t0;
  // Each time at or after t but before the next whole step is finished from
  // the state at t.
  const auto finish_until = [&](const state& x, double t, double limit) {
    while (next < order.size() && times[order[next]] < limit) {
      state y = x;
      const double dt = times[order[next]] - t;
      if (dt > 0) partial.do_step(rhs, y, t, dt);
      out.a[order[next]] = y[0];
      out.b[order[next]] = y[1];
      ++next;
    }
  };
  state x = {{a0, b0}};
  integrate(k, x, t0, times[order.back()] + step_size, [&](const state& now, double t) {
    finish_until(now, t, t + step_size);
    last = now;
    last_t = t;
  });
  finish_until(last, last_t, INFINITY);
  return out;
}

fit_result fit_rate(const curves& measured, const guess& start, const fit_monitor& monitor, int max_iterations) {
  const bool with_b = !measured.b.empty();
  column p(with_b ? 3 : 2);
  p(0) = start.k;
  p(1) = start.a0;
  if (with_b) p(2) = start.b0;

  // The solver asks for one residual and one gradient at a time; both come
  // from whole simulations, kept for the parameters last asked for.
  column cached_p;
  std::vector<double> cached_r;
  column cached_jp;
  dlib::matrix<double> cached_j;
  const auto residual = [&](long i, const column& q) {
    if (cached_p.size() != q.size() || cached_p != q) {
      cached_r = residuals(q, measured, start);
      cached_p = q;
    }
    return cached_r[static_cast<std::size_t>(i)];
  };
  const auto derivative = [&](long i, const column& q) {
    if (cached_jp.size() != q.size() || cached_jp != q) {
      cached_j = jacobian(q, measured, start);
      cached_jp = q;
    }
    return column(dlib::trans(dlib::rowm(cached_j, i)));
  };

  std::vector<long> samples(measured.t.size() + measured.b.size());
  std::iota(samples.begin(), samples.end(), 0L);

  fit_result result;
  const std::vector<double> first = residuals(p, measured, start);
  if (!std::all_of(first.begin(), first.end(), [](double v) { return std::isfinite(v); })) {
    result.failure = "the simulation with the starting values is not finite (is k * 0.01 far below 2.8?)";
    return result;
  }
  int calls = 0;
  bool hit_limit = false;
  dlib::solve_least_squares_lm(stop_and_report{&monitor, max_iterations, &calls, &hit_limit}, residual, derivative,
                               samples, p);
  result.iterations = calls - 1;

  const std::vector<double> r = residuals(p, measured, start);
  const double ssr = std::inner_product(r.begin(), r.end(), r.begin(), 0.0);
  const dlib::matrix<double> j = jacobian(p, measured, start);
  const long free = static_cast<long>(r.size()) - p.size();
  const dlib::matrix<double> covariance = dlib::inv(dlib::trans(j) * j) * (free > 0 ? ssr / static_cast<double>(free) : 0.0);

  result.k = p(0);
  result.a0 = p(1);
  result.b0 = with_b ? p(2) : start.b0;
  result.se_k = std::sqrt(covariance(0, 0));
  result.se_a0 = std::sqrt(covariance(1, 1));
  result.se_b0 = with_b ? std::sqrt(covariance(2, 2)) : 0.0;
  result.sum_of_squares = ssr;
  result.points = static_cast<int>(r.size());
  result.rms = std::sqrt(ssr / static_cast<double>(r.size()));
  result.simulated = simulate(p, measured, start);
  if (hit_limit) {
    result.failure = "the fit did not converge in " + std::to_string(max_iterations) + " iterations";
  } else if (!std::isfinite(ssr) || !dlib::is_finite(p)) {
    result.failure = "the fit reached values for which the simulation is not finite";
  } else if (!std::isfinite(result.se_k) || !std::isfinite(result.se_a0) || !std::isfinite(result.se_b0)) {
    result.failure = "the data do not determine the fitted values (their standard errors are not finite)";
  }
  return result;
}
