#include "simulator/Diz.h"

#include "common/cli.h"
#include "common/file_identity.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iostream>
#include <string>

#include "common/atomic_file.h"

std::ofstream file3;

namespace {

// Appends v with six decimals, right-aligned in width characters, exactly as
// "%*.6f" prints it, without going through the stream's locale machinery
// (a long run writes a million lines).
char* put_fixed6(char* p, char* end, double v, std::size_t width) {
  const auto result = std::to_chars(p, end, v, std::chars_format::fixed, 6);
  const std::size_t length = static_cast<std::size_t>(result.ptr - p);
  if (length >= width) return result.ptr;
  std::memmove(p + (width - length), p, length);
  std::memset(p, ' ', width - length);
  return p + width;
}

}  // namespace

void write_fit(const state& x, double t) {
  const double f = std::floor(t);
  if (!(std::abs(f - t) < 0.001)) return;
  // Room for three doubles of up to 309 digits, six decimals and a sign.
  char line[3 * 320 + 4];
  char* const end = line + sizeof line;
  char* p = put_fixed6(line, end, t, 8);
  *p++ = ' ';
  p = put_fixed6(p, end, x[0], 0);
  *p++ = ' ';
  p = put_fixed6(p, end, x[1], 0);
  *p++ = '\n';
  file3.write(line, p - line);
  file3.flush();
}

double dist(double a, double b) { return (b - a) * (b - a); }

dlib::matrix<double, 0, 1> vec2matrix(const table& t) {
  long count = 0;
  for (const auto& row : t) count += static_cast<long>(row.size());
  dlib::matrix<double, 0, 1> m(count);
  long at = 0;
  for (const auto& row : t) {
    for (double v : row) m(at++) = v;
  }
  return m;
}

namespace {

const char* const help_text =
    "USAGE: ratesim\n"
    "\n"
    "Simulates the first-order reaction A -> B with the classic fourth-order\n"
    "Runge-Kutta method at a fixed step of 0.01 time units. Reads \"guess.txt\" from\n"
    "the working directory (row 0: k; row 1: A0 B0; row 2: begin_time end_time;\n"
    "lines beginning with \"#\" are comments) and writes \"sim.txt\": one line\n"
    "\"t A B\" for every observed time less than 0.001 above a whole number.\n";

int fail(const std::string& message) { return cli::fail("ratesim", message); }

}  // namespace

int run_ratesim(int argc, char** argv) {
  if (const cli::info what = cli::info_option(argc, argv, false); what != cli::info::none) {
    return cli::print_info(what, "ratesim", help_text);
  }

  const table guess = fileIn("guess.txt");
  std::cout << std::endl
            << " Reading \"guess.txt\" file for: " << std::endl
            << " initial rate constants " << std::endl
            << " initial states " << std::endl
            << " begin_time end_time " << std::endl
            << std::endl;
  print_dat(guess);

  if (guess.size() < 3 || guess[0].empty() || guess[1].size() < 2 || guess[2].size() < 2) {
    return fail("\"guess.txt\" must hold three rows of numbers: the rate constant k; "
                "A0 B0 (the initial concentrations); begin_time end_time");
  }
  const double k = guess[0][0];
  const double t0 = guess[2][0];
  const double t_end = guess[2][1];
  if (too_many_steps(t0, t_end)) {
    return fail("the span from begin_time to end_time in \"guess.txt\" needs 2147483647 or more steps of 0.01, "
                "more than ratesim can count");
  }

  // The lines go to a new file, which replaces "sim.txt" only once the run
  // has written all of them; leaving this function any other way removes it.
  if (std::string error = result_is_input({"sim.txt"}, {"guess.txt"}); !error.empty()) return fail(error);
  new_file sim;
  if (std::string error = new_file_open("sim.txt", sim); !error.empty()) return fail(error);
  errno = 0;
  file3.open(sim.path, std::ios::out | std::ios::trunc);
  if (!file3.is_open()) return fail(std::string("cannot create \"sim.txt\": ") + std::strerror(errno));

  state x = {{guess[1][0], guess[1][1]}};
  // Called through a lambda, the observer's sampling test is inlined into
  // the step loop. Once the lines can no longer change, the steps stop.
  integrate(k, x, t0, t_end, [](const state& now, double t) { write_fit(now, t); },
            [k](const state& now) { return lines_settled(k, now); });

  file3.close();
  if (file3.fail()) return fail(std::string("cannot write \"sim.txt\": ") + std::strerror(errno));
  if (std::string error = new_file_commit(sim); !error.empty()) return fail(error);

  std::cout << std::endl << " Saving \"sim.txt\" file for simulation curves. " << std::endl << std::endl;
  return 0;
}
