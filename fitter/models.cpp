#include "fitter/models.h"

#include <algorithm>
#include <functional>
#include <iostream>
#include <set>
#include <tuple>

#include "common/atomic_file.h"
#include "common/cli.h"
#include "common/escape.h"
#include "common/file_identity.h"
#include "engine/experiments.h"
#include "engine/parallel.h"
#include "fitter/arrhenius_plot.h"
#include "fitter/data.h"
#include "fitter/experiments.h"
#include "fitter/pictures.h"
#include "fitter/plot.h"
#include "fitter/report.h"
#include "fitter/spectral_plot.h"

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
  if (p.m.series.line != 0) {
    std::string key = "series " + p.m.series.file.path;
    for (const auto& [lo, hi] : p.m.series.channels) key += " " + format_g(lo, 17) + " " + format_g(hi, 17);
    return key;
  }
  std::string key = p.m.data + (p.m.sigma.empty() ? "" : " sigma " + p.m.sigma);
  std::set<int> columns;
  for (const column_model& c : p.m.columns) columns.insert(c.column);
  for (int c : columns) key += " " + std::to_string(c);
  return key;
}

// A picture as a new file, complete and synced, or why there is none;
// pending stays closed when there is none.
std::string picture_file(const picture& drawn, new_file& pending) {
  if (!drawn.error.empty()) return drawn.error;
  if (std::string error = new_file_open(drawn.file, pending); !error.empty()) return error;
  if (std::string error = new_file_write(pending, drawn.png); !error.empty()) return error;
  return new_file_finish(pending);
}

// Replaces the result files texts (name, bytes) and the pictures drawn()
// gives together, the pictures that could not be drawn or written left
// out; says which were saved, and warns of each picture left out. The
// texts are written while the pictures are still being drawn; all are
// synced together at the commit.
std::string write_group(const std::vector<std::pair<std::string, const std::string*>>& texts,
                        const std::function<std::vector<picture>()>& drawn) {
  std::vector<new_file> text_files(texts.size());
  std::vector<new_file*> commit;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (std::string error = new_file_open(texts[i].first, text_files[i]); !error.empty()) return error;
    if (std::string error = new_file_write(text_files[i], *texts[i].second); !error.empty()) return error;
    commit.push_back(&text_files[i]);
  }
  const std::vector<picture> pictures = drawn();
  std::vector<new_file> picture_files(pictures.size());
  std::vector<std::string> missing(pictures.size());
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    missing[i] = picture_file(pictures[i], picture_files[i]);
    if (missing[i].empty()) commit.push_back(&picture_files[i]);
  }
  if (std::string error = new_files_commit(commit); !error.empty()) return error;
  std::cout << " Saving ";
  for (std::size_t i = 0; i < texts.size(); ++i) {
    std::cout << (i == 0 ? "" : i + 1 == texts.size() ? " and " : ", ") << "\"" << texts[i].first << "\"";
  }
  std::cout << std::endl;
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    if (!missing[i].empty()) {
      std::cerr << "ratefit: warning: no picture \"" << pictures[i].file << "\": " << missing[i] << std::endl;
    } else {
      std::cout << " Saving \"" << pictures[i].file << "\"" << std::endl;
    }
  }
  return {};
}

// What a model was fitted to, for its messages.
std::string fitted_to(const problem& p) { return p.parts.empty() ? data_name(p) : data_files(p); }

// The results of a problem of parts: one fit file, a curve file and a
// picture per experiment, and with three temperatures or more the
// Arrhenius picture, replaced together.
// The pictures are drawn while the files' texts are made.
std::string write_part_results(const std::string& name, const problem& p, const fit_result& r) {
  std::vector<picture_job> jobs = part_picture_jobs(p, r.best, name);
  picture_job arrhenius{name + ".arrhenius.png", {}, {}};
  if (arrhenius_job(p, r, arrhenius)) jobs.push_back(std::move(arrhenius));
  pictures_under_way drawing = start_pictures(std::move(jobs));
  std::vector<named_text> files{{name + ".fit.txt", fit_file(p, r)}};
  if (std::string error = part_curves(p, r.best, name, "fitted to", files); !error.empty()) return error;
  std::vector<std::pair<std::string, const std::string*>> texts;
  for (const named_text& f : files) texts.push_back({f.first, &f.second});
  return write_group(texts, [&] { return finish_pictures(drawing); });
}

// Writes NAME.fit.txt, NAME.curve.txt and NAME.png, replaced together; a
// picture that cannot be drawn is a warning, the numbers stand.
std::string write_results(const std::string& name, const problem& p, const fit_result& r) {
  if (!p.parts.empty()) return write_part_results(name, p, r);
  trajectory c;
  if (std::string error = concentrations(p, r.best, c); !error.empty()) return error;
  pictures_under_way drawing =
      start_pictures({{name + ".png", plot_script(p, r.best, c, p.m.file + " fitted to " + p.m.data), ""}});
  const std::string fit_text = fit_file(p, r);
  const std::string curve_text =
      curve_file(p, r.best, c, "ratefit: " + visible(p.m.file) + " fitted to " + visible(p.m.data));
  return write_group({{name + ".fit.txt", &fit_text}, {name + ".curve.txt", &curve_text}},
                     [&] { return finish_pictures(drawing); });
}

// An experiment of a series fit as its pictures see it (the whole fit when
// it has one series): its problem, title, result name and first row.
struct series_part {
  const problem* p;
  std::string title, name;
  std::size_t first;
};

std::vector<series_part> series_parts(const std::string& name, const loaded& l) {
  const problem& p = l.p;
  if (p.parts.empty()) return {{&p, "ratefit: " + visible(p.m.file) + " fitted to " + visible(data_name(p)), name, 0}};
  std::vector<series_part> out;
  std::size_t first = 0;
  for (std::size_t e = 0; e < p.parts.size(); ++e) {
    out.push_back({&p.parts[e],
                   "ratefit: " + visible(p.m.file) + " fitted to " + visible(p.parts[e].m.series.file.path),
                   part_name(p, e, name), first});
    first += p.parts[e].data.t.size();
  }
  return out;
}

// The pictures of a series fit being drawn: the residual maps, started
// before the series is read again, and then the overviews, side by side,
// each by half the gnuplots the pictures of a result may have.
struct series_drawing {
  pictures_under_way maps, overviews;
};

std::size_t half_lanes() { return std::max(1u, task_threads() / 2); }

series_drawing start_maps(const std::vector<series_part>& parts, const loaded& l, const spectral_outcome& o) {
  std::vector<picture_job> jobs;
  for (const series_part& e : parts) jobs.push_back(series_residual_job(*e.p, *l.spectral, o, e.title, e.name, e.first));
  return {start_pictures(std::move(jobs), half_lanes()), {}};
}

void start_overviews(series_drawing& d, const std::vector<series_part>& parts, const loaded& l,
                     const spectral_outcome& o, gnuplots_ready ahead) {
  std::vector<picture_job> jobs;
  for (const series_part& e : parts) jobs.push_back(series_overview_job(*e.p, *l.spectral, o, e.title, e.name, e.first));
  d.overviews = start_pictures(std::move(jobs), half_lanes(), std::move(ahead));
}

// Every picture, each experiment's overview before its map.
std::vector<picture> finish_series_pictures(series_drawing& d) {
  std::vector<picture> overviews = finish_pictures(d.overviews), maps = finish_pictures(d.maps);
  std::vector<picture> out;
  for (std::size_t e = 0; e < overviews.size(); ++e) {
    out.push_back(std::move(overviews[e]));
    out.push_back(std::move(maps[e]));
  }
  return out;
}

// The results of a fit to a series: NAME.fit.txt, NAME.curve.txt (the
// concentrations) and NAME.spectra.txt together, then the pictures being
// drawn.
std::string write_series_results(const std::vector<series_part>& parts, const loaded& l, const fit_result& r,
                                 const std::vector<std::string>& rank, const spectral_outcome& o,
                                 series_drawing& drawing) {
  const std::string& name = parts.front().name;
  const std::string fit_text = fit_file(l.p, r, rank);
  const std::string curve_text = concentration_file(l.p, o.c, parts.front().title);
  const std::string spectra_text = spectra_file(l.p, *l.spectral, o, parts.front().title);
  return write_group({{name + ".fit.txt", &fit_text}, {name + ".curve.txt", &curve_text},
                      {name + ".spectra.txt", &spectra_text}},
                     [&] { return finish_series_pictures(drawing); });
}

// The rows of experiment e's spectra among those of every experiment: the
// concentrations of its rows alone.
trajectory part_rows(const problem& p, const series_part& e, const trajectory& all) {
  const std::size_t species = p.m.species.size(), rows = e.p->data.t.size();
  trajectory out;
  out.c.assign(all.c.begin() + static_cast<long>(e.first * species),
               all.c.begin() + static_cast<long>((e.first + rows) * species));
  return out;
}

// The results of a fit of several experiments to their series: NAME.fit.txt
// and NAME.spectra.txt, and per experiment its curve file (the
// concentrations) and both pictures, replaced together.
std::string write_series_part_results(const std::string& name, const std::vector<series_part>& parts,
                                      const loaded& l, const fit_result& r, const std::vector<std::string>& rank,
                                      const spectral_outcome& o, series_drawing& drawing) {
  const problem& p = l.p;
  const std::string heading = "ratefit: " + visible(p.m.file) + " fitted to " + visible(data_files(p));
  std::vector<named_text> files{{name + ".fit.txt", fit_file(p, r, rank)},
                                {name + ".spectra.txt", spectra_file(p, *l.spectral, o, heading)}};
  for (const series_part& e : parts) {
    files.push_back({e.name + ".curve.txt", concentration_file(*e.p, part_rows(p, e, o.c), e.title)});
  }
  std::vector<std::pair<std::string, const std::string*>> texts;
  for (const named_text& f : files) texts.push_back({f.first, &f.second});
  return write_group(texts, [&] { return finish_series_pictures(drawing); });
}

// The report of a series fit, its rank lines and the results. The residual
// maps need no spectra, so gnuplot draws them while the series is read
// again, and the gnuplots of the overviews start meanwhile.
std::string report_and_write_series(const std::string& path, const loaded& l, const fit_result& r) {
  spectral_outcome o;
  if (std::string error = spectral_linear_of(l.p, *l.spectral, r, o); !error.empty()) return path + ": " + error;
  const std::vector<series_part> parts = series_parts(model_name(path), l);
  series_drawing drawing = start_maps(parts, l, o);
  gnuplots_ready ahead = ready_gnuplots(std::min(half_lanes(), parts.size()));
  if (std::string error = read_spectra(l.p, *l.spectral, o); !error.empty()) return path + ": " + error;
  std::vector<std::string> rank{""};
  for (std::string& line : rank_lines(*l.spectral, o)) rank.push_back(std::move(line));
  for (const std::string& line : rank) std::cout << line << "\n";
  std::cout << std::endl;
  start_overviews(drawing, parts, l, o, std::move(ahead));  // drawn while the result texts are made
  if (!l.p.parts.empty()) return write_series_part_results(model_name(path), parts, l, r, rank, o, drawing);
  return write_series_results(parts, l, r, rank, o, drawing);
}

// The report of a fit, the rank lines of a series after it, and the results.
std::string report_and_write(const std::string& path, const loaded& l, const fit_result& r) {
  for (const std::string& line : report_lines(l.p, r)) std::cout << line << "\n";
  if (l.spectral) return report_and_write_series(path, l, r);
  std::cout << std::endl;
  return write_results(model_name(path), l.p, r);
}

// The most derivatives of residuals a fit holds (256 MiB).
constexpr double max_jacobian_entries = 33554432;

// Why the model of p would need more memory than ratefit allows, or "".
std::string too_large(const problem& p) {
  const std::size_t n = residual_count(p), fitted = p.fitted.size();
  if (static_cast<double>(n) * static_cast<double>(fitted) > max_jacobian_entries) {
    return "its " + std::to_string(n) + " residuals times " + std::to_string(fitted) +
           " fitted values are more than the 33554432 derivatives ratefit holds";
  }
  return size_limit(p.m.species.size(), fitted, p.data.t.size());
}

// A mechanism file as read, or why it could not be.
struct read_model {
  mechanism m;
  std::string error;
};

// The files a model reads: the mechanism file, its data and its sigma file,
// or its series with its times and known spectra.
void add_files(const std::string& path, const read_model& model, std::vector<std::string>& inputs) {
  inputs.push_back(path);
  if (!model.error.empty()) return;
  for (const block& b : model.m.blocks) {
    if (!b.data.empty()) inputs.push_back(b.data);
    if (!b.sigma.empty()) inputs.push_back(b.sigma);
    if (b.series.line != 0) inputs.push_back(b.series.file.path);
    if (b.series.times.line != 0) inputs.push_back(b.series.times.path);
  }
  if (model.m.series.line != 0) {
    inputs.push_back(model.m.series.file.path);
    if (model.m.series.times.line != 0) inputs.push_back(model.m.series.times.path);
    for (const known_spectrum& k : model.m.series.known) inputs.push_back(k.file.path);
    return;
  }
  inputs.push_back(model.m.data);
  if (!model.m.sigma.empty()) inputs.push_back(model.m.sigma);
}

// Every file a fit of the model at path may write: its own, and those of
// each of its experiments.
void add_results(const std::string& path, const read_model& model, std::vector<std::string>& results) {
  std::vector<std::string> names{model_name(path)};
  for (const block& b : model.m.blocks) {
    if (!b.group) names.push_back(model_name(path) + "." + b.name);
  }
  for (const std::string& name : names) {
    for (const char* suffix : {".fit.txt", ".curve.txt", ".png", ".residuals.png", ".spectra.txt", ".arrhenius.png"}) {
      results.push_back(name + suffix);
    }
  }
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

// Every model's row and the data it was fitted to (see data_key).
using ranked = std::vector<std::pair<model_row, std::string>>;

// Fits one model, read already, and writes its results; adds its row to
// the comparison.
bool fit_one(const std::string& path, read_model model, const fit_settings& settings, ranked& rows) {
  if (!model.error.empty()) return cli::fail("ratefit", model.error) == 0;
  loaded l = load_read(std::move(model.m));
  if (!l.error.empty()) return cli::fail("ratefit", l.error) == 0;
  const std::size_t n = l.p.model.points > 0 ? l.p.model.points : residual_count(l.p) - missing_points(l.p);
  const std::size_t fitted = l.p.fitted.size() + l.p.model.eliminated;
  if (n <= fitted) {
    return cli::fail("ratefit", path + ": " + std::to_string(n) + " measured points cannot determine " +
                                    std::to_string(fitted) + " fitted values") == 0;
  }
  if (std::string error = too_large(l.p); !error.empty()) {
    return cli::fail("ratefit", path + ": the model is too large: " + error + "; no result was written") == 0;
  }
  std::cout << "\n ratefit: " << path << " fitted to " << fitted_to(l.p) << "\n" << std::endl;
  const fit_result r = fit(l.p, settings);
  if (!r.failure.empty()) {
    return cli::fail("ratefit", path + ": " + failure_text(l.p, r, settings) + "; no result was written") == 0;
  }
  if (std::string error = report_and_write(path, l, r); !error.empty()) return cli::fail("ratefit", error) == 0;
  rows.push_back({{model_name(path), r.aic, r.bic, r.rms, static_cast<int>(fitted)}, data_key(l.p)});
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
  if (std::string error = read_mechanism(path, m); !error.empty()) return {{}, error, {}};
  return load_read(std::move(m));
}

loaded load_read(mechanism m) {
  if (m.series.line != 0) return load_series_problem(std::move(m));
  return load_measurements(std::move(m));
}

loaded load_series_problem(mechanism m) {
  if (m.sigma_line != 0) {
    return {{}, m.file + ":" + std::to_string(m.sigma_line) + ": a fit to a series takes no sigma file", {}};
  }
  auto s = std::make_shared<spectral_data>();
  if (!m.blocks.empty()) {
    std::vector<measured> data;
    if (std::string error = load_experiment_series(m, *s, data); !error.empty()) return {{}, error, {}};
    const std::size_t parts = data.size();
    problem p = make_experiments(std::move(m), std::move(data), std::vector<vector_d>(parts));
    p.model = shared_spectral_model(s->series, s->setup);
    p.data.t = s->series->t;
    return {std::move(p), {}, std::move(s)};
  }
  if (std::string error = load_series(m, *s); !error.empty()) return {{}, error, {}};
  problem p = spectral_problem(std::move(m), *s);
  return {std::move(p), {}, std::move(s)};
}

loaded load_measurements(mechanism m) {
  if (needs_parts(m)) {
    loaded l;
    l.error = load_experiments(std::move(m), l.p);
    return l;
  }
  measured d;
  if (std::string error = read_data(m, d); !error.empty()) return {{}, error, {}};
  std::vector<std::vector<double>> sigma;
  if (!m.sigma.empty()) {
    if (std::string error = read_sigma(m, d, sigma); !error.empty()) return {{}, error, {}};
  }
  loaded l{make_problem(std::move(m), std::move(d)), {}, {}};
  if (!sigma.empty()) weigh(l.p, sigma);
  return l;
}

int fit_models(const std::vector<std::string>& paths, const fit_settings& settings) {
  if (!unique_names(paths)) return 1;
  std::vector<read_model> models;
  std::vector<std::string> inputs, results;
  for (const std::string& path : paths) {
    read_model& model = models.emplace_back();
    model.error = read_mechanism(path, model.m);
    add_files(path, model, inputs);
    add_results(path, model, results);
  }
  if (paths.size() > 1) results.push_back("models.txt");
  if (std::string error = result_is_input(results, inputs); !error.empty()) return cli::fail("ratefit", error);
  ranked rows;
  bool all = true;
  for (std::size_t i = 0; i < paths.size(); ++i) all = fit_one(paths[i], std::move(models[i]), settings, rows) && all;
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
  std::vector<file_bytes> bytes;
  for (const named_text& f : files) bytes.push_back({f.first, f.second});
  if (std::string error = replace_files(bytes); !error.empty()) return cli::fail("ratefit", error);
  std::cout << "\n ratefit: " << path << " simulated at the times of " << data_files(p) << "\n";
  for (const named_text& f : files) std::cout << " Saving \"" << f.first << "\"\n";
  std::cout << std::endl;
  return 0;
}

}  // namespace

int simulate_model(const std::string& path) {
  read_model model;
  model.error = read_mechanism(path, model.m);
  std::vector<std::string> inputs;
  add_files(path, model, inputs);
  std::vector<std::string> results;
  add_results(path, model, results);
  if (std::string error = result_is_input(results, inputs); !error.empty()) {
    return cli::fail("ratefit", error);
  }
  if (!model.error.empty()) return cli::fail("ratefit", model.error);
  loaded l = load_read(std::move(model.m));
  if (!l.error.empty()) return cli::fail("ratefit", l.error);
  if (!l.p.parts.empty()) return simulate_parts(path, l.p);
  trajectory c;
  if (std::string error = concentrations(l.p, l.p.base, c); !error.empty()) {
    return cli::fail("ratefit", path + ": " + error);
  }
  const std::string name = model_name(path) + ".curve.txt";
  const std::string heading = "ratefit: " + visible(path) + " simulated at the times of " + visible(data_name(l.p));
  const std::string text = l.spectral ? concentration_file(l.p, c, heading) : curve_file(l.p, l.p.base, c, heading);
  if (std::string error = replace_file(name, text); !error.empty()) return cli::fail("ratefit", error);
  std::cout << "\n ratefit: " << path << " simulated at the times of " << data_name(l.p) << "\n Saving \"" << name
            << "\"\n" << std::endl;
  return 0;
}

}  // namespace kinetics
