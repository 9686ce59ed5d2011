#include "engine/runs.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include <boost/math/distributions/normal.hpp>

namespace kinetics {

runs_result runs_test(const vector_d& residuals) {
  runs_result out;
  double plus = 0, minus = 0;
  int last = 0;
  for (double v : residuals) {
    const int sign = v > 0 ? 1 : v < 0 ? -1 : 0;
    if (sign == 0) continue;
    (sign > 0 ? plus : minus) += 1;
    if (sign != last) ++out.runs;
    last = sign;
  }
  const double n = plus + minus;
  if (plus < 2 || minus < 2) return out;
  out.expected = 2 * plus * minus / n + 1;
  const double variance = 2 * plus * minus * (2 * plus * minus - n) / (n * n * (n - 1));
  const double z = (out.runs + 0.5 - out.expected) / std::sqrt(variance);
  out.p = std::min(1.0, boost::math::cdf(boost::math::normal(), z));
  return out;
}

std::vector<runs_result> column_runs(const problem& p, const vector_d& r) {
  const std::size_t rows = p.data.t.size();
  std::vector<std::size_t> order(rows);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return p.data.t[a] < p.data.t[b]; });
  std::vector<runs_result> out;
  for (std::size_t j = 0; j < p.m.columns.size() && (j + 1) * rows <= r.size(); ++j) {
    vector_d column;
    for (std::size_t i : order) column.push_back(r[j * rows + i]);
    out.push_back(runs_test(column));
  }
  return out;
}

}  // namespace kinetics
