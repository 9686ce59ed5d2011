// Any file through the delimited table reader in every layout: no crash,
// every spectrum with as many x as intensities, and an error or spectra.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "instrument/delimited.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::enter_scratch_dir();
  fuzz_support::write_file("t.csv", std::string_view(reinterpret_cast<const char*>(data), size));
  using instrument::layout;
  for (const layout shape : {layout::automatic, layout::spectra_in_rows, layout::spectra_in_columns, layout::long_table,
                             layout::single}) {
    std::size_t spectra = 0;
    const std::string e = instrument::read_delimited("t.csv", {0, instrument::decimal_mark::automatic, shape},
                                                     [&](const instrument::spectrum& s) {
                                                       if (s.x.size() != s.y.size()) std::abort();
                                                       ++spectra;
                                                       return std::string();
                                                     });
    if (e.empty() && spectra == 0) std::abort();
  }
  return 0;
}
