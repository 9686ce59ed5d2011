#include "common/file_identity.h"

#include <filesystem>
#include <gtest/gtest.h>

#include "tests/support/blackbox.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

TEST(FileIdentity, AResultClashesWithAnInputByIdentityNotName) {
  scratch_dir dir;
  write_file(dir / "dat.txt", "1 2\n");
  write_file(dir / "other.txt", "1 2\n");
  fs::create_symlink("dat.txt", dir / "link.txt");
  fs::create_hard_link(dir / "dat.txt", dir / "hard.txt");
  const std::string dat = (dir / "dat.txt").string();
  const struct {
    std::string result;
    bool clash;
  } cases[] = {
      {dat, true},
      {(dir / "link.txt").string(), true},
      {(dir / "hard.txt").string(), true},
      {(dir / "." / "dat.txt").string(), true},
      {(dir / "other.txt").string(), false},  // the same bytes, another file
      {(dir / "absent.txt").string(), false},
  };
  for (const auto& c : cases) {
    const std::string error = result_is_input({(dir / "absent2.txt").string(), c.result}, {"/no/such/input", dat});
    EXPECT_EQ(error, c.clash ? "the result \"" + c.result + "\" is the input \"" + dat + "\": nothing was written"
                             : "")
        << c.result;
  }
}

}  // namespace
