// Any file through the JCAMP-DX reader, and any line through the ASDF
// decoder: no crash, every spectrum with as many x as y, an error or
// spectra.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "instrument/jcamp.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::enter_scratch_dir();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  fuzz_support::write_file("t.jdx", text);
  std::size_t spectra = 0;
  const std::string e = instrument::read_jcamp("t.jdx", [&](const instrument::spectrum& s) {
    if (s.x.size() != s.y.size()) std::abort();
    ++spectra;
    return std::string();
  });
  if (e.empty() && spectra == 0) std::abort();
  instrument::asdf_line line;
  instrument::decode_asdf(text.substr(0, text.find('\n')), line);
  double seconds = 0;
  instrument::parse_date(text.substr(0, 64), seconds);
  return 0;
}
