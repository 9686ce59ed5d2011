// Any file through the times reader: no crash, and the times it reads are
// written back to text that reads to the same times.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "instrument/times.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::enter_scratch_dir();
  fuzz_support::write_file("t.txt", std::string_view(reinterpret_cast<const char*>(data), size));
  std::vector<double> times;
  if (!instrument::read_times("t.txt", times).empty()) return 0;
  fuzz_support::write_file("back.txt", instrument::times_text(times));
  std::vector<double> back;
  if (!instrument::read_times("back.txt", back).empty() || back != times) std::abort();
  return 0;
}
