#include "tests/support/blackbox.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testing_support {

scratch_dir::scratch_dir() {
  std::string pattern = (fs::temp_directory_path() / "kinetics-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path = pattern;
}

scratch_dir::~scratch_dir() {
  std::error_code ec;
  // Tests may leave read-only files and folders behind; make them removable.
  for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (!it->is_symlink(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path, ec);
}

std::string read_file(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const fs::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out.flush()) throw std::runtime_error("cannot write " + file.string());
}

std::vector<std::string> names_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool write_edited(const fs::path& dir, std::map<std::string, std::string> files, const std::string& file,
                  const std::string& replace, const std::string& with) {
  std::string& text = files[file];
  const std::size_t at = text.find(replace);
  if (at == std::string::npos) return false;
  text.replace(at, replace.size(), with);
  for (const auto& [name, bytes] : files) write_file(dir / name, bytes);
  return true;
}

namespace {

// Forks and runs the program in dir, its console going to the files out and err.
pid_t spawn(const std::string& program, const std::vector<std::string>& args, const fs::path& dir,
            const char* out_path, const char* err_path) {
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    // A program stopped by a test's signal must not inherit an ignored one.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(out_path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 ||
        ::chdir(dir.c_str()) != 0)
      ::_exit(126);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}

int wait_status(pid_t pid, long* max_rss_kib) {
  int wstatus = 0;
  rusage usage {};
  while (::wait4(pid, &wstatus, 0, &usage) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  }
  if (max_rss_kib != nullptr) *max_rss_kib = usage.ru_maxrss;
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

}  // namespace

run_result run(const std::string& program, const std::vector<std::string>& args, const fs::path& dir) {
  // The console goes to files outside the working directory, so that the
  // program's own files are all that the directory holds.
  scratch_dir console;
  const fs::path out_path = console / "stdout";
  const fs::path err_path = console / "stderr";
  const pid_t pid = spawn(program, args, dir, out_path.c_str(), err_path.c_str());
  run_result result;
  result.status = wait_status(pid, &result.max_rss_kib);
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  return result;
}

pid_t start(const std::string& program, const std::vector<std::string>& args, const fs::path& dir) {
  return spawn(program, args, dir, "/dev/null", "/dev/null");
}

int wait_for(pid_t pid) { return wait_status(pid, nullptr); }

run_result run_unprivileged(const std::string& program, const std::vector<std::string>& args, const fs::path& dir) {
  if (::geteuid() != 0) return run(program, args, dir);
  const char* const setpriv = "/usr/bin/setpriv";
  if (::access(setpriv, X_OK) != 0) throw std::runtime_error("setpriv (util-linux) is needed to drop root's rights");
  // The user must be able to reach the program and read the folder's files.
  scratch_dir bin;
  const fs::path copy = bin / fs::path(program).filename().string();
  fs::copy_file(program, copy);
  fs::permissions(bin.path, fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
  fs::permissions(copy, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
  fs::permissions(dir, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file()) fs::permissions(entry.path(), fs::perms::others_read, fs::perm_options::add);
  }
  std::vector<std::string> all = {"--reuid=65534", "--regid=65534", "--clear-groups", copy.string()};
  all.insert(all.end(), args.begin(), args.end());
  return run(setpriv, all, dir);
}

}  // namespace testing_support
