// A peak list and a series through bandsum's readers: no crash, and on
// success one sum per window and spectrum.
#include <cstdint>
#include <cstdlib>

#include "integrator/kinet_integ.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::enter_scratch_dir();
  const auto parts = fuzz_support::split(data, size, 2);
  fuzz_support::write_file("peak.list", parts[0]);
  fuzz_support::write_file("2d.txt", parts[1]);

  std::vector<peak> windows(static_cast<std::size_t>(genV("peak.list")));
  if (!peaksIn("peak.list", windows).empty()) return 0;
  for (const peak& w : windows) {
    if (!(w.lo <= w.hi)) std::abort();  // ordered, never NaN
  }
  grid sums;
  int nBlocks = -1;
  if (!seriesIn("2d.txt", windows, sums, nBlocks).empty()) return 0;
  if (nBlocks < 1 || sums.size() != windows.size()) std::abort();
  for (const auto& row : sums) {
    if (row.size() != static_cast<std::size_t>(nBlocks)) std::abort();
  }
  return 0;
}
