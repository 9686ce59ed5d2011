#include "common/lines.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "common/table.h"
#include "tests/support/blackbox.h"

namespace {

using namespace testing_support;

// With a limit of 8 bytes: the lines a reader of whole lines gets, and the
// pieces as "<" (begins a line) text ">" (ends it) or "|" (goes on).
TEST(ForEachLine, LongLinesAreCondensedAndCutIntoPieces) {
  const struct {
    std::string text;
    std::vector<std::string> lines;
    std::string pieces;
  } cases[] = {
      {"ab\n\n  c  d\r\ne", {"ab", "", "  c  d\r", "e"}, "<ab><><  c  d\r><e>"},
      {"1 2 3 4 5 6 7\nz\n", {"1 2 3 4 ", "z"}, "<1 2 3 4 |5 6 7><z>"},
      {"\t \t1  \t  2  3\n", {"\t1 2 3"}, "<\t1 2 3>"},
      {"123456789 -1.25e+3\n", {"1234 "}, "<1234 |-1.2>"},
      {"12 3456 78 9\n", {"12 3456 "}, "<12 3456 |78 9>"},
      {"#  a b c d e\n&   1 2 3 4", {"# a b c ", "& 1 2 3 "}, "<# a b c |d e><& 1 2 3 |4>"},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    write_file(dir / "t.txt", c.text);
    std::vector<std::string> got_lines;
    std::string got_pieces;
    lines::for_each_line((dir / "t.txt").c_str(), [&](std::string_view line) {
      got_lines.emplace_back(line);
      return true;
    }, 8);
    lines::for_each_line((dir / "t.txt").c_str(), [&](std::string_view text, lines::piece where) {
      got_pieces += (where.first ? "<" : "") + std::string(text) + (where.last ? ">" : "|");
      return true;
    }, 8);
    EXPECT_EQ(got_lines, c.lines) << c.text;
    EXPECT_EQ(got_pieces, c.pieces) << c.text;
  }
}

// A 100 MB line read across read chunks without holding it, and the line
// after it.
TEST(ForEachLine, LinesOfAnyLengthInBoundedMemory) {
  scratch_dir dir;
  {
    std::ofstream big(dir / "big.txt");  // written a megabyte at a time, not to raise the peak here
    big << "4 8 ";
    for (int i = 0; i < 100; ++i) big << std::string(1u << 20, 'x');
    big << "\n3\n";
  }
  rusage before {};
  ::getrusage(RUSAGE_SELF, &before);
  EXPECT_EQ(fileIn((dir / "big.txt").c_str()), (table{{4, 8}, {3}}));
  rusage after {};
  ::getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 32 * 1024) << "peak memory grew by the line (KiB)";
}

// Where every line begins, across read chunks and after a line too long to
// hand over whole; and a reading from such a place on.
TEST(ForEachLine, OffsetsAreWhereLinesBeginAndAReadingMayStartThere) {
  scratch_dir dir;
  std::string text;
  for (int i = 0; text.size() < (3u << 20); ++i) text += std::string(static_cast<std::size_t>(i % 97), 'a' + i % 26) + "\n";
  text += std::string(5u << 20, 'w') + "\nafter the long line\nlast, without a line feed";
  write_file(dir / "t.txt", text);
  std::vector<std::uint64_t> at;
  lines::for_each_line((dir / "t.txt").c_str(), [&](std::string_view, std::uint64_t where) {
    at.push_back(where);
    return true;
  });
  ASSERT_GT(at.size(), 2u);
  for (std::size_t i = 0; i < at.size(); ++i) {
    ASSERT_EQ(at[i], i == 0 ? 0 : text.find('\n', at[i - 1]) + 1) << i;
  }
  for (const std::size_t line : {std::size_t{1}, at.size() / 2, at.size() - 2, at.size() - 1}) {
    std::vector<std::string> got;
    lines::for_each_line_from((dir / "t.txt").c_str(), at[line], [&](std::string_view l, std::uint64_t where) {
      got.push_back(std::to_string(where) + ":" + std::string(l.substr(0, 20)));
      return got.size() < 2;
    });
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.front(), std::to_string(at[line]) + ":" + text.substr(at[line], std::min<std::size_t>(20, text.find('\n', at[line]) - at[line]))) << line;
  }
}

}  // namespace
