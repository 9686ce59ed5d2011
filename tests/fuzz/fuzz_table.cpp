// Any file through the table reader and the line counters: no crash, and the
// data-line count always equals the number of rows. The same file read in
// pieces of at most 16 bytes gives the same rows whenever no word is cut
// (none longer than 8 bytes), and its first pieces the same line classes.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/lines.h"
#include "common/numparse.h"
#include "common/table.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr std::size_t small_limit = 16;

// The rows of the file as fileIn reads them, from pieces of at most limit bytes.
table rows_from_pieces(const char* path, std::size_t limit) {
  table t;
  bool reading = false;
  lines::for_each_line(path, [&](std::string_view text, lines::piece where) {
    if (where.first) {
      reading = lines::classify(text) == lines::kind::data;
      if (reading) t.emplace_back();
    }
    const char* p = text.data();
    const char* const end = p + text.size();
    while (reading) {
      while (p != end && numparse::is_space(*p)) ++p;
      if (p == end) break;
      double value;
      reading = numparse::scan_double(p, end, value);
      if (reading) t.back().push_back(value);
    }
    return true;
  }, limit);
  return t;
}

int data_lines_from_first_pieces(const char* path, std::size_t limit) {
  int count = 0;
  lines::for_each_line(path, [&count](std::string_view line) {
    count += lines::classify(line) == lines::kind::data;
    return true;
  }, limit);
  return count;
}

std::size_t longest_word(std::string_view text) {
  std::size_t longest = 0;
  std::size_t word = 0;
  for (const char c : text) {
    word = numparse::is_space(c) ? 0 : word + 1;
    longest = word > longest ? word : longest;
  }
  return longest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::enter_scratch_dir();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  fuzz_support::write_file("t.txt", text);
  const table t = fileIn("t.txt");
  if (genV("t.txt") != static_cast<int>(t.size())) std::abort();
  if (genV2("t.txt") < 0) std::abort();
  if (data_lines_from_first_pieces("t.txt", small_limit) != static_cast<int>(t.size())) std::abort();
  if (longest_word(text) <= small_limit / 2 && rows_from_pieces("t.txt", small_limit) != t) std::abort();
  return 0;
}
