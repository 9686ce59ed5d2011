// The rate equations of a mass-action network, their forward sensitivity
// equations and the exact Jacobian of both, integrated as one system by
// odeint's fourth-order Rosenbrock method with step control and dense output.
#include "model/kinetics.h"
#include "model/linear.h"

// Without NDEBUG, ublas checks every LU factorization it makes against a
// product of the factors and throws where they differ by more than about
// 1e-8: the results would then depend on the kind of build.
#define BOOST_UBLAS_NDEBUG 1

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <numeric>
#include <utility>

#include <boost/numeric/odeint/stepper/rosenbrock4.hpp>
#include <boost/numeric/odeint/stepper/rosenbrock4_controller.hpp>
#include <boost/numeric/odeint/stepper/rosenbrock4_dense_output.hpp>

namespace {

namespace odeint = boost::numeric::odeint;
using vec = boost::numeric::ublas::vector<double>;
using mat = boost::numeric::ublas::matrix<double>;
using dense_stepper = odeint::rosenbrock4_dense_output<odeint::rosenbrock4_controller<odeint::rosenbrock4<double>>>;


// A reactant with its whole power, each species once.
struct factor {
  int species;
  std::int64_t power;
};
// The net change of a species per unit of rate, zeros left out.
struct change {
  int species;
  double nu;
};
struct step_terms {
  std::vector<factor> in;
  std::vector<change> net;
};

// What the integrated functions need. The sensitivity to wanted[w] is
// integrated as scale[w] times the derivative, which is a concentration.
struct problem {
  std::size_t n = 0;  // species
  std::vector<step_terms> steps;
  std::vector<double> k;
  std::vector<int> wanted;
  std::vector<double> scale;
  mutable std::vector<double> jac;  // scratch: the n x n Jacobian, row-major
};

std::string text(double v) {
  char buf[32];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// x to the power e by multiplications: 1 for e = 0, whatever x is.
double power(double x, std::int64_t e) {
  double result = 1;
  for (; e > 0; e >>= 1, x *= x)
    if (e & 1) result *= x;
  return result;
}

// The order-th derivative (0, 1 or 2) of x^e.
double power_derivative(double x, std::int64_t e, int order) {
  const double ed = static_cast<double>(e);
  if (order == 0) return power(x, e);
  if (order == 1) return ed * power(x, e - 1);
  return e < 2 ? 0.0 : ed * (ed - 1) * power(x, e - 2);
}

// The product of the step's reactant powers, differentiated once with
// respect to the concentration of reactant i and once more to that of
// reactant j (-1 for no derivative; i == j for the second derivative).
double monomial(const step_terms& st, const double* c, int i, int j) {
  double p = 1;
  for (int a = 0; a < static_cast<int>(st.in.size()); ++a)
    p *= power_derivative(c[st.in[a].species], st.in[a].power, (a == i) + (a == j));
  return p;
}

// dc/dt of the rate equations into f[0..n).
void rate_equations(const problem& p, const double* c, double* f) {
  std::fill(f, f + p.n, 0.0);
  for (std::size_t r = 0; r < p.steps.size(); ++r) {
    const double rate = p.k[r] * monomial(p.steps[r], c, -1, -1);
    for (const change& ch : p.steps[r].net) f[ch.species] += ch.nu * rate;
  }
}

// The Jacobian of the rate equations into p.jac (row s, column q: df_s/dc_q).
void rate_jacobian(const problem& p, const double* c) {
  p.jac.assign(p.n * p.n, 0.0);
  for (std::size_t r = 0; r < p.steps.size(); ++r) {
    const step_terms& st = p.steps[r];
    for (int a = 0; a < static_cast<int>(st.in.size()); ++a) {
      const double g = p.k[r] * monomial(st, c, a, -1);
      for (const change& ch : st.net) p.jac[ch.species * p.n + st.in[a].species] += ch.nu * g;
    }
  }
}

// The derivative of the rate equations with respect to the wanted
// parameter w, times its scale, added into g: zero for an initial
// concentration.
void add_source(const problem& p, std::size_t w, const double* c, double* g) {
  const auto r = static_cast<std::size_t>(p.wanted[w]);
  if (r >= p.steps.size()) return;
  const double m = p.scale[w] * monomial(p.steps[r], c, -1, -1);
  for (const change& ch : p.steps[r].net) g[ch.species] += ch.nu * m;
}

// The concentrations, then the scaled sensitivities to each wanted
// parameter: J S + source.
struct augmented_rhs {
  const problem* p;
  void operator()(const vec& y, vec& dydt, double /*t*/) const {
    const std::size_t n = p->n;
    const double* c = &y[0];
    rate_equations(*p, c, &dydt[0]);
    if (p->wanted.empty()) return;
    rate_jacobian(*p, c);
    for (std::size_t w = 0; w < p->wanted.size(); ++w) {
      const double* s = c + (w + 1) * n;
      double* g = &dydt[(w + 1) * n];
      for (std::size_t i = 0; i < n; ++i)
        g[i] = std::inner_product(s, s + n, p->jac.begin() + static_cast<std::ptrdiff_t>(i * n), 0.0);
      add_source(*p, w, c, g);
    }
  }
};

// d(J S + source)/dc for the sensitivities s of wanted[w], added into the
// rows of block w + 1 and the columns of the concentrations.
void add_second_derivatives(const problem& p, std::size_t w, const double* c, const double* s, mat& J) {
  const std::size_t row = (w + 1) * p.n;
  for (std::size_t r = 0; r < p.steps.size(); ++r) {
    const step_terms& st = p.steps[r];
    const bool source = static_cast<std::size_t>(p.wanted[w]) == r;
    for (int a = 0; a < static_cast<int>(st.in.size()); ++a) {
      double h = source ? p.scale[w] * monomial(st, c, a, -1) : 0.0;
      for (int b = 0; b < static_cast<int>(st.in.size()); ++b)
        h += p.k[r] * monomial(st, c, a, b) * s[st.in[b].species];
      for (const change& ch : st.net) J(row + ch.species, st.in[a].species) += ch.nu * h;
    }
  }
}

// The exact Jacobian of the augmented system: the rate Jacobian on the
// diagonal blocks, the second derivatives below the first block.
struct augmented_jacobian {
  const problem* p;
  void operator()(const vec& y, mat& J, double /*t*/, vec& dfdt) const {
    const std::size_t n = p->n;
    J.clear();
    dfdt.clear();
    rate_jacobian(*p, &y[0]);
    for (std::size_t b = 0; b <= p->wanted.size(); ++b)
      for (std::size_t i = 0; i < n; ++i)
        for (std::size_t q = 0; q < n; ++q) J(b * n + i, b * n + q) = p->jac[i * n + q];
    for (std::size_t w = 0; w < p->wanted.size(); ++w) add_second_derivatives(*p, w, &y[0], &y[(w + 1) * n], J);
  }
};

std::string check_network(const network& net, std::size_t k_size, std::size_t c0_size) {
  if (net.species < 0) return "the network has a negative number of species";
  if (k_size != net.steps.size())
    return std::to_string(k_size) + " rate constants for " + std::to_string(net.steps.size()) + " steps";
  if (c0_size != static_cast<std::size_t>(net.species))
    return std::to_string(c0_size) + " initial concentrations for " + std::to_string(net.species) + " species";
  for (std::size_t r = 0; r < net.steps.size(); ++r)
    for (const auto* side : {&net.steps[r].reactants, &net.steps[r].products})
      for (const stoich& x : *side) {
        if (x.species < 0 || x.species >= net.species)
          return "step " + std::to_string(r) + " names species " + std::to_string(x.species) + " of " +
                 std::to_string(net.species);
        if (x.coefficient < 1 && !(side == &net.steps[r].products && x.amount > 0))
          return "step " + std::to_string(r) + " has the coefficient " + std::to_string(x.coefficient);
      }
  return {};
}

std::string check_values(const std::vector<double>& k, const std::vector<double>& c0, double t0,
                         const std::vector<double>& times, const tolerance& tol) {
  for (std::size_t r = 0; r < k.size(); ++r)
    if (!std::isfinite(k[r])) return "rate constant " + std::to_string(r) + " is " + text(k[r]);
  for (std::size_t s = 0; s < c0.size(); ++s)
    if (!std::isfinite(c0[s])) return "initial concentration " + std::to_string(s) + " is " + text(c0[s]);
  if (!std::isfinite(t0)) return "the start time is " + text(t0);
  for (std::size_t i = 0; i < times.size(); ++i) {
    if (!std::isfinite(times[i])) return "time " + std::to_string(i) + " is " + text(times[i]);
    if (times[i] < t0) return "time " + std::to_string(i) + " (" + text(times[i]) + ") is before the start " + text(t0);
  }
  if (!(std::isfinite(tol.relative) && tol.relative >= 0 && std::isfinite(tol.absolute) && tol.absolute > 0))
    return "the tolerances must be finite, the relative one 0 or more and the absolute one above 0";
  return {};
}

// The steps with each reactant and each species' net change once.
step_terms terms_of(const elementary_step& st) {
  step_terms out;
  std::vector<std::pair<int, std::int64_t>> in;
  std::vector<std::pair<int, double>> net;
  for (const stoich& x : st.reactants) in.emplace_back(x.species, x.coefficient);
  // Whole coefficients add up exactly in doubles too.
  for (const stoich& x : st.reactants) net.emplace_back(x.species, -static_cast<double>(x.coefficient));
  for (const stoich& x : st.products) net.emplace_back(x.species, product_amount(x));
  std::sort(in.begin(), in.end());
  std::sort(net.begin(), net.end());
  for (const auto& [s, e] : in)
    if (!out.in.empty() && out.in.back().species == s) out.in.back().power += e;
    else out.in.push_back({s, e});
  for (std::size_t i = 0; i < net.size();) {
    double sum = 0;
    const int s = net[i].first;
    for (; i < net.size() && net[i].first == s; ++i) sum += net[i].second;
    if (sum != 0) out.net.push_back({s, static_cast<double>(sum)});
  }
  return out;
}

// The largest initial concentration in size, or 1 when all are 0.
double concentration_scale(const std::vector<double>& c0) {
  double m = 0;
  for (const double v : c0) m = std::max(m, std::abs(v));
  return m > 0 ? m : 1.0;
}

problem problem_of(const network& net, const std::vector<double>& k, const std::vector<double>& c0,
                   const std::vector<int>& wanted, double span) {
  problem p;
  p.n = static_cast<std::size_t>(net.species);
  for (const elementary_step& st : net.steps) p.steps.push_back(terms_of(st));
  p.k = k;
  p.wanted = wanted;
  for (const int w : wanted) {
    const auto r = static_cast<std::size_t>(w);
    if (r >= k.size()) p.scale.push_back(concentration_scale(c0));
    else p.scale.push_back(k[r] != 0 ? std::abs(k[r]) : span > 0 ? 1 / span : 1.0);
  }
  return p;
}

// The initial state of the augmented system.
vec initial_state(const problem& p, const std::vector<double>& c0) {
  vec y(p.n * (p.wanted.size() + 1));
  y.clear();
  std::copy(c0.begin(), c0.end(), y.begin());
  for (std::size_t w = 0; w < p.wanted.size(); ++w)
    if (static_cast<std::size_t>(p.wanted[w]) >= p.steps.size())
      y[(w + 1) * p.n + (p.wanted[w] - p.steps.size())] = p.scale[w];
  return y;
}

// A first step about 1% of the time in which the fastest rate would use up
// the largest concentration; the step control corrects it either way.
double first_step(const problem& p, const vec& y, double span) {
  std::vector<double> f(p.n);
  rate_equations(p, &y[0], f.data());
  double fmax = 0, cmax = 0;
  for (std::size_t s = 0; s < p.n; ++s) {
    fmax = std::max(fmax, std::abs(f[s]));
    cmax = std::max(cmax, std::abs(y[s]));
  }
  const double h = 0.01 * (cmax > 0 ? cmax : 1.0) / fmax;
  return h > 0 && h < span ? h : span;
}

bool all_finite(const vec& y) {
  return std::all_of(y.begin(), y.end(), [](double v) { return std::isfinite(v); });
}

// The limits of one integration: its tolerances, absolute one scaled, its
// steps and its time.
struct limits {
  double atol, rtol;
  long max_steps;
  std::chrono::steady_clock::time_point deadline;
};

// Stores the augmented state y as the result at times[i], unscaled.
bool store(const problem& p, const vec& y, std::size_t i, trajectory& out) {
  const std::size_t n = p.n, m = p.wanted.size();
  bool finite = true;
  for (std::size_t s = 0; s < n; ++s) {
    finite = finite && std::isfinite(out.c[i * n + s] = y[s]);
    for (std::size_t w = 0; w < m; ++w)
      finite = finite && std::isfinite(out.dc[(i * n + s) * m + w] = y[(w + 1) * n + s] / p.scale[w]);
  }
  return finite;
}

// Steps from t0 to the last time and interpolates the state at every time
// passed, visiting them in the order given; at is the time reached.
std::string integrate(const problem& p, vec y, double t0, const std::vector<double>& times,
                      const std::vector<std::size_t>& order, const limits& tol, trajectory& out, double& at) {
  std::size_t i = 0;
  for (; i < order.size() && times[order[i]] == t0; ++i)
    if (!store(p, y, order[i], out)) return "the solution is not finite at time " + text(t0);
  if (i == order.size()) return {};
  const double t_end = times[order.back()];
  dense_stepper stepper{odeint::rosenbrock4_controller<odeint::rosenbrock4<double>>(tol.atol, tol.rtol)};
  const auto system = std::make_pair(augmented_rhs{&p}, augmented_jacobian{&p});
  stepper.initialize(y, t0, first_step(p, y, t_end - t0));
  for (long steps = 0;; ++steps) {
    const double t = stepper.current_time(), dt = stepper.current_time_step();
    if (!(t + dt > t)) return "the step size underflows at time " + text(t);
    if (steps == tol.max_steps)
      return "gave up after " + std::to_string(tol.max_steps) + " steps, at time " + text(t) + " of " + text(t_end);
    if (steps % 16 == 0 && std::chrono::steady_clock::now() >= tol.deadline) return "out of time at time " + text(t);
    if (t + dt > t_end) stepper.initialize(vec(stepper.current_state()), t, t_end - t);
    stepper.do_step(system);
    at = stepper.current_time();
    if (!all_finite(stepper.current_state())) return "the solution is not finite at time " + text(at);
    for (; i < order.size() && times[order[i]] <= at; ++i) {
      stepper.calc_state(times[order[i]], y);
      if (!store(p, y, order[i], out)) return "the solution is not finite at time " + text(times[order[i]]);
    }
    if (i == order.size()) return {};
  }
}

std::string run(const problem& p, const std::vector<double>& c0, double t0, const std::vector<double>& times,
                const limits& tol, trajectory& out) {
  std::vector<std::size_t> order(times.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return times[a] < times[b]; });
  out.c.assign(times.size() * p.n, 0.0);
  out.dc.assign(times.size() * p.n * p.wanted.size(), 0.0);
  if (p.n == 0) return {};
  double at = t0;
  try {
    return integrate(p, initial_state(p, c0), t0, times, order, tol, out, at);
  } catch (const odeint::step_adjustment_error&) {
    return "no step size meets the tolerance at time " + text(at);
  } catch (const std::exception& e) {
    return std::string("the integration failed at time ") + text(at) + ": " + e.what();
  } catch (...) {
    return "the integration failed at time " + text(at);
  }
}

}  // namespace

std::string size_limit(std::size_t species, std::size_t wanted, std::size_t times) {
  const double rows = static_cast<double>(species) * (1.0 + static_cast<double>(wanted));
  if (rows > static_cast<double>(max_system_rows)) {
    return "its " + std::to_string(species) + " species with " + std::to_string(wanted) +
           " sensitivities make a system of " + text(rows) + " equations, more than the " +
           std::to_string(max_system_rows) + " ratefit solves (its matrices would need " +
           text(std::ceil(rows * rows * 8 / 1048576)) + " MiB each)";
  }
  if (rows * static_cast<double>(times) > static_cast<double>(max_result_values)) {
    return "its " + text(rows) + " concentrations and sensitivities at " + std::to_string(times) +
           " times are more than the " + std::to_string(max_result_values) + " values ratefit holds";
  }
  return {};
}

std::string solve(const network& net, const std::vector<double>& k, const std::vector<double>& c0, double t0,
                  const std::vector<double>& times, const std::vector<int>& wanted, trajectory& out,
                  const tolerance& tol) {
  out = {};
  std::string error = check_network(net, k.size(), c0.size());
  if (error.empty()) error = size_limit(c0.size(), wanted.size(), times.size());
  if (error.empty()) error = check_values(k, c0, t0, times, tol);
  const std::size_t parameters = net.steps.size() + c0.size();
  for (std::size_t w = 0; w < wanted.size() && error.empty(); ++w)
    if (wanted[w] < 0 || static_cast<std::size_t>(wanted[w]) >= parameters)
      error = "parameter " + std::to_string(wanted[w]) + " is not one of the " + std::to_string(parameters);
  if (!error.empty()) return error;
  const double t_end = times.empty() ? t0 : *std::max_element(times.begin(), times.end());
  const double atol = tol.absolute * concentration_scale(c0);
  if (!(atol > 0 && std::isfinite(atol))) return "the absolute tolerance times the largest concentration is " + text(atol);
  if (tol.closed_form && first_order(net)) {
    trajectory result;
    error = solve_first_order(net, k, c0, t0, times, wanted, result, tol.deadline, tol.shared);
    if (error.empty()) out = std::move(result);
    return error;
  }
  const problem p = problem_of(net, k, c0, wanted, t_end - t0);
  trajectory result;
  error = run(p, c0, t0, times, {atol, tol.relative, tol.max_steps, tol.deadline}, result);
  if (error.empty()) out = std::move(result);
  return error;
}
