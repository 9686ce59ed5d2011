// The noise of a spectrum for bandsum --noise LO HI: the standard deviation
// of the intensities of the samples with LO < x < HI about their
// least-squares straight line, with n - 2 degrees of freedom. The sums are
// updated sample by sample (means and co-moments), so nothing is kept.
#pragma once

#include <cstddef>
#include <string>

struct line_fit {
  std::size_t n = 0;
  double mx = 0.0, my = 0.0;               // means
  double cxx = 0.0, cxy = 0.0, cyy = 0.0;  // sums of products of deviations
};

// Adds a sample.
void fit_add(line_fit& f, double x, double y);

// The residual standard deviation in sd; returns "" or what prevents it:
// fewer than 3 samples, or all samples at one x.
std::string fit_noise(const line_fit& f, double& sd);
