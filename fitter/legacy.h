// ratefit without arguments: the first-order reaction A -> B fitted to
// "dat.txt" from the starting values of "guess.txt", into "fit.txt" and
// "fitcurve.txt" in the layouts they have always had.
#pragma once

#include <string>

#include "engine/fit.h"

namespace kinetics {

// Runs that fit in the working directory, with every residual weighed by
// 1 / sigma from the file sigma when it is not empty (the layout of dat.txt,
// as bandsum writes sigma.txt); returns the exit status.
int fit_guess(const std::string& sigma, const fit_settings& settings);

}  // namespace kinetics
