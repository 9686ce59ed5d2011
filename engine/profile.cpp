#include "engine/profile.h"

#include <cmath>

namespace kinetics {

namespace {

// The problem with fitted value j held at u: the sum of squares after the
// others are fitted again, starting from (and updating) warm.
struct profiler {
  const problem& p;
  std::size_t j;
  lm_settings settings;
  vector_d warm;

  double ssr_at(double u) {
    const residual_function reduced = [&](const vector_d& y, bool jacobian, vector_d& r, matrix_d& jac) {
      vector_d x = y;
      x.insert(x.begin() + static_cast<long>(j), u);
      matrix_d full;
      const std::string error = residuals(p, x, jacobian, r, full);
      if (error.empty() && jacobian) jac = dlib::remove_col(full, static_cast<long>(j));
      return error;
    };
    vector_d start = warm;
    start.erase(start.begin() + static_cast<long>(j));
    if (!settings.lower.empty() && settings.lower.size() == warm.size()) {  // the others' box
      settings.lower.erase(settings.lower.begin() + static_cast<long>(j));
      settings.upper.erase(settings.upper.begin() + static_cast<long>(j));
    }
    if (start.empty()) {
      vector_d r;
      matrix_d unused;
      return reduced(start, false, r, unused).empty() ? sum_of_squares(r) : NAN;
    }
    const lm_outcome o = levenberg_marquardt(reduced, start, settings);
    if (!o.failure.empty()) return NAN;
    warm = o.x;
    warm.insert(warm.begin() + static_cast<long>(j), u);
    return o.ssr;
  }
};

// Where on one side (direction +1 or -1) the profile crosses the threshold:
// doubling moves until it does, then regula falsi (Illinois) on the root of
// the profile's excess, which is nearly linear in the move. A move past
// reach is infinite; one that would pass the bound at limit stops there,
// and the profile that stays below the threshold up to it ends there.
double crossing(profiler pr, double u0, double step, double ssr, double threshold, double direction,
                double limit = INFINITY, double reach = 23) {
  const double target = std::sqrt(threshold - ssr);
  const auto excess = [&](double f) { return std::sqrt(std::max(f - ssr, 0.0)) - target; };
  const double room = std::abs(limit - u0);
  double lo = u0, g_lo = -target, hi = 0, g_hi = 0;
  for (double d = step;; d *= 2) {
    if (d > reach) return direction * INFINITY;  // e^23: about 1e10 times the value
    if (d >= room) d = room;
    const double f = pr.ssr_at(u0 + direction * d);
    if (d == room && std::isfinite(f) && f <= threshold) return limit;
    if (!std::isfinite(f)) return NAN;
    if (f > threshold) {
      hi = u0 + direction * d;
      g_hi = excess(f);
      break;
    }
    lo = u0 + direction * d;
    g_lo = excess(f);
  }
  for (int side = 0, i = 0; i < 60 && std::abs(hi - lo) > 1e-4 * step; ++i) {
    const double u = hi - g_hi * (hi - lo) / (g_hi - g_lo);
    const double g = excess(pr.ssr_at(u));
    if (!std::isfinite(g)) return NAN;
    if ((g > 0) == (g_hi > 0)) {
      hi = u, g_hi = g;
      if (side == +1) g_lo /= 2;
      side = +1;
    } else {
      lo = u, g_lo = g;
      if (side == -1) g_hi /= 2;
      side = -1;
    }
  }
  return (lo + hi) / 2;
}

}  // namespace

std::pair<double, double> profile_interval(const problem& p, const vector_d& x, double ssr, std::size_t j,
                                           double step, double threshold, const lm_settings& settings) {
  return {profile_side(p, x, ssr, j, step, threshold, settings, -1),
          profile_side(p, x, ssr, j, step, threshold, settings, +1)};
}

double profile_side(const problem& p, const vector_d& x, double ssr, std::size_t j, double step, double threshold,
                    const lm_settings& settings, double direction, double reach) {
  if (!(threshold > ssr) || !(step > 0) || !std::isfinite(step)) return x[j];
  const profiler pr{p, j, settings, x};
  const double limit = settings.lower.empty() ? direction * INFINITY
                       : direction > 0        ? settings.upper[j]
                                              : settings.lower[j];
  return crossing(pr, x[j], step, ssr, threshold, direction, limit, reach);
}

}  // namespace kinetics
