// Any file through the table reader and the line counters: no crash, and the
// data-line count always equals the number of rows.
#include <cstdint>
#include <cstdlib>

#include "common/table.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::enter_scratch_dir();
  fuzz_support::write_file("t.txt", {reinterpret_cast<const char*>(data), size});
  const table t = fileIn("t.txt");
  if (genV("t.txt") != static_cast<int>(t.size())) std::abort();
  if (genV2("t.txt") < 0) std::abort();
  return 0;
}
