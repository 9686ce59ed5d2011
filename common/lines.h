// Line-by-line reading of text files and the line classes shared by every
// reader of the system.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>
#include <utility>
#include <vector>

#include "common/numparse.h"

namespace lines {

// The words of line between runs of separators (is_separator(c) true) into
// out, which is cleared first.
template <class Separator>
void split_words(std::string_view line, Separator is_separator, std::vector<std::string_view>& out) {
  out.clear();
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && is_separator(line[at])) ++at;
    const std::size_t first = at;
    while (at < line.size() && !is_separator(line[at])) ++at;
    if (at > first) out.push_back(line.substr(first, at - first));
  }
}

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

// Where a piece of a line handed to a reader lies in its line.
struct piece {
  bool first;  // the piece begins the line
  bool last;   // the piece ends the line
};

// The longest line handed over as it is, and the longest piece of a longer
// one: what a reader holds of a line is bounded by this, however long the
// line (a binary file, /dev/zero).
constexpr std::size_t line_limit = std::size_t{1} << 20;

namespace detail {

template <class OnLine>
constexpr bool wants_pieces = std::is_invocable_r_v<bool, OnLine&, std::string_view, piece>;

template <class OnLine>
constexpr bool wants_offsets = std::is_invocable_r_v<bool, OnLine&, std::string_view, std::uint64_t>;

// Splits the bytes of a file into lines and hands them to on_line. A line
// that runs past the end of a read chunk is carried over; once it is longer
// than the limit it is condensed and handed over in pieces (see
// for_each_line).
template <class OnLine>
class splitter {
 public:
  splitter(OnLine& on_line, std::size_t limit) : on_line_(on_line), limit_(std::max<std::size_t>(limit, 2)) {}

  // Hands over every line that ends in [p, end), whose first byte is byte
  // `at` of the file, and carries the rest; false once on_line has asked
  // to stop.
  bool feed(const char* p, const char* const end, std::uint64_t at) {
    const char* const begin = p;
    while (p != end) {
      if (!started_) line_at_ = at + static_cast<std::uint64_t>(p - begin);
      const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
      if (nl == nullptr) return add(p, end);
      const std::size_t length = static_cast<std::size_t>(nl - p);
      const bool more = !started_ && length <= limit_ ? hand(std::string_view(p, length), piece{true, true})
                                                      : add(p, nl) && end_line();
      if (!more) return false;
      p = nl + 1;
    }
    return true;
  }

  // Hands over a last line that has no line feed; false when on_line asked to stop.
  bool finish() { return !started_ || end_line(); }

  // Forgets a line cut short by a read error.
  void drop() { reset(); }

 private:
  // A reader of whole lines gets the first piece of every line only.
  bool hand(std::string_view text, piece where) {
    if constexpr (wants_pieces<OnLine>) {
      return on_line_(text, where);
    } else {
      if (!where.first) return true;
      skipping_ = !where.last;
      if constexpr (wants_offsets<OnLine>) {
        return on_line_(text, line_at_);
      } else {
        return on_line_(text);
      }
    }
  }

  // Bytes of the line under way, without its line feed.
  bool add(const char* p, const char* const end) {
    started_ = true;
    if (skipping_) return true;
    if (!condensing_) {
      if (carry_.size() + static_cast<std::size_t>(end - p) <= limit_) {
        carry_.append(p, end);
        return true;
      }
      condensing_ = true;
      std::string before;
      before.swap(carry_);
      if (!condense(before.data(), before.data() + before.size())) return false;
    }
    return condense(p, end);
  }

  // Whether a byte of a long line is kept: the first of a run of white
  // space and the first limit / 2 bytes of a word are; the rest of a longer
  // word is dropped.
  bool keep(char c) {
    if (numparse::is_space(c)) {
      const bool first = !space_seen_;
      space_seen_ = true;
      word_ = 0;
      return first;
    }
    space_seen_ = false;
    if (word_ >= limit_ / 2) return false;
    ++word_;
    return true;
  }

  // Carries bytes of a long line condensed, handing over a piece whenever
  // the limit is reached.
  bool condense(const char* p, const char* const end) {
    for (; p != end; ++p) {
      if (!keep(*p)) continue;
      carry_.push_back(*p);
      if (carry_.size() < limit_) continue;
      if (!hand_piece()) return false;
      if (skipping_) return true;
    }
    return true;
  }

  // Hands over the carried bytes up to their last white space; as no word
  // is kept longer than half the limit, there is one.
  bool hand_piece() {
    std::size_t cut = carry_.size();
    while (cut > 0 && !numparse::is_space(carry_[cut - 1])) --cut;
    if (cut == 0) cut = carry_.size();
    const bool more = hand(std::string_view(carry_.data(), cut), piece{!handed_, false});
    handed_ = true;
    carry_.erase(0, cut);
    return more;
  }

  bool end_line() {
    const bool more = skipping_ || hand(carry_, piece{!handed_, true});
    reset();
    return more;
  }

  void reset() {
    carry_.clear();
    started_ = handed_ = skipping_ = condensing_ = space_seen_ = false;
    word_ = 0;
  }

  OnLine& on_line_;
  const std::size_t limit_;
  std::string carry_;        // the line under way, or what is left of it
  bool started_ = false;     // bytes of a line without its line feed yet
  bool handed_ = false;      // a piece of that line has been handed over
  bool skipping_ = false;    // the reader needs no more of that line
  bool condensing_ = false;  // the line is longer than the limit
  bool space_seen_ = false;  // the last byte seen is white space
  std::size_t word_ = 0;     // bytes kept of the word under way
  std::uint64_t line_at_ = 0;  // where in the file the line under way begins
};

}  // namespace detail

// Opens path for reading only and hands its lines to on_line, in order: a
// line feed ends a line and is not part of it, a last line without a line
// feed is a line, and no other byte (CR included) ends a line. on_line
// returns false to stop; the text it gets is valid only during the call.
//
// A line of up to `limit` bytes is handed over as it is. A longer line is
// condensed: every run of white space (numparse::is_space) is kept as its
// first character, which changes no word, number or first character, and
// every word is cut to its first limit / 2 bytes (a number of more digits
// than anyone writes: half a mebibyte by default). Where it is still longer
// it is handed over in pieces as it goes, each ending after a white-space
// character before `limit` bytes are reached, so that no word is split.
// Memory stays bounded on any input; an endless word (/dev/zero) is read on
// without being handed over.
//
// on_line(std::string_view line) gets every line's first piece, the whole
// line when it is short, and the rest of a long line is passed over unread:
// for readers that need the beginning of a line. on_line(std::string_view
// line, std::uint64_t at) gets the same and where the line begins in the
// file, so that a later reading may start there (for_each_line_from).
// on_line(std::string_view text, piece where) gets every piece of every
// line.
template <class OnLine>
status for_each_line(const char* path, OnLine&& on_line, std::size_t limit = line_limit);

// As for_each_line, from byte `from` of the file on, which should be the
// first byte of a line; offsets handed over still count from the file's
// start. A file shorter than from has no lines there.
template <class OnLine>
status for_each_line_from(const char* path, std::uint64_t from, OnLine&& on_line, std::size_t limit = line_limit) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return status::not_opened;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return status::not_opened;
  }
  if (from > 0 && ::lseek(fd, static_cast<off_t>(from), SEEK_SET) < 0) {
    ::close(fd);
    return status::read_error;
  }

  // Large files are read a megabyte at a time; a small one in one read.
  constexpr std::size_t chunk = std::size_t{1} << 20;
  const std::uint64_t size = info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
  const std::size_t expected = size > from ? static_cast<std::size_t>(std::min<std::uint64_t>(size - from + 1, chunk)) : chunk;
  std::vector<char> buffer(std::clamp<std::size_t>(expected, 4096, chunk));
  detail::splitter<std::remove_reference_t<OnLine>> lines(on_line, limit);
  status result = status::done;
  std::uint64_t at = from;
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      result = status::read_error;
      lines.drop();  // a line cut by the error is not handed over
      break;
    }
    if (got == 0) break;
    if (!lines.feed(buffer.data(), buffer.data() + got, at)) {
      ::close(fd);
      return status::stopped;
    }
    at += static_cast<std::uint64_t>(got);
  }
  ::close(fd);
  if (result == status::done && !lines.finish()) return status::stopped;
  return result;
}

template <class OnLine>
status for_each_line(const char* path, OnLine&& on_line, std::size_t limit) {
  return for_each_line_from(path, 0, std::forward<OnLine>(on_line), limit);
}

}  // namespace lines
