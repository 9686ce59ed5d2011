// Replacing result files whole. A result is written to a new file in the
// folder of the file it replaces, synced to disk, and renamed over the old
// file only when it is complete; on any failure, and on SIGINT, SIGTERM or
// SIGHUP while it is being written, the new file is removed and the old one
// stays byte for byte as it was.
//
// A result name that is a symbolic link (or a chain of them) keeps working:
// the file it finally points to is replaced and the link stays. A replaced
// file keeps its mode bits (and, where the system allows, its owner and
// group); a new file gets 0666 less the umask, as any created file does. An
// existing result the user may not write is not replaced (Permission denied),
// as it would not have been overwritten. A name that resolves to a device or
// a pipe (/dev/null, /dev/stdout, a FIFO) is written in place, since such a
// thing cannot be replaced.
//
// Every message names the file as the caller gave it and has no program
// prefix: `cannot create "NAME": REASON`, `cannot write "NAME": REASON` or
// `cannot replace "NAME": REASON`, REASON from strerror.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Writes bytes as the whole new content of the file name. Returns "" on
// success, or a message; the old file is then untouched.
std::string replace_file(const std::string& name, std::string_view bytes);

// A result and its content, for replace_files.
struct file_bytes {
  std::string name;
  std::string_view bytes;
};

// Writes every file to a new file and replaces the results only once all of
// them are complete and synced; on a failure before that none is replaced.
// The renames are made with SIGINT, SIGTERM and SIGHUP held back and under
// an exclusive flock() of every folder involved, so that a signal never
// falls between them and two runs committing into one folder take turns:
// the results are all old or all new, and all of one run. Every name is
// checked before anything is written (one longer than a folder may hold is
// refused at the open); only a rename that fails for a reason no check
// could foresee (the folder changed meanwhile) leaves the files renamed
// before it replaced.
std::string replace_files(const std::vector<file_bytes>& files);

// A result being written piece by piece. Move-only; going out of scope
// before new_file_commit removes the new file (as new_file_discard does).
struct new_file {
  std::string name;  // the result's name as given, for messages
  std::string path;  // where to write: the new file, or the result itself when written in place
  int fd = -1;       // open for writing on path (a caller may also open path itself)

  // Kept for the commit.
  int dir_fd = -1;        // the folder of the new file and of the file it replaces
  std::string temp;       // the new file's name in that folder; empty when nothing is pending
  std::string target;     // the replaced file's name in that folder
  bool replaces = false;  // an old file exists: its mode and owner are copied at the commit
  unsigned mode = 0;      // the old file's mode bits
  unsigned owner = 0;     // the old file's user id
  unsigned group = 0;     // the old file's group id

  new_file() = default;
  new_file(new_file&& other) noexcept;
  new_file& operator=(new_file&& other) noexcept;
  new_file(const new_file&) = delete;
  new_file& operator=(const new_file&) = delete;
  ~new_file();
};

// Creates the new file for the result name (signals that end the process
// remove it from then on). Returns "" or `cannot create "NAME": REASON`
// (no file is then left behind).
std::string new_file_open(const std::string& name, new_file& file);

// Appends bytes to the new file through file.fd. Returns "" or `cannot write
// "NAME": REASON`.
std::string new_file_write(new_file& file, std::string_view bytes);

// Syncs and closes the new file and renames it over the result. Whatever the
// caller wrote through its own stream on file.path must be flushed and closed
// first. Returns "" or a message; on failure the new file is removed.
std::string new_file_commit(new_file& file);

// The same for several files at once: all are synced and closed before the
// first is renamed, and the renames are made as replace_files says; on a
// failure before the renames all new files are removed and no result is
// replaced.
std::string new_files_commit(const std::vector<new_file*>& files);

// Syncs and closes the new file ahead of its commit, so that a file whose
// data do not reach the disk can be left out of a commit; on failure the
// new file is removed. Returns "" or `cannot write "NAME": REASON`.
std::string new_file_finish(new_file& file);

// Starts program (found on the PATH) with argv, its standard input read
// from in_fd, its standard output written to out_fd and its standard error
// to /dev/null. Until wait_watched, a signal that ends this process kills
// the child too; up to 16 children may be watched at once. Returns 0 with
// pid set, or an errno value (EAGAIN when 16 are watched already).
int spawn_watched(const char* program, char* const argv[], int in_fd, int out_fd, int& pid);

// Waits for the child of spawn_watched to end; returns its wait status.
int wait_watched(int pid);

// Closes and removes the new file; the result stays as it was.
void new_file_discard(new_file& file);
