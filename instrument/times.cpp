#include "instrument/times.h"

#include <cerrno>
#include <charconv>
#include <cstring>

#include "common/lines.h"
#include "instrument/delimited.h"
#include "instrument/spectrum.h"

namespace instrument {

void append_shortest(std::string& out, double v) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, v);
  out.append(text, result.ptr);
}

std::string times_text(const std::vector<double>& times) {
  std::string out;
  for (const double t : times) {
    append_shortest(out, t);
    out += '\n';
  }
  return out;
}

std::string read_times(const std::string& path, std::vector<double>& times) {
  times.clear();
  long long line_no = 0;
  std::string error;
  errno = 0;
  const lines::status status = lines::for_each_line(path.c_str(), [&](std::string_view text) {
    ++line_no;
    if (line_no == 1) strip_bom(text);
    std::size_t first = 0;
    while (first < text.size() && (text[first] == ' ' || text[first] == '\t' || text[first] == '\r')) ++first;
    if (first == text.size() || text[first] == '#') return true;
    double t = 0.0;
    if (!field_number(text.substr(first), false, t)) {
      error = at_line(path, line_no) + "expected one time (a finite number) on the line, not \"" +
              std::string(text.substr(first, 40)) + "\"";
      return false;
    }
    times.push_back(t);
    return true;
  });
  if (status == lines::status::not_opened) return "cannot open the times file " + path + ": " + std::strerror(errno != 0 ? errno : EISDIR);
  if (!error.empty()) return error;
  if (status == lines::status::read_error) return path + ": read error: " + std::strerror(errno);
  return {};
}

}  // namespace instrument
