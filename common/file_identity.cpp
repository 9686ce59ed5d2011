#include "common/file_identity.h"

#include <sys/stat.h>

#include "common/escape.h"

std::string result_is_input(const std::vector<std::string>& results, const std::vector<std::string>& inputs) {
  std::vector<struct stat> seen;
  for (const std::string& input : inputs) {
    struct stat info {};
    if (::stat(input.c_str(), &info) != 0) info = {};
    seen.push_back(info);
  }
  for (const std::string& result : results) {
    struct stat info {};
    if (::stat(result.c_str(), &info) != 0) continue;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      if (seen[i].st_ino == 0 || seen[i].st_dev != info.st_dev || seen[i].st_ino != info.st_ino) continue;
      return "the result \"" + visible(result) + "\" is the input \"" + visible(inputs[i]) + "\": nothing was written";
    }
  }
  return {};
}
