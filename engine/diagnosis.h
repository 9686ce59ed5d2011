// Why a fit has no minimum, value by value: which fitted values ran off to
// 0 or to infinity, and which the data do not determine, so that the program
// can name them and say what to try.
#pragma once

#include "engine/fit.h"

namespace kinetics {

// The values a failed fit blames, at the end of its start with the lowest
// sum of squares (or at its result, for a singular normal matrix): rate
// constants more than six powers of ten below or above where that start put
// them, and the values with a share above 0.3 in a direction of the values
// along which the residuals do not change (an eigenvalue of the normal
// matrix, scaled to a unit diagonal, below 1e-10 of the largest).
blame diagnose(const problem& p, const fit_result& failed);

}  // namespace kinetics
