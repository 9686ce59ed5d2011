// The times file: the time of every spectrum of a series, one a line, as
// specconv writes it and bandsum --times reads it.
#pragma once

#include <string>
#include <vector>

namespace instrument {

// Appends v in the shortest form that reads back to the same double
// ("0.0333", "12", "1e-07").
void append_shortest(std::string& out, double v);

// The text of a times file: every time in its shortest form, a line each.
std::string times_text(const std::vector<double>& times);

// Reads a times file: one finite number a line (blanks around it allowed),
// empty lines and lines beginning with "#" skipped, a UTF-8 byte-order mark
// passed over. Returns "" or "PATH line N: ..." / "PATH: ...".
std::string read_times(const std::string& path, std::vector<double>& times);

}  // namespace instrument
