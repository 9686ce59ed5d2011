// Any file through the table reader and the line counters: no crash, and the
// data-line count always equals the number of rows. Read in pieces of at
// most 16 bytes, as lines over the limit are, the file gives the same rows
// whenever no word is long enough to be cut (8 bytes).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/lines.h"
#include "common/numparse.h"
#include "common/table.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

table rows_from_small_pieces(const char* path) {
  table t;
  bool reading = false;
  lines::for_each_line(path, [&](std::string_view text, lines::piece where) {
    if (where.first && (reading = lines::classify(text) == lines::kind::data)) t.emplace_back();
    const char* p = text.data();
    const char* const end = p + text.size();
    double value;
    while (reading) {
      while (p != end && numparse::is_space(*p)) ++p;
      if (p == end) break;
      if ((reading = numparse::scan_double(p, end, value))) t.back().push_back(value);
    }
    return true;
  }, 16);
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::enter_scratch_dir();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  fuzz_support::write_file("t.txt", text);
  const table t = fileIn("t.txt");
  if (genV("t.txt") != static_cast<int>(t.size())) std::abort();
  if (genV2("t.txt") < 0) std::abort();
  std::size_t word = 0;
  bool short_words = true;
  for (const char c : text) short_words = short_words && (word = numparse::is_space(c) ? 0 : word + 1) <= 8;
  if (short_words && rows_from_small_pieces("t.txt") != t) std::abort();
  return 0;
}
