// ratefit: fits the rate constant and the initial concentrations of the
// first-order reaction A -> B to the curves bandsum wrote to "dat.txt",
// starting from "guess.txt"; writes "fit.txt" and "fitcurve.txt".
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "common/table.h"
#include "fitter/fit.h"
#include "model/rate_model.h"

namespace {

const char* const help_text =
    "USAGE: ratefit\n"
    "\n"
    "Fits k, A0 and B0 of the first-order reaction A -> B to \"dat.txt\" (column 0\n"
    "the time, column 1 the concentration of A, column 2, if every line has it,\n"
    "that of B), starting from \"guess.txt\" (row 0: k; row 1: A0 B0; row 2:\n"
    "begin_time end_time). Writes \"fit.txt\" (whose first three rows serve as a\n"
    "guess.txt for ratesim) and \"fitcurve.txt\" (time, measured A, simulated A,\n"
    "measured B, simulated B).\n";

int fail(const std::string& message) {
  std::cerr << "ratefit: " << message << std::endl;
  return 1;
}

using file_ptr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Writes text to name; returns an error message, or an empty string.
std::string write_text(const char* name, const std::string& text) {
  errno = 0;
  file_ptr file(std::fopen(name, "w"), &std::fclose);
  if (!file) return std::string("cannot create \"") + name + "\": " + std::strerror(errno);
  if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size() || std::fflush(file.get()) == EOF)
    return std::string("cannot write \"") + name + "\": " + std::strerror(errno);
  if (std::fclose(file.release()) == EOF) return std::string("cannot close \"") + name + "\": " + std::strerror(errno);
  return {};
}

std::string format(const char* spec, double v) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, spec, v);
  return buffer;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::cout << help_text << std::flush;
    return 0;
  }
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::cout << "ratefit " KINETICS_VERSION << std::endl;
    return 0;
  }

  const table start = fileIn("guess.txt");
  if (start.size() < 3 || start[0].empty() || start[1].size() < 2 || start[2].size() < 2) {
    return fail("\"guess.txt\" must hold three rows: k; A0 B0; begin_time end_time");
  }
  const table dat = fileIn("dat.txt");
  if (dat.empty()) return fail("\"dat.txt\" holds no lines: run bandsum first");

  curves measured;
  bool with_b = true;
  for (const auto& row : dat) with_b = with_b && row.size() >= 3;
  for (std::size_t i = 0; i < dat.size(); ++i) {
    if (dat[i].size() < 2) {
      return fail("row " + std::to_string(i) + " of \"dat.txt\" must hold a time and the concentration of A");
    }
    measured.t.push_back(dat[i][0]);
    measured.a.push_back(dat[i][1]);
    if (with_b) measured.b.push_back(dat[i][2]);
  }
  const guess initial{start[0][0], start[1][0], start[1][1], start[2][0]};
  const std::size_t fitted = with_b ? 3 : 2;
  if (measured.t.size() + measured.b.size() <= fitted) {
    return fail("\"dat.txt\" holds too few points for " + std::to_string(fitted) + " fitted values");
  }
  double last = initial.t0;
  for (std::size_t i = 0; i < measured.t.size(); ++i) {
    if (!(measured.t[i] >= initial.t0)) {
      return fail("row " + std::to_string(i) + " of \"dat.txt\" lies before begin_time " +
                  format("%.6f", initial.t0) + " of \"guess.txt\"");
    }
    last = std::max(last, measured.t[i]);
  }
  if (!std::isfinite(initial.k) || !std::isfinite(initial.a0) || !std::isfinite(initial.b0) ||
      too_many_steps(initial.t0, last + 2 * step_size)) {
    return fail("the times of \"dat.txt\" span more steps of 0.01 than ratefit can count");
  }

  std::cout << "\n ratefit: first-order A -> B fitted to \"dat.txt\" \n\n"
            << " starting values from \"guess.txt\": k " << format("%.9f", initial.k) << "  A0 "
            << format("%.9f", initial.a0) << "  B0 " << format("%.9f", initial.b0)
            << (with_b ? "" : " (held: dat.txt has no B column)") << "\n\n"
            << " iteration  sum of squares    k" << std::endl;
  const fit_result result = fit_rate(measured, initial, [](int iteration, double ssr, double k) {
    std::cout << format("%10.0f", iteration) << "  " << format("%.9e", ssr) << "  " << format("%.9f", k)
              << std::endl;
  });
  if (!result.failure.empty()) return fail(result.failure + "; no result was written");

  const double half_life = std::log(2.0) / result.k;
  std::string fit =
      "# ratefit: first-order A -> B fitted to dat.txt; rows 0 to 2 serve as guess.txt for ratesim\n"
      "# row 0: k, per time unit\n" +
      format("%.12f", result.k) + "\n# row 1: A0 B0\n" + format("%.12f", result.a0) + " " +
      format("%.12f", result.b0) + "\n# row 2: begin_time end_time, as in guess.txt\n" +
      format("%.12f", start[2][0]) + " " + format("%.12f", start[2][1]) +
      "\n# row 3: standard errors of k, A0, B0 (0 for a value held fixed)\n" + format("%.12f", result.se_k) + " " +
      format("%.12f", result.se_a0) + " " + format("%.12f", result.se_b0) +
      "\n# row 4: root-mean-square residual, number of residuals, iterations\n" + format("%.12f", result.rms) + " " +
      std::to_string(result.points) + " " + std::to_string(result.iterations) +
      "\n# row 5: half-life ln 2 / k\n" + format("%.12f", half_life) + "\n";
  std::string curve;
  for (std::size_t i = 0; i < measured.t.size(); ++i) {
    curve += format("%.6f", measured.t[i]) + " " + format("%.9f", measured.a[i]) + " " +
             format("%.9f", result.simulated.a[i]) + " " + (with_b ? format("%.9f", measured.b[i]) : "nan") + " " +
             format("%.9f", result.simulated.b[i]) + "\n";
  }

  std::cout << "\n result after " << result.iterations << " iterations:\n"
            << "   k   " << format("%.9f", result.k) << " +- " << format("%.9f", result.se_k) << " per time unit\n"
            << "   A0  " << format("%.9f", result.a0) << " +- " << format("%.9f", result.se_a0) << "\n"
            << "   B0  " << format("%.9f", result.b0) << " +- " << format("%.9f", result.se_b0)
            << (with_b ? "" : " (held)") << "\n"
            << "   root-mean-square residual " << format("%.9f", result.rms) << " over " << result.points
            << " residuals\n"
            << "   half-life ln 2 / k " << format("%.9f", half_life) << " time units" << std::endl;

  if (const std::string error = write_text("fit.txt", fit); !error.empty()) return fail(error);
  if (const std::string error = write_text("fitcurve.txt", curve); !error.empty()) return fail(error);
  std::cout << "\n Saving \"fit.txt\" and \"fitcurve.txt\" \n" << std::endl;
  return 0;
}
