// The number reader must read every line exactly as stream extraction of
// doubles does, and skipping a number must move as reading it does.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "common/numparse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  std::vector<double> fast;
  const char* p = line.data();
  const char* q = p;  // moved by skip_double, which must move as scan_double
  double v;
  for (bool more = true; more;) {
    more = numparse::scan_double(p, line.data() + line.size(), v);
    if (numparse::skip_double(q, line.data() + line.size()) != more || p != q) std::abort();
    if (more) fast.push_back(v);
  }

  std::istringstream in(line);
  std::vector<double> reference;
  while (in >> v) reference.push_back(v);

  if (fast.size() != reference.size()) std::abort();
  for (std::size_t i = 0; i < fast.size(); ++i) {
    if (std::memcmp(&fast[i], &reference[i], sizeof v) != 0) std::abort();
  }
  return 0;
}
