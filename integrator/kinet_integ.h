// The parts of bandsum: reading the peak windows and the spectrum series,
// summing the intensities inside every window of every spectrum, and writing
// the time course of every peak to "dat.txt".
#pragma once

#include <string>
#include <vector>

#include "common/table.h"

// One sample of the spectrum series.
struct point {
  double x;   // abscissa
  double y;   // intensity
  int block;  // 0-based index of the spectrum that holds it
};

// The integration window of one peak: a sample counts when lo < x < hi.
struct peak {
  double lo;
  double hi;
};

// Window sums, one row per peak (peak-index order), one column per spectrum.
using grid = std::vector<std::vector<double>>;

// Reads the peak list at path into windows, whose size is the number of
// peaks. Returns an error message naming the file (and the line, or the
// peak left without a window), or an empty string on success.
std::string peaksIn(const char* path, std::vector<peak>& windows);

// Adds sample s to sums (one entry per window) when its x lies strictly
// inside the window; samples must come in file order.
void genIntegral(const point& s, const std::vector<peak>& windows, std::vector<double>& sums);

// Reads the spectrum series at path and sums every window over every
// spectrum as the samples go by, so that only the sums are kept. On success
// sums holds one row per window and one column per spectrum and nBlocks the
// number of spectra; returns an error message, or an empty string. Every
// spectrum must be closed by a line beginning with "&" and hold the same
// number of samples.
std::string seriesIn(const char* path, const std::vector<peak>& windows, grid& sums, int& nBlocks);

// Runs bandsum on its command line ([--baseline N] [--noise LO HI] PEAKLIST
// SERIES, or --help, -h, --version) in the working directory; returns the
// exit status. Without options the run is the one described below.
int run_bandsum(int argc, char** argv);

// Writes "dat.txt" in the working directory: per spectrum its time (row 2
// entry 0 of the scale table times the index, or times[j] when given), then each window sum times
// row 1 entry 1 / entry 0, divided by the peak's row 0 entry. The scale table
// must hold those entries. The lines go to a new file that replaces an
// existing "dat.txt" only once complete (common/atomic_file.h). Returns an
// error message, or an empty string.
std::string write_dat(const grid& sums, int nPeaks, int nBlocks, const table& scale,
                      const std::vector<double>* times = nullptr);

// Appends line j of "dat.txt" (spectrum j's time, then each scaled sum, as
// write_dat writes them) to out; with absolute, every scaled value without
// its sign. The time is times[j] when times is given, else the step times
// j (integrator/time_text.h says how either is printed).
void append_dat_line(std::string& out, const grid& sums, int nPeaks, int j, const table& scale, bool absolute,
                     const std::vector<double>* times = nullptr);
