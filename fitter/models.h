// Fitting and simulating mechanism files, and writing what a fit leaves.
#pragma once

#include <string>
#include <vector>

#include "engine/fit.h"
#include "fitter/spectral_fit.h"

namespace kinetics {

// A mechanism file read with its data; error says why it could not be.
// A mechanism fitted to a spectral series has its series beside.
struct loaded {
  problem p;
  std::string error;
  std::shared_ptr<const spectral_data> spectral;
};
loaded load_problem(const std::string& path);

// The problem of a mechanism already read: its data file and, when it names
// one, its sigma file.
loaded load_measurements(mechanism m);

// The problem of a mechanism that names a spectral series, with the series
// read and reduced.
loaded load_series_problem(mechanism m);

// The problem of a mechanism already read, of either kind: its series, or
// its data and sigma files.
loaded load_read(mechanism m);

// The name of a model's results: the file name without its folder and its
// last ".txt".
std::string model_name(const std::string& path);

// Fits every mechanism file, prints the reports, writes each converged
// model's results and, for several models that all converged, "models.txt".
// Returns the exit status: 0 only when every fit converged and every result
// was written (a picture gnuplot cannot draw is a warning only).
// Every fit has the time and the integration steps of settings.
int fit_models(const std::vector<std::string>& paths, const fit_settings& settings);

// Writes NAME.curve.txt for the file's own values at its data's times.
int simulate_model(const std::string& path);

}  // namespace kinetics
