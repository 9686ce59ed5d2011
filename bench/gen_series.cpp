// Writes a large bandsum input set into a folder: the series "2d.txt"
// (SPECTRA spectra of SAMPLES samples, x from 0 to 10, noisy bands),
// "peak.list" with PEAKS windows, and "scale.txt".
//
// Usage: gen_series DIR [SPECTRA [SAMPLES [PEAKS]]]   (default 200 65536 16)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: gen_series DIR [SPECTRA [SAMPLES [PEAKS]]]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const long spectra = argc > 2 ? std::atol(argv[2]) : 200;
  const long samples = argc > 3 ? std::atol(argv[3]) : 65536;
  const int peaks = argc > 4 ? std::atoi(argv[4]) : 16;
  if (spectra < 1 || samples < 1 || peaks < 1) {
    std::fprintf(stderr, "gen_series: counts must be positive\n");
    return 2;
  }

  std::FILE* series = std::fopen((dir + "/2d.txt").c_str(), "w");
  if (series == nullptr) {
    std::perror("gen_series: 2d.txt");
    return 1;
  }
  static char buffer[1 << 20];
  std::setvbuf(series, buffer, _IOFBF, sizeof buffer);
  std::mt19937_64 rng(42);
  std::normal_distribution<double> noise(0.0, 0.003);
  const double width = 10.0 / peaks;
  for (long j = 0; j < spectra; ++j) {
    const double decay = std::exp(-0.01 * static_cast<double>(j));
    for (long i = 0; i < samples; ++i) {
      const double x = 10.0 * static_cast<double>(i) / static_cast<double>(samples);
      const double centre = (std::floor(x / width) + 0.5) * width;
      const double band = std::exp(-0.5 * std::pow((x - centre) / (0.1 * width), 2));
      std::fprintf(series, "%.5f %.6f\n", x, band * decay + noise(rng));
    }
    std::fputs("&\n", series);
  }
  if (std::fclose(series) != 0) {
    std::perror("gen_series: 2d.txt");
    return 1;
  }

  std::FILE* list = std::fopen((dir + "/peak.list").c_str(), "w");
  std::FILE* scale = std::fopen((dir + "/scale.txt").c_str(), "w");
  if (list == nullptr || scale == nullptr) {
    std::perror("gen_series");
    return 1;
  }
  for (int k = 0; k < peaks; ++k) {
    std::fprintf(list, "%d P%d: %.4f %.4f\n", k, k, (k + 0.3) * width, (k + 0.7) * width);
    std::fprintf(scale, "%s1", k == 0 ? "" : " ");
  }
  std::fprintf(scale, "\n1 1\n1\n");
  std::fclose(list);
  return std::fclose(scale) == 0 ? 0 : 1;
}
