// Mechanism files: the reactions, the named values and what each column of
// a data file measures, read from text and written back with new values.
#pragma once

#include <cmath>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "model/expression.h"
#include "model/network.h"
#include "model/series_spec.h"

// A named value of a mechanism file: a rate constant, an initial
// concentration or a response factor.
struct named_value {
  std::string name;
  double value = 0;
  bool fixed = false;
  int line = 0;            // 1-based line of the file; 0 for an initial concentration the file does not give
  std::size_t at = 0;      // where the value's text starts on its line (bytes)
  std::size_t length = 0;  // and how long it is
  expression formula;      // a linked value: it follows from others and is not fitted itself; empty for a number
  int scope = -1;          // the experiment or group (index into mechanism::blocks) that declares it; -1: shared
  int target = -1;         // of a declaration in a block: the step or species it stands for; -1 otherwise
  // The bounds ">= LO" and "<= HI" of its line, which a fitted value stays
  // within; infinite where the line gives none.
  double lower = -INFINITY;
  double upper = INFINITY;
  bool bounded() const { return lower > -INFINITY || upper < INFINITY; }
};

// What a name stands for in a mechanism: the list that declares it.
enum class value_kind { rate, initial, factor, parameter, start };

// One term of a column line: number * factor * species, the factor optional.
struct column_term {
  double number = 1;
  int factor = -1;  // index into mechanism::factors, or -1
  int species = 0;
};

// column N = TERM + TERM ...
struct column_model {
  int column = 0;  // data column, counted from 0 (0 is the time, so 1 or more)
  std::vector<column_term> terms;
  int line = 0;
};

// An experiment of a file with several (the lines from "experiment NAME" to
// the next experiment or group), or a group of experiments that share the
// values declared in it ("group NAME = E1 E2 ...").
struct block {
  std::string name;
  int line = 0;
  bool group = false;
  std::vector<int> members;           // of a group: its experiments (indices into mechanism::blocks)
  std::vector<column_model> columns;  // of an experiment; empty: the shared ones
  std::string data, sigma;            // as in mechanism; empty: the shared ones
  int data_line = 0, sigma_line = 0;
  double start = 0;                   // the start time when start_line != 0
  int start_line = 0;
  int start_value = -1;               // a named start "start t0 = VALUE" (index into mechanism::starts), or -1
  double temperature = 0;             // kelvin, when temperature_line != 0
  int temperature_line = 0;
  series_spec series;                 // of an experiment fitted to a series: the shared lines with its own
                                      // series file and times; series.line 0: none
};

struct mechanism {
  std::string file;                   // the path it was read from, as given
  std::vector<std::string> species;   // in the order of first appearance
  network net;
  std::vector<named_value> rates;     // rates[r] is the constant of net.steps[r]
  std::vector<named_value> initials;  // one per species
  std::vector<named_value> factors;   // response factors, in file order
  std::vector<column_model> columns;  // in file order
  std::string data;                   // the data file, relative to the mechanism file's folder already applied
  int data_line = 0;                  // the line of the data keyword, 0 for the default
  std::string sigma;                  // the file of the data's standard uncertainties; empty: none
  int sigma_line = 0;                 // the line of the sigma keyword, 0 when there is none
  double start = 0;                   // the time at which the initial concentrations hold
  series_spec series;                 // the spectral series fitted instead of column lines; series.line 0: none
  std::vector<std::string> lines;     // the file's lines, without their line feeds
  // Beyond the reactions, values and columns of one data file. Local
  // declarations (scope >= 0) of rate constants and initial concentrations
  // come after the shared ones in rates and initials.
  std::vector<named_value> parameters;  // names that only expressions use, in file order
  std::vector<named_value> starts;      // named start times "start t0 = VALUE [fixed]"
  int start_value = -1;                 // the shared named start, or -1
  double temperature = 0;               // the shared temperature, when temperature_line != 0
  int temperature_line = 0;
  std::vector<block> blocks;            // experiments and groups, in file order; empty: one experiment
  bool missing_cells = true;            // whether "nan" and "-" in a used data column are missing cells
  std::size_t steps() const { return net.steps.size(); }
};

// The declaration that a name has in experiment e (a block index; -1 for
// the shared values alone): the experiment's own, a group's, or the shared
// one. Returns false when the name has none.
bool find_value(const mechanism& m, int e, const std::string& name, value_kind& kind, int& index);

// The list of a kind.
const std::vector<named_value>& value_list_of(const mechanism& m, value_kind kind);

// The experiments of m, as block indices; {-1} for a file without blocks.
std::vector<int> experiments_of(const mechanism& m);

// Reads a mechanism from text; file names it in messages and its folder is
// where the data file is looked for. Returns an empty string, or the error
// "FILE:LINE: message".
std::string parse_mechanism(const std::string& file, std::string_view text, mechanism& out);

// The longest mechanism file read, counting one line feed a line.
constexpr std::size_t max_mechanism_bytes = std::size_t{16} << 20;

// Reads the mechanism file at path (see parse_mechanism); a file that cannot
// be read gives "cannot read \"PATH\": reason", one longer than 16 MiB (an
// endless pipe) "PATH: longer than the 16 MiB a mechanism file may hold".
std::string read_mechanism(const std::string& path, mechanism& out);

// The file's text again with every value given on a line replaced by the
// one in m (formatted "%.10g"), so that it can be read as it stands.
std::string write_mechanism(const mechanism& m);
