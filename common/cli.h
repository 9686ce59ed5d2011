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

// Runs a program's run function; an allocation that fails anyway ends it
// with "PROGRAM: out of memory" and the exit status 1, not an abort.
int guarded(const char* program, int (*run)(int, char**), int argc, char** argv);

}  // namespace cli
