#include "engine/bounds.h"

#include <algorithm>
#include <cmath>

#include "common/format.h"
#include "engine/profile.h"
#include "engine/stats.h"

namespace kinetics {

namespace {

// Where in p.fitted the value f is fitted, or p.fitted.size().
std::size_t position_in(const problem& p, const free_value& f) {
  for (std::size_t i = 0; i < p.fitted.size(); ++i) {
    if (p.fitted[i].kind == f.kind && p.fitted[i].index == f.index) return i;
  }
  return p.fitted.size();
}

// Where in p.fitted rate constant rate is fitted, or p.fitted.size().
std::size_t position_of(const problem& p, int rate) {
  for (std::size_t i = 0; i < p.fitted.size(); ++i) {
    if (p.fitted[i].kind == role::rate && p.fitted[i].index == rate) return i;
  }
  return p.fitted.size();
}

// The start that ended lowest, in the solver's values; empty when none has a sum.
vector_d lowest_end(const problem& p, const fit_result& r) {
  const start_outcome* best = lowest_start(p, r);
  vector_d x;
  for (std::size_t i = 0; best && i < best->to.size(); ++i) x.push_back(to_solver_value(p.fitted[i].kind, best->to[i]));
  return x;
}

// The sum of squares with rate constant rate of q at u, the other values
// fitted again from warm (which then holds them).
double profile_ssr(const problem& q, int rate, double u, vector_d& warm, const lm_settings& s) {
  problem at = q;
  at.base.k[static_cast<std::size_t>(rate)] = u;
  if (warm.empty()) return ssr_at(at, warm);
  const residual_function f = [&at](const vector_d& x, bool jacobian, vector_d& r, matrix_d& j) {
    return residuals(at, x, jacobian, r, j);
  };
  const lm_outcome o = levenberg_marquardt(f, warm, s);
  if (!o.failure.empty()) return NAN;
  warm = o.x;
  return o.ssr;
}

// The bounds of fitted value i of p in the solver's terms.
std::pair<double, double> solver_bounds(const problem& p, std::size_t i) {
  const named_value& v = describe(p, i);
  const role kind = p.fitted[i].kind;
  const double lower = is_rate(kind) && !(v.lower > 0) ? -INFINITY : to_solver_value(kind, v.lower);
  return {lower, v.upper < INFINITY ? to_solver_value(kind, v.upper) : INFINITY};
}

}  // namespace

void set_box(const problem& p, lm_settings& s) {
  s.lower.clear();
  s.upper.clear();
  bool any = false;
  for (std::size_t i = 0; i < p.fitted.size(); ++i) {
    const auto [lower, upper] = solver_bounds(p, i);
    s.lower.push_back(lower);
    s.upper.push_back(upper);
    any = any || lower > -INFINITY || upper < INFINITY;
  }
  if (!any) s.lower.clear(), s.upper.clear();
}

std::vector<std::size_t> on_bounds(const vector_d& x, const lm_settings& s) {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; !s.lower.empty() && i < x.size(); ++i) {
    if (x[i] <= s.lower[i] || x[i] >= s.upper[i]) out.push_back(i);
  }
  return out;
}

problem holding_at_bounds(const problem& p, const std::vector<std::size_t>& held, const vector_d& x) {
  problem q = p;
  q.base = from_solver(p, x);
  lm_settings box;
  set_box(p, box);
  for (auto at = held.rbegin(); at != held.rend(); ++at) {
    const free_value f = p.fitted[*at];
    const named_value& v = describe(p, *at);
    value_list(q.base, f.kind)[static_cast<std::size_t>(f.index)] = x[*at] <= box.lower[*at] ? v.lower : v.upper;
    q.fitted.erase(q.fitted.begin() + static_cast<long>(*at));
  }
  return q;
}

double limit_from_bound(const problem& p, const problem& q, std::size_t h, double ssr, int dof, const lm_settings& s) {
  // q with value h fitted again, and x in its terms.
  problem one = q;
  const free_value f = p.fitted[h];
  std::size_t at = 0;
  while (at < one.fitted.size() && position_in(p, one.fitted[at]) < h) ++at;
  one.fitted.insert(one.fitted.begin() + static_cast<long>(at), f);
  vector_d y = to_solver(one, one.base);
  lm_settings box = s;
  set_box(one, box);
  const bool at_lower = !box.lower.empty() && y[at] <= box.lower[at];
  // The first move: the standard error of the value with all others held.
  vector_d r;
  matrix_d j;
  if (!residuals(one, y, true, r, j).empty()) return NAN;
  const double length = std::sqrt(dlib::sum(dlib::squared(dlib::colm(j, static_cast<long>(at)))));
  const double s2 = q.weight.empty() ? ssr / std::max(dof, 1) : 1.0;
  const double step = length > 0 ? std::sqrt(s2) / length : 1e-3 * (std::abs(y[at]) + 1);
  const double reach = is_rate(f.kind) ? 23 : 1e10 * (std::abs(y[at]) + step);
  const double u = profile_side(one, y, ssr, at, step, one_sided_threshold(q, ssr, dof), box, at_lower ? 1 : -1, reach);
  return to_natural_value(f.kind, u);
}

problem holding_at_zero(const problem& p, const std::vector<int>& rates) {
  problem q = p;
  for (int rate : rates) {
    q.base.k[static_cast<std::size_t>(rate)] = 0;
    const std::size_t at = position_of(q, rate);
    if (at < q.fitted.size()) q.fitted.erase(q.fitted.begin() + static_cast<long>(at));
  }
  return q;
}

std::vector<int> vanishing_rates(const problem& p, const fit_result& failed, const lm_settings& s) {
  const vector_d x = lowest_end(p, failed);
  std::vector<int> out;
  if (x.empty()) return out;
  const double ssr = ssr_at(p, x);
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (p.fitted[i].kind != role::rate || describe(p, i).lower > 0) continue;  // a bound above 0 holds it
    vector_d zero = x;
    zero[i] = -INFINITY;
    if (ssr_at(p, zero) - ssr <= 1e-6 * ssr + s.absolute_ssr) out.push_back(p.fitted[i].index);
  }
  return out;
}

bool leaves_trace(const problem& q, int rate, const vector_d& x, const lm_settings& s) {
  vector_d r;
  matrix_d unused;
  if (!residuals(q, x, false, r, unused).empty()) return true;
  problem fast = q;
  fast.base.k[static_cast<std::size_t>(rate)] = 1e3 * q.m.rates[static_cast<std::size_t>(rate)].value;
  return !same_residuals(fast, s, r, x);
}

std::vector<int> rates_to_release(const problem& q, const vector_d& x, const std::vector<int>& held) {
  // The derivatives by the held constants themselves, in their natural
  // terms: q with them fitted again, at 0.
  problem p = q;
  for (int rate : held) p.fitted.insert(p.fitted.begin(), {role::rate, rate});
  const values v = from_solver(q, x);
  trajectory c;
  vector_d r;
  matrix_d j;
  if (!solve(p.m.net, v.k, v.c0, p.m.start, p.data.t, sensitivity_parameters(p), c).empty() ||
      !p.model.evaluate(p, v, c, true, r, j).empty()) {
    return {};
  }
  std::vector<int> out;
  const double size = std::sqrt(sum_of_squares(r));
  for (std::size_t h = 0; h < held.size(); ++h) {
    // held was inserted in reverse at the front: held[h] is column size - 1 - h.
    const long col = static_cast<long>(held.size() - 1 - h);
    double g = 0, length = 0;
    for (std::size_t i = 0; i < r.size(); ++i) {
      g += r[i] * j(static_cast<long>(i), col);
      length += j(static_cast<long>(i), col) * j(static_cast<long>(i), col);
    }
    if (g < -1e-7 * size * std::sqrt(length)) out.push_back(held[h]);
  }
  return out;
}

double upper_limit(const problem& q, int rate, const vector_d& x, double ssr, int dof, const lm_settings& s) {
  const double threshold = one_sided_threshold(q, ssr, dof);
  const double scale = q.m.rates[static_cast<std::size_t>(rate)].value;
  vector_d warm = x, warm_lo = x;
  const auto above = [&](double u, bool& failed) {
    warm = warm_lo;
    const double f = profile_ssr(q, rate, u, warm, s);
    failed = failed || !std::isfinite(f);
    if (f > threshold) return true;
    warm_lo = warm;
    return false;
  };
  bool failed = false;
  double lo = 0, hi = 0;
  // Up by decades from a millionth of its start, down when that is already above.
  for (double u = 1e-6 * scale; hi == 0 && u <= 1e12 * scale && !failed; u *= 10) (above(u, failed) ? hi : lo) = u;
  if (failed) return NAN;
  if (hi == 0) return q.m.rates[static_cast<std::size_t>(rate)].upper;  // infinite without a bound
  for (double u = hi / 10; lo == 0 && u > 1e-12 * scale && !failed; u /= 10) (above(u, failed) ? hi : lo) = u;
  if (lo == 0) return failed ? NAN : hi;
  for (int i = 0; i < 40 && hi / lo > 1 + 1e-6 && !failed; ++i) {
    const double mid = std::sqrt(lo * hi);
    (above(mid, failed) ? hi : lo) = mid;
  }
  return failed ? NAN : std::min(std::sqrt(lo * hi), q.m.rates[static_cast<std::size_t>(rate)].upper);
}

}  // namespace kinetics

namespace kinetics {

namespace {

std::string join_names(const problem& p, const std::vector<int>& rates) {
  std::string text;
  for (std::size_t i = 0; i < rates.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == rates.size() ? " and " : ", ") + p.m.rates[static_cast<std::size_t>(rates[i])].name;
  }
  return text;
}

// The estimate of a rate constant held at 0: no standard error, no t
// interval, and the profile's one-sided upper limit.
estimate at_zero(double limit) {
  estimate e;
  e.value = 0;
  e.se = e.t_low = e.t_high = NAN;
  e.profile_low = 0;
  e.profile_high = limit;
  e.at_zero = true;
  return e;
}

// The result of q (p with held at 0) in the terms of p.
fit_result with_zeros(const problem& p, const problem& q, const std::vector<int>& held, fit_result r,
                      const lm_settings& s) {
  const std::size_t n = p.fitted.size();
  std::vector<long> from(n, -1);  // the position in q of every value of p, -1 when held
  for (std::size_t i = 0, j = 0; i < n; ++i) {
    const bool is_held = p.fitted[i].kind == role::rate &&
                         std::find(held.begin(), held.end(), p.fitted[i].index) != held.end();
    if (!is_held) from[i] = static_cast<long>(j++);
  }
  fit_result out = r;
  out.x.assign(n, -INFINITY);
  out.estimates.assign(n, estimate{});
  out.correlation = dlib::uniform_matrix<double>(static_cast<long>(n), static_cast<long>(n), NAN);
  for (std::size_t i = 0; i < n; ++i) {
    if (from[i] < 0) {
      const int rate = p.fitted[i].index;
      out.estimates[i] = at_zero(upper_limit(q, rate, r.x, r.ssr, r.dof, s));
      out.warnings.push_back(p.m.rates[static_cast<std::size_t>(rate)].name +
                             " is at its bound 0: raising it would raise the sum of squares; its one-sided upper "
                             "95 % limit is " + format_g(out.estimates[i].profile_high, 6) +
                             ", and the other values' errors hold with it at 0");
      continue;
    }
    out.x[i] = r.x[static_cast<std::size_t>(from[i])];
    out.estimates[i] = r.estimates[static_cast<std::size_t>(from[i])];
    for (std::size_t k = 0; k < n; ++k) {
      if (from[k] >= 0) out.correlation(static_cast<long>(i), static_cast<long>(k)) = r.correlation(from[i], from[k]);
    }
  }
  return out;
}

}  // namespace

namespace {

// p with held at 0, its search starting from warm (natural values of every
// value of p) rather than from the file's values.
problem warm_holding(const problem& p, const std::vector<int>& held, const values& warm) {
  problem q = p;
  q.base = warm;
  return holding_at_zero(q, held);
}

// Rate constant rate of warm, held at 0 in q, raised from 0: by decades from
// a millionth of its starting value for as long as that lowers the sum.
void release(const problem& q, int rate, values& warm) {
  problem at = q;
  at.base = warm;
  const vector_d x = to_solver(at, warm);
  const double scale = q.m.rates[static_cast<std::size_t>(rate)].value;
  const auto ssr = [&](double u) {
    at.base.k[static_cast<std::size_t>(rate)] = u;
    return ssr_at(at, x);
  };
  double u = 1e-6 * scale;
  while (u < 1e3 * scale && ssr(10 * u) < ssr(u)) u *= 10;
  warm.k[static_cast<std::size_t>(rate)] = std::min(u, q.m.rates[static_cast<std::size_t>(rate)].upper);
}

}  // namespace

fit_result fit_at_zero(const problem& p, const fit_settings& settings, const fit_result& free) {
  const lm_settings lm = search_settings(p, settings);
  std::vector<int> held = vanishing_rates(p, free, lm);
  const vector_d lowest = lowest_end(p, free);
  values warm = lowest.empty() ? p.base : from_solver(p, lowest);
  if (held.empty()) return free;
  for (std::size_t round = 0; round <= 2 * p.m.rates.size(); ++round) {
    const problem q = warm_holding(p, held, warm);
    const fit_result r = fit_without_bounds(q, settings);
    if (r.status == fit_status::out_of_time) return r;
    const vector_d end = r.status == fit_status::converged ? r.x : lowest_end(q, r);
    // A step the data do not show at all has no value, at 0 or elsewhere.
    const auto traceless = [&](int k) { return !end.empty() && !leaves_trace(q, k, end, lm); };
    if (std::any_of(held.begin(), held.end(), traceless)) return free;
    if (!end.empty()) warm = from_solver(q, end);
    if (r.status == fit_status::no_minimum || r.status == fit_status::rate_falls_to_0) {
      const std::vector<int> more = vanishing_rates(q, r, lm);
      if (more.empty()) break;
      held.insert(held.end(), more.begin(), more.end());
      continue;
    }
    if (r.status != fit_status::converged) break;
    const std::vector<int> released = rates_to_release(q, r.x, held);
    if (released.empty()) return held.empty() ? r : with_zeros(p, q, held, r, lm);
    for (int k : released) release(q, k, warm);
    std::erase_if(held, [&](int k) { return std::find(released.begin(), released.end(), k) != released.end(); });
  }
  fit_result out = free;
  if (!held.empty()) out.failure += "; with " + join_names(p, held) + " held at 0 the fit still has no minimum";
  return out;
}

}  // namespace kinetics
