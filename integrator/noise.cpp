#include "integrator/noise.h"

#include <algorithm>
#include <cmath>

void fit_add(line_fit& f, double x, double y) {
  ++f.n;
  const double n = static_cast<double>(f.n);
  const double dx = x - f.mx;
  const double dy = y - f.my;
  f.mx += dx / n;
  f.my += dy / n;
  f.cxx += dx * (x - f.mx);
  f.cxy += dx * (y - f.my);
  f.cyy += dy * (y - f.my);
}

std::string fit_noise(const line_fit& f, double& sd) {
  if (f.n < 3) {
    return "holds " + std::to_string(f.n) + " samples in the noise region; at least 3 are needed";
  }
  if (!(f.cxx > 0.0)) return "has all its samples in the noise region at one x; no straight line fits them";
  const double residual = std::max(0.0, f.cyy - f.cxy * f.cxy / f.cxx);
  sd = std::sqrt(residual / static_cast<double>(f.n - 2));
  return {};
}
