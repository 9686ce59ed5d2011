#include "engine/fit.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <utility>

#include "common/format.h"
#include "engine/bounds.h"
#include "engine/diagnosis.h"
#include "engine/outcomes.h"
#include "engine/parallel.h"
#include "engine/profile.h"
#include "engine/runs.h"
#include "engine/starts.h"
#include "engine/stats.h"

namespace kinetics {

namespace {

std::vector<std::size_t> rate_positions(const problem& p) {
  std::vector<std::size_t> rates;
  for (std::size_t i = 0; i < p.fitted.size(); ++i) {
    if (is_rate(p.fitted[i].kind)) rates.push_back(i);
  }
  return rates;
}

vector_d natural_values(const problem& p, const vector_d& x) {
  vector_d v;
  for (std::size_t i = 0; i < x.size(); ++i) v.push_back(natural(p, i, x));
  return v;
}


// The residuals of a start, where no rate constant may move more than eight
// powers of ten from where the start put it: a search that runs off towards
// 0 or infinity then ends in a few steps at that bound, instead of spending
// every trial step on the way. A minimum on the bound fails the gradient
// test, so such a start never counts as converged.
residual_function within_reach(const problem& p, const vector_d& x0, const residual_function& f) {
  return [&p, x0, f](const vector_d& x, bool jacobian, vector_d& r, matrix_d& j) -> std::string {
    for (std::size_t i = 0; i < x.size(); ++i) {
      if (is_rate(p.fitted[i].kind) && std::abs(x[i] - x0[i]) > 8 * std::log(10.0)) {
        return "a rate constant ran off by eight powers of ten";
      }
    }
    return f(x, jacobian, r, j);
  };
}

// Values that differ by less than a ten-thousandth, or (with standard
// errors) by less than one standard error, belong to the same minimum. A
// value held at a bound has no standard error.
bool same_values(const vector_d& a, const vector_d& b, const std::vector<estimate>& e = {}) {
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double d = std::abs(a[i] - b[i]);
    if (d > 1e-4 * (std::abs(a[i]) + std::abs(b[i])) + 1e-12 && (e.empty() || std::isnan(e[i].se) || d > e[i].se))
      return false;
  }
  return true;
}

}  // namespace

double ssr_at(const problem& p, const vector_d& x) {
  vector_d r;
  matrix_d unused;
  return residuals(p, x, false, r, unused).empty() ? sum_of_squares(r) : NAN;
}

const start_outcome* lowest_start(const problem& p, const fit_result& r) {
  const start_outcome* best = nullptr;
  for (const start_outcome& s : r.starts) {
    if (std::isfinite(s.ssr) && s.to.size() == p.fitted.size() && (!best || s.ssr < best->ssr)) best = &s;
  }
  return best;
}

bool same_residuals(const problem& p, const lm_settings& s, const vector_d& at_minimum, const vector_d& x) {
  vector_d r;
  matrix_d unused;
  if (!residuals(p, x, false, r, unused).empty()) return false;
  const vector_d here = group_sums(r, s), there = group_sums(at_minimum, s);
  for (std::size_t k = 0; k < here.size(); ++k) {
    if (std::abs(here[k] - there[k]) > 1e-9 * there[k] + s.group_floors[k]) return false;
  }
  return true;
}

namespace {

// A rate constant whose step the data do not show at all: setting it to 0,
// or making it a thousand times faster, changes no residual beyond rounding.
// The minimum then lies at 0 or at infinity, where no value can be given.
std::pair<fit_status, std::string> check_bounds(const problem& p, const fit_result& out, const vector_d& r,
                                                const lm_settings& s) {
  for (std::size_t i = 0; i < p.fitted.size(); ++i) {
    if (!is_rate(p.fitted[i].kind)) continue;
    const auto moved = [&](double x_i) {
      vector_d x = out.x;
      x[i] = x_i;
      return same_residuals(p, s, r, x);
    };
    const std::string& name = value_name(p, i);
    if (moved(to_solver_value(role::rate, 0))) {
      return {fit_status::rate_falls_to_0,
              name + " falls to 0: setting it to 0 changes no residual, so the data show no trace of its step "
                     "(hold it fixed or remove the step)"};
    }
    if (moved(to_solver_value(role::rate, 1e3 * natural(p, i, out.x)))) {
      return {fit_status::rate_unbounded,
              name + " grows without bound: its step is faster than the data can resolve (hold it fixed)"};
    }
  }
  return {};
}

fit_result& failed(fit_result& out, fit_status status, std::string why) {
  out.status = status;
  out.failure = std::move(why);
  return out;
}

std::string list_values(const problem& p, const vector_d& v) {
  std::string text;
  for (std::size_t i = 0; i < v.size(); ++i) {
    text += (i ? ", " : "") + value_name(p, i) + " = " + format_g(v[i], 6);
  }
  return text;
}

// Starts that converged to other values with a sum of squares within the
// 95 % threshold of the best: minima the data cannot tell apart.
void warn_rivals(const problem& p, fit_result& out) {
  const vector_d best = natural_values(p, out.x);
  const double threshold = profile_threshold(p, out.ssr, out.dof);
  std::vector<vector_d> seen{best};
  for (const start_outcome& s : out.starts) {
    if (!s.failure.empty() || s.ssr > threshold) continue;
    if (std::any_of(seen.begin(), seen.end(), [&](const vector_d& v) { return same_values(v, s.to, out.estimates); }))
      continue;
    seen.push_back(s.to);
    out.warnings.push_back("another minimum fits nearly as well (sum of squares " + format_g(s.ssr / out.ssr, 6) +
                           " times the best): " + list_values(p, s.to));
  }
}

// Column lines whose residuals' signs run in far fewer runs than chance
// gives: the model misses something the data show. p < 1e-5 (4.3 standard
// deviations), so that a user who fits hundreds of columns is not warned
// of chance; a start time off by a few points gives 1e-10 and less.
void warn_systematic(const problem& p, const vector_d& r, fit_result& out) {
  const std::vector<runs_result> runs = column_runs(p, r);
  for (std::size_t j = 0; j < runs.size(); ++j) {
    out.runs_p.push_back(runs[j].p);
    if (runs[j].p >= 1e-5) continue;
    out.warnings.push_back("the residuals of column " + std::to_string(p.m.columns[j].column) +
                           " are systematic: their signs change in " + std::to_string(runs[j].runs) +
                           " runs where about " + format_g(runs[j].expected, 3) +
                           " are expected by chance (runs test, p = " + format_g(runs[j].p, 2) +
                           "); the model may lack a step, or the start time may be wrong");
  }
}

// Both sides of the profile interval of every rate constant and parameter,
// each side a task of its own.
void add_profiles(const problem& p, const lm_settings& settings, fit_result& out) {
  const double threshold = profile_threshold(p, out.ssr, out.dof);
  std::vector<std::size_t> profiled;
  std::vector<double> steps;
  for (std::size_t i = 0; i < p.fitted.size(); ++i) {
    const role kind = p.fitted[i].kind;
    if (!is_rate(kind) && kind != role::parameter) continue;
    const estimate& e = out.estimates[i];
    profiled.push_back(i);
    // At first a move of at most a factor e for a rate constant.
    steps.push_back(is_rate(kind) ? std::clamp(e.se / e.value, 1e-12, 1.0) : e.se);
  }
  vector_d ends(2 * profiled.size());
  run_tasks(ends.size(), [&](std::size_t t) {
    ends[t] = profile_side(p, out.x, out.ssr, profiled[t / 2], steps[t / 2], threshold, settings, t % 2 ? 1.0 : -1.0);
  });
  for (std::size_t n = 0; n < profiled.size(); ++n) {
    const std::size_t i = profiled[n];
    const role kind = p.fitted[i].kind;
    estimate& e = out.estimates[i];
    const double lo = ends[2 * n], hi = ends[2 * n + 1];
    e.profile_low = to_natural_value(kind, lo);
    e.profile_high = to_natural_value(kind, hi);
    if (std::isnan(lo) || std::isnan(hi)) {
      out.warnings.push_back("the profile interval of " + value_name(p, i) + " could not be computed on one side");
    }
  }
}

}  // namespace

std::vector<vector_d> starting_points(const problem& p) {
  const vector_d first = to_solver(p, p.base);
  const std::vector<std::size_t> rates = rate_positions(p);
  std::vector<vector_d> starts{first};
  if (rates.empty()) return starts;
  const auto scaled = [&](const auto& decades) {
    vector_d x = first;
    for (std::size_t r = 0; r < rates.size(); ++r) {
      const std::size_t i = rates[r];
      x[i] = to_solver_value(role::rate, natural(p, i, first) * std::pow(10.0, decades(r)));
    }
    starts.push_back(x);
  };
  for (double d : {-2.0, -1.0, 1.0, 2.0}) scaled([d](std::size_t) { return d; });
  if (rates.size() < 2) return starts;
  // A fixed sequence of decades in [-2, 2] (a Weyl sequence), so that the
  // rate constants also start apart from each other.
  const double golden = 0.6180339887498949;
  for (std::size_t m = 0; m < 2 * rates.size(); ++m) {
    scaled([&](std::size_t r) {
      const double u = std::fmod(static_cast<double>(m * rates.size() + r + 1) * golden, 1.0);
      return 4 * u - 2;
    });
  }
  return starts;
}

namespace {

// Ends a fit out of time, at start (or -1) and the solver's values x.
fit_result& out_of_time(const problem& p, fit_result& out, int start, const vector_d& x) {
  out.stopped_start = start;
  out.stopped_at = natural_values(p, x);
  return failed(out, fit_status::out_of_time, "out of time");
}

// Runs the search from every start, adds each one's outcome to out and keeps
// the best converged minimum in best. False when the time ran out, with out
// saying where. The searches run as tasks of their own (engine/parallel.h);
// their outcomes are then taken in the order of the starts.
bool run_starts(const problem& p, const std::vector<vector_d>& starts, const lm_settings& lm,
                const residual_function& f, fit_result& out, lm_outcome& best) {
  std::vector<lm_outcome> outcomes(starts.size());
  std::vector<char> ended(starts.size(), 0);
  std::mutex lock;
  run_tasks(starts.size(), [&](std::size_t i) {
    const vector_d x0 = into_box(starts[i], lm);
    outcomes[i] = levenberg_marquardt(within_reach(p, x0, f), x0, lm);
    const std::lock_guard<std::mutex> hold(lock);
    ended[i] = 1;
    let_go_outranked(outcomes, ended, i);
  });
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const vector_d x0 = into_box(starts[i], lm);
    lm_outcome& o = outcomes[i];
    out.evaluations += o.evaluations;
    out.jacobians += o.jacobians;
    if (o.reason == termination::out_of_time) {
      out_of_time(p, out, static_cast<int>(out.starts.size()), o.x);
      return false;
    }
    out.starts.push_back({natural_values(p, x0), natural_values(p, o.x), o.ssr, o.iterations, o.reason, o.failure});
    if (o.failure.empty() && (!best.failure.empty() || o.ssr < best.ssr)) best = std::move(o);
  }
  return true;
}

// The fit from the starts, with the active set of rate constants at 0 when
// the free search finds no minimum inside the domain.
fit_result fit_within(const problem& p, const fit_settings& settings) {
  const fit_result free = fit_without_bounds(p, settings);
  if (free.status == fit_status::converged || free.status == fit_status::rate_unbounded ||
      free.status == fit_status::out_of_time || !p.parts.empty()) {
    return free;  // rate constants at 0 are held for one data table only
  }
  fit_result out = fit_at_zero(p, settings, free);
  if (!out.failure.empty() && out.status != fit_status::out_of_time) out.blamed = diagnose(p, out);
  return out;
}

// The estimate of a value held at its bound: no standard error, no t
// interval, and a profile from the bound to its one-sided limit.
estimate held_estimate(double bound, double limit) {
  estimate e;
  e.value = bound;
  e.se = e.t_low = e.t_high = NAN;
  e.profile_low = std::min(bound, limit);
  e.profile_high = std::max(bound, limit);
  e.at_bound = true;
  return e;
}

// r, the result of q (p with the values at positions held at their bounds),
// in the terms of p: the held values with the estimates of held_estimate.
void expand_held(const problem& p, const problem& q, const std::vector<std::size_t>& held, const lm_settings& lm,
                 fit_result& r) {
  const std::size_t n = p.fitted.size();
  const fit_result inner = r;
  r.x.assign(n, 0.0);
  r.estimates.assign(n, estimate{});
  r.correlation = dlib::uniform_matrix<double>(static_cast<long>(n), static_cast<long>(n), NAN);
  std::vector<long> from(n, -1);
  for (std::size_t i = 0, k = 0; i < n; ++i) {
    if (!std::binary_search(held.begin(), held.end(), i)) from[i] = static_cast<long>(k++);
  }
  const vector_d at = to_solver(p, inner.best);
  for (std::size_t i = 0; i < n; ++i) {
    r.x[i] = at[i];
    if (from[i] < 0) {
      const double bound = value_list(inner.best, p.fitted[i].kind)[static_cast<std::size_t>(p.fitted[i].index)];
      const double limit = limit_from_bound(p, q, i, inner.ssr, inner.dof, lm);
      r.estimates[i] = held_estimate(bound, limit);
      const bool lower = r.x[i] <= lm.lower[i];
      r.warnings.push_back(value_name(p, i) + " is at its bound " + format_g(bound, 10) + ": " +
                           (lower ? "raising" : "lowering") + " it would raise the sum of squares; its one-sided " +
                           (lower ? "upper" : "lower") + " 95 % limit is " + format_g(limit, 6) +
                           ", and the other values' errors hold with it at " + format_g(bound, 10));
      continue;
    }
    r.estimates[i] = inner.estimates[static_cast<std::size_t>(from[i])];
    for (std::size_t k = 0; k < n; ++k) {
      if (from[k] >= 0) r.correlation(static_cast<long>(i), static_cast<long>(k)) = inner.correlation(from[i], from[k]);
    }
  }
}

// The end of a fit whose best minimum has values on bounds of the box: the
// statistics, profiles and tests of p with them held there (they count as
// not fitted), and each held value's one-sided limit from the profile.
fit_result at_bounds(const problem& p, const fit_settings& settings, const lm_outcome& best,
                     const std::vector<std::size_t>& held, fit_result& out) {
  const problem q = holding_at_bounds(p, held, best.x);
  const lm_settings lm = search_settings(q, settings);
  lm_outcome inner = best;
  inner.x.clear();
  for (std::size_t i = 0; i < best.x.size(); ++i) {
    if (!std::binary_search(held.begin(), held.end(), i)) inner.x.push_back(best.x[i]);
  }
  inner.j.set_size(best.j.nr(), static_cast<long>(inner.x.size()));
  for (std::size_t i = 0, k = 0; i < best.x.size(); ++i) {
    if (std::binary_search(held.begin(), held.end(), i)) continue;
    dlib::set_colm(inner.j, static_cast<long>(k++)) = dlib::colm(best.j, static_cast<long>(i));
  }
  out.x = inner.x;
  out.best = from_solver(q, inner.x);
  if (auto [status, error] = check_bounds(q, out, best.r, lm); !error.empty()) return failed(out, status, error);
  if (std::string error = statistics(q, inner, out); !error.empty()) {
    return failed(out, fit_status::not_determined, error);
  }
  if (settings.profiles) add_profiles(q, lm, out);
  expand_held(p, q, held, search_settings(p, settings), out);
  const vector_d best_values = natural_values(p, out.x);
  for (const start_outcome& s : out.starts) {
    out.same_minimum += s.failure.empty() && same_values(s.to, best_values, out.estimates);
  }
  warn_rivals(p, out);
  warn_systematic(p, best.r, out);
  if (std::chrono::steady_clock::now() >= lm.deadline) return out_of_time(p, out, -1, out.x);
  return out;
}

}  // namespace

lm_settings search_settings(const problem& p, const fit_settings& s) {
  lm_settings l;
  l.max_iterations = s.max_iterations;
  l.deadline = p.solver.deadline;
  set_rounding(p, l);
  set_box(p, l);
  return l;
}

fit_result fit(const problem& p, const fit_settings& settings) {
  problem within = p;
  within.solver.max_steps = settings.max_steps;
  if (settings.max_seconds < 1e9) {
    const auto budget = std::chrono::duration<double>(std::max(settings.max_seconds, 0.0));
    within.solver.deadline =
        std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(budget);
  }
  for (problem& part : within.parts) part.solver = within.solver;
  return fit_within(within, settings);
}

fit_result fit_without_bounds(const problem& p, const fit_settings& settings) {
  fit_result out;
  const lm_settings lm = search_settings(p, settings);
  const residual_function f = [&p](const vector_d& x, bool jacobian, vector_d& r, matrix_d& j) {
    return residuals(p, x, jacobian, r, j);
  };
  lm_outcome best;
  best.failure = "no start";
  const std::vector<vector_d> first = starting_points(p);
  if (!run_starts(p, first, lm, f, out, best)) return out;
  // The second round solves for the linear values of one data table.
  if (!best.failure.empty() && p.parts.empty() && !run_starts(p, second_round(p, first), lm, f, out, best)) {
    return out;
  }
  if (!best.failure.empty()) return failed(out, fit_status::no_minimum, out.starts.front().failure);
  const int evaluations = best.evaluations, jacobians = best.jacobians;
  polish(f, best, lm);
  out.evaluations += best.evaluations - evaluations;
  out.jacobians += best.jacobians - jacobians;
  out.x = best.x;
  out.best = from_solver(p, best.x);
  out.iterations = best.iterations;
  out.ssr = best.ssr;
  if (const std::vector<std::size_t> held = on_bounds(best.x, lm); !held.empty()) {
    return at_bounds(p, settings, best, held, out);
  }
  if (auto [status, error] = check_bounds(p, out, best.r, lm); !error.empty()) return failed(out, status, error);
  if (std::string error = statistics(p, best, out); !error.empty()) {
    return failed(out, fit_status::not_determined, error);
  }
  const vector_d best_values = natural_values(p, best.x);
  for (const start_outcome& s : out.starts) {
    out.same_minimum += s.failure.empty() && same_values(s.to, best_values, out.estimates);
  }
  warn_rivals(p, out);
  warn_systematic(p, best.r, out);
  if (settings.profiles) add_profiles(p, lm, out);
  if (std::chrono::steady_clock::now() >= lm.deadline) return out_of_time(p, out, -1, out.x);
  return out;
}

}  // namespace kinetics
