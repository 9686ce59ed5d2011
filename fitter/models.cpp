#include "fitter/models.h"

#include <algorithm>
#include <iostream>
#include <set>

#include "common/atomic_file.h"
#include "common/cli.h"
#include "engine/experiments.h"
#include "fitter/arrhenius_plot.h"
#include "fitter/data.h"
#include "fitter/experiments.h"
#include "fitter/plot.h"
#include "fitter/report.h"

namespace kinetics {

namespace {

// The data a model is fitted to: its file and the columns it uses. Criteria
// of models fitted to different data cannot be compared.
std::string data_key(const problem& p) {
  if (!p.parts.empty()) {
    std::string key;
    for (const problem& part : p.parts) key += data_key(part) + ";";
    return key;
  }
  std::string key = p.m.data + (p.m.sigma.empty() ? "" : " sigma " + p.m.sigma);
  std::set<int> columns;
  for (const column_model& c : p.m.columns) columns.insert(c.column);
  for (int c : columns) key += " " + std::to_string(c);
  return key;
}

std::string replace_named(const std::vector<named_text>& files) {
  std::vector<file_bytes> bytes;
  for (const named_text& f : files) bytes.push_back({f.first, f.second});
  return replace_files(bytes);
}

// What a model was fitted to, for its messages.
std::string fitted_to(const problem& p) { return p.parts.empty() ? p.m.data : data_files(p); }

// The results of a problem of parts: one fit file, a curve file and a
// picture per experiment.
std::string write_part_results(const std::string& name, const problem& p, const fit_result& r) {
  std::vector<named_text> files{{name + ".fit.txt", fit_file(p, r)}};
  if (std::string error = part_curves(p, r.best, name, "fitted to", files); !error.empty()) return error;
  if (std::string error = replace_named(files); !error.empty()) return error;
  for (const named_text& f : files) std::cout << " Saving \"" << f.first << "\"" << std::endl;
  part_pictures(p, r.best, name);
  bool drawn = false;
  if (std::string error = draw_arrhenius(p, r, name + ".arrhenius.png", drawn); !error.empty()) {
    std::cerr << "ratefit: warning: no picture \"" << name << ".arrhenius.png\": " << error << std::endl;
  } else if (drawn) {
    std::cout << " Saving \"" << name << ".arrhenius.png\"" << std::endl;
  }
  return {};
}

// Writes NAME.fit.txt and NAME.curve.txt together, then draws NAME.png;
// a picture that cannot be drawn is a warning, the numbers stand.
std::string write_results(const std::string& name, const problem& p, const fit_result& r) {
  if (!p.parts.empty()) return write_part_results(name, p, r);
  trajectory c;
  if (std::string error = concentrations(p, r.best, c); !error.empty()) return error;
  const std::string fit_text = fit_file(p, r);
  const std::string curve_text = curve_file(p, r.best, c, "ratefit: " + p.m.file + " fitted to " + p.m.data);
  if (std::string error = replace_files({{name + ".fit.txt", fit_text}, {name + ".curve.txt", curve_text}});
      !error.empty()) {
    return error;
  }
  std::cout << " Saving \"" << name << ".fit.txt\" and \"" << name << ".curve.txt\"" << std::endl;
  if (std::string error = draw_plot(p, r.best, c, p.m.file + " fitted to " + p.m.data, name + ".png"); !error.empty()) {
    std::cerr << "ratefit: warning: no picture \"" << name << ".png\": " << error << std::endl;
  } else {
    std::cout << " Saving \"" << name << ".png\"" << std::endl;
  }
  return {};
}

bool unique_names(const std::vector<std::string>& paths) {
  std::set<std::string> names;
  for (const std::string& path : paths) {
    if (!names.insert(model_name(path)).second) {
      cli::fail("ratefit", "two models would write results of the same name \"" + model_name(path) +
                               "\": rename one of the files");
      return false;
    }
  }
  return true;
}

// Fits one model and writes its results; adds its row to the comparison.
// Every model's row and the data it was fitted to (see data_key).
using ranked = std::vector<std::pair<model_row, std::string>>;

bool fit_one(const std::string& path, ranked& rows) {
  loaded l = load_problem(path);
  if (!l.error.empty()) return cli::fail("ratefit", l.error) == 0;
  const std::size_t n = residual_count(l.p) - missing_points(l.p), fitted = l.p.fitted.size();
  if (n <= fitted) {
    return cli::fail("ratefit", path + ": " + std::to_string(n) + " measured points cannot determine " +
                                    std::to_string(fitted) + " fitted values") == 0;
  }
  std::cout << "\n ratefit: " << path << " fitted to " << fitted_to(l.p) << "\n" << std::endl;
  const fit_result r = fit(l.p);
  if (!r.failure.empty()) return cli::fail("ratefit", path + ": " + r.failure + "; no result was written") == 0;
  for (const std::string& line : report_lines(l.p, r)) std::cout << line << "\n";
  std::cout << std::endl;
  if (std::string error = write_results(model_name(path), l.p, r); !error.empty()) {
    return cli::fail("ratefit", error) == 0;
  }
  rows.push_back({{model_name(path), r.aic, r.bic, r.rms, static_cast<int>(l.p.fitted.size())}, data_key(l.p)});
  return true;
}

// The models fitted to the data (and weights) of the first one, ranked;
// then every other set of models fitted to the same data, ranked among
// themselves under a line that says why they stand apart.
std::string comparison_text(const ranked& rows) {
  std::vector<std::string> keys;
  for (const auto& row : rows) {
    if (std::find(keys.begin(), keys.end(), row.second) == keys.end()) keys.push_back(row.second);
  }
  std::string text;
  for (const std::string& key : keys) {
    std::vector<model_row> group;
    for (const auto& row : rows) {
      if (row.second == key) group.push_back(row.first);
    }
    if (!text.empty()) {
      text += "# fitted to other data or with other weights than the models above, so their criteria do not "
              "compare with theirs:\n";
    }
    text += models_table(group);
  }
  return text;
}

bool write_comparison(const ranked& rows) {
  const std::string text = comparison_text(rows);
  std::cout << "\n models by AIC:\n" << text << std::flush;
  if (std::string error = replace_file("models.txt", text); !error.empty()) return cli::fail("ratefit", error) == 0;
  std::cout << " Saving \"models.txt\"\n" << std::endl;
  return true;
}

}  // namespace

std::string model_name(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0) name.resize(name.size() - 4);
  return name;
}

loaded load_problem(const std::string& path) {
  mechanism m;
  if (std::string error = read_mechanism(path, m); !error.empty()) return {{}, error};
  return load_measurements(std::move(m));
}

loaded load_measurements(mechanism m) {
  if (needs_parts(m)) {
    loaded l;
    l.error = load_experiments(std::move(m), l.p);
    return l;
  }
  measured d;
  if (std::string error = read_data(m, d); !error.empty()) return {{}, error};
  std::vector<std::vector<double>> sigma;
  if (!m.sigma.empty()) {
    if (std::string error = read_sigma(m, d, sigma); !error.empty()) return {{}, error};
  }
  loaded l{make_problem(std::move(m), std::move(d)), {}};
  if (!sigma.empty()) weigh(l.p, sigma);
  return l;
}

int fit_models(const std::vector<std::string>& paths) {
  if (!unique_names(paths)) return 1;
  ranked rows;
  bool all = true;
  for (const std::string& path : paths) all = fit_one(path, rows) && all;
  if (all && rows.size() > 1) all = write_comparison(rows);
  return all ? 0 : 1;
}

namespace {

int simulate_parts(const std::string& path, const problem& p) {
  std::vector<named_text> files;
  if (std::string error = part_curves(p, p.base, model_name(path), "simulated at the times of", files);
      !error.empty()) {
    return cli::fail("ratefit", path + ": " + error);
  }
  if (std::string error = replace_named(files); !error.empty()) return cli::fail("ratefit", error);
  std::cout << "\n ratefit: " << path << " simulated at the times of " << data_files(p) << "\n";
  for (const named_text& f : files) std::cout << " Saving \"" << f.first << "\"\n";
  std::cout << std::endl;
  return 0;
}

}  // namespace

int simulate_model(const std::string& path) {
  loaded l = load_problem(path);
  if (!l.error.empty()) return cli::fail("ratefit", l.error);
  if (!l.p.parts.empty()) return simulate_parts(path, l.p);
  trajectory c;
  if (std::string error = concentrations(l.p, l.p.base, c); !error.empty()) {
    return cli::fail("ratefit", path + ": " + error);
  }
  const std::string name = model_name(path) + ".curve.txt";
  const std::string heading = "ratefit: " + path + " simulated at the times of " + l.p.m.data;
  const std::string text = curve_file(l.p, l.p.base, c, heading);
  if (std::string error = replace_file(name, text); !error.empty()) return cli::fail("ratefit", error);
  std::cout << "\n ratefit: " << path << " simulated at the times of " << l.p.m.data << "\n Saving \"" << name
            << "\"\n" << std::endl;
  return 0;
}

}  // namespace kinetics
