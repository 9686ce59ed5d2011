// Test helpers: scratch directories, whole files, and running the built
// programs in a directory of their own with standard output and standard
// error captured byte for byte.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <sys/types.h>
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

// The names of the entries of dir, sorted.
std::vector<std::string> names_in(const std::filesystem::path& dir);

// Writes every file of files (name, bytes) into dir, the first replace in
// the file named file changed to with; false, with nothing written, when
// that file does not hold replace.
bool write_edited(const std::filesystem::path& dir, std::map<std::string, std::string> files, const std::string& file,
                  const std::string& replace, const std::string& with);

struct run_result {
  int status = -1;       // exit status, or 128 + signal number when killed
  std::string out;       // standard output, every byte
  std::string err;       // standard error, every byte
  long max_rss_kib = 0;  // the program's peak resident memory
};

// Runs the program with the arguments (not counting argv[0]) in the working
// directory dir, with standard input from /dev/null.
run_result run(const std::string& program, const std::vector<std::string>& args,
               const std::filesystem::path& dir);

// Starts the program as run() does, its console discarded, and returns at
// once with its process id; wait_for(pid) then gives its status as run()
// does.
pid_t start(const std::string& program, const std::vector<std::string>& args, const std::filesystem::path& dir);
int wait_for(pid_t pid);

// Runs the program as run() does, as the current user when file permissions
// hold for it, and as root through setpriv as the unprivileged user 65534
// (nobody), from a copy of the program that user can reach, after giving
// everybody read access to dir and its files.
run_result run_unprivileged(const std::string& program, const std::vector<std::string>& args,
                            const std::filesystem::path& dir);

}  // namespace testing_support
