// The data file of a mechanism: the measured time and every column that the
// mechanism's column lines use.
#pragma once

#include <string>
#include <vector>

#include "engine/measured.h"
#include "model/mechanism.h"

namespace kinetics {


// The most lines of a data (or sigma) file read, and the most values kept
// of it (times and used columns): a longer file (an endless pipe) is an
// error, "PATH: more than 67108864 lines or 16777216 values; ratefit reads
// at most that many".
constexpr int max_data_lines = 1 << 26;
constexpr std::size_t max_data_values = std::size_t{1} << 24;

// Reads m.data. A data row is a line whose first word does not start with
// "#"; its values are separated by blanks and tabs, and a carriage return at
// its end is ignored. A delimited table (a first row holding a comma or a
// semicolon, or tabs and no blank) is split at its separator instead, may
// begin with a header row (a first row whose column 0 is not a number) and
// may write a decimal comma where the separator is not a comma. Column 0 and every column that m uses must hold a
// number in every row; the other columns may hold anything. Returns an empty
// string, or the error: "cannot read \"PATH\": reason"; "MECHANISM:LINE:
// column C is not in PATH ..." for a column no row has; "PATH line L: column
// C ..." for a row with a missing or unreadable value, "PATH line L: time T
// is before the start time S" and "PATH: no data rows".
std::string read_data(const mechanism& m, measured& out);

// Reads m.sigma, the standard uncertainties of the points of data, a file in
// the layout of the data file (as bandsum writes sigma.txt beside dat.txt):
// row i holds the time of data row i and, in every column a column line
// uses, the uncertainty of that point. Returns an empty string, or the error
// naming the sigma file and line: a row that is missing or extra, another
// time, or an uncertainty that is missing, not a number, 0 or negative.
std::string read_sigma(const mechanism& m, const measured& data, std::vector<std::vector<double>>& sigma);

}  // namespace kinetics
