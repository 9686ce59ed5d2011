// Mechanism files of several experiments, linked values, start times and
// temperatures: what they read as, and every error naming its line.
#include <gtest/gtest.h>

#include <string>

#include <cmath>

#include "model/kinetics.h"
#include "model/mechanism.h"

namespace {

struct case_text {
  const char* text;
  const char* message;
};

TEST(MechanismBlocks, NamesFileAndLineOfEveryError) {
  const case_text cases[] = {
      {"A -> B k=1\nexperiment e\nB -> C k2=1\ncolumn 1 = A",
       "m.txt:3: a reaction belongs before the first experiment: the reactions are shared"},
      {"A -> B k=1\ncolumn 1 = A\nexperiment e\nexperiment e", "m.txt:4: \"e\" is given twice (first on line 3)"},
      {"A -> B k=1\ncolumn 1 = A\nexperiment e\ngroup g = e f", "m.txt:4: \"f\" is not an experiment"},
      {"A -> B k=1\ncolumn 1 = A\nexperiment e\ngroup g =", "m.txt:4: a group needs at least one experiment, found the end of the line"},
      {"A -> B k=1\ncolumn 1 = A\nexperiment e\ngroup g = e\ndata x", "m.txt:5: a group holds values only; \"data\" belongs to an experiment"},
      {"A -> B k=1\nexperiment e\nA = 1", "m.txt:2: experiment \"e\" has no column line, and there is no shared one"},
      {"A -> B k=1\ncolumn 1 = A\nexperiment e\nA = 1\nA = 2", "m.txt:5: the initial concentration of \"A\" is given twice (first on line 4)"},
      {"A -> B k=1\ncolumn 1 = A\ngroup g = e", "m.txt:3: \"e\" is not an experiment"},
      {"A -> B k=1\ncolumn 1 = A\nexperiment e\nk = 0", "m.txt:4: the fitted rate constant \"k\" must be above 0"},
      {"A -> B k = kf / K\ncolumn 1 = A\nkf = 1", "m.txt:1: \"K\" in the expression of \"k\" is neither a rate constant nor a value of the file"},
      {"A <=> B kf = kr * 2  kr = kf / 2\ncolumn 1 = A", "m.txt:1: the expression of \"kr\" depends on itself through \"kf\""},
      {"A -> B k = 2 * A\ncolumn 1 = A", "m.txt:1: \"A\" is a species: an expression uses rate constants and values, not concentrations"},
      {"A -> B k = 2 * (x\ncolumn 1 = A", "m.txt:1: expected \")\", found the end of the line"},
      {"A -> B k = exp(1, 2)\ncolumn 1 = A", "m.txt:1: exp takes 1 arguments, found 2"},
      {"A -> B k = 2 * \ncolumn 1 = A", "m.txt:1: expected a value, found the end of the line"},
      {"A -> B k = arrhenius(kr, Ea)\nkr = 1\nEa = 50\ncolumn 1 = A", "m.txt:1: \"k\" depends on the temperature, but the file has no temperature line"},
      {"A -> B k=1\ncolumn 1 = A\ntemperature 0", "m.txt:3: the temperature must be above 0 kelvin"},
      {"A -> B k=1\ncolumn 1 = A\nstart t0 = x", "m.txt:3: \"x\" is not a number"},
      {"A -> B k=1\ncolumn 1 = A\nstart t0 = 1 2", "m.txt:3: expected the end of the line, found \"2\""},
  };
  for (const case_text& c : cases) {
    mechanism m;
    EXPECT_EQ(parse_mechanism("m.txt", c.text, m), c.message) << c.text;
  }
}

TEST(MechanismBlocks, ValuesAreFoundInTheExperimentThenItsGroupThenShared) {
  mechanism m;
  ASSERT_EQ(parse_mechanism("d/m.txt",
                            "A -> B k = 1\nB -> C k2 = k * 2\ne = 1\ncolumn 1 = e * A\ndata s.txt\n"
                            "experiment one\nA = 2\nk = 3\n"
                            "experiment two\ndata two.txt\nstart t0 = 1.5 fixed\ntemperature 300\n"
                            "group g = one two\ne = 4\n",
                            m),
            "");
  ASSERT_EQ(m.blocks.size(), 3u);
  EXPECT_EQ(m.blocks[0].data, "d/s.txt");
  EXPECT_EQ(m.blocks[1].data, "d/two.txt");
  EXPECT_EQ(m.blocks[2].members, (std::vector<int>{0, 1}));
  const struct {
    int e;
    const char* name;
    value_kind kind;
    double value;
  } lookups[] = {
      {0, "k", value_kind::rate, 3}, {1, "k", value_kind::rate, 1}, {0, "A", value_kind::initial, 2},
      {1, "A", value_kind::initial, 0}, {0, "e", value_kind::factor, 4}, {-1, "e", value_kind::factor, 1},
  };
  for (const auto& l : lookups) {
    value_kind kind = value_kind::start;
    int index = -1;
    ASSERT_TRUE(find_value(m, l.e, l.name, kind, index)) << l.name;
    EXPECT_EQ(kind, l.kind) << l.name;
    EXPECT_EQ(value_list_of(m, kind)[static_cast<std::size_t>(index)].value, l.value) << l.name << " in " << l.e;
  }
  EXPECT_EQ(m.blocks[1].start_value, 0);
  EXPECT_TRUE(m.starts[0].fixed);
  EXPECT_EQ(m.blocks[1].temperature, 300);
}

TEST(MechanismBlocks, WritesBackLocalValuesParametersAndStarts) {
  const std::string text =
      "A <=> B  kf = 1  kr = kf / K\nK = 0.17 fixed\ncolumn 1 = A\nexperiment x\nstart t0 = 2\nA = 1\n";
  mechanism m;
  ASSERT_EQ(parse_mechanism("m.txt", text, m), "");
  EXPECT_EQ(write_mechanism(m), text);
  m.starts[0].value = 2.5;
  m.parameters[0].value = 0.25;
  m.initials.back().value = 3;
  EXPECT_EQ(write_mechanism(m),
            "A <=> B  kf = 1  kr = kf / K\nK = 0.25 fixed\ncolumn 1 = A\nexperiment x\nstart t0 = 2.5\nA = 3\n");
}

TEST(FractionalProducts, ReadWriteAndIntegrate) {
  const std::string text = "2 A -> 1.5 B + .25 C  k = 0.5\nA = 1\ncolumn 1 = A\n";
  mechanism m;
  ASSERT_EQ(parse_mechanism("m.txt", text, m), "");
  ASSERT_EQ(m.net.steps.size(), 1u);
  const std::vector<stoich>& products = m.net.steps[0].products;
  EXPECT_EQ(product_amount(products[0]), 1.5);
  EXPECT_EQ(product_amount(products[1]), 0.25);
  EXPECT_EQ(m.net.steps[0].reactants[0].coefficient, 2);
  EXPECT_EQ(write_mechanism(m), text);
  mechanism again;
  ASSERT_EQ(parse_mechanism("m.txt", write_mechanism(m), again), "");
  EXPECT_EQ(product_amount(again.net.steps[0].products[0]), 1.5);
  // dA/dt = -2 k A^2: A = 1 / (1 + 2 k t), B = 0.75 (1 - A), C = (1 - A) / 8.
  trajectory c;
  ASSERT_EQ(solve(m.net, {0.5}, {1, 0, 0}, 0, {0, 1, 4}, {0}, c), "");
  for (int i = 0; i < 3; ++i) {
    const double t = i == 0 ? 0 : i == 1 ? 1 : 4, a = 1 / (1 + t);
    EXPECT_NEAR(c.c[static_cast<std::size_t>(i) * 3 + 1], 0.75 * (1 - a), 1e-8) << t;
    EXPECT_NEAR(c.c[static_cast<std::size_t>(i) * 3 + 2], (1 - a) / 8, 1e-8) << t;
    // dB/dk = 0.75 * 2 t / (1 + t)^2
    EXPECT_NEAR(c.dc[(static_cast<std::size_t>(i) * 3 + 1)], 0.75 * 2 * t / ((1 + t) * (1 + t)), 1e-7) << t;
  }
  // First order: closed form.
  ASSERT_EQ(parse_mechanism("m.txt", "A -> 0.5 O2 + B k = 1\ncolumn 1 = O2\n", m), "");
  ASSERT_EQ(solve(m.net, {0.3}, {1, 0, 0}, 0, {2}, {}, c), "");
  EXPECT_NEAR(c.c[1], 0.5 * (1 - std::exp(-0.6)), 1e-12);
}

TEST(FractionalProducts, OnlyProductsAndOnlyOneWay) {
  const case_text cases[] = {
      {"0.5 A -> B k=1\ncolumn 1 = A", "m.txt:1: \"0.5\" is not a coefficient (a whole number from 1 to 1000)"},
      {"A -> 0 B k=1\ncolumn 1 = A",
       "m.txt:1: \"0\" is not a coefficient (a number above 0 and at most 1000 on the product side)"},
      {"A -> 1e4 B k=1\ncolumn 1 = A",
       "m.txt:1: \"1e4\" is not a coefficient (a number above 0 and at most 1000 on the product side)"},
      {"A <=> 0.5 B kf=1 kr=1\ncolumn 1 = A",
       "m.txt:1: \"<=>\" needs whole coefficients: the reverse step has the products as its reactants"},
  };
  for (const case_text& c : cases) {
    mechanism m;
    EXPECT_EQ(parse_mechanism("m.txt", c.text, m), c.message) << c.text;
  }
}

}  // namespace
