// JCAMP-DX: the same ordinates in every compression form, several blocks,
// XYPOINTS, NTUPLES, dates, and the messages on malformed files.
#include "instrument/jcamp.h"

#include <gtest/gtest.h>

#include "tests/support/blackbox.h"

using namespace instrument;
using namespace testing_support;

namespace {

const std::vector<double> ordinates{100, 102, 102, 102, 99, 50, -30, -30, -30, -30, 0, 7, 1234, 1234, 5, 5};

std::vector<spectrum> read_all(const std::string& path, std::string& error) {
  std::vector<spectrum> out;
  error = read_jcamp(path, [&](const spectrum& s) {
    out.push_back(s);
    return std::string();
  });
  return out;
}

// x = 10, 11, ...; y = ordinate × 0.25 × scale: exact in binary.
void expect_fixture_values(const spectrum& s, double scale, const std::string& name) {
  ASSERT_EQ(s.x.size(), ordinates.size()) << name;
  for (std::size_t i = 0; i < ordinates.size(); ++i) {
    EXPECT_EQ(s.x[i], 10.0 + static_cast<double>(i)) << name << " point " << i;
    EXPECT_EQ(s.y[i], ordinates[i] * 0.25 * scale) << name << " point " << i;
  }
}

TEST(Jcamp, EveryCompressionFormReadsToTheSameValues) {
  for (const char* name : {"affn.jdx", "pac.jdx", "sqz.jdx", "dif.jdx", "difdup.jdx"}) {
    std::string error;
    const auto spectra = read_all(std::string(FIXTURES_DIR) + "/" + name, error);
    ASSERT_EQ(error, "") << name;
    ASSERT_EQ(spectra.size(), 1u) << name;
    expect_fixture_values(spectra[0], 1, name);
    EXPECT_FALSE(spectra[0].timed) << name;
  }
}

TEST(Jcamp, SeveralBlocksWithTheirDates) {
  std::string error;
  const auto spectra = read_all(std::string(FIXTURES_DIR) + "/blocks.jdx", error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(spectra.size(), 3u);
  const double times[] = {1709287200, 1709287230, 1709287275.5};
  for (std::size_t j = 0; j < 3; ++j) {
    expect_fixture_values(spectra[j], static_cast<double>(j + 1), "block " + std::to_string(j));
    EXPECT_TRUE(spectra[j].timed);
    EXPECT_EQ(spectra[j].time, times[j]);
  }
}

TEST(Jcamp, XypointsAndTheOldDateLabels) {
  std::string error;
  const auto spectra = read_all(std::string(FIXTURES_DIR) + "/xypoints.jdx", error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(spectra.size(), 1u);
  EXPECT_EQ(spectra[0].x, (std::vector<double>{10, 11, 12, 13, 14, 15}));
  EXPECT_EQ(spectra[0].y, (std::vector<double>{25, 25.5, 25.5, 25.5, 24.75, 12.5}));
  EXPECT_EQ(spectra[0].time, 900510310.0);
}

TEST(Jcamp, NtuplesRealPage) {
  std::string error;
  const auto spectra = read_all(std::string(FIXTURES_DIR) + "/ntuples.jdx", error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(spectra.size(), 1u);
  expect_fixture_values(spectra[0], 1, "ntuples");
  EXPECT_EQ(spectra[0].time, 1709290800.0);
}

TEST(Jcamp, DecodesMixedForms) {
  const struct { std::string line; double x; std::vector<double> y; bool dif; } cases[] = {
      {"1 2 3 -4", 1, {2, 3, -4}, false},
      {"1+2-3+4E2", 1, {2, -3, 400}, false},
      {"5@A1b2", 5, {0, 11, -22}, false},
      {"5A0J%jT", 5, {10, 11, 11, 10, 9}, true},
      {"5A0SJ", 5, {10, 11}, true},
      {"7A0s", 7, {10, 10, 10, 10, 10, 10, 10, 10, 10}, false},
      {"7a0V", 7, {-10, -10, -10, -10}, false},
      {"9 1.5 %.5", 9, {1.5, 2}, true},
      {"9 1.5J.5", 9, {1.5, 3}, true},
  };
  for (const auto& c : cases) {
    asdf_line out;
    EXPECT_EQ(decode_asdf(c.line, out), "") << c.line;
    EXPECT_EQ(out.x, c.x) << c.line;
    EXPECT_EQ(out.y, c.y) << c.line;
    EXPECT_EQ(out.ends_in_dif, c.dif) << c.line;
  }
}

TEST(Jcamp, MalformedFilesSayWhereAndWhat) {
  const std::string head =
      "##TITLE= t\n##JCAMP-DX= 4.24\n##XFACTOR= 1\n##YFACTOR= 1\n##FIRSTX= 0\n##LASTX= 3\n##NPOINTS= 4\n";
  const struct { const char* name; std::string text; std::string error; } cases[] = {
      {"Y check differs", head + "##XYDATA= (X++(Y..Y))\n0A0JJ\n2A3J\n##END=\n",
       " line 10: the Y check value 13 is not the last ordinate 12 of the line before"},
      {"too few points", head + "##XYDATA= (X++(Y..Y))\n0 1 2 3\n##END=\n",
       " line 10: the data table from line 8 holds 3 ordinates; ##NPOINTS= says 4"},
      {"a line out of place", head + "##XYDATA= (X++(Y..Y))\n0 1 2\n0 3 4\n##END=\n",
       " line 10: the line's X 0 is not that of point 2 (2 before XFACTOR); a line is missing or out of place"},
      {"not closed", head + "##XYDATA= (X++(Y..Y))\n0 1 2 3 4\n", ": the block from line 1 is not closed by \"##END=\""},
      {"bad character", head + "##XYDATA= (X++(Y..Y))\n0 1 2 3 #\n##END=\n",
       " line 9: unexpected character \"#\" at column 9; expected digits, a sign, or a SQZ, DIF or DUP character"},
      {"DUP first", head + "##XYDATA= (X++(Y..Y))\n0T\n##END=\n",
       " line 9: a DUP count at column 2 has no ordinate before it to repeat"},
      {"other table form", head + "##XYDATA= (XY..XY)\n##END=\n", " line 8: expected \"##XYDATA=(X++(Y..Y))\", not \"(XY..XY)\""},
      {"no FIRSTX", "##TITLE= t\n##LASTX= 3\n##NPOINTS= 4\n##XYDATA= (X++(Y..Y))\n##END=\n",
       " line 4: the data table needs ##FIRSTX=, ##LASTX= and ##NPOINTS= (or FIRST, LAST and VAR_DIM) before it"},
      {"DELTAX for LASTX, one point short", "##TITLE= t\n##FIRSTX= 0\n##DELTAX= 2\n##NPOINTS= 3\n##XYDATA= (X++(Y..Y))\n0 1\n4 3\n##END=\n",
       " line 8: the data table from line 5 holds 2 ordinates; ##NPOINTS= says 3"},
      {"no data", "##TITLE= t\n##END=\n",
       ": no spectrum found; expected \"##XYDATA=(X++(Y..Y))\", \"##XYPOINTS=(XY..XY)\" or an NTUPLES real page"},
      {"bad date", "##TITLE= t\n##LONGDATE= yesterday\n##END=\n", " line 2: ##LONGDATE= must read YYYY/MM/DD HH:MM:SS"},
      {"VAR_DIM past any count",
       "##TITLE= t\n##DATA CLASS= NTUPLES\n##NTUPLES= NMR SPECTRUM\n##SYMBOL= X, R\n##VAR_DIM= 2e126, 4\n"
       "##FIRST= 0, 0\n##LAST= 3, 0\n##PAGE= N=1\n##DATA TABLE= (X++(R..R)), XYDATA\n0 1 2 3 4\n"
       "##END NTUPLES= NMR SPECTRUM\n##END=\n",
       " line 9: ##VAR_DIM= of X must be a whole number"},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    const std::string path = (dir / "t.jdx").string();
    write_file(path, c.text);
    std::string error;
    read_all(path, error);
    EXPECT_EQ(error, path + c.error) << c.name;
  }
}

TEST(Jcamp, Dates) {
  const struct { std::string text; bool ok; double seconds; } cases[] = {
      {"1970/01/01 00:00:00", true, 0},         {"2024/03/01 10:00:30", true, 1709287230},
      {"2024/03/01 10:00:30.25 +0100", true, 1709283630.25}, {"98/07/15", true, 900460800},
      {"2024-03-01T10:00", true, 1709287200},   {"2024/13/01", false, 0},
      {"noon", false, 0},
  };
  for (const auto& c : cases) {
    double s = -1;
    EXPECT_EQ(parse_date(c.text, s), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(s, c.seconds) << c.text;
    }
  }
}

}  // namespace
