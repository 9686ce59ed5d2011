#include "instrument/file_series.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <glob.h>
#include <numeric>
#include <sys/stat.h>

#include "common/lines.h"
#include "instrument/jcamp.h"

namespace instrument {

namespace {

std::string head_of(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char text[64] = {};
  in.read(text, sizeof text);
  return std::string(text, static_cast<std::size_t>(in.gcount()));
}

}  // namespace

std::string read_single(const std::string& path, const delimited_options& options, spectrum& out) {
  int count = 0;
  const spectrum_sink keep = [&](const spectrum& s) {
    if (++count > 1) return path + ": holds more than one spectrum; expected one spectrum a file in a series of files";
    out = s;
    return std::string();
  };
  if (looks_like_jcamp(head_of(path))) return read_jcamp(path, keep);
  delimited_options single = options;
  if (single.shape == layout::automatic) single.shape = layout::single;
  return read_delimited(path, single, keep);
}

std::vector<std::string> expand_pattern(const std::string& pattern) {
  std::vector<std::string> out;
  glob_t found{};
  if (::glob(pattern.c_str(), 0, nullptr, &found) == 0) {
    for (std::size_t i = 0; i < found.gl_pathc; ++i) out.emplace_back(found.gl_pathv[i]);
  }
  ::globfree(&found);
  return out;
}

std::string read_path_list(const std::string& list, std::vector<std::string>& paths) {
  paths.clear();
  const std::filesystem::path folder = std::filesystem::path(list).parent_path();
  long long line_no = 0;
  errno = 0;
  const lines::status status = lines::for_each_line(list.c_str(), [&](std::string_view text) {
    ++line_no;
    if (line_no == 1) strip_bom(text);
    while (!text.empty() && (text.back() == '\r' || text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    if (text.empty() || text.front() == '#') return true;
    const std::filesystem::path p(text);
    paths.push_back(p.is_absolute() ? p.string() : (folder / p).string());
    return true;
  });
  if (status == lines::status::not_opened) return "cannot open the list " + list + ": " + std::strerror(errno != 0 ? errno : EISDIR);
  if (status == lines::status::read_error) return list + ": read error: " + std::strerror(errno);
  if (paths.empty()) return list + ": no file named in the list";
  return {};
}

std::string read_file_series(const std::vector<std::string>& paths, const delimited_options& options,
                             const spectrum_sink& sink) {
  std::vector<spectrum> all(paths.size());
  std::size_t timed = 0;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (std::string e = read_single(paths[i], options, all[i]); !e.empty()) return e;
    if (all[i].timed) {
      ++timed;
      continue;
    }
    struct stat info {};
    if (::stat(paths[i].c_str(), &info) != 0) return "cannot read the time of " + paths[i] + ": " + std::strerror(errno);
    all[i].time = static_cast<double>(info.st_mtim.tv_sec) + 1e-9 * static_cast<double>(info.st_mtim.tv_nsec);
  }
  if (timed != 0 && timed != paths.size()) {
    for (std::size_t i = 0; i < paths.size(); ++i) {
      if (!all[i].timed) return paths[i] + ": holds no acquisition time, but other files of the series do; expected every file to hold one, or none";
    }
  }
  std::vector<std::size_t> order(paths.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return all[a].time < all[b].time; });
  for (const std::size_t i : order) {
    all[i].timed = true;
    if (std::string e = sink(all[i]); !e.empty()) return e;
  }
  return {};
}

}  // namespace instrument
