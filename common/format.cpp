#include "common/format.h"

#include <cstdio>

std::string format_g(double v, int digits) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*g", digits, v);
  return buffer;
}
