// What ratefit shows and writes: the report of a fit, the mechanism file
// with its fitted values, the table of curves and the comparison of models.
#pragma once

#include <string>
#include <vector>

#include "common/format.h"
#include "engine/fit.h"

namespace kinetics {

// The report of a fit of the mechanism in p, one line after another, each
// beginning with two blanks: the counts, the sums and criteria, the table of
// estimates with their intervals, the correlations and every warning.
std::vector<std::string> report_lines(const problem& p, const fit_result& r);

// What a failed fit blames, in words, each part starting "; ": the values
// that ran to 0 or without bound and those the data do not determine apart,
// and what to try; empty when it blames none.
std::string blame_text(const problem& p, const blame& b);

// The mechanism file again with the fitted values in place and the data
// file named so that it is found from the working directory, headed by the
// report as comment lines.
// extra: more report lines after the report's own.
std::string fit_file(const problem& p, const fit_result& r, const std::vector<std::string>& extra = {});

// The file a mechanism is fitted to: its series, or its data file.
std::string data_name(const problem& p);

// A numeric table with a comment header: the time, then per column line the
// measured and the model's value, then every species, one row per data row.
std::string curve_file(const problem& p, const values& v, const trajectory& c, const std::string& heading);

// With several experiments or temperatures: every rate constant of every
// experiment with its standard error (from the covariance through the
// expressions), under a heading; nothing for one plain data table.
std::vector<std::string> experiment_lines(const problem& p, const fit_result& r);

// The data and sigma lines of every experiment of m (a copy being written
// as a fit file) naming the files as found from the working directory.
void name_block_files(mechanism& m);

// One model of a comparison.
struct model_row {
  std::string name;
  double aic, bic, rms;
  int fitted;
};

// Why a fit has no result, in words: its failure and the values it blames
// (blame_text), or for a fit out of time
// which start (of how many) or stage it was in, and its values there.
std::string failure_text(const problem& p, const fit_result& r, const fit_settings& settings);

// The comparison table, sorted by AIC, with a comment header: name, AIC,
// delta AIC, Akaike weight, BIC, rms residual, number of fitted values.
std::string models_table(std::vector<model_row> rows);

}  // namespace kinetics
