#include "common/lines.h"

#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "common/table.h"
#include "tests/support/blackbox.h"

namespace {

using namespace testing_support;

// Pieces written as "<" (begins a line) text ">" (ends it) or "|" (goes on).
struct split {
  std::vector<std::string> lines;  // what a reader of whole lines gets
  std::string pieces;              // what a reader of pieces gets
};

split read_both(const std::string& text, std::size_t limit) {
  scratch_dir dir;
  write_file(dir / "t.txt", text);
  split got;
  lines::for_each_line((dir / "t.txt").c_str(), [&](std::string_view line) {
    got.lines.emplace_back(line);
    return true;
  }, limit);
  lines::for_each_line((dir / "t.txt").c_str(), [&](std::string_view text, lines::piece where) {
    got.pieces += (where.first ? "<" : "") + std::string(text) + (where.last ? ">" : "|");
    return true;
  }, limit);
  return got;
}

TEST(ForEachLine, LongLinesAreCondensedAndCutIntoPieces) {
  const struct {
    const char* name;
    std::string text;
    std::vector<std::string> lines;
    std::string pieces;
  } cases[] = {
      {"short lines as they are", "ab\n\n  c  d\r\ne", {"ab", "", "  c  d\r", "e"}, "<ab><><  c  d\r><e>"},
      {"a long line in pieces at white space", "1 2 3 4 5 6 7\nz\n", {"1 2 3 4 ", "z"}, "<1 2 3 4 |5 6 7><z>"},
      {"runs of white space kept as their first", "\t \t1  \t  2  3\n", {"\t1 2 3"}, "<\t1 2 3>"},
      {"words cut to half the limit", "123456789 -1.25e+3\n", {"1234 "}, "<1234 |-1.2>"},
      {"a piece never splits a word", "12 3456 78 9\n", {"12 3456 "}, "<12 3456 |78 9>"},
      {"the first character stays", "#  a b c d e\n&   1 2 3 4\n", {"# a b c ", "& 1 2 3 "},
       "<# a b c |d e><& 1 2 3 |4>"},
      {"no line feed at the end", "aaaaaaaaaaaaaaaaaaaaaaa", {"aaaa"}, "<aaaa>"},
  };
  for (const auto& c : cases) {
    const split got = read_both(c.text, 8);
    EXPECT_EQ(got.lines, c.lines) << c.name;
    EXPECT_EQ(got.pieces, c.pieces) << c.name;
  }
}

TEST(ForEachLine, StopsWhenAsked) {
  scratch_dir dir;
  write_file(dir / "t.txt", "a b c d e f g h i\nb\n");
  int calls = 0;
  const auto count = [&calls](std::string_view, lines::piece) { return ++calls < 2; };
  EXPECT_EQ(lines::for_each_line((dir / "t.txt").c_str(), count, 8), lines::status::stopped);
  EXPECT_EQ(calls, 2);
}

// A table line of many megabytes, across read chunks and pieces, read with
// every value, and a line of 100 MB read without holding it.
TEST(ForEachLine, TableLinesOfAnyLength) {
  scratch_dir dir;
  std::string many = "1 2";
  for (int i = 0; i < 600000; ++i) many += "  0.125";
  write_file(dir / "t.txt", many + std::string(3u << 20, ' ') + "-7 x 9\n" + std::string(3u << 20, '\t') + "5 6\n");
  const table t = fileIn((dir / "t.txt").c_str());
  ASSERT_EQ(t.size(), 2u);
  ASSERT_EQ(t[0].size(), 600003u);
  EXPECT_EQ(t[0][1], 2.0);
  EXPECT_EQ(t[0][600002], -7.0);
  EXPECT_EQ(t[1], (std::vector<double>{5, 6}));

  {
    std::ofstream out(dir / "big.txt", std::ios::binary);
    out << "4 8 ";
    const std::string junk(1u << 20, 'x');
    for (int i = 0; i < 100; ++i) out << junk;
    out << "\n3\n";
  }
  rusage before {};
  ::getrusage(RUSAGE_SELF, &before);
  EXPECT_EQ(fileIn((dir / "big.txt").c_str()), (table{{4, 8}, {3}}));
  rusage after {};
  ::getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 32 * 1024) << "peak memory grew by the line";
}

}  // namespace
