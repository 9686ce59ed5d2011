// Writes a spectral series for the whole-matrix benchmark into a folder:
// "series.txt" in the block format (SPECTRA spectra of CHANNELS channels, x
// from 0 to 1), three strongly overlapping Gaussian species following
// A -> B -> C (k1 = 2, k2 = 0.2, times 0 to 10 in even steps) with noise of
// 0.002, and the mechanism "abc.txt" with starts five times off.
//
// Usage: gen_spectral DIR [SPECTRA [CHANNELS]]   (default 200 65536)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace {

double band(double x, double at, double width) { return std::exp(-0.5 * std::pow((x - at) / width, 2)); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: gen_spectral DIR [SPECTRA [CHANNELS]]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const long spectra = argc > 2 ? std::atol(argv[2]) : 200;
  const long channels = argc > 3 ? std::atol(argv[3]) : 65536;
  if (spectra < 2 || channels < 2) {
    std::fprintf(stderr, "gen_spectral: counts must be at least 2\n");
    return 2;
  }
  std::FILE* out = std::fopen((dir + "/series.txt").c_str(), "w");
  if (out == nullptr) {
    std::perror("gen_spectral: series.txt");
    return 1;
  }
  static char buffer[1 << 20];
  std::setvbuf(out, buffer, _IOFBF, sizeof buffer);
  std::mt19937_64 rng(19);
  std::normal_distribution<double> noise(0.0, 0.002);
  const double step = 10.0 / static_cast<double>(spectra - 1);
  for (long i = 0; i < spectra; ++i) {
    const double t = step * static_cast<double>(i), a = std::exp(-2 * t);
    const double b = 2 / (0.2 - 2) * (a - std::exp(-0.2 * t)), c = 1 - a - b;
    for (long j = 0; j < channels; ++j) {
      const double x = static_cast<double>(j) / static_cast<double>(channels - 1);
      const double v = a * band(x, 0.4, 0.12) + b * band(x, 0.5, 0.14) + c * band(x, 0.6, 0.12);
      std::fprintf(out, "%.6f %.6f\n", x, v + noise(rng));
    }
    std::fputs("&\n", out);
  }
  if (std::fclose(out) != 0) {
    std::perror("gen_spectral: series.txt");
    return 1;
  }
  std::FILE* m = std::fopen((dir + "/abc.txt").c_str(), "w");
  if (m == nullptr) return 1;
  std::fprintf(m, "A -> B  k1 = 10\nB -> C  k2 = 1\nA = 1 fixed\nseries series.txt\nseries times 0 %.17g\n", step);
  return std::fclose(m) == 0 ? 0 : 1;
}
