// The plain records every instrument reader hands over: one spectrum at a
// time, with its time when the file gives one.
#pragma once

#include <functional>
#include <string_view>
#include <string>
#include <vector>

namespace instrument {

// One spectrum: its samples in file order and, when the file says, the time
// it was taken (seconds, or the unit of the file's own time column).
struct spectrum {
  std::vector<double> x;
  std::vector<double> y;
  double time = 0.0;
  bool timed = false;  // time was read from the file
};

// Takes one spectrum; returns "" to go on, or a message that stops the read
// (and becomes its result).
using spectrum_sink = std::function<std::string(const spectrum&)>;

// "PATH line N: ", the start of a message about a line of a file.
std::string at_line(const std::string& path, long long line);

// Removes a UTF-8 byte-order mark at the start of text; true if there was one.
bool strip_bom(std::string_view& text);

}  // namespace instrument
