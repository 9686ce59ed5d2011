// The parts of the report and of the fit file that only files of several
// experiments, linked values or temperatures have.
#include <cmath>

#include "engine/experiments.h"
#include "fitter/report.h"

namespace kinetics {

namespace {

// The steps whose rate constant is an expression or an experiment's own in
// some experiment: those whose value the table of estimates does not show.
std::vector<std::size_t> varying_steps(const problem& p) {
  std::vector<std::size_t> steps;
  for (std::size_t step = 0; step < p.m.steps(); ++step) {
    for (const problem& part : p.parts) {
      const named_value& k = p.m.rates[static_cast<std::size_t>(part.link.k[step].index)];
      if (!k.formula.empty() || k.scope >= 0) {
        steps.push_back(step);
        break;
      }
    }
  }
  return steps;
}

}  // namespace

std::vector<std::string> experiment_lines(const problem& p, const fit_result& r) {
  const std::vector<std::size_t> steps = p.parts.empty() ? std::vector<std::size_t>{} : varying_steps(p);
  if (steps.empty()) return {};
  std::vector<std::string> lines{"", "  rate constant  experiment  temperature_K  estimate  std_error"};
  std::vector<std::vector<std::string>> rows;
  for (std::size_t e = 0; e < p.parts.size(); ++e) {
    const problem& part = p.parts[e];
    const int block = part.link.block;
    const std::string experiment = block < 0 ? "-" : p.m.blocks[static_cast<std::size_t>(block)].name;
    const std::string t = part.m.temperature_line != 0 ? format_g(part.link.temperature, 6) : "-";
    for (std::size_t step : steps) {
      const estimate k = part_rate(p, r, e, step);
      rows.push_back({p.m.rates[step].name, experiment, t, format_g(k.value), format_g(k.se, 4)});
    }
  }
  std::vector<std::size_t> width(5, 0);
  const std::vector<std::string> head{"rate constant", "experiment", "temperature_K", "estimate", "std_error"};
  for (std::size_t c = 0; c < 5; ++c) width[c] = head[c].size();
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < 5; ++c) width[c] = std::max(width[c], row[c].size());
  }
  lines.pop_back();
  rows.insert(rows.begin(), head);
  for (const auto& row : rows) {
    std::string line = " ";
    for (std::size_t c = 0; c < 5; ++c) line += " " + row[c] + (c + 1 < 5 ? std::string(width[c] - row[c].size() + 1, ' ') : "");
    lines.push_back(line);
  }
  return lines;
}

void name_block_files(mechanism& m) {
  if (m.data_line > 0) m.lines[static_cast<std::size_t>(m.data_line - 1)] = "data " + m.data;
  if (m.sigma_line > 0) m.lines[static_cast<std::size_t>(m.sigma_line - 1)] = "sigma " + m.sigma;
  for (const block& b : m.blocks) {
    if (b.group) continue;
    if (b.data_line > 0) m.lines[static_cast<std::size_t>(b.data_line - 1)] = "data " + b.data;
    if (b.sigma_line > 0) m.lines[static_cast<std::size_t>(b.sigma_line - 1)] = "sigma " + b.sigma;
    // A block that takes the default data file gets a line of its own after
    // its first, without moving the lines of the values.
    if (b.data_line == 0 && m.data_line == 0) m.lines[static_cast<std::size_t>(b.line - 1)] += "\ndata " + b.data;
  }
}

}  // namespace kinetics
