// Any text through the mechanism reader: no crash, and a text that reads is
// written back, read again to the same record, and written again to the same
// bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "model/mechanism.h"
#include "tests/model/mechanism_summary.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  mechanism first;
  const std::string error = parse_mechanism("dir/m.txt", text, first);
  if (!error.empty()) {
    if (error.rfind("dir/m.txt:", 0) != 0) std::abort();
    return 0;
  }
  const std::string written = write_mechanism(first);
  mechanism second;
  if (!parse_mechanism("dir/m.txt", written, second).empty()) std::abort();
  if (mechanism_summary::of(first, true) != mechanism_summary::of(second, true)) std::abort();
  if (write_mechanism(second) != written) std::abort();
  return 0;
}
