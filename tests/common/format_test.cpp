// Numbers as text: the bytes of printf's "%.*g", whatever the value and digits.
#include "common/format.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

std::string printf_g(double v, int digits) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, "%.*g", digits, v);
  return buffer;
}

TEST(FormatG, GivesTheBytesOfPrintf) {
  const double values[] = {0.0,     -0.0,     1.0,       -2.5,       0.1,          1e-5,          123456789012.0,
                           1e100,   -1e-300,  DBL_MAX,   DBL_MIN,    DBL_TRUE_MIN, 0.19999960512, 9.9999999995,
                           99999.5, 0.000125, 1.0 / 3.0, NAN,        -NAN,         INFINITY,      -INFINITY};
  for (int digits : {-1, 0, 1, 3, 4, 6, 10, 15, 17, 40}) {
    for (double v : values) EXPECT_EQ(format_g(v, digits), printf_g(v, digits)) << v << " " << digits;
  }
}

}  // namespace
