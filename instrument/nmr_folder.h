// Processed 1D NMR spectra in the vendor folder layout: a folder of numbered
// experiment folders, each with its acquisition parameters "acqus" and its
// processed real spectrum "pdata/1/1r" with the parameters "pdata/1/procs".
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "instrument/spectrum.h"

namespace instrument {

// The "##$NAME= value" entries of a parameter file (NAME without "$", the
// value without the blanks around it; a "(0..N)" list value is left out).
// Returns "" or "PATH line N: ...".
std::string read_parameters(const std::string& path, std::map<std::string, std::string>& out);

// The parameters of a processed spectrum that its reading needs.
struct processed_parameters {
  long long size = 0;     // SI: points
  int exponent = 0;       // NC_proc: every stored integer is multiplied by 2^NC_proc
  bool big_endian = false;  // BYTORDP 1 (0: little-endian)
  bool doubles = false;     // DTYPP 2: 8-byte doubles instead of 4-byte integers
  double offset = 0.0;    // OFFSET: ppm of the first point
  double width_hz = 0.0;  // SW_p: spectral width in Hz
  double frequency = 0.0; // SF: MHz
};

// Reads one processed spectrum: x_i = OFFSET - i (SW_p / SF) / SI in ppm,
// y_i = stored value × 2^NC_proc. Returns "" or a message naming the file.
std::string read_processed(const std::string& pdata_dir, spectrum& out);

// Reads every numbered experiment folder of dir (names of digits only)
// that holds pdata/PROCNO, in the order of their acquisition times
// ("##$DATE=" of acqus, seconds since 1970; ties by number), and hands them to
// sink with their times. Returns "" or a message.
std::string read_nmr_folder(const std::string& dir, const spectrum_sink& sink, const std::string& procno = "1");

}  // namespace instrument
