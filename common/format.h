// Numbers as text with a chosen count of significant digits.
#pragma once

#include <string>

// "%.*g" of v.
std::string format_g(double v, int digits = 10);
