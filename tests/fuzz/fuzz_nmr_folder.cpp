// Any procs, acqus and processed spectrum (split at "====" lines) through
// the NMR folder reader: no crash, and a spectrum of SI points or an error.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "instrument/nmr_folder.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::enter_scratch_dir();
  const auto parts = fuzz_support::split(data, size, 3);
  std::filesystem::create_directories("series/1/pdata/1");
  fuzz_support::write_file("series/1/acqus", parts[0]);
  fuzz_support::write_file("series/1/pdata/1/procs", parts[1]);
  fuzz_support::write_file("series/1/pdata/1/1r", parts[2]);
  std::size_t spectra = 0;
  const std::string e = instrument::read_nmr_folder("series", [&](const instrument::spectrum& s) {
    if (s.x.size() != s.y.size() || s.x.empty()) std::abort();
    ++spectra;
    return std::string();
  });
  if (e.empty() != (spectra == 1)) std::abort();
  return 0;
}
