#include "fitter/data.h"

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "common/lines.h"
#include "common/numparse.h"
#include "instrument/delimited.h"

namespace kinetics {

namespace {

constexpr bool is_separator(char c) { return c == ' ' || c == '\t'; }

// The words of a line, split at blanks and tabs.
void split(std::string_view line, std::vector<std::string_view>& words) {
  lines::split_words(line, is_separator, words);
}

std::string format(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", v);
  return text;
}

// How the rows of a data file are split: at blanks and tabs, or, for a
// delimited table (a first row with a comma or a semicolon, or with tabs
// and no blank), at its separator, with a decimal comma read where the
// separator is not a comma and an optional header row.
struct row_format {
  bool decided = false;
  char separator = 0;  // 0: blanks and tabs
  bool header_possible = false;
};

void decide(row_format& f, std::string_view first) {
  f.decided = true;
  const bool tabs_only = first.find('\t') != std::string_view::npos && first.find(' ') == std::string_view::npos;
  if (first.find_first_of(",;") == std::string_view::npos && !tabs_only) return;
  f.separator = instrument::find_separator(first);
  if (f.separator == ' ') f.separator = 0;
  f.header_possible = f.separator != 0;
}

// The words of a row as the format splits it; none for a blank row.
void split_row(const row_format& f, std::string_view line, std::vector<std::string_view>& words) {
  if (f.separator == 0) return;  // split at blanks and tabs already
  std::vector<bool> quoted;
  instrument::split_fields(line, f.separator, words, quoted);
  if (std::all_of(words.begin(), words.end(), [](std::string_view w) { return w.empty(); })) words.clear();
}

// Reads a word as a number: as formatted input reads it, or, in a delimited
// table, as instrument::field_number reads a field.
bool word_number(std::string_view word, char separator, double& out) {
  if (separator != 0) return instrument::field_number(word, separator != ',' && word.find(',') != std::string_view::npos, out);
  const char* p = word.data();
  return numparse::scan_double(p, word.data() + word.size(), out) && p == word.data() + word.size();
}

// The value of column c of a row; an error names the column.
std::string value(const std::vector<std::string_view>& words, int c, double& out, char separator = 0) {
  const std::string column = "column " + std::to_string(c);
  if (static_cast<std::size_t>(c) >= words.size()) return column + " is missing";
  const std::string_view word = words[static_cast<std::size_t>(c)];
  if (!word_number(word, separator, out)) {
    return column + " is \"" + std::string(word) + "\", not a number";
  }
  return {};
}

// Adds one data row to out, or says what is wrong with it.
std::string add_row(const mechanism& m, const std::vector<std::string_view>& words, int line, measured& out,
                    char separator) {
  double t = 0;
  if (std::string e = value(words, 0, t, separator); !e.empty()) return e;
  if (m.start_value < 0 && t < m.start) return "time " + format(t) + " is before the start time " + format(m.start);
  std::vector<double> row(m.columns.size());
  for (std::size_t j = 0; j < row.size(); ++j) {
    // A missing cell, "nan" or "-", is left out of the fit.
    const std::size_t c = static_cast<std::size_t>(m.columns[j].column);
    if (m.missing_cells && c < words.size() && (words[c] == "nan" || words[c] == "-")) {
      row[j] = NAN;
      continue;
    }
    if (std::string e = value(words, m.columns[j].column, row[j], separator); !e.empty()) return e;
  }
  out.t.push_back(t);
  for (std::size_t j = 0; j < row.size(); ++j) out.y[j].push_back(row[j]);
  out.lines.push_back(line);
  return {};
}

// The first column line whose column no row has, if any.
std::string missing_column(const mechanism& m, std::size_t widest) {
  for (const column_model& c : m.columns) {
    if (static_cast<std::size_t>(c.column) >= widest) {
      return m.file + ":" + std::to_string(c.line) + ": column " + std::to_string(c.column) + " is not in " + m.data +
             " (its rows have columns 0 to " + std::to_string(widest - 1) + ")";
    }
  }
  return {};
}

}  // namespace

std::string read_data(const mechanism& m, measured& out) {
  out = measured{};
  out.y.resize(m.columns.size());
  std::vector<std::string_view> words;
  std::size_t widest = 0;  // the most words of any row
  std::string row_error;   // the first row that cannot be read
  int line = 0;
  row_format format;
  errno = 0;
  bool too_long = false;
  const lines::status status = lines::for_each_line(m.data.c_str(), [&](std::string_view text) {
    if (line == max_data_lines || out.t.size() * (m.columns.size() + 1) >= max_data_values) {
      too_long = true;
      return false;
    }
    ++line;
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    split(text, words);
    if (words.empty() || words.front().front() == '#') return true;
    if (!format.decided) decide(format, text);
    split_row(format, text, words);
    if (words.empty()) return true;
    const bool may_be_header = format.header_possible;
    format.header_possible = false;
    double t = 0;
    if (may_be_header && !word_number(words.front(), format.separator, t)) return true;  // a delimited table's header
    widest = std::max(widest, words.size());
    if (row_error.empty()) {
      if (std::string e = add_row(m, words, line, out, format.separator); !e.empty())
        row_error = m.data + " line " + std::to_string(line) + ": " + e;
    }
    return true;
  });
  if (status == lines::status::not_opened || status == lines::status::read_error) {
    return "cannot read \"" + m.data + "\": " + std::strerror(errno != 0 ? errno : EISDIR);
  }
  if (too_long) {
    return m.data + ": more than " + std::to_string(max_data_lines) + " lines or " + std::to_string(max_data_values) +
           " values; ratefit reads at most that many";
  }
  if (widest == 0) return m.data + ": no data rows";
  if (std::string e = missing_column(m, widest); !e.empty()) return e;
  return row_error;
}

std::string read_sigma(const mechanism& m, const measured& data, std::vector<std::vector<double>>& sigma) {
  mechanism of_sigma = m;
  of_sigma.data = m.sigma;
  of_sigma.start = -INFINITY;
  of_sigma.start_value = -1;
  of_sigma.missing_cells = false;  // an uncertainty is a number, also that of a missing point
  measured read;
  if (std::string e = read_data(of_sigma, read); !e.empty()) return e;
  if (read.t.size() != data.t.size()) {
    const std::size_t row = std::min(read.t.size(), data.t.size());
    const int line = row < read.lines.size() ? read.lines[row] : read.lines.back();
    return m.sigma + " line " + std::to_string(line) + ": it holds " + std::to_string(read.t.size()) +
           " rows, " + m.data + " " + std::to_string(data.t.size());
  }
  for (std::size_t i = 0; i < read.t.size(); ++i) {
    const std::string where = m.sigma + " line " + std::to_string(read.lines[i]) + ": ";
    if (read.t[i] != data.t[i]) {
      return where + "time " + format(read.t[i]) + " is not the time " + format(data.t[i]) + " of " + m.data +
             " line " + std::to_string(data.lines[i]);
    }
    for (std::size_t j = 0; j < m.columns.size(); ++j) {
      if (!(read.y[j][i] > 0) && !std::isnan(data.y[j][i])) {
        return where + "column " + std::to_string(m.columns[j].column) + " holds the uncertainty " +
               format(read.y[j][i]) + "; it must be above 0";
      }
    }
  }
  sigma = std::move(read.y);
  return {};
}

}  // namespace kinetics
