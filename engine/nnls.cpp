#include "engine/nnls.h"

#include <cmath>
#include <vector>

namespace kinetics {

namespace {

// The least-squares solution on the passive variables, 0 elsewhere.
column_d passive_solution(const matrix_d& e, const column_d& f, const std::vector<bool>& passive) {
  std::vector<long> cols;
  for (long j = 0; j < e.nc(); ++j) {
    if (passive[static_cast<std::size_t>(j)]) cols.push_back(j);
  }
  column_d s = dlib::zeros_matrix<double>(e.nc(), 1);
  if (cols.empty()) return s;
  matrix_d ep(e.nr(), static_cast<long>(cols.size()));
  for (std::size_t k = 0; k < cols.size(); ++k) dlib::set_colm(ep, static_cast<long>(k)) = dlib::colm(e, cols[k]);
  dlib::qr_decomposition<matrix_d> qr(ep);
  const column_d sp = qr.solve(f);
  for (std::size_t k = 0; k < cols.size(); ++k) s(cols[k]) = sp(static_cast<long>(k));
  return s;
}

// Moves x towards s until the first passive variable reaches 0, and makes
// every passive variable there active again. True when s is feasible (x = s).
bool step_towards(column_d& x, const column_d& s, std::vector<bool>& passive, double tol) {
  double alpha = 1;
  bool feasible = true;
  for (long j = 0; j < x.size(); ++j) {
    if (passive[static_cast<std::size_t>(j)] && s(j) <= 0) {
      feasible = false;
      alpha = std::min(alpha, x(j) / (x(j) - s(j)));
    }
  }
  if (feasible) {
    x = s;
    return true;
  }
  x += alpha * (s - x);
  for (long j = 0; j < x.size(); ++j) {
    if (passive[static_cast<std::size_t>(j)] && x(j) <= tol) {
      passive[static_cast<std::size_t>(j)] = false;
      x(j) = 0;
    }
  }
  return false;
}

}  // namespace

column_d nnls(const matrix_d& e, const column_d& f) {
  const long n = e.nc();
  column_d x = dlib::zeros_matrix<double>(n, 1);
  std::vector<bool> passive(static_cast<std::size_t>(n), false);
  const double tol = 1e-12 * (dlib::max(dlib::abs(e)) + 1e-300) * (dlib::max(dlib::abs(f)) + 1e-300) *
                     static_cast<double>(e.nr());
  for (int outer = 0; outer < 3 * n + 3; ++outer) {
    const column_d w = dlib::trans(e) * (f - e * x);
    long best = -1;
    for (long j = 0; j < n; ++j) {
      if (!passive[static_cast<std::size_t>(j)] && w(j) > tol && (best < 0 || w(j) > w(best))) best = j;
    }
    if (best < 0) break;
    passive[static_cast<std::size_t>(best)] = true;
    for (int inner = 0; inner < 3 * n + 3; ++inner) {
      if (step_towards(x, passive_solution(e, f, passive), passive, 1e-15 * (dlib::max(dlib::abs(x)) + 1e-300))) {
        break;
      }
    }
  }
  return x;
}

}  // namespace kinetics
