// The straightforward way to do bandsum's work, for comparison: every line
// read with std::getline, every sample with a std::istringstream, the whole
// series held in memory, then the windows summed by position.
//
// Usage: bandsum_baseline PEAKLIST SERIES   (prints a checksum of the sums)
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bandsum_baseline PEAKLIST SERIES\n");
    return 2;
  }
  struct window {
    double lo, hi;
  };
  std::vector<window> windows;
  std::ifstream list(argv[1]);
  for (std::string line; std::getline(list, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream in(line.substr(line.find(':') + 1));
    float a = 0, b = 0;
    in >> a >> b;
    windows.push_back(a < b ? window{a, b} : window{b, a});
  }

  struct sample {
    double x, y;
  };
  std::vector<sample> series;
  std::size_t blocks = 0;
  std::ifstream in(argv[2]);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '&') {
      ++blocks;
      continue;
    }
    std::istringstream fields(line);
    sample s{0, 0};
    fields >> s.x >> s.y;
    series.push_back(s);
  }
  if (blocks == 0) return 1;

  const std::size_t per_block = series.size() / blocks;
  double checksum = 0;
  for (const window& w : windows) {
    for (std::size_t l = 0; l < blocks; ++l) {
      double sum = 0;
      for (std::size_t t = l * per_block; t < (l + 1) * per_block; ++t) {
        if (series[t].x < w.hi && series[t].x > w.lo) sum = series[t].y + sum;
      }
      checksum += sum;
    }
  }
  std::printf("%.9f\n", checksum);
  return 0;
}
