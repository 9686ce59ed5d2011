// Writes a spectral series for the whole-matrix benchmark into a folder:
// "series.txt" in the block format (SPECTRA spectra of CHANNELS channels, x
// from 0 to 1), three strongly overlapping Gaussian species following
// A -> B -> C (k1 = 2, k2 = 0.2, times 0 to 10 in even steps) with noise of
// 0.002, and the mechanism "abc.txt" with starts five times off.
// With EXPERIMENTS 2: two experiments of A -> B -> C -> D (k1 = 2, k2 = 0.5,
// k3 = 0.1; four overlapping species), "series1.txt" from A0 = 1 and
// "series2.txt" from A0 = 0.4, B0 = 0.3 and C0 = 0.3, SPECTRA spectra each, and the
// mechanism "abcd.txt", starts five times off.
//
// Usage: gen_spectral DIR [SPECTRA [CHANNELS [EXPERIMENTS]]]   (default 200 65536 1)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace {

double band(double x, double at, double width) { return std::exp(-0.5 * std::pow((x - at) / width, 2)); }

}  // namespace

// The concentrations of A -> B -> C -> D at time t from a0, b0 and c0.
void chain(double t, double a0, double b0, double c0, double out[4]) {
  const double k1 = 2, k2 = 0.5, k3 = 0.1;
  const double e1 = std::exp(-k1 * t), e2 = std::exp(-k2 * t), e3 = std::exp(-k3 * t);
  out[0] = a0 * e1;
  out[1] = b0 * e2 + a0 * k1 / (k2 - k1) * (e1 - e2);
  out[2] = c0 * e3 + b0 * k2 / (k3 - k2) * (e2 - e3) +
           a0 * k1 * k2 * (e1 / ((k2 - k1) * (k3 - k1)) + e2 / ((k1 - k2) * (k3 - k2)) + e3 / ((k1 - k3) * (k2 - k3)));
  out[3] = a0 + b0 + c0 - out[0] - out[1] - out[2];
}

// Two experiments of A -> B -> C -> D.
int two_experiments(const std::string& dir, long spectra, long channels) {
  std::mt19937_64 rng(19);
  std::normal_distribution<double> noise(0.0, 0.002);
  const double step = 10.0 / static_cast<double>(spectra - 1);
  const double start[2][3] = {{1, 0, 0}, {0.4, 0.3, 0.3}};
  for (int e = 0; e < 2; ++e) {
    std::FILE* out = std::fopen((dir + "/series" + std::to_string(e + 1) + ".txt").c_str(), "w");
    if (out == nullptr) return 1;
    for (long i = 0; i < spectra; ++i) {
      double c[4];
      chain(step * static_cast<double>(i), start[e][0], start[e][1], start[e][2], c);
      for (long j = 0; j < channels; ++j) {
        const double x = static_cast<double>(j) / static_cast<double>(channels - 1);
        const double v = c[0] * band(x, 0.35, 0.12) + c[1] * band(x, 0.45, 0.12) + c[2] * band(x, 0.55, 0.12) +
                         c[3] * band(x, 0.65, 0.12);
        std::fprintf(out, "%.6f %.6f\n", x, v + noise(rng));
      }
      std::fputs("&\n", out);
    }
    if (std::fclose(out) != 0) return 1;
  }
  std::FILE* m = std::fopen((dir + "/abcd.txt").c_str(), "w");
  if (m == nullptr) return 1;
  std::fprintf(m, "A -> B  k1 = 10\nB -> C  k2 = 2.5\nC -> D  k3 = 0.5\nseries times 0 %.17g\n"
               "experiment one\nseries series1.txt\nA = 1 fixed\n"
               "experiment two\nseries series2.txt\nA = 0.4 fixed\nB = 0.3 fixed\nC = 0.3 fixed\n", step);
  return std::fclose(m) == 0 ? 0 : 1;
}

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
  if (argc > 4 && std::atol(argv[4]) == 2) return two_experiments(dir, spectra, channels);
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
