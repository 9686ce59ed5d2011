// Writes a wide delimited matrix as an instrument exports one: a header row
// "time,x0,x1,..." and one row "time,y0,y1,..." per spectrum, the same kind
// of noisy bands as gen_series writes, to DIR/matrix.csv.
//
// Usage: gen_matrix DIR [SPECTRA [SAMPLES [PEAKS]]]   (default 375 65536 16: about 225 MB)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: gen_matrix DIR [SPECTRA [SAMPLES [PEAKS]]]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const long spectra = argc > 2 ? std::atol(argv[2]) : 375;
  const long samples = argc > 3 ? std::atol(argv[3]) : 65536;
  const int peaks = argc > 4 ? std::atoi(argv[4]) : 16;
  if (spectra < 1 || samples < 1 || peaks < 1) {
    std::fprintf(stderr, "gen_matrix: counts must be positive\n");
    return 2;
  }
  std::FILE* out = std::fopen((dir + "/matrix.csv").c_str(), "w");
  if (out == nullptr) {
    std::perror("gen_matrix: matrix.csv");
    return 1;
  }
  static char buffer[1 << 20];
  std::setvbuf(out, buffer, _IOFBF, sizeof buffer);
  std::fputs("time", out);
  for (long i = 0; i < samples; ++i) std::fprintf(out, ",%.5f", 10.0 * static_cast<double>(i) / static_cast<double>(samples));
  std::fputc('\n', out);
  std::mt19937_64 rng(42);
  std::normal_distribution<double> noise(0.0, 0.003);
  const double width = 10.0 / peaks;
  for (long j = 0; j < spectra; ++j) {
    const double decay = std::exp(-0.01 * static_cast<double>(j));
    std::fprintf(out, "%ld", j);
    for (long i = 0; i < samples; ++i) {
      const double x = 10.0 * static_cast<double>(i) / static_cast<double>(samples);
      const double centre = (std::floor(x / width) + 0.5) * width;
      const double band = std::exp(-0.5 * std::pow((x - centre) / (0.1 * width), 2));
      std::fprintf(out, ",%.6f", band * decay + noise(rng));
    }
    std::fputc('\n', out);
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
