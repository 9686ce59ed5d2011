// Bounds ">= LO" and "<= HI" on value lines: what they read as, the errors
// that name their line, and the values written back within them.
#include <cmath>
#include <gtest/gtest.h>

#include "model/mechanism.h"

namespace {

const named_value& named(const std::vector<named_value>& list, const std::string& name) {
  for (const named_value& v : list) {
    if (v.name == name) return v;
  }
  static const named_value none;
  return none;
}

TEST(MechanismBounds, ReadOnEveryKindOfValueLine) {
  const std::string text =
      "A <=> B  kf = 0.1 >= 0.01 <= 10  kr = 0.5<=2 fixed\n"
      "A = 1 <= 2 >= 0.5\n"
      "B = 0 fixed >= 0\n"
      "column 1 = eA * A\n"
      "eA = 1 >= 0\n"
      "start t0 = 1 >= -1 <= 2\n";
  mechanism m;
  ASSERT_EQ(parse_mechanism("m.txt", text, m), "");
  const struct {
    const named_value& v;
    double value, lower, upper;
    bool fixed;
  } cases[] = {
      {named(m.rates, "kf"), 0.1, 0.01, 10, false},  {named(m.rates, "kr"), 0.5, -INFINITY, 2, true},
      {named(m.initials, "A"), 1, 0.5, 2, false},    {named(m.initials, "B"), 0, 0, INFINITY, true},
      {named(m.factors, "eA"), 1, 0, INFINITY, false}, {named(m.starts, "t0"), 1, -1, 2, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.v.value, c.value) << c.v.name;
    EXPECT_EQ(c.v.lower, c.lower) << c.v.name;
    EXPECT_EQ(c.v.upper, c.upper) << c.v.name;
    EXPECT_EQ(c.v.fixed, c.fixed) << c.v.name;
  }
  EXPECT_FALSE(named(m.rates, "kf").lower == -INFINITY);
  mechanism plain;
  ASSERT_EQ(parse_mechanism("m.txt", "A -> B k = 1\nA = 1\ncolumn 1 = A\n", plain), "");
  EXPECT_FALSE(plain.rates[0].bounded());
  EXPECT_FALSE(plain.initials[0].bounded());
}

TEST(MechanismBounds, ErrorsNameTheLine) {
  const struct {
    std::string text, message;
  } cases[] = {
      {"A -> B k = 0.1 >= 0.2 <= 0.1\n", "m.txt:1: the lower bound 0.2 of \"k\" is above its upper bound 0.1"},
      {"A -> B k = 0.1\nA = 2 fixed <= 1\n", "m.txt:2: \"A\" = 2 is above its upper bound 1"},
      {"A -> B k = 0.1\nA = -1 >= 0\n", "m.txt:2: \"A\" = -1 is below its lower bound 0"},
      {"A -> B k = 0.01 >= 0.1\n", "m.txt:1: \"k\" = 0.01 is below its lower bound 0.1"},
      {"A -> B k = 0.1\nA = 1 >= 0 >= 1\n", "m.txt:2: \">=\" is given twice for one value"},
      {"A -> B k = 0.1 >=-1\n",
       "m.txt:1: the lower bound -1 of rate constant \"k\" is below 0; rate constants are at least 0"},
      {"A -> B k = 0.1\nA = 1 <= x\n", "m.txt:2: \"x\" is not a number"},
      {"A -> B k = 0.1\nA = 1 >=\n", "m.txt:2: expected a number, found the end of the line"},
      {"A -> B k = 2 * q >= 0\nq = 1\n", "m.txt:1: \"k\" follows from its expression and takes no bounds"},
      {"A -> B k = 0.1\nstart t0 = 3 <= 2\n", "m.txt:2: \"t0\" = 3 is above its upper bound 2"},
      {"A -> B k = 0.1\nA = 1 <= 2 fixed fixed\n",
       "m.txt:2: expected \"fixed\" or the end of the line, found \"fixed\""},
  };
  for (const auto& c : cases) {
    mechanism m;
    EXPECT_EQ(parse_mechanism("m.txt", c.text + "column 1 = A\n", m), c.message) << c.text;
  }
}

TEST(MechanismBounds, ValuesAtABoundAreWrittenBackWithinIt) {
  mechanism m;
  ASSERT_EQ(parse_mechanism("m.txt", "A -> B k = 0.2 >= 0.12345678901234\nA = 1 <= 2\ncolumn 1 = A\n", m), "");
  // The value a fit that ends at the bound gives.
  m.rates[0].value = 0.12345678901234;
  m.initials[0].value = 1.5;
  const std::string back = write_mechanism(m);
  EXPECT_EQ(back, "A -> B k = 0.12345678901234 >= 0.12345678901234\nA = 1.5 <= 2\ncolumn 1 = A\n");
  mechanism again;
  EXPECT_EQ(parse_mechanism("m.txt", back, again), "");
  EXPECT_EQ(again.rates[0].value, again.rates[0].lower);
}

}  // namespace
