#include "fitter/data.h"

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "common/lines.h"
#include "common/numparse.h"

namespace kinetics {

namespace {

constexpr bool is_separator(char c) { return c == ' ' || c == '\t'; }

// The words of a line, split at blanks and tabs.
void split(std::string_view line, std::vector<std::string_view>& words) {
  words.clear();
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && is_separator(line[at])) ++at;
    const std::size_t first = at;
    while (at < line.size() && !is_separator(line[at])) ++at;
    if (at > first) words.push_back(line.substr(first, at - first));
  }
}

std::string format(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", v);
  return text;
}

// The value of column c of a row; an error names the column.
std::string value(const std::vector<std::string_view>& words, int c, double& out) {
  const std::string column = "column " + std::to_string(c);
  if (static_cast<std::size_t>(c) >= words.size()) return column + " is missing";
  const std::string_view word = words[static_cast<std::size_t>(c)];
  const char* p = word.data();
  if (!numparse::scan_double(p, word.data() + word.size(), out) || p != word.data() + word.size()) {
    return column + " is \"" + std::string(word) + "\", not a number";
  }
  return {};
}

// Adds one data row to out, or says what is wrong with it.
std::string add_row(const mechanism& m, const std::vector<std::string_view>& words, int line, measured& out) {
  double t = 0;
  if (std::string e = value(words, 0, t); !e.empty()) return e;
  if (m.start_value < 0 && t < m.start) return "time " + format(t) + " is before the start time " + format(m.start);
  std::vector<double> row(m.columns.size());
  for (std::size_t j = 0; j < row.size(); ++j) {
    // A missing cell, "nan" or "-", is left out of the fit.
    const std::size_t c = static_cast<std::size_t>(m.columns[j].column);
    if (m.missing_cells && c < words.size() && (words[c] == "nan" || words[c] == "-")) {
      row[j] = NAN;
      continue;
    }
    if (std::string e = value(words, m.columns[j].column, row[j]); !e.empty()) return e;
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
  errno = 0;
  const lines::status status = lines::for_each_line(m.data.c_str(), [&](std::string_view text) {
    ++line;
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    split(text, words);
    if (words.empty() || words.front().front() == '#') return true;
    widest = std::max(widest, words.size());
    if (row_error.empty()) {
      if (std::string e = add_row(m, words, line, out); !e.empty())
        row_error = m.data + " line " + std::to_string(line) + ": " + e;
    }
    return true;
  });
  if (status == lines::status::not_opened || status == lines::status::read_error) {
    return "cannot read \"" + m.data + "\": " + std::strerror(errno != 0 ? errno : EISDIR);
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
