// Series of single-spectrum files: ordered by the time each holds, or by
// modification time; lists and patterns.
#include "instrument/file_series.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include "tests/support/blackbox.h"

using namespace instrument;
using namespace testing_support;

namespace {

std::string jcamp_with_date(const std::string& date, int y) {
  return "##TITLE= s\n##LONGDATE= " + date + "\n##NPOINTS= 2\n##XYPOINTS= (XY..XY)\n1, " + std::to_string(y) +
         "\n2, 0\n##END=\n";
}

std::vector<spectrum> read_series(const std::vector<std::string>& paths, std::string& error) {
  std::vector<spectrum> out;
  error = read_file_series(paths, {}, [&](const spectrum& s) {
    out.push_back(s);
    return std::string();
  });
  return out;
}

TEST(FileSeries, OrderedByTheTimeInTheFiles) {
  scratch_dir dir;
  write_file(dir / "a.jdx", jcamp_with_date("2024/01/01 00:01:00", 2));
  write_file(dir / "b.jdx", jcamp_with_date("2024/01/01 00:00:00", 1));
  write_file(dir / "c.jdx", jcamp_with_date("2024/01/01 00:02:00", 3));
  std::string error;
  const auto s = read_series(expand_pattern((dir / "*.jdx").string()), error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(s.size(), 3u);
  for (int j = 0; j < 3; ++j) EXPECT_EQ(s[static_cast<std::size_t>(j)].y[0], j + 1);
  EXPECT_EQ(s[1].time - s[0].time, 60);
}

TEST(FileSeries, DelimitedFilesByModificationTime) {
  scratch_dir dir;
  for (const auto& [name, when] : {std::pair{"x1.csv", 300}, std::pair{"x2.csv", 100}, std::pair{"x3.csv", 200}}) {
    write_file(dir / name, std::string("x,y\n1,") + std::to_string(when) + "\n2,0\n");
    const utimbuf t{when, when};
    ASSERT_EQ(::utime((dir / name).c_str(), &t), 0);
  }
  write_file(dir / "list.txt", "# the series\nx1.csv\nx2.csv\n\nx3.csv\n");
  std::vector<std::string> paths;
  ASSERT_EQ(read_path_list((dir / "list.txt").string(), paths), "");
  std::string error;
  const auto s = read_series(paths, error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0].y[0], 100);
  EXPECT_EQ(s[1].y[0], 200);
  EXPECT_EQ(s[2].y[0], 300);
  EXPECT_EQ(s[0].time, 100);
}

TEST(FileSeries, MixedOrSeveralSpectraAreErrors) {
  scratch_dir dir;
  write_file(dir / "a.jdx", jcamp_with_date("2024/01/01 00:01:00", 2));
  write_file(dir / "b.csv", "x,y\n1,2\n2,3\n");
  write_file(dir / "m.csv", "t,1,2\n0,1,2\n1,3,4\n");
  std::string error;
  read_series({(dir / "a.jdx").string(), (dir / "b.csv").string()}, error);
  EXPECT_EQ(error, (dir / "b.csv").string() +
                       ": holds no acquisition time, but other files of the series do; expected every file to hold one, or none");
  read_series({(dir / "m.csv").string(), (dir / "b.csv").string()}, error);
  EXPECT_EQ(error, (dir / "m.csv").string() + " line 2: the row holds 3 fields; expected 2 as in the first data row");
}

}  // namespace
