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

// The sum of squares up to which a value held at a bound stays inside its
// one-sided 95 % upper limit: as profile_threshold, at the 90 % quantiles
// (a chi-square of 1 degree of freedom, or F(0.90; 1, dof)).
double one_sided_threshold(const problem& p, double ssr, int dof);

// The rounding of a problem's residuals, column line by column line (or,
// for residuals of another kind, all together): where each group of
// residuals ends, and the sum of squares of residuals of 1e-8 of the
// group's largest (weighted) measured value, a hundred times the
// integration's tolerance. Sets s.group_ends and s.group_floors.
void set_rounding(const problem& p, lm_settings& s);

}  // namespace kinetics
