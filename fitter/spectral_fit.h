// ratefit's side of a fit to a whole spectral series: reading the series
// into the engine's reduced form, the second pass that recovers the
// species' spectra, the rank report and the result files.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/fit.h"
#include "engine/spectral.h"
#include "fitter/series_file.h"

namespace kinetics {

// A series as read for a mechanism.
struct spectral_data {
  std::shared_ptr<const reduced_series> series;
  spectral_setup setup;
  vector_d x;      // the positions of the channels used
  matrix_d known;  // the known spectra, one row per known species, on those channels
  std::vector<series_map> maps;  // where the spectra begin, in every series file read
};

// Reads the series that m names, with its known spectra, into out. Returns
// an empty string or the error naming the file and line.
std::string load_series(const mechanism& m, spectral_data& out);

// Reads the series of every experiment of m into one reduced series, the
// experiments' spectra one after the other (data gets every experiment's
// times). Every series must have the same channels.
std::string load_experiment_series(const mechanism& m, spectral_data& out, std::vector<measured>& data);

// The problem of a mechanism fitted to its series: the spectra's times as
// its data and the spectral residual model.
problem spectral_problem(mechanism m, const spectral_data& s);

// What a fit of a series leaves beside the fitted values.
struct spectral_outcome {
  linear_part linear;
  matrix_d spectra;  // unknown columns x channels, from the series read again
  vector_d se;       // per unknown column: the standard error of every channel's value
  rank_report rank;
  trajectory c;      // the concentrations at the spectra's times
};

// The concentrations at the spectra's times for v, of every experiment
// one after the other.
std::string series_concentrations(const problem& p, const values& v, trajectory& out);

// What the best values of r give without the series read again: the
// concentrations, the linear part, the spectra's standard errors and the
// rank report. Returns why there are none, or an empty string.
std::string spectral_linear_of(const problem& p, const spectral_data& s, const fit_result& r, spectral_outcome& out);

// The second pass, after spectral_linear_of: the spectra, from the series
// read again. Returns why there are none, or an empty string.
std::string read_spectra(const problem& p, const spectral_data& s, spectral_outcome& out);

// The report's lines on the series: its size and basis, the singular values
// of the data and of the residuals, the components above the noise, and the
// rank warnings.
std::vector<std::string> rank_lines(const spectral_data& s, const spectral_outcome& o);

// The names of the unknown columns: the absorbing species, then "offset".
std::vector<std::string> unknown_names(const problem& p, const spectral_data& s);

// NAME.spectra.txt: the channel position, then every unknown spectrum with
// its standard error, one row per channel.
std::string spectra_file(const problem& p, const spectral_data& s, const spectral_outcome& o,
                         const std::string& heading);

// NAME.curve.txt of a series fit: the time, then every species' concentration.
std::string concentration_file(const problem& p, const trajectory& c, const std::string& heading);

}  // namespace kinetics
