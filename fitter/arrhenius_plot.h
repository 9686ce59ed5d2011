// The Arrhenius picture of a fit of three or more temperatures: ln k of
// every temperature-dependent rate constant against 1 / T, with its error
// bars and the fitted form's line.
#pragma once

#include <string>

#include "engine/fit.h"
#include "fitter/pictures.h"

namespace kinetics {

// Draws it into out when the experiments have three or more temperatures
// and some rate constant depends on them, and then says true (out.error
// says why a picture could not be drawn).
bool draw_arrhenius(const problem& p, const fit_result& r, picture& out);

// The same as a picture to draw (fitter/pictures.h): true with job's script
// set when there is such a picture.
bool arrhenius_job(const problem& p, const fit_result& r, picture_job& job);

}  // namespace kinetics
