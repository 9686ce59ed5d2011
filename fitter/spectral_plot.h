// The pictures of a fit to a spectral series, drawn by gnuplot: the
// recovered spectra above the concentrations (NAME.png), and the map of the
// residuals over time and channel (NAME.residuals.png).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "fitter/pictures.h"
#include "fitter/plot.h"
#include "fitter/spectral_fit.h"

namespace kinetics {

// The scripts of both pictures for the result name, to be drawn together
// with others; p's spectra are those of o from row first on.
std::vector<picture_job> series_picture_jobs(const problem& p, const spectral_data& s, const spectral_outcome& o,
                                             const std::string& title, const std::string& name, std::size_t first = 0);

// Draws both pictures for the result name, NAME.png and NAME.residuals.png.
// p's spectra are those of o from row first on (an experiment of several).
std::vector<picture> draw_series_plots(const problem& p, const spectral_data& s, const spectral_outcome& o,
                                       const std::string& title, const std::string& name, std::size_t first = 0);

}  // namespace kinetics
