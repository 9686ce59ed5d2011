// The statistics of a least-squares minimum: standard errors, intervals,
// correlations, information criteria and the warnings they call for.
#pragma once

#include <string>

#include "engine/fit.h"

namespace kinetics {

// Student's t quantile and the F quantile with 1 and dof degrees of freedom,
// both at 95 % (two-sided for t).
double t_quantile_95(int dof);
double f_quantile_95(int dof);

// Fills out's estimates (value, standard error, t interval), correlation,
// sums, criteria, degrees of freedom and the warnings for values the data do
// not determine, from the minimum at best. Returns why there are none (the
// fitted values are not determined at all), or an empty string.
std::string statistics(const problem& p, const lm_outcome& best, fit_result& out);

// The sum of squares up to which a value is inside its 95 % profile
// interval: with weights from known uncertainties, the minimum plus the 95 %
// quantile of a chi-square of 1 degree of freedom; otherwise the minimum
// scaled by 1 + F(0.95; 1, dof) / dof.
double profile_threshold(const problem& p, double ssr, int dof);

// The rounding floor of a problem's sum of squares: residuals of 1e-8 of the
// largest (weighted) measured value, a hundred times the integration's
// tolerance.
double noise_floor(const problem& p);

}  // namespace kinetics
