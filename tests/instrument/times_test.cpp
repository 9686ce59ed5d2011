// The times file: shortest round-trip text, and reading it back.
#include "instrument/times.h"

#include <gtest/gtest.h>

#include "tests/support/blackbox.h"

using namespace instrument;
using namespace testing_support;

TEST(Times, WrittenShortestAndReadBackExactly) {
  const std::vector<double> times{0, 0.0333, 0.0333 * 2, 0.0333 * 3, 1e-7, 86400.5, -2};
  const std::string text = times_text(times);
  EXPECT_EQ(text, "0\n0.0333\n0.0666\n0.09990000000000002\n1e-07\n86400.5\n-2\n");
  scratch_dir dir;
  write_file(dir / "times.txt", "\xEF\xBB\xBF# from specconv\n" + text + "\n");
  std::vector<double> back;
  EXPECT_EQ(read_times((dir / "times.txt").string(), back), "");
  EXPECT_EQ(back, times);
}

TEST(Times, MalformedLinesAreNamed) {
  const struct { std::string text; std::string error; } cases[] = {
      {"0\n1 2\n", " line 2: expected one time (a finite number) on the line, not \"1 2\""},
      {"0\ninf\n", " line 2: expected one time (a finite number) on the line, not \"inf\""},
      {"0,5\n", " line 1: expected one time (a finite number) on the line, not \"0,5\""},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    const std::string path = (dir / "t").string();
    write_file(path, c.text);
    std::vector<double> back;
    EXPECT_EQ(read_times(path, back), path + c.error);
  }
  std::vector<double> back;
  EXPECT_EQ(read_times("/nonexistent/t", back), "cannot open the times file /nonexistent/t: No such file or directory");
}
