#include "integrator/bandsum_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

bool whole_number(const char* text, std::size_t& value) {
  if (*text == '\0' || std::strlen(text) > 7) return false;
  value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + static_cast<std::size_t>(*p - '0');
  }
  return true;
}

bool finite_number(const char* text, double& value) {
  char* stop = nullptr;
  errno = 0;
  value = std::strtod(text, &stop);
  return stop != text && *stop == '\0' && std::isfinite(value);
}

std::string quote(const char* text) { return std::string("\"") + text + "\""; }

// Reads the option at argv[i] and its values; advances i past them.
std::string one_option(int argc, char** argv, int& i, bandsum_options& options) {
  const std::string name = argv[i];
  if (name == "--baseline") {
    if (options.baseline != 0) return "bandsum: --baseline is given twice";
    std::size_t n = 0;
    if (i + 1 >= argc || !whole_number(argv[i + 1], n) || n < 1 || n > most_anchor_samples) {
      return "bandsum: --baseline takes the number of anchor samples on each side of a window, a whole number from 1 "
             "to " + std::to_string(most_anchor_samples) + (i + 1 < argc ? ", not " + quote(argv[i + 1]) : "");
    }
    options.baseline = n;
    i += 2;
    return {};
  }
  if (name == "--noise") {
    if (options.noise) return "bandsum: --noise is given twice";
    double lo = 0.0;
    double hi = 0.0;
    if (i + 2 >= argc || !finite_number(argv[i + 1], lo) || !finite_number(argv[i + 2], hi) || !(lo < hi)) {
      return "bandsum: --noise takes two numbers LO HI with LO < HI, the x range of each spectrum that holds no band" +
             (i + 2 < argc ? std::string(", not ") + quote(argv[i + 1]) + " " + quote(argv[i + 2]) : std::string());
    }
    options.noise = true;
    options.noise_lo = lo;
    options.noise_hi = hi;
    i += 3;
    return {};
  }
  if (name == "--times") {
    if (!options.times.empty()) return "bandsum: --times is given twice";
    if (i + 1 >= argc || argv[i + 1][0] == '\0') {
      return "bandsum: --times takes the file that holds the time of every spectrum, one a line";
    }
    options.times = argv[i + 1];
    i += 2;
    return {};
  }
  return "bandsum: unknown option " + quote(argv[i]) +
         "; the options are --baseline N and --noise LO HI, before the peak list and the series (write a path "
         "beginning with \"--\" as \"./--...\")";
}

}  // namespace

std::string options_in(int argc, char** argv, bandsum_options& options, int& first_path) {
  options = bandsum_options{};
  int i = 1;
  while (i < argc && std::strncmp(argv[i], "--", 2) == 0) {
    if (std::string error = one_option(argc, argv, i, options); !error.empty()) return error;
  }
  first_path = i;
  if (argc - i < 2) return "bandsum: the options must be followed by two paths, the peak list and the series";
  // Further arguments are ignored, but an option there would be ignored
  // without the user noticing.
  for (int j = i + 2; j < argc; ++j) {
    if (std::strcmp(argv[j], "--baseline") == 0 || std::strcmp(argv[j], "--noise") == 0 ||
        std::strcmp(argv[j], "--times") == 0) {
      return "bandsum: " + quote(argv[j]) + " comes after the peak list and the series; options go before them";
    }
  }
  return {};
}
