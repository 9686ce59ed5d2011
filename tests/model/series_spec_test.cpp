// The series lines of mechanism files: what they read as, and every error
// with its line.
#include <gtest/gtest.h>
#include <string>

#include "model/mechanism.h"

namespace {

const std::string reactions = "A -> B  k1 = 1\nB -> C  k2 = 0.1\nA = 1 fixed\n";

TEST(SeriesLines, ReadEveryStatement) {
  mechanism m;
  ASSERT_EQ(parse_mechanism("dir/m.txt",
                            reactions + "series table my series.csv  \nseries channels 500 400 600 700\n"
                                        "series absorbing B A\nseries known C c spectrum.txt\nseries offset\n",
                            m),
            "");
  const series_spec& s = m.series;
  EXPECT_EQ(s.line, 4);
  EXPECT_TRUE(s.table);
  EXPECT_EQ(s.file.path, "dir/my series.csv");
  ASSERT_EQ(s.channels.size(), 2u);
  EXPECT_EQ(s.channels[0], std::make_pair(400.0, 500.0));
  EXPECT_EQ(s.absorbing, (std::vector<int>{1, 0}));
  ASSERT_EQ(s.known.size(), 1u);
  EXPECT_EQ(s.known[0].species, 2);
  EXPECT_EQ(s.known[0].file.path, "dir/c spectrum.txt");
  EXPECT_TRUE(s.offset);
  std::vector<std::string> lines = m.lines;
  write_series_paths(s, lines);
  EXPECT_EQ(lines[3], "series table dir/my series.csv");
  EXPECT_EQ(lines[6], "series known C dir/c spectrum.txt");
}

TEST(SeriesLines, AbsorbingDefaultsToEverySpeciesWithoutAKnownSpectrum) {
  mechanism m;
  ASSERT_EQ(parse_mechanism("m.txt", reactions + "series /data/s.txt\nseries times 2 0.5\nseries known B b.txt\n", m),
            "");
  EXPECT_EQ(m.series.absorbing, (std::vector<int>{0, 2}));
  EXPECT_EQ(m.series.file.path, "/data/s.txt");
  EXPECT_DOUBLE_EQ(m.series.start, 2);
  EXPECT_DOUBLE_EQ(m.series.step, 0.5);
}

struct error_case {
  std::string lines;  // after the reactions, from line 4
  std::string message;
};

class SeriesErrors : public ::testing::TestWithParam<error_case> {};

TEST_P(SeriesErrors, NameTheLine) {
  mechanism m;
  EXPECT_EQ(parse_mechanism("m.txt", reactions + GetParam().lines, m), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SeriesErrors,
    ::testing::Values(
        error_case{"series s.txt\nseries t.txt\n", "m.txt:5: the series is given twice (first on line 4)"},
        error_case{"series table\n", "m.txt:4: expected a file name after \"series table\""},
        error_case{"series s.txt\nseries times 0 0\n", "m.txt:5: the time step \"0\" must be above 0"},
        error_case{"series s.txt\nseries times 0 1\nseries times t.txt\n",
                   "m.txt:6: \"series times\" is given twice (first on line 5)"},
        error_case{"series s.txt\nseries channels 1 2 3\n",
                   "m.txt:5: \"series channels\" takes pairs of bounds LO HI, found 3 words"},
        error_case{"series s.txt\nseries channels 1 nan\n", "m.txt:5: \"nan\" is not a number"},
        error_case{"series table s.txt\nseries absorbing A X\n", "m.txt:5: species \"X\" is in no reaction"},
        error_case{"series table s.txt\nseries known A a.txt\nseries absorbing A\n",
                   "m.txt:6: \"A\" has a known spectrum and cannot absorb unknown"},
        error_case{"series table s.txt\nseries known A a.txt\nseries known A b.txt\n",
                   "m.txt:6: the spectrum of \"A\" is given twice (first on line 5)"},
        error_case{"series times 0 1\n", "m.txt:4: no series file: add \"series FILE\" or \"series table FILE\""},
        error_case{"series s.txt\n",
                   "m.txt:4: the series needs its times: \"series times FILE\" or \"series times START STEP\""},
        error_case{"series table s.txt\nseries times 0 1\n",
                   "m.txt:5: a matrix table holds its times in its first column; remove \"series times\""},
        error_case{"series table s.txt\ncolumn 1 = A\n",
                   "m.txt:4: a mechanism is fitted either to column lines or to a series; give one of them"},
        error_case{"series offset\nseries offset\n", "m.txt:5: \"series offset\" is given twice (first on line 4)"},
        error_case{"series = 1\n", "m.txt:4: \"series\" is a keyword, not a name"}));

}  // namespace
