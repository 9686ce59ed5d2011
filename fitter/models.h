// Fitting and simulating mechanism files, and writing what a fit leaves.
#pragma once

#include <string>
#include <vector>

#include "engine/fit.h"

namespace kinetics {

// A mechanism file read with its data; error says why it could not be.
struct loaded {
  problem p;
  std::string error;
};
loaded load_problem(const std::string& path);

// The problem of a mechanism already read: its data file and, when it names
// one, its sigma file.
loaded load_measurements(mechanism m);

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
