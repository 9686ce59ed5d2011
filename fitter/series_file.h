// Reading the spectral series a mechanism names, spectrum by spectrum in
// bounded memory: the block format bandsum reads (one "x intensity" line per
// sample, every spectrum closed by a line beginning with "&") or a matrix
// table (first row the channel positions, first column the times), with the
// times from a file, from a start and a step or from the table, and only the
// channels inside the mechanism's channel ranges.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "engine/lm.h"
#include "model/series_spec.h"

namespace kinetics {

// What a reader hands over: the positions of the channels used, once before
// the first spectrum (it may refuse them with a message), then every
// spectrum with its time, the values of the channels used.
struct series_events {
  std::function<std::string(const vector_d& x)> grid;
  std::function<void(std::size_t spectrum, double t, const double* row)> spectrum;
};

// Reads the series of spec, with times not before start. Returns an empty
// string, or the error naming the file (and the line where there is one):
// "cannot read \"PATH\": REASON", "PATH line L: MESSAGE", "PATH: MESSAGE".
std::string read_series_file(const series_spec& spec, double start, const series_events& events);

// Reads a known spectrum ("x value" lines) on the channels used, whose
// positions are x: the file holds the channels of the series, the unused
// ones too, in the same order. Returns an empty string or the error.
std::string read_known_spectrum(const known_spectrum& k, const series_spec& spec, const vector_d& x,
                                std::vector<double>& out);

}  // namespace kinetics
