// Any text through the mechanism reader: no crash, and a text that reads is
// written back, read again to the same record, and written again to the same
// bytes. The text as a data file name, written on a data line as ratefit
// writes it (quoted when it would not read back as it stands), reads back
// to the same name.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/escape.h"
#include "model/mechanism.h"
#include "tests/model/mechanism_summary.h"

namespace {

void data_name_reads_back(std::string_view name) {
  if (name.find('\0') != std::string_view::npos || (!name.empty() && name.front() == '/')) return;
  const std::string line = "data " + (needs_quotes(name) ? quote_name(name) : std::string(name));
  mechanism m;
  if (!parse_mechanism("m.txt", "A -> B  k = 1\ncolumn 1 = A\n" + line + "\n", m).empty()) {
    if (!name.empty()) std::abort();  // only an empty name has no data line
    return;
  }
  if (m.data != name) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  data_name_reads_back(text);
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
