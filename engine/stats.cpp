#include "engine/stats.h"

#include <algorithm>
#include <cmath>

#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/fisher_f.hpp>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>

#include "common/format.h"

namespace kinetics {

namespace {

// The covariance of the solver's values, s^2 (JtJ)^-1. Standard errors of
// rate constants follow from it by d k / d ln k = k; correlations are the
// same in both terms.
bool covariance(const lm_outcome& best, double s2, matrix_d& cov) {
  const matrix_d jtj = dlib::trans(best.j) * best.j;
  // In values scaled to a unit diagonal, so that values of very different
  // sizes do not make the matrix look singular.
  const long n = jtj.nr();
  dlib::matrix<double, 0, 1> scale(n);
  for (long i = 0; i < n; ++i) scale(i) = jtj(i, i) > 0 ? 1 / std::sqrt(jtj(i, i)) : 1.0;
  const matrix_d unit = dlib::pointwise_multiply(scale * dlib::trans(scale), jtj);
  dlib::cholesky_decomposition<matrix_d> chol(unit);
  if (!chol.is_spd()) return false;
  cov = dlib::pointwise_multiply(scale * dlib::trans(scale), chol.solve(dlib::identity_matrix<double>(n))) * s2;
  return dlib::is_finite(cov);
}

void add_warnings(const problem& p, fit_result& out) {
  const std::size_t n = out.estimates.size();
  for (std::size_t i = 0; i < n; ++i) {
    const estimate& e = out.estimates[i];
    if (!(e.se <= std::abs(e.value))) {
      out.warnings.push_back(value_name(p, i) + " = " + format_g(e.value, 6) +
                             " is not determined by the data: its standard error " + format_g(e.se, 3) +
                             " exceeds its size");
    }
  }
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j) {
      const double c = out.correlation(static_cast<long>(i), static_cast<long>(j));
      if (std::abs(c) > 0.99) {
        out.warnings.push_back(value_name(p, i) + " and " + value_name(p, j) + " are correlated by " +
                               format_g(c, 4) + ": the data determine little more than a combination of them");
      }
    }
  }
}

// AIC, BIC and the quantile of the t intervals. With known uncertainties the
// sum of squares is a chi-square: AIC = chi2 + 2 p, BIC = chi2 + p ln n,
// intervals from the normal distribution, and the chance of a chi-square at
// least as large. Otherwise the variance is fitted too: AIC = n ln(S / n) +
// 2 (p + 1), BIC = n ln(S / n) + (p + 1) ln n, intervals from Student's t.
void criteria(const problem& p, fit_result& out) {
  const double fitted = static_cast<double>(p.fitted.size() + p.model.eliminated), n = out.points;
  out.weighted = !p.weight.empty();
  if (out.weighted) {
    out.aic = out.ssr + 2 * fitted;
    out.bic = out.ssr + fitted * std::log(n);
    out.t_quantile = boost::math::quantile(boost::math::normal(), 0.975);
    out.reduced_chi_square = out.ssr / out.dof;
    out.chi_square_p = boost::math::cdf(boost::math::complement(boost::math::chi_squared(out.dof), out.ssr));
    return;
  }
  const double log_likelihood_term = n * std::log(out.ssr / n);
  out.aic = log_likelihood_term + 2 * (fitted + 1);
  out.bic = log_likelihood_term + (fitted + 1) * std::log(n);
  out.t_quantile = t_quantile_95(out.dof);
}

}  // namespace

double t_quantile_95(int dof) {
  return boost::math::quantile(boost::math::students_t(static_cast<double>(dof)), 0.975);
}

double f_quantile_95(int dof) {
  return boost::math::quantile(boost::math::fisher_f(1.0, static_cast<double>(dof)), 0.95);
}

double profile_threshold(const problem& p, double ssr, int dof) {
  if (!p.weight.empty()) return ssr + boost::math::quantile(boost::math::chi_squared(1.0), 0.95);
  return ssr * (1 + f_quantile_95(dof) / dof);
}

double one_sided_threshold(const problem& p, double ssr, int dof) {
  if (!p.weight.empty()) return ssr + boost::math::quantile(boost::math::chi_squared(1.0), 0.90);
  return ssr * (1 + boost::math::quantile(boost::math::fisher_f(1.0, static_cast<double>(dof)), 0.90) / dof);
}

namespace {

// The largest weighted measured value of column line j (1 when all are 0);
// missing cells count for nothing.
double largest_value(const problem& p, std::size_t j) {
  double top = 0;
  for (std::size_t i = 0; i < p.data.y[j].size(); ++i) {
    const double weight = p.weight.empty() ? 1.0 : p.weight[j * p.data.t.size() + i];
    if (std::isfinite(p.data.y[j][i])) top = std::max(top, std::abs(p.data.y[j][i] * weight));
  }
  return top > 0 ? top : 1.0;
}

// The largest weighted measured value of every data table of p, its
// experiments' included.
double largest_measured(const problem& p) {
  double top = 0;
  for (const problem& part : p.parts) top = std::max(top, largest_measured(part));
  for (std::size_t j = 0; j < p.data.y.size(); ++j) {
    for (std::size_t i = 0; i < p.data.y[j].size(); ++i) {
      const double weight = p.weight.empty() ? 1.0 : p.weight[j * p.data.t.size() + i];
      if (std::isfinite(p.data.y[j][i])) top = std::max(top, std::abs(p.data.y[j][i] * weight));
    }
  }
  return top;
}

}  // namespace

void set_rounding(const problem& p, lm_settings& s) {
  const std::size_t rows = p.data.t.size(), n = residual_count(p);
  s.group_ends.clear();
  s.group_floors.clear();
  const bool by_column = p.parts.empty() && n == rows * p.data.y.size();
  double top = 0;
  for (std::size_t j = 0; by_column && j < p.data.y.size(); ++j) {
    const double per_residual = 1e-8 * largest_value(p, j);
    top = std::max(top, per_residual);
    s.group_ends.push_back((j + 1) * rows);
    s.group_floors.push_back(static_cast<double>(rows) * per_residual * per_residual);
  }
  if (!by_column || n == 0) {
    // Residuals of another kind (a reduced spectral series) say how many
    // points and how large a value they stand for; several experiments
    // count as one group of their largest value.
    top = 1e-8 * (p.model.largest > 0 ? p.model.largest : largest_measured(p));
    const std::size_t points = p.model.points > 0 ? p.model.points : n;
    s.group_ends.assign(1, n);
    s.group_floors.assign(1, static_cast<double>(points) * (top > 0 ? top * top : 1e-16));
  }
  s.absolute_ssr = 0;
  for (double f : s.group_floors) s.absolute_ssr += f;
}

std::string statistics(const problem& p, const lm_outcome& best, fit_result& out) {
  const std::size_t n = p.fitted.size();
  out.points = static_cast<int>(p.model.points > 0 ? p.model.points : best.r.size() - missing_points(p));
  out.dof = out.points - static_cast<int>(n + p.model.eliminated);
  out.ssr = best.ssr;
  out.rms = std::sqrt(best.ssr / out.points);
  criteria(p, out);
  matrix_d cov;
  if (n > 0 && !covariance(best, out.weighted ? 1.0 : best.ssr / out.dof, cov)) {
    return "the data do not determine the fitted values: their normal matrix is singular (fix some of them)";
  }
  out.estimates.assign(n, estimate{});
  out.correlation.set_size(static_cast<long>(n), static_cast<long>(n));
  for (std::size_t i = 0; i < n; ++i) {
    estimate& e = out.estimates[i];
    e.value = natural(p, i, best.x);
    e.se = natural_slope(p, i, best.x) * std::sqrt(cov(static_cast<long>(i), static_cast<long>(i)));
    e.t_low = e.value - out.t_quantile * e.se;
    e.t_high = e.value + out.t_quantile * e.se;
    for (std::size_t j = 0; j < n; ++j) {
      const long a = static_cast<long>(i), b = static_cast<long>(j);
      out.correlation(a, b) = cov(a, b) / std::sqrt(cov(a, a) * cov(b, b));
    }
  }
  add_warnings(p, out);
  return {};
}

}  // namespace kinetics
