#include "model/mechanism.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "tests/model/mechanism_summary.h"
#include "tests/support/blackbox.h"
#include "tests/support/expected.h"

namespace {

using mechanism_summary::of;

const std::string& example = expected::mechanism::consecutive;

TEST(ParseMechanism, ReadsTheDocumentedExampleAsItStands) {
  mechanism m;
  ASSERT_EQ(parse_mechanism("runs/abc.txt", example, m), "");
  EXPECT_EQ(of(m, true),
            "species A B C | steps A->B B->C | rates k1=0.1@2 k2=0.02@3 | initials A=1@5 B=0!@6 C=0!@0"
            " | factors eB=1@11 | columns 1=A@8 2=eB*B@9 3=C@10 | data runs/dat.txt@12 start 0");
  EXPECT_EQ(m.net.species, 3);
  EXPECT_EQ(m.lines.size(), 13u);
  // Where each value's text is, for writing it back.
  EXPECT_EQ(m.lines[1].substr(m.rates[0].at, m.rates[0].length), "0.1");
  EXPECT_EQ(m.lines[5].substr(m.initials[1].at, m.initials[1].length), "0");
  EXPECT_EQ(m.lines[10].substr(m.factors[0].at, m.factors[0].length), "1");
}

struct good_case {
  const char* file;
  const char* text;
  const char* record;
};

TEST(ParseMechanism, ReadsGoodFiles) {
  const good_case cases[] = {
      {"m.txt", "A <=> B  kf = 1  kr = 0.5\ncolumn 1 = A\n",
       "species A B | steps A->B B->A | rates kf=1 kr=0.5 | initials A=0! B=0! | factors | columns 1=A | data dat.txt "
       "start 0"},
      {"m.txt", "2 A -> B k = 3 fixed\nA=2\ncolumn 4 = 0.5 * B + A\n",
       "species A B | steps 2A->B | rates k=3! | initials A=2 B=0! | factors | columns 4=0.5*B+A | data dat.txt start "
       "0"},
      {"m.txt", "A + B -> C k=1e-3\nC -> A + B k2 = 0 fixed\ncolumn 2 = -2 * e * C\ne = -1.5 fixed\n",
       "species A B C | steps A+B->C C->A+B | rates k=0.001 k2=0! | initials A=0! B=0! C=0! | factors e=-1.5! | "
       "columns 2=-2*e*C | data dat.txt start 0"},
      {"m.txt", "A -> B\tk=1\r\n# note\r\n\r\n  column 1 = A # A only\r\n\tstart 2.5\r\n",
       "species A B | steps A->B | rates k=1 | initials A=0! B=0! | factors | columns 1=A | data dat.txt start 2.5"},
      {"m.txt", "A+2 B->C k=1\ncolumn 1=0.5*e*C\ne=2\nstart -1",
       "species A B C | steps A+2B->C | rates k=1 | initials A=0! B=0! C=0! | factors e=2 | columns 1=0.5*e*C | data "
       "dat.txt start -1"},
      {"m.txt", "A + B -> 2 B  k = 1\nB -> C  k2 = 2\nB = 1e-3\ncolumn 1 = B + B",
       "species A B C | steps A+B->2B B->C | rates k=1 k2=2 | initials A=0! B=0.001 C=0! | factors | columns 1=B+B | "
       "data dat.txt start 0"},
      {"m.txt", "Z -> Y k=1\nX_1 -> Z k_2=1\ncolumn 1 = X_1",
       "species Z Y X_1 | steps Z->Y X_1->Z | rates k=1 k_2=1 | initials Z=0! Y=0! X_1=0! | factors | columns 1=X_1 | "
       "data dat.txt start 0"},
      {"a/b/m.txt", "A -> B k=1\ncolumn 1 = A\ndata  my data.txt  ",
       "species A B | steps A->B | rates k=1 | initials A=0! B=0! | factors | columns 1=A | data a/b/my data.txt start "
       "0"},
      {"a/b/m.txt", "A -> B k=1\ncolumn 1 = A\ndata /abs/d.txt",
       "species A B | steps A->B | rates k=1 | initials A=0! B=0! | factors | columns 1=A | data /abs/d.txt start 0"},
      {"/x/m.txt", "A -> B k=1\ncolumn 1 = A",
       "species A B | steps A->B | rates k=1 | initials A=0! B=0! | factors | columns 1=A | data /x/dat.txt start 0"},
  };
  for (const good_case& c : cases) {
    mechanism m;
    EXPECT_EQ(parse_mechanism(c.file, c.text, m), "") << c.text;
    EXPECT_EQ(of(m), c.record) << c.text;
  }
}

struct error_case {
  const char* text;
  const char* message;
};

TEST(ParseMechanism, NamesFileAndLineOfEveryError) {
  const error_case cases[] = {
      {"A -> B k=1\ncolumn 1 = A\ncolum 2 = B", "m.txt:3: unknown keyword \"colum\""},
      {"1 2 3", "m.txt:1: expected a reaction, \"NAME = VALUE\", or a column, data, sigma or start line, found \"1\""},
      {"A -> B k = 1.5x", "m.txt:1: \"1.5x\" is not a number"},
      {"A -> B k = nan", "m.txt:1: \"nan\" is not a number"},
      {"A -> B k=1\nA = inf", "m.txt:2: \"inf\" is not a number"},
      {"A -> B k=1\nA = 0x1", "m.txt:2: \"0x1\" is not a number"},
      {"A -> B k=1\nA = 1e999", "m.txt:2: \"1e999\" is not a number"},
      {"A -> B k =", "m.txt:1: expected a number, found the end of the line"},
      {"0 A -> B k=1", "m.txt:1: \"0\" is not a coefficient (a whole number from 1 to 1000)"},
      {"2.5 A -> B k=1", "m.txt:1: \"2.5\" is not a coefficient (a whole number from 1 to 1000)"},
      {"2A -> B k=1", "m.txt:1: \"2A\" is not a coefficient (a whole number from 1 to 1000)"},
      {"1001 A -> B k=1", "m.txt:1: \"1001\" is not a coefficient (a whole number from 1 to 1000)"},
      {"A + -> B k=1", "m.txt:1: expected a species, found \"->\""},
      {"-> B k=1", "m.txt:1: expected a species, found \"->\""},
      {"A B -> C k=1", "m.txt:1: expected \"->\" or \"<=>\", found \"B\""},
      {"A + A -> B k=1", "m.txt:1: \"A\" is twice on one side; give it once with the sum of its coefficients"},
      {"A + B -> B + A k=1", "m.txt:1: the two sides of the reaction are the same"},
      {"A -> B", "m.txt:1: \"->\" takes one rate constant, found 0"},
      {"A -> B k1=1 k2=2", "m.txt:1: \"->\" takes one rate constant, found 2"},
      {"A <=> B k=1", "m.txt:1: \"<=>\" takes two rate constants, forward then reverse, found 1"},
      {"A -> B k 1", "m.txt:1: expected \"=\" after \"k\", found \"1\""},
      {"A -> B k=1 2", "m.txt:1: expected a rate constant \"NAME = VALUE\", found \"2\""},
      {"A -> B k = 0", "m.txt:1: the fitted rate constant \"k\" must be above 0"},
      {"A -> B k = -1 fixed", "m.txt:1: rate constant \"k\" must not be negative"},
      {"data -> B k = 1", "m.txt:1: \"data\" is a keyword, not a name"},
      {"fixed = 1", "m.txt:1: \"fixed\" is a keyword, not a name"},
      {"A -> B k=1\nA = 1 2", "m.txt:2: expected \"fixed\" or the end of the line, found \"2\""},
      {"column 0 = A", "m.txt:1: expected a column number from 1 to 1000000, found \"0\""},
      {"column x = A", "m.txt:1: expected a column number from 1 to 1000000, found \"x\""},
      {"column 1 A", "m.txt:1: expected \"=\" after the column number, found \"A\""},
      {"column 1 = 0.5 A", "m.txt:1: expected \"*\" after the number, found \"A\""},
      {"column 1 = A B", "m.txt:1: expected \"+\" or the end of the line, found \"B\""},
      {"column 1 = A +", "m.txt:1: expected a species, found the end of the line"},
      {"column 1 = $A", "m.txt:1: expected a species, found \"$A\""},
      {"column 1 = 1.5x * A", "m.txt:1: \"1.5x\" is not a number"},
      {"data  # none", "m.txt:1: expected a file name after \"data\""},
      {"data a\ndata b", "m.txt:2: \"data\" is given twice (first on line 1)"},
      {"start x", "m.txt:1: \"x\" is not a number"},
      {"start 1 2", "m.txt:1: expected the end of the line, found \"2\""},
      {"start 1\nstart 1", "m.txt:2: \"start\" is given twice (first on line 1)"},
      {"A -> B k = 1\nB -> C k = 2", "m.txt:2: rate constant \"k\" is given twice (first on line 1)"},
      {"A <=> B k = 1 k = 2", "m.txt:1: rate constant \"k\" is given twice (first on line 1)"},
      {"A -> B  B = 1", "m.txt:1: rate constant \"B\" has the name of a species"},
      {"A -> B k = 1\nB -> C A = 1", "m.txt:2: rate constant \"A\" has the name of a species"},
      {"A -> B k = 1\nk = 2", "m.txt:2: \"k\" is a rate constant (line 1); its value belongs on its reaction line"},
      {"A -> B k = 1\nA = 1\nA = 2", "m.txt:3: the initial concentration of \"A\" is given twice (first on line 2)"},
      {"A -> B k = 1\ne = 1\ne = 2", "m.txt:3: response factor \"e\" is given twice (first on line 2)"},
      {"A -> B k = 1\ncolumn 1 = A\ncolumn 1 = B", "m.txt:3: column 1 is given twice (first on line 2)"},
      {"A -> B k = 1\ncolumn 1 = X", "m.txt:2: species \"X\" is in no reaction"},
      {"A -> B k = 1\ncolumn 1 = A * B", "m.txt:2: \"A\" is a species and cannot be a response factor"},
      {"A -> B k = 1\ncolumn 1 = k * B", "m.txt:2: \"k\" is a rate constant and cannot be a response factor"},
      {"A -> B k = 1\ncolumn 1 = e * B", "m.txt:2: response factor \"e\" has no value line \"e = VALUE\""},
      {"A -> B k = 1\nq = 1\ncolumn 1 = A",
       "m.txt:2: \"q\" is neither a species of a reaction nor a response factor of a column line"},
      {"\xEF\xBB\xBF" "A -> B k=1\nq = 1\ncolumn 1 = A",  // the mark is passed over: line 1 is a reaction
       "m.txt:2: \"q\" is neither a species of a reaction nor a response factor of a column line"},
      {"", "m.txt:1: no reaction line (such as \"A -> B  k1 = 0.1\")"},
      {"column 1 = A\n# x\n", "m.txt:2: no reaction line (such as \"A -> B  k1 = 0.1\")"},
      {"A -> B k = 1\n\n", "m.txt:2: no column line (such as \"column 1 = A\")"},
  };
  for (const error_case& c : cases) {
    mechanism m;
    EXPECT_EQ(parse_mechanism("m.txt", c.text, m), c.message) << c.text;
  }
}

TEST(WriteMechanism, GivesTheTextBackWithEveryValueReplaced) {
  mechanism m;
  ASSERT_EQ(parse_mechanism("m.txt", example, m), "");
  EXPECT_EQ(write_mechanism(m), example);

  m.rates[0].value = 0.123456789012;
  m.rates[1].value = 2e-7;
  m.initials[0].value = 12;
  m.factors[0].value = -0.5;
  std::string expected = example;
  for (auto [from, to] : {std::pair{"k1 = 0.1", "k1 = 0.123456789"},
                          {"k2 = 0.02", "k2 = 2e-07"},
                          {"A = 1", "A = 12"},
                          {"eB = 1", "eB = -0.5"}}) {
    expected.replace(expected.find(from), std::strlen(from), to);
  }
  EXPECT_EQ(write_mechanism(m), expected);
  mechanism again;
  ASSERT_EQ(parse_mechanism("m.txt", expected, again), "");
  EXPECT_EQ(of(again, true), of(m, true));
}

TEST(WriteMechanism, KeepsEverythingButTheValuesByteForByte) {
  const char* const text = "A <=> B\tkf = 1.0e0 fixed  kr=5.   # both\r\n  \ncolumn 1 = 2 * A\r\nA=1e-3\nstart 0.0";
  mechanism m;
  ASSERT_EQ(parse_mechanism("m.txt", text, m), "");
  EXPECT_EQ(write_mechanism(m), "A <=> B\tkf = 1 fixed  kr=5   # both\r\n  \ncolumn 1 = 2 * A\r\nA=0.001\nstart 0.0\n");
  m.rates[1].value = 1.7976931348623157e308;  // ten digits would round beyond the largest double
  mechanism again;
  ASSERT_EQ(parse_mechanism("m.txt", write_mechanism(m), again), "");
  EXPECT_EQ(again.rates[1].value, m.rates[1].value);
}

TEST(ReadMechanism, ReadsTheFileAndSaysWhyNot) {
  testing_support::scratch_dir dir;
  const std::string path = (dir / "m.txt").string();
  testing_support::write_file(path, "A -> B k=1\ncolumn 1 = A\ndata d.txt");
  mechanism m;
  ASSERT_EQ(read_mechanism(path, m), "");
  EXPECT_EQ(m.file, path);
  EXPECT_EQ(m.data, (dir / "d.txt").string());
  EXPECT_EQ(read_mechanism((dir / "none.txt").string(), m),
            "cannot read \"" + (dir / "none.txt").string() + "\": " + std::strerror(ENOENT));
  EXPECT_EQ(read_mechanism(dir.path.string(), m),
            "cannot read \"" + dir.path.string() + "\": " + std::strerror(EISDIR));
}

}  // namespace
