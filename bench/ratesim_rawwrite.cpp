// ratesim without a stream: the loop of ratesim_baseline (written out as
// there, so that the two differ only by the writing), the observer's
// test before every step and after the last, and the same sim.txt lines, each
// handed to the system by one plain write() as soon as it is formatted. It
// shows how close to the bare loop any per-line flush can come on the machine
// at hand; bench/run checks that it writes exactly the bytes of ratesim.
//
// Usage: ratesim_rawwrite K A0 B0 BEGIN END FILE
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "model/rate_model.h"

namespace {

// Room for three doubles of up to 309 digits, six decimals and a sign.
constexpr std::size_t line_max = 3 * 320 + 4;

// The line formatting of ratesim's write_fit (simulator/Diz.cpp), copied
// rather than shared: moving it out of there into a function of its own
// changed how the compiler laid out ratesim's step loop, and cost a quarter
// of a second over 10^8 steps.
char* put_fixed6(char* p, char* end, double v, std::size_t width) {
  const auto result = std::to_chars(p, end, v, std::chars_format::fixed, 6);
  const std::size_t length = static_cast<std::size_t>(result.ptr - p);
  if (length >= width) return result.ptr;
  std::memmove(p + (width - length), p, length);
  std::memset(p, ' ', width - length);
  return p + width;
}

std::size_t format_line(char* line, const state& x, double t) {
  char* const end = line + line_max;
  char* p = put_fixed6(line, end, t, 8);
  *p++ = ' ';
  p = put_fixed6(p, end, x[0], 0);
  *p++ = ' ';
  p = put_fixed6(p, end, x[1], 0);
  *p++ = '\n';
  return static_cast<std::size_t>(p - line);
}

int out = -1;

[[gnu::noinline]] void put_line(const state& x, double t) {
  char line[line_max];
  const std::size_t length = format_line(line, x, t);
  if (write(out, line, length) != static_cast<ssize_t>(length)) {
    std::perror("ratesim_rawwrite: write");
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 7) {
    std::fprintf(stderr, "usage: ratesim_rawwrite K A0 B0 BEGIN END FILE\n");
    return 2;
  }
  const double k = std::atof(argv[1]);
  state x = {{std::atof(argv[2]), std::atof(argv[3])}};
  const double t0 = std::atof(argv[4]);
  const double t_end = std::atof(argv[5]);
  if (too_many_steps(t0, t_end)) {
    std::fprintf(stderr, "ratesim_rawwrite: span too long\n");
    return 2;
  }
  out = open(argv[6], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) {
    std::perror("ratesim_rawwrite: open");
    return 1;
  }
  const auto observe = [](const state& now, double t) {
    if (std::abs(std::floor(t) - t) < 0.001) put_line(now, t);
  };
  const double h = step_size;
  const rate_rhs rhs{k};
  rate_stepper stepper;
  double t = t0;
  int n = 0;
  if (t0 + h <= t_end) {
    do {
      observe(x, t);
      stepper.do_step(rhs, x, t, h);
      ++n;
      t = static_cast<double>(n) * h + t0;
    } while (t + h <= t_end);
  }
  observe(x, t);
  return close(out) == 0 ? 0 : 1;
}
