// bandsum with its options: the series read once into baseline-corrected
// window sums (--baseline) and their standard uncertainties (--noise), and
// "dat.txt" with "sigma.txt" written together.
#pragma once

#include <string>
#include <vector>

#include "common/table.h"
#include "integrator/bandsum_options.h"
#include "integrator/kinet_integ.h"

// Reads the series at path as seriesIn does (same format, same messages) and
// fills sums (one row per window, one column per spectrum) with the window
// sums, baseline-corrected with options.baseline, and, with options.noise,
// sigmas with the noise of the spectrum times the square root of the
// summed squared sample weights. Returns "" or a message.
std::string seriesInCorrected(const char* path, const std::vector<peak>& windows, const bandsum_options& options,
                              grid& sums, grid& sigmas, int& nBlocks);

// The bytes of "dat.txt" for the sums, as write_dat writes them; with
// absolute, every scaled value is taken without its sign (for "sigma.txt");
// with times, spectrum j is stamped with times[j] instead of the step.
std::string dat_bytes(const grid& sums, int nPeaks, int nBlocks, const table& scale, bool absolute,
                      const std::vector<double>* times = nullptr);

// Writes "dat.txt" and, when sigmas is not null, "sigma.txt", replacing both
// only once both are complete. Returns "" or a message.
std::string write_results(const grid& sums, const grid* sigmas, int nPeaks, int nBlocks, const table& scale,
                          const std::vector<double>* times = nullptr);
