#include "common/cli.h"

#include <cstring>
#include <iostream>
#include <new>

namespace cli {

info info_option(int argc, char** argv, bool alone) {
  if (argc < 2 || (alone && argc != 2)) return info::none;
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) return info::help;
  if (std::strcmp(argv[1], "--version") == 0) return info::version;
  return info::none;
}

int print_info(info what, const char* program, const char* help_text) {
  if (what == info::help) {
    std::cout << help_text << std::flush;
  } else {
    std::cout << program << " " KINETICS_VERSION << std::endl;
  }
  return 0;
}

int fail(const char* program, const std::string& message) { return fail_with(program + (": " + message)); }

int guarded(const char* program, int (*run)(int, char**), int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    return fail(program, "out of memory");
  }
}

int fail_with(const std::string& line) {
  std::cerr << line << std::endl;
  return 1;
}

}  // namespace cli
