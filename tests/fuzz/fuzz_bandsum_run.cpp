// Whole bandsum runs in process on a generated peak list, series and scale
// table: no crash; a failed run leaves the previous "dat.txt" as it was, a
// successful one writes lines that end in a blank.
#include <cstdint>
#include <cstdlib>

#include "integrator/kinet_integ.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::enter_scratch_dir();
  const auto parts = fuzz_support::split(data, size, 3);
  fuzz_support::write_file("peak.list", parts[0]);
  fuzz_support::write_file("2d.txt", parts[1]);
  fuzz_support::write_file("scale.txt", parts[2]);
  fuzz_support::write_file("dat.txt", "previous\n");

  char program[] = "bandsum";
  char list[] = "peak.list";
  char series[] = "2d.txt";
  char* argv[] = {program, list, series, nullptr};
  const int status = run_bandsum(3, argv);

  const std::string dat = fuzz_support::read_file("dat.txt");
  if (status != 0) {
    if (dat != "previous\n") std::abort();
  } else if (dat.size() < 7 || dat.compare(dat.size() - 2, 2, " \n") != 0) {
    std::abort();
  }
  return 0;
}
