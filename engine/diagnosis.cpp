#include "engine/diagnosis.h"

#include <algorithm>
#include <cmath>

namespace kinetics {

namespace {

vector_d solver_values(const problem& p, const vector_d& natural_values) {
  vector_d x;
  for (std::size_t i = 0; i < natural_values.size(); ++i) {
    x.push_back(to_solver_value(p.fitted[i].kind, natural_values[i]));
  }
  return x;
}

// The values in the flat directions of the normal matrix at x.
std::vector<std::size_t> flat_directions(const problem& p, const vector_d& x) {
  vector_d r;
  matrix_d j;
  if (x.empty() || !residuals(p, x, true, r, j).empty()) return {};
  const long n = j.nc();
  matrix_d jtj = dlib::trans(j) * j;
  std::vector<std::size_t> out;
  dlib::matrix<double, 0, 1> scale(n);
  for (long i = 0; i < n; ++i) scale(i) = jtj(i, i) > 0 ? 1 / std::sqrt(jtj(i, i)) : 0.0;
  jtj = dlib::pointwise_multiply(scale * dlib::trans(scale), jtj);
  for (long i = 0; i < n; ++i) {
    if (scale(i) == 0) jtj(i, i) = 0;  // a value the residuals ignore
  }
  const dlib::eigenvalue_decomposition<matrix_d> eigen(dlib::make_symmetric(jtj));
  const double top = dlib::max(eigen.get_real_eigenvalues());
  for (long e = 0; e < n; ++e) {
    if (eigen.get_real_eigenvalues()(e) > 1e-10 * top) continue;
    for (long i = 0; i < n; ++i) {
      const std::size_t at = static_cast<std::size_t>(i);
      if (std::abs(eigen.get_pseudo_v()(i, e)) > 0.3 && std::find(out.begin(), out.end(), at) == out.end()) {
        out.push_back(at);
      }
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

blame diagnose(const problem& p, const fit_result& failed) {
  blame b;
  const start_outcome* end = lowest_start(p, failed);
  if (failed.status == fit_status::not_determined && failed.x.size() == p.fitted.size()) {
    b.undetermined = flat_directions(p, failed.x);
    return b;
  }
  if (!end) return b;
  for (std::size_t i = 0; i < p.fitted.size(); ++i) {
    if (p.fitted[i].kind != role::rate || !(end->from[i] > 0)) continue;
    const double decades = std::log10(end->to[i] / end->from[i]);
    if (decades < -6) b.to_zero.push_back(i);
    if (decades > 6) b.to_infinity.push_back(i);
  }
  b.undetermined = flat_directions(p, solver_values(p, end->to));
  return b;
}

}  // namespace kinetics
