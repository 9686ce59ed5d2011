#include "engine/starts.h"

#include <cmath>

#include "engine/fit.h"
#include "model/linear.h"

namespace kinetics {

namespace {

// The least-squares step of the values at positions from x: the columns of
// the Jacobian scaled to unit length, the normal equations by Cholesky with a
// trace of damping. False when there is none.
bool linear_step(const problem& p, const vector_d& x, const std::vector<std::size_t>& positions, vector_d& out) {
  vector_d r, paired;
  matrix_d j;
  if (!residuals(p, x, true, paired, j).empty()) return false;
  if (!residuals(p, x, false, r, j).empty()) return false;
  if (is_compressed(j, r)) r = std::move(paired);
  const long n = static_cast<long>(positions.size()), m = static_cast<long>(r.size());
  matrix_d a(m, n);
  dlib::matrix<double, 0, 1> scale(n), rhs(m);
  for (long i = 0; i < m; ++i) rhs(i) = -r[static_cast<std::size_t>(i)];
  for (long c = 0; c < n; ++c) {
    dlib::set_colm(a, c) = dlib::colm(j, static_cast<long>(positions[static_cast<std::size_t>(c)]));
    const double length = std::sqrt(dlib::sum(dlib::squared(dlib::colm(a, c))));
    scale(c) = length > 0 ? 1 / length : 0.0;
    dlib::set_colm(a, c) = dlib::colm(a, c) * scale(c);
  }
  matrix_d normal = dlib::trans(a) * a + 1e-12 * dlib::identity_matrix<double>(n);
  dlib::cholesky_decomposition<matrix_d> chol(normal);
  if (!chol.is_spd()) return false;
  const dlib::matrix<double, 0, 1> step = dlib::pointwise_multiply(scale, chol.solve(dlib::trans(a) * rhs));
  if (!dlib::is_finite(step)) return false;
  out = x;
  for (long c = 0; c < n; ++c) out[positions[static_cast<std::size_t>(c)]] += step(c);
  return true;
}

}  // namespace

std::vector<std::size_t> linear_positions(const problem& p) {
  const bool initials = first_order(p.m.net);
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < p.fitted.size(); ++i) {
    const role kind = p.fitted[i].kind;
    if (kind == role::factor || (kind == role::initial && initials)) out.push_back(i);
  }
  return out;
}

vector_d solve_linear(const problem& p, const vector_d& x) {
  // The initial concentrations alone, the factors alone (the residuals are
  // linear in either kind alone), then both together (Gauss-Newton on their
  // products), by turns.
  const std::vector<std::size_t> all = linear_positions(p);
  std::vector<std::size_t> kinds[3];
  for (std::size_t i : all) kinds[p.fitted[i].kind == role::factor].push_back(i);
  if (!kinds[0].empty() && !kinds[1].empty()) kinds[2] = all;
  vector_d best = x, trial;
  double best_ssr = ssr_at(p, x);
  for (int round = 0; round < 30; ++round) {
    const double before = best_ssr;
    for (const std::vector<std::size_t>& positions : kinds) {
      if (positions.empty() || !linear_step(p, best, positions, trial)) continue;
      // Halved while it raises the sum: the joint step is only linearised.
      for (int half = 0; half < 8; ++half) {
        const double ssr = ssr_at(p, trial);
        if (ssr < best_ssr) {
          best = trial;
          best_ssr = ssr;
          break;
        }
        for (std::size_t i : positions) trial[i] = (trial[i] + best[i]) / 2;
      }
    }
    if (!(best_ssr < before * (1 - 1e-12))) break;
  }
  return best;
}

std::vector<vector_d> second_round(const problem& p, const std::vector<vector_d>& first) {
  std::vector<std::size_t> nonlinear;
  if (!first_order(p.m.net)) {
    for (std::size_t i = 0; i < p.fitted.size(); ++i) {
      if (p.fitted[i].kind == role::initial) nonlinear.push_back(i);
    }
  }
  std::vector<vector_d> out;
  for (const vector_d& x : first) out.push_back(solve_linear(p, x));
  for (const double scale : {0.1, 10.0}) {
    for (std::size_t s = 0; s < first.size() && !nonlinear.empty(); ++s) {
      vector_d x = first[s];
      for (std::size_t i : nonlinear) x[i] *= scale;
      out.push_back(solve_linear(p, x));
    }
  }
  return out;
}

}  // namespace kinetics
