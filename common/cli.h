// The command-line pieces every program shares: the --help and --version
// answers and the one-line error exit.
#pragma once

#include <string>

namespace cli {

enum class info { none, help, version };

// What the first argument asks for: --help or -h, --version, or nothing of
// the kind. With alone, only when it is the only argument.
info info_option(int argc, char** argv, bool alone);

// Prints the help text, or "PROGRAM VERSION", to standard output; returns
// the exit status 0.
int print_info(info what, const char* program, const char* help_text);

// Prints "PROGRAM: message" on standard error; returns the exit status 1.
int fail(const char* program, const std::string& message);

// Prints the whole line on standard error; returns the exit status 1.
int fail_with(const std::string& line);

}  // namespace cli
