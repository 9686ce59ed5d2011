// Whole bandsum runs in process on a generated peak list, series and scale
// table: no crash; a failed run leaves the previous "dat.txt" as it was, a
// successful one writes lines that end in a blank. The same inputs run again
// with --baseline and --noise: a failed run leaves "dat.txt" and "sigma.txt"
// as they were, a successful one writes both with the same time column.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "integrator/kinet_integ.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The time column of a result: the first six bytes of every line.
std::string times(const std::string& result) {
  std::string column;
  for (std::size_t at = 0; at < result.size();) {
    const std::size_t end = result.find('\n', at);
    column += result.substr(at, 6) + "\n";
    at = end == std::string::npos ? result.size() : end + 1;
  }
  return column;
}

void check_with_options() {
  fuzz_support::write_file("dat.txt", "previous\n");
  fuzz_support::write_file("sigma.txt", "previous sigma\n");
  char program[] = "bandsum";
  char baseline[] = "--baseline";
  char n[] = "2";
  char noise[] = "--noise";
  char lo[] = "0";
  char hi[] = "5";
  char list[] = "peak.list";
  char series[] = "2d.txt";
  char* argv[] = {program, baseline, n, noise, lo, hi, list, series, nullptr};
  const int status = run_bandsum(8, argv);

  const std::string dat = fuzz_support::read_file("dat.txt");
  const std::string sigma = fuzz_support::read_file("sigma.txt");
  if (status != 0) {
    if (dat != "previous\n" || sigma != "previous sigma\n") std::abort();
  } else if (dat.size() < 7 || dat.compare(dat.size() - 2, 2, " \n") != 0 || times(dat) != times(sigma)) {
    std::abort();
  }
}

}  // namespace

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
  check_with_options();
  return 0;
}
