// Whole ratesim runs in process on a generated "guess.txt": no crash; a
// failed run leaves the previous "sim.txt" as it was. Runs that would take
// long are passed over: spans over 1000 time units (100,000 steps) and times
// beyond a million, where steps of 0.01 move the time only after many.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "simulator/Diz.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::enter_scratch_dir();
  fuzz_support::write_file("guess.txt", {reinterpret_cast<const char*>(data), size});
  const table guess = fileIn("guess.txt");
  if (guess.size() >= 3 && guess[2].size() >= 2) {
    const double t0 = guess[2][0], t_end = guess[2][1];
    const bool short_run = std::abs(t0) <= 1e6 && std::abs(t_end) <= 1e6 && t_end - t0 <= 1000;
    if (!short_run && !too_many_steps(t0, t_end)) return 0;
  }
  fuzz_support::write_file("sim.txt", "previous\n");

  char program[] = "ratesim";
  char* argv[] = {program, nullptr};
  const int status = run_ratesim(1, argv);
  if (status != 0 && fuzz_support::read_file("sim.txt") != "previous\n") std::abort();
  return 0;
}
