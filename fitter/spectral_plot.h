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

// The picture NAME.png of the recovered spectra above the concentrations,
// to be drawn with others; p's spectra are those of o from row first on (an
// experiment of several).
picture_job series_overview_job(const problem& p, const spectral_data& s, const spectral_outcome& o,
                                const std::string& title, const std::string& name, std::size_t first = 0);

// The picture NAME.residuals.png of the residual map. It needs o's linear
// part alone, not its spectra, so it can be drawn while they are read.
picture_job series_residual_job(const problem& p, const spectral_data& s, const spectral_outcome& o,
                                const std::string& title, const std::string& name, std::size_t first = 0);

}  // namespace kinetics
