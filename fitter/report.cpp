#include "fitter/report.h"

#include "fitter/experiments.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/escape.h"

namespace kinetics {

namespace {

using row = std::vector<std::string>;

// Rows of cells as lines, every column padded to its widest cell.
std::vector<std::string> aligned(const std::vector<row>& rows) {
  std::vector<std::size_t> width;
  for (const row& r : rows) {
    width.resize(std::max(width.size(), r.size()), 0);
    for (std::size_t c = 0; c < r.size(); ++c) width[c] = std::max(width[c], r[c].size());
  }
  std::vector<std::string> lines;
  for (const row& r : rows) {
    std::string line = " ";
    for (std::size_t c = 0; c < r.size(); ++c) {
      line += " " + r[c];
      if (c + 1 < r.size()) line.append(width[c] - r[c].size() + 1, ' ');
    }
    lines.push_back(line);
  }
  return lines;
}

// An interval bound with digits enough to tell it from the estimate: two
// beyond the standard error's first, six at the least and ten at the most.
std::string bound(double v, const estimate& e) {
  if (std::isnan(v)) return "-";
  const double ratio = std::abs(e.value) / e.se;
  const int digits = std::isfinite(ratio) && ratio > 1 ? static_cast<int>(std::ceil(std::log10(ratio))) + 2 : 6;
  return format_g(v, std::clamp(digits, 6, 10));
}

std::vector<std::string> estimate_table(const problem& p, const fit_result& r) {
  std::vector<row> rows{{"value", "estimate", "std_error", "t95_low", "t95_high", "profile95_low", "profile95_high"}};
  for (std::size_t i = 0; i < r.estimates.size(); ++i) {
    const estimate& e = r.estimates[i];
    rows.push_back({value_name(p, i), format_g(e.value), std::isnan(e.se) ? "-" : format_g(e.se, 4), bound(e.t_low, e),
                    bound(e.t_high, e),
                    bound(e.profile_low, e), bound(e.profile_high, e)});
  }
  return aligned(rows);
}

std::vector<std::string> correlation_table(const problem& p, const fit_result& r) {
  const std::size_t n = r.estimates.size();
  std::vector<row> rows{{"correlation"}};
  for (std::size_t i = 0; i < n; ++i) rows[0].push_back(value_name(p, i));
  for (std::size_t i = 0; i < n; ++i) {
    rows.push_back({value_name(p, i)});
    for (std::size_t j = 0; j < n; ++j) {
      char cell[32] = "-";  // a value held at a bound has none
      const double c = r.correlation(static_cast<long>(i), static_cast<long>(j));
      if (!std::isnan(c)) std::snprintf(cell, sizeof cell, "%.4f", c);
      rows.back().push_back(cell);
    }
  }
  return aligned(rows);
}

std::string table_size(const problem& p) {
  return std::to_string(p.data.t.size()) + " rows x " + std::to_string(p.m.columns.size()) + " columns";
}

std::string counts_line(const problem& p, const fit_result& r) {
  if (p.model.points > 0) {
    return "  " + std::to_string(r.points) + " points (" + std::to_string(p.data.t.size()) + " spectra x " +
           std::to_string(p.model.points / std::max<std::size_t>(p.data.t.size(), 1)) + " channels), " +
           std::to_string(p.fitted.size()) + " fitted values and " + std::to_string(p.model.eliminated) +
           " spectral values, " + std::to_string(r.dof) + " degrees of freedom";
  }
  std::string sizes = p.parts.empty() ? table_size(p) : "";
  for (std::size_t e = 0; e < p.parts.size(); ++e) {
    const int block = p.parts[e].link.block;
    sizes += (e ? ", " : "") + (block < 0 ? "" : p.m.blocks[static_cast<std::size_t>(block)].name + ": ") +
             table_size(p.parts[e]);
  }
  const std::size_t missing = missing_points(p);
  if (missing > 0) sizes += ", " + std::to_string(missing) + " missing cells left out";
  return "  " + std::to_string(r.points) + " points (" + sizes + "), " + std::to_string(p.fitted.size()) +
         " fitted values, " + std::to_string(r.dof) + " degrees of freedom";
}

std::string starts_line(const fit_result& r) {
  const auto converged = std::count_if(r.starts.begin(), r.starts.end(), [](const start_outcome& s) {
    return s.failure.empty();
  });
  return "  " + std::to_string(r.starts.size()) + " starts, " + std::to_string(converged) + " converged, " +
         std::to_string(r.same_minimum) + " at the best minimum, reached in " + std::to_string(r.iterations) +
         " iterations";
}

// The sums and criteria, and what the intervals rest on.
std::vector<std::string> sums_lines(const fit_result& r) {
  if (!r.weighted) {
    return {"  sum of squares " + format_g(r.ssr) + ", rms residual " + format_g(r.rms) + ", AIC " + format_g(r.aic) +
                ", BIC " + format_g(r.bic),
            "  95 % intervals: t = " + format_g(r.t_quantile, 6) + " with " + std::to_string(r.dof) +
                " degrees of freedom; profile likelihood for rate constants"};
  }
  return {"  chi-square " + format_g(r.ssr) + " with " + std::to_string(r.dof) + " degrees of freedom, reduced " +
              format_g(r.reduced_chi_square, 6) + ", probability of a chi-square at least as large " +
              format_g(r.chi_square_p, 4),
          "  weighted rms residual " + format_g(r.rms) + ", AIC " + format_g(r.aic) + ", BIC " + format_g(r.bic),
          "  95 % intervals from the given uncertainties: normal quantile " + format_g(r.t_quantile, 6) +
              "; profile likelihood for rate constants (chi-square rises by 3.84)"};
}

}  // namespace

std::vector<std::string> report_lines(const problem& p, const fit_result& r) {
  std::vector<std::string> lines{counts_line(p, r), starts_line(r)};
  for (std::string& line : sums_lines(r)) lines.push_back(std::move(line));
  lines.push_back("");
  for (std::string& line : estimate_table(p, r)) lines.push_back(std::move(line));
  if (!r.estimates.empty()) {
    lines.push_back("");
    for (std::string& line : correlation_table(p, r)) lines.push_back(std::move(line));
  }
  for (std::string& line : experiment_lines(p, r)) lines.push_back(std::move(line));
  if (!r.warnings.empty()) lines.push_back("");
  for (const std::string& w : r.warnings) lines.push_back("  warning: " + w);
  return lines;
}

std::string data_name(const problem& p) { return p.m.series.line != 0 ? p.m.series.file.path : p.m.data; }


namespace {

std::string names(const problem& p, const std::vector<std::size_t>& values) {
  std::string text;
  for (std::size_t i = 0; i < values.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == values.size() ? " and " : ", ") + value_name(p, values[i]);
  }
  return text;
}

}  // namespace

std::string blame_text(const problem& p, const blame& b) {
  std::string text;
  const auto verb = [](const std::vector<std::size_t>& v, const char* one, const char* many) {
    return v.size() == 1 ? one : many;
  };
  if (!b.to_zero.empty()) {
    text += "; " + names(p, b.to_zero) + verb(b.to_zero, " runs", " run") +
            " towards 0 (if a step may not run at all, remove it or hold its constant at 0 with \"fixed\")";
  }
  if (!b.to_infinity.empty()) {
    text += "; " + names(p, b.to_infinity) + verb(b.to_infinity, " grows", " grow") +
            " without bound (a step faster than the data resolve: hold its constant fixed)";
  }
  if (!b.undetermined.empty()) {
    text += "; the data do not determine " + names(p, b.undetermined) +
            (b.undetermined.size() == 1 ? " (hold it fixed)" : " apart (hold one of them fixed, or start them nearer)");
  }
  return text;
}

namespace {

// Rate constant k of m, fitted to 0, as "0 fixed": a file cannot start a
// fitted rate constant at 0. The values after it on its line move along.
void hold_at_zero(mechanism& m, named_value& k) {
  const std::string word = " fixed";
  m.lines[static_cast<std::size_t>(k.line - 1)].insert(k.at + k.length, word);
  for (named_value& other : m.rates) {
    if (other.line == k.line && other.at > k.at) other.at += word.size();
  }
  k.fixed = true;
}

}  // namespace

std::string fit_file(const problem& p, const fit_result& r, const std::vector<std::string>& extra) {
  mechanism m = p.m;
  for (std::size_t i = 0; i < p.fitted.size(); ++i) {
    const free_value& f = p.fitted[i];
    named_value& v = named_list(m, f.kind)[static_cast<std::size_t>(f.index)];
    v.value = r.estimates[i].value;
    if (r.estimates[i].at_zero) hold_at_zero(m, v);
  }
  // The data file as found from the working directory, where this file is.
  // A name that would not read back as it stands is written quoted.
  const auto file_line = [](const char* keyword, const std::string& name) {
    return keyword + (needs_quotes(name) ? quote_name(name) : name);
  };
  if (m.series.line != 0) {
    write_series_paths(m.series, m.lines);
    for (const block& b : m.blocks) write_series_paths(b.series, m.lines);
  } else if (!m.blocks.empty()) {
    name_block_files(m);
  } else if (m.data_line > 0) {
    m.lines[static_cast<std::size_t>(m.data_line - 1)] = file_line("data ", m.data);
  } else {
    m.lines.push_back(file_line("data ", m.data));
  }
  if (m.sigma_line > 0) m.lines[static_cast<std::size_t>(m.sigma_line - 1)] = file_line("sigma ", m.sigma);
  std::string text = "# ratefit: " + visible(p.m.file) + " fitted to " +
                     visible(p.parts.empty() ? data_name(p) : data_files(p)) + "\n";
  for (const std::string& line : report_lines(p, r)) text += "#" + line + "\n";
  for (const std::string& line : extra) text += "#" + line + "\n";
  return text + write_mechanism(m);
}

std::string curve_file(const problem& p, const values& v, const trajectory& c, const std::string& heading) {
  std::string text = "# " + heading + "\n# t";
  for (const column_model& col : p.m.columns) {
    const std::string name = "c" + std::to_string(col.column);
    text += " " + name + " " + name + "_model";
  }
  for (const std::string& s : p.m.species) text += " " + s;
  text += "\n";
  const std::size_t species = p.m.species.size();
  for (std::size_t i = 0; i < p.data.t.size(); ++i) {
    text += format_g(p.data.t[i], 15);
    for (std::size_t j = 0; j < p.m.columns.size(); ++j) {
      text += " " + format_g(p.data.y[j][i], 15) + " " + format_g(column_value(p, v, c, j, i));
    }
    for (std::size_t s = 0; s < species; ++s) text += " " + format_g(c.c[i * species + s]);
    text += "\n";
  }
  return text;
}

std::string failure_text(const problem& p, const fit_result& r, const fit_settings& settings) {
  if (r.status != fit_status::out_of_time) return r.failure + blame_text(p, r.blamed);
  std::string text = "out of time: the fit took more than its " + format_g(settings.max_seconds, 6) +
                     " seconds (--max-seconds) ";
  text += r.stopped_start >= 0 ? "in start " + std::to_string(r.stopped_start + 1) + " of " +
                                     std::to_string(starting_points(p).size()) + ", at "
                               : "in the profile intervals, at the best minimum ";
  for (std::size_t i = 0; i < r.stopped_at.size(); ++i) {
    text += (i ? ", " : "") + value_name(p, i) + " = " + format_g(r.stopped_at[i]);
  }
  return text;
}

std::string models_table(std::vector<model_row> rows) {
  std::stable_sort(rows.begin(), rows.end(), [](const model_row& a, const model_row& b) { return a.aic < b.aic; });
  double total = 0;
  for (const model_row& m : rows) total += std::exp(-(m.aic - rows.front().aic) / 2);
  std::vector<row> cells{{"# model", "AIC", "delta_AIC", "weight", "BIC", "rms", "fitted"}};
  for (const model_row& m : rows) {
    const double delta = m.aic - rows.front().aic;
    cells.push_back({m.name, format_g(m.aic), format_g(delta, 6), format_g(std::exp(-delta / 2) / total, 6),
                     format_g(m.bic), format_g(m.rms, 6), std::to_string(m.fitted)});
  }
  std::string text;
  for (const std::string& line : aligned(cells)) text += line.substr(2) + "\n";
  return text;
}

}  // namespace kinetics
