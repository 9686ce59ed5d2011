#include "instrument/spectrum.h"

namespace instrument {

std::string at_line(const std::string& path, long long line) { return path + " line " + std::to_string(line) + ": "; }

bool strip_bom(std::string_view& text) {
  if (!text.starts_with("\xEF\xBB\xBF")) return false;
  text.remove_prefix(3);
  return true;
}

}  // namespace instrument
