#include "common/atomic_file.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "tests/support/blackbox.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

std::size_t entries(const fs::path& dir) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

TEST(ReplaceFile, KeepsModeBitsAndLinks) {
  scratch_dir dir;
  fs::create_directory(dir / "sub");
  write_file(dir / "t.txt", "old contents\n");
  fs::permissions(dir / "t.txt", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink("../t.txt", dir / "sub" / "link");  // relative to the link's folder
  fs::create_symlink(dir / "sub" / "link", dir / "chain");
  EXPECT_EQ(replace_file((dir / "chain").string(), "new\n"), "");
  EXPECT_EQ(read_file(dir / "t.txt"), "new\n");
  EXPECT_TRUE(fs::is_symlink(dir / "chain") && fs::is_symlink(dir / "sub" / "link"));
  EXPECT_EQ(fs::status(dir / "t.txt").permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(entries(dir.path), 3u);
}

TEST(ReplaceFile, FailuresLeaveTheOldFileAndNoOtherFile) {
  scratch_dir dir;
  const std::string old = (dir / "r.txt").string();
  write_file(old, "old\n");
  fs::create_directory(dir / "folder");
  fs::create_symlink("loop", dir / "loop");
  const std::pair<std::string, std::string> cases[] = {
      {"folder", "Is a directory"},
      {"absent/r.txt", "No such file or directory"},
      {"loop", "Too many levels of symbolic links"},
  };
  for (const auto& [name, reason] : cases) {
    const std::string path = (dir / name).string();
    EXPECT_EQ(replace_file(path, "x"), "cannot create \"" + path + "\": " + reason);
  }
  // A write that fails half way: no file may grow beyond 4 KiB here.
  rlimit normal {};
  ::getrlimit(RLIMIT_FSIZE, &normal);
  rlimit small = normal;
  small.rlim_cur = 4096;
  const auto handler = std::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &small);
  const std::string failed = replace_file(old, std::string(10000, 'x'));
  const std::string both = replace_files({{(dir / "a.txt").string(), "a"}, {old, std::string(10000, 'x')}});
  ::setrlimit(RLIMIT_FSIZE, &normal);
  std::signal(SIGXFSZ, handler);
  EXPECT_EQ(failed, "cannot write \"" + old + "\": File too large");
  EXPECT_EQ(both, failed);
  EXPECT_EQ(read_file(old), "old\n");
  EXPECT_EQ(entries(dir.path), 3u) << "r.txt, folder and loop only";
}

TEST(ReplaceFiles, ANameTooLongForTheFolderIsRefusedBeforeAnyRename) {
  scratch_dir dir;
  write_file(dir / "fit.txt", "old fit\n");
  const std::string long_name = (dir / (std::string(250, 'n') + ".curve.txt")).string();
  const std::string error = replace_files({{(dir / "fit.txt").string(), "new fit\n"}, {long_name, "new curve\n"}});
  EXPECT_EQ(error, "cannot create \"" + long_name + "\": File name too long");
  EXPECT_EQ(read_file(dir / "fit.txt"), "old fit\n");
  EXPECT_EQ(entries(dir.path), 1u);
}

TEST(ReplaceFiles, SeveralFilesInTwoFoldersAreAllReplacedWhole) {
  scratch_dir dir;
  fs::create_directory(dir / "sub");
  write_file(dir / "fit.txt", "old fit\n");
  const std::string big(100000, 'c');
  EXPECT_EQ(replace_files({{(dir / "fit.txt").string(), "new fit\n"},
                           {(dir / "sub" / "curve.txt").string(), big},
                           {(dir / "report.txt").string(), "report \n"}}),
            "");
  EXPECT_EQ(read_file(dir / "fit.txt"), "new fit\n");
  EXPECT_EQ(read_file(dir / "sub" / "curve.txt"), big);
  EXPECT_EQ(read_file(dir / "report.txt"), "report \n");
  EXPECT_EQ(entries(dir.path), 3u) << "fit.txt, report.txt and sub only";
  EXPECT_EQ(entries(dir / "sub"), 1u);
}

}  // namespace
