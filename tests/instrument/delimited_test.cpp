// Delimited tables: separators, header rows, decimal commas, both matrix
// orientations, long tables, and the messages on malformed tables.
#include "instrument/delimited.h"

#include <gtest/gtest.h>

#include "tests/support/blackbox.h"

using namespace instrument;
using namespace testing_support;

namespace {

struct read_back {
  std::vector<spectrum> spectra;
  std::string error;
  delimited_found found;
};

read_back read_text(const std::string& text, delimited_options options = {}) {
  scratch_dir dir;
  write_file(dir / "t.csv", text);
  read_back r;
  r.error = read_delimited((dir / "t.csv").string(), options, [&](const spectrum& s) {
    r.spectra.push_back(s);
    return std::string();
  }, &r.found);
  return r;
}

using values = std::vector<double>;

struct table_case {
  const char* name;
  std::string text;
  delimited_options options;
  layout shape;
  std::vector<values> x, y;
  values times;
};

TEST(Delimited, ReadsEveryLayoutToTheExactValues) {
  const delimited_options in_columns{0, decimal_mark::automatic, layout::spectra_in_columns};
  const table_case cases[] = {
      {"comma matrix, spectra in rows", "time,1.5,2.5,3.5\n0,1,2,3\n0.5,4,5,6\n", {}, layout::spectra_in_rows,
       {{1.5, 2.5, 3.5}, {1.5, 2.5, 3.5}}, {{1, 2, 3}, {4, 5, 6}}, {0, 0.5}},
      {"semicolon, decimal comma, BOM, CR LF", "\xEF\xBB\xBFt;1,5;2,5\r\n0;0,125;-1,5e2\r\n", {}, layout::spectra_in_rows,
       {{1.5, 2.5}}, {{0.125, -150}}, {0}},
      {"tab separated with a title row", "run 7\tsample A\n\t400\t500\n60\t0.5\t0.25\n", {}, layout::spectra_in_rows,
       {{400, 500}}, {{0.5, 0.25}}, {60}},
      {"blank separated, decimal comma", "x 1,5 2,5\n0 1,25 2\n", {}, layout::spectra_in_rows, {{1.5, 2.5}},
       {{1.25, 2}}, {0}},
      {"quoted decimal commas in a comma file", "\"t\",\"1,5\",\"2\"\n\"0\",\"0,5\",\"7\"\n", {}, layout::spectra_in_rows,
       {{1.5, 2}}, {{0.5, 7}}, {0}},
      {"spectra in columns (the transpose)", "x,0,0.5\n1.5,1,4\n2.5,2,5\n3.5,3,6\n", in_columns, layout::spectra_in_columns,
       {{1.5, 2.5, 3.5}, {1.5, 2.5, 3.5}}, {{1, 2, 3}, {4, 5, 6}}, {0, 0.5}},
      {"long table with a header", "time,wavenumber,absorbance\n0,1.5,1\n0,2.5,2\n1,1.5,3\n1,2.5,4\n", {},
       layout::long_table, {{1.5, 2.5}, {1.5, 2.5}}, {{1, 2}, {3, 4}}, {0, 1}},
      {"long table found by its repeated time", "0 1.5 1\n0 2.5 2\n1 1.5 3\n1 2.5 4\n", {}, layout::long_table,
       {{1.5, 2.5}, {1.5, 2.5}}, {{1, 2}, {3, 4}}, {0, 1}},
      {"three columns, the time not repeated: a matrix", "0,1,2\n5,7,8\n", {}, layout::spectra_in_rows, {{1, 2}},
       {{7, 8}}, {5}},
      {"single spectrum with header and comments", "# export\nx;y\n1;2\n3;4,5\n", {}, layout::single, {{1, 3}},
       {{2, 4.5}}, {0}},
  };
  for (const table_case& c : cases) {
    const read_back r = read_text(c.text, c.options);
    ASSERT_EQ(r.error, "") << c.name;
    EXPECT_EQ(r.found.shape, c.shape) << c.name;
    ASSERT_EQ(r.spectra.size(), c.y.size()) << c.name;
    for (std::size_t j = 0; j < c.y.size(); ++j) {
      EXPECT_EQ(r.spectra[j].x, c.x[j]) << c.name << " spectrum " << j;
      EXPECT_EQ(r.spectra[j].y, c.y[j]) << c.name << " spectrum " << j;
      if (c.shape != layout::single) {
        EXPECT_EQ(r.spectra[j].time, c.times[j]) << c.name << " spectrum " << j;
      }
      EXPECT_EQ(r.spectra[j].timed, c.shape != layout::single) << c.name;
    }
  }
}

TEST(Delimited, MalformedTablesSayWhereAndWhat) {
  const delimited_options point{0, decimal_mark::point, layout::automatic};
  const struct {
    const char* name;
    std::string text;
    delimited_options options;
    std::string error;  // after "PATH"
  } cases[] = {
      {"empty", "# nothing\n\n", {}, ": no table rows found; expected rows of numbers separated by commas, semicolons, tabs or blanks"},
      {"one field", "12\n", {}, " line 1: a row holds one field; expected at least two separated by blanks (x and an intensity, or a time and intensities)"},
      {"a word among the numbers", "t,1,2\n0,1,2\n1,x,2\n", {}, " line 3: field 2 is \"x\"; expected a number"},
      {"a short row", "t,1,2\n0,1,2\n1,2\n", {}, " line 3: the row holds 2 fields; expected 3 as in the axis row"},
      {"decimal comma refused", "t;1;2\n0;1,5;2\n", point, " line 2: field 2 is \"1,5\"; expected a number"},
      {"nan is not a number", "t,1,2\n0,nan,2\n", {}, " line 2: field 2 is \"nan\"; expected a number"},
      {"an axis but no rows", "t,1,2\n", {}, ": the matrix has an axis row but no data rows"},
      {"header only", "x,y\n", {}, ": no data rows after the header"},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    const std::string path = (dir / "t.csv").string();
    write_file(path, c.text);
    const std::string e = read_delimited(path, c.options, [](const spectrum&) { return std::string(); });
    EXPECT_EQ(e, path + c.error) << c.name;
  }
}

TEST(Delimited, SinkMessageStopsTheRead) {
  int seen = 0;
  scratch_dir dir;
  write_file(dir / "t.csv", "t,1,2\n0,1,2\n1,2,3\n2,3,4\n");
  const std::string e = read_delimited((dir / "t.csv").string(), {}, [&](const spectrum&) {
    return ++seen == 2 ? std::string("enough") : std::string();
  });
  EXPECT_EQ(e, "enough");
  EXPECT_EQ(seen, 2);
}

TEST(Delimited, SeparatorOfARow) {
  const struct { std::string row; char sep; } cases[] = {
      {"a\tb,c;d", '\t'}, {"1;2,5", ';'}, {"1,2,3", ','}, {"1,5 2,5", ' '}, {"1 2 3", ' '}, {"\"a b\",1", ','},
  };
  for (const auto& c : cases) EXPECT_EQ(find_separator(c.row), c.sep) << c.row;
}

}  // namespace
