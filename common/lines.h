// Line-by-line reading of text files and the line classes shared by every
// reader of the system.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lines {

// Class of a line, decided by its length and first character alone.
enum class kind { empty, comment, separator, data };

constexpr kind classify(std::string_view line) {
  if (line.empty()) return kind::empty;
  if (line.front() == '#') return kind::comment;
  if (line.front() == '&') return kind::separator;
  return kind::data;
}

// Outcome of a pass over a file.
enum class status {
  done,        // every line was handed over
  stopped,     // the callback asked to stop
  not_opened,  // missing, not readable, or a directory
  read_error,  // the lines before the error were handed over
};

// Opens path for reading only and calls on_line(std::string_view) for every
// line, in order: a line feed ends a line and is not part of it, a last line
// without a line feed is a line, and no other byte (CR included) ends a line.
// on_line returns false to stop. Lines may be of any length; the view is
// valid only during the call.
template <class OnLine>
status for_each_line(const char* path, OnLine&& on_line) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return status::not_opened;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return status::not_opened;
  }

  // Large files are read a megabyte at a time; a small one in one read.
  constexpr std::size_t chunk = std::size_t{1} << 20;
  const std::size_t expected = info.st_size > 0 ? static_cast<std::size_t>(info.st_size) + 1 : chunk;
  std::vector<char> buffer(std::clamp<std::size_t>(expected, 4096, chunk));
  std::string carry;  // start of a line that runs past the end of a chunk
  status result = status::done;
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      result = status::read_error;
      carry.clear();  // a line cut by the error is not handed over
      break;
    }
    if (got == 0) break;
    const char* p = buffer.data();
    const char* const end = p + got;
    bool stop = false;
    while (p != end) {
      const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
      if (nl == nullptr) {
        carry.append(p, end);
        break;
      }
      bool more;
      if (carry.empty()) {
        more = on_line(std::string_view(p, static_cast<std::size_t>(nl - p)));
      } else {
        carry.append(p, nl);
        more = on_line(std::string_view(carry));
        carry.clear();
      }
      p = nl + 1;
      if (!more) {
        stop = true;
        break;
      }
    }
    if (stop) {
      ::close(fd);
      return status::stopped;
    }
  }
  ::close(fd);
  if (result == status::done && !carry.empty() && !on_line(std::string_view(carry))) return status::stopped;
  return result;
}

}  // namespace lines
