#include "fitter/data.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/blackbox.h"

using namespace kinetics;

namespace {

using namespace testing_support;

// Column 1 measures A, column 3 B; column 2 is not used.
const char* const model_text = "A -> B k=1\ncolumn 1 = A\ncolumn 3 = B\nstart 0\ndata d.txt\n";

void replace_all(std::string& text, const std::string& key, const std::string& by) {
  for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + by.size())) {
    text.replace(at, key.size(), by);
  }
}

// The message with "{data}" standing for the data file's path and "{mech}" for the mechanism's.
std::string paths(std::string text, const mechanism& m) {
  replace_all(text, "{mech}", m.file);
  replace_all(text, "{data}", m.data);
  return text;
}

struct good_case {
  const char* data;
  std::vector<double> t;
  std::vector<std::vector<double>> y;
  std::vector<int> lines;
};

TEST(ReadData, ReadsTimesAndTheUsedColumns) {
  const good_case cases[] = {
      {"0 1 x 2\n1.5 0.5 nan 3\n", {0, 1.5}, {{1, 0.5}, {2, 3}}, {1, 2}},
      {"# header\r\n\r\n 0\t1 inf 2 9 \r\n  # note\n \t \n2 3 - 4", {0, 2}, {{1, 3}, {2, 4}}, {3, 6}},
      {"0.0 1e-3 2 -4.5e2 extra words", {0}, {{1e-3}, {-450}}, {1}},
      {"time,A,x,B\r\n0,1,x,2\n# note\n1.5,0.5,,3\n", {0, 1.5}, {{1, 0.5}, {2, 3}}, {2, 4}},
      {"\"t\";\"A\";\"x\";\"B\"\n0;1,5;x;2e1\n", {0}, {{1.5}, {20}}, {2}},
      {"t\tA\tx\tB\n0,5\t1\t\t2\n", {0.5}, {{1}, {2}}, {2}},
  };
  for (const good_case& c : cases) {
    scratch_dir dir;
    write_file(dir / "m.txt", model_text);
    write_file(dir / "d.txt", c.data);
    mechanism m;
    ASSERT_EQ(read_mechanism((dir / "m.txt").string(), m), "");
    measured got;
    ASSERT_EQ(read_data(m, got), "") << c.data;
    EXPECT_EQ(got.t, c.t) << c.data;
    EXPECT_EQ(got.y, c.y) << c.data;
    EXPECT_EQ(got.lines, c.lines) << c.data;
  }
}

struct error_case {
  const char* data;
  const char* message;
};

TEST(ReadData, NamesTheRowOrTheColumnLine) {
  const error_case cases[] = {
      {"", "{data}: no data rows"},
      {"# only a comment\n\n", "{data}: no data rows"},
      {"0 1 2\n1 1 2\n", "{mech}:3: column 3 is not in {data} (its rows have columns 0 to 2)"},
      {"0 nan 2\n", "{mech}:3: column 3 is not in {data} (its rows have columns 0 to 2)"},
      {"0 1 2 3\n1 1 2\n", "{data} line 2: column 3 is missing"},
      {"0 1 2 3\n\n1 inf 2 3\n", "{data} line 3: column 1 is \"inf\", not a number"},
      {"0 1 2 inf\n", "{data} line 1: column 3 is \"inf\", not a number"},
      {"0 1.5x 2 3\n", "{data} line 1: column 1 is \"1.5x\", not a number"},
      {"t 1 2 3\n", "{data} line 1: column 0 is \"t\", not a number"},
      {"t;A;x;B\n0;1;2;1,2,3\n", "{data} line 2: column 3 is \"1,2,3\", not a number"},
      {"0 1 2 1e999\n", "{data} line 1: column 3 is \"1e999\", not a number"},
      {"0 1 2 3\n-0.25 1 2 3\n", "{data} line 2: time -0.25 is before the start time 0"},
  };
  for (const error_case& c : cases) {
    scratch_dir dir;
    write_file(dir / "m.txt", model_text);
    write_file(dir / "d.txt", c.data);
    mechanism m;
    ASSERT_EQ(read_mechanism((dir / "m.txt").string(), m), "");
    measured got;
    EXPECT_EQ(read_data(m, got), paths(c.message, m)) << c.data;
  }
}

TEST(ReadData, SaysWhyTheFileCannotBeRead) {
  scratch_dir dir;
  write_file(dir / "m.txt", model_text);
  mechanism m;
  ASSERT_EQ(read_mechanism((dir / "m.txt").string(), m), "");
  measured got;
  EXPECT_EQ(read_data(m, got), "cannot read \"" + m.data + "\": " + std::strerror(ENOENT));
}

}  // namespace

namespace {

TEST(ReadSigma, TakesOneUncertaintyPerPointOrNamesTheLine) {
  const char* const data = "0 1 9 0\n1 0.5 9 0.5\n";
  const struct {
    const char* sigma;
    std::string error;  // "{sigma}" stands for the sigma file's path
  } cases[] = {
      {"0 0.1 x 0.2\n# note\n1 0.3 x 0.4\n", ""},
      {"0 0.1 x 0.2\n", "{sigma} line 1: it holds 1 rows, {data} 2"},
      {"0 0.1 x 0.2\n2 0.3 x 0.4\n", "{sigma} line 2: time 2 is not the time 1 of {data} line 2"},
      {"0 0.1 x 0\n1 0.3 x 0.4\n", "{sigma} line 1: column 3 holds the uncertainty 0; it must be above 0"},
      {"0 0.1 x 0.2\n1 -0.3 x 0.4\n", "{sigma} line 2: column 1 holds the uncertainty -0.3; it must be above 0"},
      {"0 0.1 x 0.2\n1 nan x 0.4\n", "{sigma} line 2: column 1 is \"nan\", not a number"},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    write_file(dir / "d.txt", data);
    write_file(dir / "s.txt", c.sigma);
    mechanism m;
    ASSERT_EQ(parse_mechanism((dir / "m.txt").string(), std::string(model_text) + "sigma s.txt\n", m), "");
    measured d;
    ASSERT_EQ(read_data(m, d), "");
    std::vector<std::vector<double>> sigma;
    std::string want = c.error;
    replace_all(want, "{sigma}", m.sigma);
    replace_all(want, "{data}", m.data);
    EXPECT_EQ(read_sigma(m, d, sigma), want) << c.sigma;
    if (c.error.empty()) {
      EXPECT_EQ(sigma, (std::vector<std::vector<double>>{{0.1, 0.3}, {0.2, 0.4}}));
    }
  }
}

}  // namespace
