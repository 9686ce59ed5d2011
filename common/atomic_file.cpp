#include "common/atomic_file.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <algorithm>
#include <iterator>
#include <system_error>
#include <thread>
#include <vector>

extern char** environ;

namespace {

// ---- Removal of pending new files when a signal ends the process ----------

// The new files being written: their folders and names, read by the signal
// handler, which may only make async-signal-safe calls.
struct cleanup_slot {
  volatile std::sig_atomic_t used;
  int dir_fd;
  char name[NAME_MAX + 1];
};
constexpr int slot_count = 16;
cleanup_slot slots[slot_count];
int slots_in_use = 0;
// The helper processes (gnuplot) that a signal ending this one stops too;
// 0 marks a free place.
constexpr int child_count = 16;
volatile std::sig_atomic_t child_pids[child_count];

constexpr int handled_signals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int signal_count = sizeof handled_signals / sizeof handled_signals[0];
struct sigaction previous_actions[signal_count];
bool installed[signal_count];

extern "C" void remove_pending_and_reraise(int sig) {
  const int saved = errno;
  for (cleanup_slot& slot : slots) {
    if (slot.used) ::unlinkat(slot.dir_fd, slot.name, 0);
  }
  for (const volatile std::sig_atomic_t& child : child_pids) {
    if (child > 0) ::kill(static_cast<pid_t>(child), SIGKILL);
  }
  // SA_RESETHAND has restored the default action and SA_NODEFER lets it
  // act at once: the process ends as the signal would have ended it.
  ::raise(sig);
  errno = saved;
}

// While pending files exist the handler is installed for the signals that
// are not ignored; the previous actions come back with the last file.
void install_handler() {
  struct sigaction action {};
  action.sa_handler = remove_pending_and_reraise;
  action.sa_flags = SA_RESETHAND | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < signal_count; ++i) {
    installed[i] = false;
    if (::sigaction(handled_signals[i], nullptr, &previous_actions[i]) != 0) continue;
    if (previous_actions[i].sa_handler == SIG_IGN) continue;
    installed[i] = ::sigaction(handled_signals[i], &action, nullptr) == 0;
  }
}

void restore_handlers() {
  for (int i = 0; i < signal_count; ++i) {
    if (installed[i]) ::sigaction(handled_signals[i], &previous_actions[i], nullptr);
    installed[i] = false;
  }
}

// Blocks the handled signals for its lifetime, so that a file and its slot
// come and go together.
struct signals_blocked {
  sigset_t old;
  signals_blocked() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : handled_signals) sigaddset(&set, sig);
    ::sigprocmask(SIG_BLOCK, &set, &old);
  }
  ~signals_blocked() { ::sigprocmask(SIG_SETMASK, &old, nullptr); }
  signals_blocked(const signals_blocked&) = delete;
  signals_blocked& operator=(const signals_blocked&) = delete;
};

// Takes a free slot for dir_fd/name; call with the signals blocked.
bool take_slot(int dir_fd, const std::string& name) {
  for (cleanup_slot& slot : slots) {
    if (slot.used) continue;
    slot.dir_fd = dir_fd;
    std::memcpy(slot.name, name.c_str(), name.size() + 1);
    slot.used = 1;
    if (slots_in_use++ == 0) install_handler();
    return true;
  }
  return false;
}

void free_slot(int dir_fd, const std::string& name) {
  const signals_blocked blocked;
  for (cleanup_slot& slot : slots) {
    if (!slot.used || slot.dir_fd != dir_fd || name != slot.name) continue;
    slot.used = 0;
    if (--slots_in_use == 0) restore_handlers();
    return;
  }
}

// Exclusive flock()s on the distinct folders of a commit's files, taken in
// the order of their identities so that two commits cannot wait for each
// other. A folder that cannot be locked (open for search only, a file
// system without locks) is renamed into unlocked.
struct folder_locks {
  std::vector<int> fds;
  explicit folder_locks(const std::vector<new_file*>& files) {
    std::vector<std::pair<std::pair<dev_t, ino_t>, int>> folders;
    for (const new_file* file : files) {
      struct stat info {};
      if (file->temp.empty() || ::fstat(file->dir_fd, &info) != 0) continue;
      folders.push_back({{info.st_dev, info.st_ino}, file->dir_fd});
    }
    std::sort(folders.begin(), folders.end());
    for (std::size_t i = 0; i < folders.size(); ++i) {
      if (i > 0 && folders[i].first == folders[i - 1].first) continue;
      while (::flock(folders[i].second, LOCK_EX) != 0 && errno == EINTR) {
      }
      fds.push_back(folders[i].second);
    }
  }
  ~folder_locks() {
    for (int fd : fds) ::flock(fd, LOCK_UN);
  }
  folder_locks(const folder_locks&) = delete;
  folder_locks& operator=(const folder_locks&) = delete;
};

// ---- Names ----------------------------------------------------------------

std::string message(const char* what, const std::string& name, int error) {
  return std::string("cannot ") + what + " \"" + name + "\": " + std::strerror(error);
}

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1);  // with its slash; "/" for the root
}

// Follows symbolic links from name to the file they finally point to, which
// need not exist. Returns false with errno set on a loop.
bool resolve_links(const std::string& name, std::string& target) {
  target = name;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info {};
    if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return true;
    std::string link(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : PATH_MAX), '\0');
    const ssize_t length = ::readlink(target.c_str(), link.data(), link.size());
    if (length < 0) return true;  // gone meanwhile: the open reports what is there
    link.resize(static_cast<std::size_t>(length));
    target = !link.empty() && link.front() == '/' ? link : folder_of(target) + link;
  }
  errno = ELOOP;
  return false;
}

// A name for the new file, hidden and unlikely to be taken: ".NAME.new-XXXXXX".
std::string temp_name(const std::string& target) {
  static unsigned long long counter = 0;
  timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  unsigned long long mix = static_cast<unsigned long long>(now.tv_nsec) ^
                           (static_cast<unsigned long long>(::getpid()) << 32) ^ (++counter * 0x9E3779B97F4A7C15ULL);
  static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = "." + target.substr(0, NAME_MAX - 16) + ".new-";
  for (int i = 0; i < 6; ++i, mix /= 62) name += letters[mix % 62];
  return name;
}

// ---- Opening ---------------------------------------------------------------

// The result is a device or a pipe: written in place.
std::string open_in_place(const std::string& target, new_file& file) {
  file.fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (file.fd < 0) return message("create", file.name, errno);
  file.path = target;
  return {};
}

// Creates the new file in the folder open as file.dir_fd.
std::string create_temp(new_file& file, const std::string& folder) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temp = temp_name(file.target);
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
    const signals_blocked blocked;
    // A new result gets its mode from the umask now; a replacing one is
    // private until its commit copies the old mode.
    const int fd = ::openat(file.dir_fd, temp.c_str(), flags, file.replaces ? 0600 : 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return message("create", file.name, errno);
    }
    if (!take_slot(file.dir_fd, temp)) {
      ::unlinkat(file.dir_fd, temp.c_str(), 0);
      ::close(fd);
      return message("create", file.name, EMFILE);
    }
    file.fd = fd;
    file.temp = temp;
    file.path = folder + temp;
    return {};
  }
  return message("create", file.name, EEXIST);
}

std::string open_folder(const std::string& folder, new_file& file) {
  const char* const path = folder.empty() ? "." : folder.c_str();
  file.dir_fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (file.dir_fd < 0 && errno == EACCES) file.dir_fd = ::open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (file.dir_fd < 0) return message("create", file.name, errno);
  return {};
}

// ---- Committing ------------------------------------------------------------

// Makes the new file durable with the old file's mode and owner, and closes it.
std::string finish_temp(new_file& file) {
  if (file.fd < 0) return {};
  int error = 0;
  if (!file.temp.empty()) {
    if (file.replaces) {
      // Best effort: only root may give a file away; the mode is set after,
      // since a change of owner clears the set-id bits.
      const bool given = ::fchown(file.fd, file.owner, file.group) == 0 ||
                         ::fchown(file.fd, static_cast<uid_t>(-1), file.group) == 0;
      (void)given;
      if (::fchmod(file.fd, static_cast<mode_t>(file.mode)) != 0) error = errno;
    }
    if (error == 0 && ::fsync(file.fd) != 0) error = errno;
  }
  if (::close(file.fd) != 0 && error == 0) error = errno;
  file.fd = -1;
  return error == 0 ? std::string() : message("write", file.name, error);
}

std::string rename_temp(new_file& file) {
  if (file.temp.empty()) return {};
  if (::renameat(file.dir_fd, file.temp.c_str(), file.dir_fd, file.target.c_str()) != 0) {
    return message("replace", file.name, errno);
  }
  free_slot(file.dir_fd, file.temp);
  file.temp.clear();
  return {};
}

// The new files made durable, every one but the last by a thread of its
// own, the last by this one (a single file needs no thread): a disk's
// flushes overlap where one after the other each waits its turn. The error
// reported is the first file's in their order.
std::string finish_temps(const std::vector<new_file*>& files) {
  std::vector<std::string> errors(files.size());
  std::vector<std::thread> workers;
  for (std::size_t i = 0; i < files.size(); ++i) {
    try {
      if (i + 1 < files.size()) {
        workers.emplace_back([&errors, &files, i] { errors[i] = finish_temp(*files[i]); });
        continue;
      }
    } catch (const std::system_error&) {  // no thread to be had: this one does it
    }
    errors[i] = finish_temp(*files[i]);
  }
  for (std::thread& worker : workers) worker.join();
  for (const std::string& error : errors) {
    if (!error.empty()) return error;
  }
  return {};
}

// The renames on disk: every folder renamed into is synced once, after all
// of them; some folders cannot be synced, which changes nothing.
void sync_folders(const std::vector<new_file*>& files) {
  std::vector<std::pair<dev_t, ino_t>> synced;
  for (const new_file* file : files) {
    struct stat folder {};
    if (file->dir_fd < 0 || ::fstat(file->dir_fd, &folder) != 0) continue;
    const std::pair<dev_t, ino_t> id{folder.st_dev, folder.st_ino};
    if (std::find(synced.begin(), synced.end(), id) != synced.end()) continue;
    synced.push_back(id);
    ::fsync(file->dir_fd);
  }
}

}  // namespace

int spawn_watched(const char* program, char* const argv[], int in_fd, int out_fd, int& pid) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_fd, 0);
  posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // The child starts with the signals unblocked and at their defaults.
  sigset_t none, handled;
  sigemptyset(&none);
  sigemptyset(&handled);
  for (int sig : handled_signals) sigaddset(&handled, sig);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &handled);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  int error = 0;
  {
    // Started and watched at once: no signal can end this process between.
    const signals_blocked blocked;
    volatile std::sig_atomic_t* place = std::find(std::begin(child_pids), std::end(child_pids), 0);
    pid_t child = 0;
    error = place == std::end(child_pids) ? EAGAIN : ::posix_spawnp(&child, program, &actions, &attributes, argv, environ);
    if (error == 0) {
      pid = child;
      if (slots_in_use++ == 0) install_handler();
      *place = child;
    }
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

int wait_watched(int pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  const signals_blocked blocked;
  volatile std::sig_atomic_t* place = std::find(std::begin(child_pids), std::end(child_pids), pid);
  if (pid > 0 && place != std::end(child_pids)) {
    *place = 0;
    if (--slots_in_use == 0) restore_handlers();
  }
  return status;
}

new_file::new_file(new_file&& other) noexcept { *this = std::move(other); }

new_file& new_file::operator=(new_file&& other) noexcept {
  if (this == &other) return *this;
  new_file_discard(*this);
  name = std::move(other.name);
  path = std::move(other.path);
  temp = std::move(other.temp);
  target = std::move(other.target);
  fd = std::exchange(other.fd, -1);
  dir_fd = std::exchange(other.dir_fd, -1);
  replaces = other.replaces;
  mode = other.mode;
  owner = other.owner;
  group = other.group;
  other.temp.clear();
  return *this;
}

new_file::~new_file() { new_file_discard(*this); }

std::string new_file_open(const std::string& name, new_file& file) {
  new_file_discard(file);
  file.name = name;
  std::string target;
  if (!resolve_links(name, target)) return message("create", name, errno);

  struct stat info {};
  if (::stat(target.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return message("create", name, EISDIR);
    if (!S_ISREG(info.st_mode)) return open_in_place(target, file);
    if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return message("create", name, errno);
    file.replaces = true;
    file.mode = info.st_mode & 07777;
    file.owner = info.st_uid;
    file.group = info.st_gid;
  }
  const std::string folder = folder_of(target);
  file.target = target.substr(folder.size());
  if (file.target.empty()) return message("create", name, EISDIR);
  // A name the folder cannot hold would fail only at the rename, after the
  // other files of a commit were replaced: it is refused here instead.
  if (file.target.size() > NAME_MAX) return message("create", name, ENAMETOOLONG);
  if (std::string error = open_folder(folder, file); !error.empty()) return error;
  return create_temp(file, folder);
}

std::string new_file_write(new_file& file, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t wrote = ::write(file.fd, bytes.data(), bytes.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return message("write", file.name, wrote < 0 ? errno : ENOSPC);
    bytes.remove_prefix(static_cast<std::size_t>(wrote));
  }
  return {};
}

std::string new_file_finish(new_file& file) {
  std::string error = finish_temp(file);
  if (!error.empty()) new_file_discard(file);
  return error;
}

std::string new_files_commit(const std::vector<new_file*>& files) {
  std::string error = finish_temps(files);
  {
    // Another run committing into the same folders waits for this one, and
    // a signal arriving during the renames acts once all are done.
    const folder_locks locks(files);
    const signals_blocked blocked;
    for (new_file* file : files) {
      if (error.empty()) error = rename_temp(*file);
    }
    sync_folders(files);
  }
  for (new_file* file : files) new_file_discard(*file);  // closes the folder; removes the new file only if not renamed
  return error;
}

std::string new_file_commit(new_file& file) { return new_files_commit({&file}); }

void new_file_discard(new_file& file) {
  if (file.fd >= 0) ::close(file.fd);
  file.fd = -1;
  if (!file.temp.empty()) {
    ::unlinkat(file.dir_fd, file.temp.c_str(), 0);
    free_slot(file.dir_fd, file.temp);
    file.temp.clear();
  }
  if (file.dir_fd >= 0) ::close(file.dir_fd);
  file.dir_fd = -1;
  file.replaces = false;
}

std::string replace_files(const std::vector<file_bytes>& files) {
  std::vector<new_file> pending(files.size());
  std::vector<new_file*> all;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (std::string error = new_file_open(files[i].name, pending[i]); !error.empty()) return error;
    if (std::string error = new_file_write(pending[i], files[i].bytes); !error.empty()) return error;
    all.push_back(&pending[i]);
  }
  return new_files_commit(all);
}

std::string replace_file(const std::string& name, std::string_view bytes) {
  return replace_files({file_bytes{name, bytes}});
}
