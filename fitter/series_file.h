// Reading the spectral series a mechanism names, spectrum by spectrum in
// bounded memory: the block format bandsum reads (one "x intensity" line per
// sample, every spectrum closed by a line beginning with "&") or a matrix
// table (first row the channel positions, first column the times), with the
// times from a file, from a start and a step or from the table, and only the
// channels inside the mechanism's channel ranges.
#pragma once

#include <cstddef>
#include <cstdint>
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

// Where the spectra of a series in the block format begin in its file: the
// first sample line of every spectrum, as a byte offset and a line number.
// A reading of a matrix table leaves it empty.
struct series_map {
  std::vector<std::uint64_t> at;
  std::vector<long long> line;
};

// Reads the series of spec, with times not before start, and where its
// spectra begin into map when one is given. Returns an empty string, or the
// error naming the file (and the line where there is one): "cannot read
// \"PATH\": REASON", "PATH line L: MESSAGE", "PATH: MESSAGE".
std::string read_series_file(const series_spec& spec, double start, const series_events& events,
                             series_map* map = nullptr);

// Asks for the spectra to read next, [first, first + count), after those
// read before; false when there are no more.
using next_spectra = std::function<bool(std::size_t& first, std::size_t& count)>;

// Reads spectra of a block-format series again, from where map says they
// begin, as next gives them, and hands them to events with their indices
// (events.grid gets the channels as read_series_file gives them). The checks are those of read_series_file
// within each spectrum; the file should be the one map was made of, and one
// that ends before the spectra asked for is an error.
std::string reread_spectra(const series_spec& spec, double start, const series_map& map, const next_spectra& next,
                           const series_events& events);

// Reads a known spectrum ("x value" lines) on the channels used, whose
// positions are x: the file holds the channels of the series, the unused
// ones too, in the same order. Returns an empty string or the error.
std::string read_known_spectrum(const known_spectrum& k, const series_spec& spec, const vector_d& x,
                                std::vector<double>& out);

}  // namespace kinetics
