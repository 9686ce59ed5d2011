#include "common/table.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>

#include "tests/support/blackbox.h"

namespace {

using namespace testing_support;

// Rows compared bit for bit, so that -0 and 0 differ.
std::vector<std::vector<std::uint64_t>> bits(const table& t) {
  std::vector<std::vector<std::uint64_t>> out;
  for (const auto& row : t) {
    auto& r = out.emplace_back();
    for (double v : row) r.push_back(std::bit_cast<std::uint64_t>(v));
  }
  return out;
}

table read_text(const std::string& text, std::string* err = nullptr) {
  scratch_dir dir;
  write_file(dir / "t.txt", text);
  testing::internal::CaptureStderr();
  table t = fileIn((dir / "t.txt").c_str());
  const std::string e = testing::internal::GetCapturedStderr();
  if (err != nullptr) *err = e;
  return t;
}

struct row_case {
  const char* line;
  std::vector<double> row;
};

TEST(FileIn, DataLinesBecomeRows) {
  const row_case cases[] = {
      {"1 2 3", {1, 2, 3}},
      {"  0.5\t-2e-3", {0.5, -0.002}},
      {"1 2 x 3", {1, 2}},
      {"4 5 # note", {4, 5}},
      {"1,2,3", {1}},
      {"5kg 3", {5}},
      {"1-2", {1, -2}},
      {"+.5 3.", {0.5, 3}},
      {"7.5\r", {7.5}},
      {"text only", {}},
      {" ", {}},
      {" # note", {}},
      {"\r", {}},
      {" & 4", {}},
      {"1 1e999 2", {1}},
      {"1 -1e999 2", {1}},
      {"1e-400 2", {0, 2}},
      {"4.9e-324", {4.9e-324}},
      {"1 inf 2", {1}},
      {"1 nan 2", {1}},
      {"2 1e 3", {2}},
      {"2 1e+ 3", {2}},
      {"2 1ex", {2}},
      {"0x10 5", {0}},
      {"1.2.3", {1.2, 0.3}},
      {"1e5e3", {1e5}},
      {"1.e2 .5e1 5E-1", {100, 5, 0.5}},
      {"- 1", {}},
      {"+-1", {}},
      {". 1", {}},
      {"1\v2\f3", {1, 2, 3}},
      {"00012.500", {12.5}},
      {"123456789012345678901234567890", {123456789012345678901234567890.0}},
  };
  for (const auto& c : cases) {
    const table t = read_text(std::string(c.line) + "\n");
    ASSERT_EQ(t.size(), 1u) << c.line;
    EXPECT_EQ(bits(t), bits(table{c.row})) << c.line;
  }
}

TEST(FileIn, NegativeZeroKeepsItsSign) {
  const table t = read_text("-0\n");
  ASSERT_EQ(t.size(), 1u);
  ASSERT_EQ(t[0].size(), 1u);
  EXPECT_TRUE(std::signbit(t[0][0]));
}

struct file_case {
  const char* name;
  std::string text;
  table rows;
};

TEST(FileIn, LineClasses) {
  const file_case cases[] = {
      {"zero bytes", "", {}},
      {"only skipped lines", "\n# c\n&\n& end\n\n", {}},
      {"ragged rows", "1\n2 3 4\n5 6\n", {{1}, {2, 3, 4}, {5, 6}}},
      {"last line without line feed", "1\n2", {{1}, {2}}},
      {"final line feed adds no row", "1\n2\n", {{1}, {2}}},
      {"separators leave no trace", "1\n&\n2\n", {{1}, {2}}},
      {"indented comment is a data line", " # c\n1\n", {{}, {1}}},
      {"comments anywhere", "# a\n1\n#b\n2\n#", {{1}, {2}}},
      {"CR LF line ends", "# c\r\n1 2\r\n\r\n&\r\n3\r\n", {{1, 2}, {}, {3}}},
      {"byte-order mark", "\xEF\xBB\xBF# c\n1\n", {{}, {1}}},
      {"byte-order mark before a number", "\xEF\xBB\xBF" "1 2\n3\n", {{}, {3}}},
      {"NUL byte ends a row", std::string("1 2\0 3\n4\n", 9), {{1, 2}, {4}}},
  };
  for (const auto& c : cases) {
    std::string err;
    EXPECT_EQ(bits(read_text(c.text, &err)), bits(c.rows)) << c.name;
    EXPECT_EQ(err, "") << c.name;
  }
}

TEST(FileIn, SeparatorLinesDoNotChangeTheTable) {
  EXPECT_EQ(read_text("1 2\n3\n"), read_text("&\n1 2\n&&\n3\n& x\n"));
}

TEST(FileIn, LongLinesAndManyLines) {
  std::string long_line;
  for (int i = 0; i < 300000; ++i) long_line += "1.5 ";  // longer than a read chunk
  std::string text = long_line + "\n";
  for (int i = 0; i < 100000; ++i) text += "2\n";
  const table t = read_text(text);
  ASSERT_EQ(t.size(), 100001u);
  EXPECT_EQ(t[0].size(), 300000u);
  EXPECT_EQ(t[0].back(), 1.5);
  EXPECT_EQ(t.back(), std::vector<double>{2});
}

TEST(FileIn, ATableBeyondItsLimitsKeepsItsFirstRowsAndSaysSo) {
  const std::string note = "\": a table holds at most 1048576 rows and 16777216 numbers; the rest of the file is not read\n";
  std::string rows;  // one row past the limit, comments and empty lines between
  for (std::size_t i = 0; i <= table_max_rows; ++i) rows += i % 1000 == 0 ? "# c\n\n7\n" : "y\n";
  std::string numbers;  // 16 rows of 1048576 numbers and one more number
  for (int i = 0; i < 16; ++i) {
    std::string line;
    line.reserve(2 * 1048576);
    for (int j = 0; j < 1048576; ++j) line += "1 ";
    numbers += line + "\n";
  }
  numbers += "2 3\n";
  const struct {
    std::string text;
    std::size_t rows, last_row;
    bool noted;
  } cases[] = {
      {rows, table_max_rows, 0, true},
      {numbers, 17, 0, true},
      {numbers.substr(0, numbers.size() - 4), 16, 1048576, false},  // exactly at the limit
  };
  for (const auto& c : cases) {
    std::string err;
    const table t = read_text(c.text, &err);
    EXPECT_EQ(t.size(), c.rows);
    EXPECT_EQ(t.back().size(), c.last_row);
    EXPECT_EQ(err.empty(), !c.noted);
    if (c.noted) {
      EXPECT_TRUE(err.ends_with(note)) << err;
    }
  }
}

TEST(FileIn, MissingFileGivesEmptyTableAndOneMessage) {
  scratch_dir dir;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const table t = fileIn((dir / "absent.txt").c_str());
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(err, "No such read-in file\n");
  EXPECT_TRUE(t.empty());
}

TEST(FileIn, DirectoryCannotBeRead) {
  scratch_dir dir;
  testing::internal::CaptureStderr();
  const table t = fileIn(dir.path.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "No such read-in file\n");
  EXPECT_TRUE(t.empty());
}

TEST(Counters, AgreeWithFileIn) {
  const std::string texts[] = {
      "",
      "\n\n# c\n&\n",
      "1\n2 3\n&\n4",
      " \ntext\n\r\n &\n&&\n#&\n",
      "# c\r\n1 2\r\n\r\n&\r\n3\r\n",
      "\xEF\xBB\xBF# c\n1\n",
  };
  for (const auto& text : texts) {
    scratch_dir dir;
    write_file(dir / "t.txt", text);
    EXPECT_EQ(genV((dir / "t.txt").c_str()), static_cast<int>(fileIn((dir / "t.txt").c_str()).size())) << text;
  }
}

TEST(Counters, CountTheirLineClass) {
  scratch_dir dir;
  write_file(dir / "t.txt", " \ntext\n\r\n &\n&&\n#&\n& end\n\n# c\n1 2");
  EXPECT_EQ(genV((dir / "t.txt").c_str()), 5);
  EXPECT_EQ(genV2((dir / "t.txt").c_str()), 2);
  write_file(dir / "s.txt", "\n#\n&\n&\n\n&");
  EXPECT_EQ(genV((dir / "s.txt").c_str()), 0);
  EXPECT_EQ(genV2((dir / "s.txt").c_str()), 3);
}

TEST(Counters, MissingFileCountsZeroSilently) {
  scratch_dir dir;
  testing::internal::CaptureStderr();
  EXPECT_EQ(genV((dir / "absent").c_str()), 0);
  EXPECT_EQ(genV2((dir / "absent").c_str()), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(Counters, ReadOnlyFileIsCounted) {
  scratch_dir dir;
  write_file(dir / "t.txt", "1\n&\n2\n");
  std::filesystem::permissions(dir / "t.txt", std::filesystem::perms::owner_read);
  EXPECT_EQ(genV((dir / "t.txt").c_str()), 2);
  EXPECT_EQ(genV2((dir / "t.txt").c_str()), 1);
  EXPECT_EQ(read_file(dir / "t.txt"), "1\n&\n2\n");
}

TEST(Dumps, PrintDatFormat) {
  const struct {
    table t;
    const char* out;
  } cases[] = {
      {{}, ""},
      {{{}}, "\n"},
      {{{0.5}, {1, 0}, {0, 10}}, "0.500000 \n1.000000 0.000000 \n0.000000 10.000000 \n"},
      {{{12.5, -0.25, 100, 4e-7, -0.0}}, "12.500000 -0.250000 100.000000 0.000000 -0.000000 \n"},
      {{{0.0000005, 0.0000015, 1e20}}, "0.000000 0.000002 100000000000000000000.000000 \n"},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStdout();
    print_dat(c.t);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
  }
}

TEST(Dumps, PrintTimeFormat) {
  testing::internal::CaptureStdout();
  print_time({{0.5}, {1, 0}, {}, {0, 10}});
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "0.500000 \n1.000000 \n\n0.000000 \n");
}

}  // namespace
