// The time column of dat.txt: one decimal where it holds the time exactly,
// the digits the time needs elsewhere.
#include "integrator/time_text.h"

#include <gtest/gtest.h>

namespace {

TEST(TimeText, StepTimes) {
  const struct { double step; long long j; int decimals; std::string text; } cases[] = {
      {0.5, 3, 1, "  1.5 "},       {1, 7, 0, "  7.0 "},         {0.0333, 0, 0, "  0.0 "},
      {0.0333, 1, 4, "0.0333 "},   {0.0333, 2, 4, "0.0666 "},   {0.0333, 3, 4, "0.0999 "},
      {0.0333, 10, 3, "0.333 "},   {0.0333, 30, 3, "0.999 "},   {0.1, 3, 1, "  0.3 "},
      {0.05, 1, 2, " 0.05 "},      {0.05, 2, 1, "  0.1 "},      {0.05, 3, 2, " 0.15 "},
      {0.25, 4, 0, "  1.0 "},      {-0.5, 1, 1, " -0.5 "},      {1234.5, 1, 1, "1234.5 "},
      {1e-5, 3, 5, "0.00003 "},    {2.5e-7, 4, 6, "0.000001 "}, {1e20, 3, 0, "300000000000000000000.0 "},
      {0.0333, 1000000, 0, "33300.0 "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(time_decimals(c.step, c.j), c.decimals) << c.step << " x " << c.j;
    std::string out;
    append_step_time(out, c.step, c.j);
    EXPECT_EQ(out, c.text) << c.step << " x " << c.j;
  }
}

TEST(TimeText, GivenTimes) {
  const struct { double t; std::string text; } cases[] = {
      {0, "  0.0 "}, {2.5, "  2.5 "}, {-0.0, " -0.0 "}, {0.0333, "0.0333 "}, {0.1, "  0.1 "},
      {0.30000000000000004, "0.30000000000000004 "}, {86400.25, "86400.25 "}, {1e-7, "0.0000001 "},
  };
  for (const auto& c : cases) {
    std::string out;
    append_given_time(out, c.t);
    EXPECT_EQ(out, c.text) << c.t;
  }
}

}  // namespace
