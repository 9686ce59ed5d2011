#include "fitter/experiments.h"

#include <iostream>

#include "engine/experiments.h"
#include "fitter/data.h"
#include "fitter/plot.h"
#include "fitter/report.h"

namespace kinetics {

std::string load_experiments(mechanism m, problem& out) {
  std::vector<measured> data;
  std::vector<vector_d> weights;
  std::size_t with_sigma = 0;
  for (int e : experiments_of(m)) {
    experiment_link link;
    const mechanism view = experiment_view(m, e, link);
    measured& d = data.emplace_back();
    if (std::string error = read_data(view, d); !error.empty()) return error;
    problem weighed;
    if (!view.sigma.empty()) {
      std::vector<std::vector<double>> sigma;
      if (std::string error = read_sigma(view, d, sigma); !error.empty()) return error;
      weigh(weighed, sigma);
      ++with_sigma;
    }
    weights.push_back(std::move(weighed.weight));
  }
  if (with_sigma != 0 && with_sigma != data.size()) {
    return m.file + ": some experiments have a sigma file and others not; give every experiment one, or none";
  }
  out = make_experiments(std::move(m), std::move(data), std::move(weights));
  return {};
}

std::string part_name(const problem& p, std::size_t e, const std::string& name) {
  const int block = p.parts[e].link.block;
  return block < 0 ? name : name + "." + p.m.blocks[static_cast<std::size_t>(block)].name;
}

namespace {

// What part was fitted to: its data file or its series.
const std::string& data_of(const problem& part) {
  return part.m.series.line != 0 ? part.m.series.file.path : part.m.data;
}

}  // namespace

std::string data_files(const problem& p) {
  std::string text;
  for (const problem& part : p.parts) text += (text.empty() ? "" : ", ") + data_of(part);
  return text;
}

std::string part_curves(const problem& p, const values& v, const std::string& name, const std::string& how,
                        std::vector<named_text>& out) {
  for (std::size_t e = 0; e < p.parts.size(); ++e) {
    const problem& part = p.parts[e];
    const values pv = part_values(p, e, v);
    trajectory c;
    if (std::string error = concentrations(part, pv, c); !error.empty()) return error;
    const std::string heading = "ratefit: " + p.m.file + " " + how + " " + data_of(part);
    out.push_back({part_name(p, e, name) + ".curve.txt", curve_file(part, pv, c, heading)});
  }
  return {};
}

std::vector<picture> part_pictures(const problem& p, const values& v, const std::string& name) {
  return draw_pictures(part_picture_jobs(p, v, name));
}

std::vector<picture_job> part_picture_jobs(const problem& p, const values& v, const std::string& name) {
  std::vector<picture_job> out;
  for (std::size_t e = 0; e < p.parts.size(); ++e) {
    const problem& part = p.parts[e];
    const values pv = part_values(p, e, v);
    trajectory c;
    picture_job& job = out.emplace_back(picture_job{part_name(p, e, name) + ".png", {}, {}});
    job.error = concentrations(part, pv, c);
    if (job.error.empty()) job.script = plot_script(part, pv, c, p.m.file + " fitted to " + part.m.data);
  }
  return out;
}

}  // namespace kinetics
