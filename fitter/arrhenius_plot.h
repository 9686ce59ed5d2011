// The Arrhenius picture of a fit of three or more temperatures: ln k of
// every temperature-dependent rate constant against 1 / T, with its error
// bars and the fitted form's line.
#pragma once

#include <string>

#include "engine/fit.h"

namespace kinetics {

// Draws it into png when the experiments have three or more temperatures
// and some rate constant depends on them (drawn then says so). Returns an
// empty string, or why there is no picture.
std::string draw_arrhenius(const problem& p, const fit_result& r, const std::string& png, bool& drawn);

}  // namespace kinetics
