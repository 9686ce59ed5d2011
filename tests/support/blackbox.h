// Test helpers: scratch directories, whole files, and running the built
// programs in a directory of their own with standard output and standard
// error captured byte for byte.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// A fresh, empty directory under the system's temporary folder, removed with
// everything in it when the record goes out of scope.
struct scratch_dir {
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;

  std::filesystem::path path;
  std::filesystem::path operator/(const std::string& name) const { return path / name; }
};

std::string read_file(const std::filesystem::path& file);
void write_file(const std::filesystem::path& file, const std::string& bytes);

struct run_result {
  int status = -1;  // exit status, or 128 + signal number when killed
  std::string out;  // standard output, every byte
  std::string err;  // standard error, every byte
};

// Runs the program with the arguments (not counting argv[0]) in the working
// directory dir, with standard input from /dev/null.
run_result run(const std::string& program, const std::vector<std::string>& args,
               const std::filesystem::path& dir);

// True when the current user cannot bypass file permissions (root can), so
// that a test relying on a permission failure can run at all.
bool permissions_enforced();

}  // namespace testing_support
