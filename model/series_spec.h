// The "series" lines of a mechanism file: the whole spectral series a
// mechanism is fitted to, instead of column lines of a data table. Read line
// by line into a draft, then resolved against the mechanism's species.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A file named on a series line, and how to write the line again with
// another path.
struct series_path {
  int line = 0;
  std::string prefix;  // the line up to the path, e.g. "series table "
  std::string path;    // the path as given, then as found from the mechanism file's folder
};

struct known_spectrum {
  std::string name;  // as written; resolved into species
  int species = -1;
  series_path file;
};

struct series_spec {
  int line = 0;        // the first series line; 0: the mechanism has none
  series_path file;    // the series itself (file.line 0: not given)
  bool table = false;  // a matrix table rather than blocks closed by "&"
  series_path times;   // a file of one time per spectrum (times.line 0: none)
  int step_line = 0;   // the line of "series times START STEP"; 0: none
  double start = 0, step = 0;
  std::vector<std::pair<double, double>> channels;  // ranges lo <= x <= hi; empty: every channel
  int channels_line = 0;
  std::vector<std::string> absorbing_names;  // as written; empty: every species not known
  int absorbing_line = 0;
  std::vector<int> absorbing;                // resolved, in the order written
  std::vector<known_spectrum> known;
  bool offset = false;
  int offset_line = 0;
  bool nonnegative = false;  // every unknown spectrum >= 0
  int nonnegative_line = 0;
};

// Reads the rest of a line that began with the word "series" (rest starts
// after it) into spec. Returns an empty string or the message.
std::string parse_series_line(std::string_view rest, int line, series_spec& spec);

// A resolved series' error: the line and the message; line 0 when there is none.
struct series_error {
  int line = 0;
  std::string message;
};

// Resolves the names of spec against the species of the mechanism and
// every path against the folder of the mechanism file (file).
series_error resolve_series(series_spec& spec, const std::vector<std::string>& species, const std::string& file);

// The lines of a mechanism file with every file of spec named by its
// resolved path, as the fit file written in the working directory needs.
void write_series_paths(const series_spec& spec, std::vector<std::string>& lines);
