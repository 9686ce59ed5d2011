// The options of bandsum: [--baseline N] [--noise LO HI] [--times FILE]
// before the peak list and the series, in any order.
#pragma once

#include <cstddef>
#include <string>

struct bandsum_options {
  std::size_t baseline = 0;  // N; 0 when no baseline is subtracted
  bool noise = false;        // the noise region LO < x < HI is given
  double noise_lo = 0.0;
  double noise_hi = 0.0;
  std::string times;  // --times FILE: the time of every spectrum; empty for the step of scale.txt
};

// The largest N of --baseline.
inline constexpr std::size_t most_anchor_samples = 1000000;

// Reads the options from argv[1] on; first_path becomes the index of the
// peak list. Returns "" or a message beginning with "bandsum: ". Without
// options (argv[1] not beginning with "--") nothing is read and first_path
// is 1. An argument "--baseline", "--noise" or "--times" after the two paths is an
// error too (further arguments are otherwise ignored).
std::string options_in(int argc, char** argv, bandsum_options& options, int& first_path);
