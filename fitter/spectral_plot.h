// The pictures of a fit to a spectral series, drawn by gnuplot: the
// recovered spectra above the concentrations (NAME.png), and the map of the
// residuals over time and channel (NAME.residuals.png).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "fitter/spectral_fit.h"

namespace kinetics {

// Draws both pictures for the result name; returns every picture's file
// name with an empty string or why it could not be drawn.
std::vector<std::pair<std::string, std::string>> draw_series_plots(const problem& p, const spectral_data& s,
                                                                   const spectral_outcome& o,
                                                                   const std::string& title, const std::string& name);

}  // namespace kinetics
