#include "integrator/corrected_series.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/atomic_file.h"
#include "common/numparse.h"
#include "integrator/baseline.h"
#include "integrator/noise.h"
#include "integrator/series_reader.h"

namespace {

std::string number(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

// The sums of the spectrum being read.
struct spectrum_state {
  std::vector<window_state> windows;
  recent_samples recent;
  line_fit noise;
  std::size_t seen = 0;
};

void start_spectrum(spectrum_state& s) {
  std::fill(s.windows.begin(), s.windows.end(), window_state{});
  clear(s.recent);
  s.noise = line_fit{};
  s.seen = 0;
}

void add_sample(spectrum_state& s, const std::vector<peak>& windows, const bandsum_options& o, double x, double y) {
  const bool baseline = o.baseline != 0;
  for (std::size_t k = 0; k < windows.size(); ++k) {
    window_step(s.windows[k], windows[k].lo, windows[k].hi, baseline, s.recent, s.seen, x, y);
  }
  if (baseline) remember(s.recent, x, y);
  if (o.noise && x > o.noise_lo && x < o.noise_hi) fit_add(s.noise, x, y);
  ++s.seen;
}

// Closes the spectrum: appends its sums (and sigmas) or returns a message.
std::string close_spectrum(spectrum_state& s, const std::vector<peak>& windows, const bandsum_options& o,
                           grid& sums, grid& sigmas) {
  double noise = 0.0;
  if (o.noise) {
    if (std::string e = fit_noise(s.noise, noise); !e.empty()) {
      return e + " (" + number(o.noise_lo) + " < x < " + number(o.noise_hi) + ")";
    }
  }
  for (std::size_t k = 0; k < windows.size(); ++k) {
    window_state& w = s.windows[k];
    corrected_sum c{w.sy, static_cast<double>(w.inside)};
    if (o.baseline != 0) {
      anchor_finish(w.below, s.recent, s.seen, windows[k].lo);
      anchor_finish(w.above, s.recent, s.seen, windows[k].lo);
      if (std::string e = anchor_problem(w, k, o.baseline); !e.empty()) return e;
      c = baseline_corrected(w);
    }
    sums[k].push_back(c.value);
    if (o.noise) sigmas[k].push_back(noise * std::sqrt(c.weights2));
  }
  return {};
}

}  // namespace

std::string seriesInCorrected(const char* path, const std::vector<peak>& windows, const bandsum_options& options,
                              grid& sums, grid& sigmas, int& nBlocks) {
  sums.assign(windows.size(), {});
  sigmas.assign(options.noise ? windows.size() : 0, {});
  spectrum_state s;
  s.windows.resize(windows.size());
  s.recent.n = std::max<std::size_t>(options.baseline, 1);
  const auto read = [&](std::string_view line) {
    const char* p = line.data();
    const char* const end = p + line.size();
    double x = 0.0;
    double y = 0.0;
    if (!numparse::scan_double(p, end, x) || !numparse::scan_double(p, end, y)) return false;
    add_sample(s, windows, options, x, y);
    return true;
  };
  const auto close = [&](const series_position& at) {
    if (std::string e = too_many_integrals(at, windows.size()); !e.empty()) return e;
    if (std::string e = close_spectrum(s, windows, options, sums, sigmas); !e.empty()) {
      return where(at) + "spectrum " + std::to_string(at.blocks) + " (closed here) " + e;
    }
    start_spectrum(s);
    return std::string();
  };
  return read_series(path, nBlocks, read, close);
}

std::string dat_bytes(const grid& sums, int nPeaks, int nBlocks, const table& scale, bool absolute,
                      const std::vector<double>* times) {
  std::string out;
  for (int j = 0; j < nBlocks; ++j) append_dat_line(out, sums, nPeaks, j, scale, absolute, times);
  return out;
}

std::string write_results(const grid& sums, const grid* sigmas, int nPeaks, int nBlocks, const table& scale,
                          const std::vector<double>* times) {
  const std::string dat = dat_bytes(sums, nPeaks, nBlocks, scale, false, times);
  std::vector<file_bytes> files{{"dat.txt", dat}};
  std::string sigma;
  if (sigmas != nullptr) {
    sigma = dat_bytes(*sigmas, nPeaks, nBlocks, scale, true, times);
    files.push_back({"sigma.txt", sigma});
  }
  if (std::string error = replace_files(files); !error.empty()) return "bandsum: " + error;
  return {};
}
