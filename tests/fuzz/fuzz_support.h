// Shared by the fuzz targets: a private working directory for the whole
// fuzzing process, whole-file writes, and splitting one input into files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace fuzz_support {

// Moves the process into a fresh temporary directory (once).
inline void enter_scratch_dir() {
  static const bool entered = [] {
    char pattern[] = "/tmp/kinetics-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr || chdir(pattern) != 0) std::abort();
    return true;
  }();
  (void)entered;
}

inline void write_file(const char* name, std::string_view bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) std::abort();
}

inline std::string read_file(const char* name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Splits the input at the lines "====" into exactly n parts (missing parts
// are empty, the last part takes the rest), so that seed files stay
// readable.
inline std::vector<std::string_view> split(const std::uint8_t* data, std::size_t size, std::size_t n) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> parts;
  constexpr std::string_view marker = "\n====\n";
  while (parts.size() + 1 < n) {
    const std::size_t at = rest.find(marker);
    if (at == std::string_view::npos) break;
    parts.push_back(rest.substr(0, at + 1));
    rest.remove_prefix(at + marker.size());
  }
  parts.push_back(rest);
  parts.resize(n);
  return parts;
}

}  // namespace fuzz_support
