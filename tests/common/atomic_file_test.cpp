#include "common/atomic_file.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>

#include "tests/support/blackbox.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

unsigned mode_of(const fs::path& file) {
  struct stat info {};
  ::stat(file.c_str(), &info);
  return info.st_mode & 07777;
}

TEST(ReplaceFile, WritesANewFileWithTheUmaskMode) {
  scratch_dir dir;
  const mode_t mask = ::umask(022);
  EXPECT_EQ(replace_file((dir / "r.txt").string(), "new\n"), "");
  ::umask(mask);
  EXPECT_EQ(read_file(dir / "r.txt"), "new\n");
  EXPECT_EQ(mode_of(dir / "r.txt"), 0644u);
  EXPECT_EQ(names_in(dir.path), std::set<std::string>{"r.txt"});
}

TEST(ReplaceFile, KeepsTheModeOfTheReplacedFile) {
  for (const unsigned mode : {0600u, 0640u, 0604u, 0755u}) {
    scratch_dir dir;
    write_file(dir / "r.txt", "old contents that are longer\n");
    ::chmod((dir / "r.txt").c_str(), mode);
    EXPECT_EQ(replace_file((dir / "r.txt").string(), "new\n"), "");
    EXPECT_EQ(read_file(dir / "r.txt"), "new\n");
    EXPECT_EQ(mode_of(dir / "r.txt"), mode);
  }
}

TEST(ReplaceFile, ReplacesWhatALinkPointsToAndKeepsTheLink) {
  scratch_dir dir;
  fs::create_directory(dir / "sub");
  write_file(dir / "t.txt", "old\n");
  fs::create_symlink("../t.txt", dir / "sub" / "first");  // relative to the link's folder
  fs::create_symlink(dir / "sub" / "first", dir / "second");
  EXPECT_EQ(replace_file((dir / "second").string(), "new\n"), "");
  EXPECT_TRUE(fs::is_symlink(dir / "second"));
  EXPECT_TRUE(fs::is_symlink(dir / "sub" / "first"));
  EXPECT_EQ(read_file(dir / "t.txt"), "new\n");
  fs::create_symlink("absent.txt", dir / "dangling");
  EXPECT_EQ(replace_file((dir / "dangling").string(), "made\n"), "");
  EXPECT_EQ(read_file(dir / "absent.txt"), "made\n");
  EXPECT_TRUE(fs::is_symlink(dir / "dangling"));
}

TEST(ReplaceFile, FailuresLeaveTheOldFileAndNoOtherFile) {
  scratch_dir dir;
  write_file(dir / "r.txt", "old\n");
  fs::create_directory(dir / "folder");
  fs::create_symlink("loop", dir / "loop");
  const std::set<std::string> before = names_in(dir.path);
  const struct {
    const char* name;
    const char* reason;
  } cases[] = {
      {"folder", "Is a directory"},
      {"absent/r.txt", "No such file or directory"},
      {"loop", "Too many levels of symbolic links"},
  };
  for (const auto& c : cases) {
    const std::string name = (dir / c.name).string();
    EXPECT_EQ(replace_file(name, "x"), "cannot create \"" + name + "\": " + c.reason);
  }

  // A write that fails half way: files may not grow beyond 4 KiB here.
  rlimit old_limit {};
  ::getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit small = old_limit;
  small.rlim_cur = 4096;
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &small);
  const std::string failed = replace_file((dir / "r.txt").string(), std::string(10000, 'x'));
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(failed, "cannot write \"" + (dir / "r.txt").string() + "\": File too large");
  EXPECT_EQ(read_file(dir / "r.txt"), "old\n");
  EXPECT_EQ(names_in(dir.path), before);
}

TEST(ReplaceFiles, ReplacesNoneUnlessAllAreComplete) {
  scratch_dir dir;
  write_file(dir / "a.txt", "old a\n");
  write_file(dir / "b.txt", "old b\n");
  const std::string a = (dir / "a.txt").string();
  const std::string missing = (dir / "absent" / "b.txt").string();
  EXPECT_EQ(replace_files({{a, "new a\n"}, {missing, "new b\n"}}),
            "cannot create \"" + missing + "\": No such file or directory");
  EXPECT_EQ(read_file(dir / "a.txt"), "old a\n");
  EXPECT_EQ(names_in(dir.path), (std::set<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(replace_files({{a, "new a\n"}, {(dir / "b.txt").string(), "new b\n"}}), "");
  EXPECT_EQ(read_file(dir / "a.txt") + read_file(dir / "b.txt"), "new a\nnew b\n");
}

TEST(NewFile, DiscardedOrDroppedLeavesTheOldFile) {
  scratch_dir dir;
  write_file(dir / "r.txt", "old\n");
  {
    new_file file;
    ASSERT_EQ(new_file_open((dir / "r.txt").string(), file), "");
    EXPECT_EQ(fs::path(file.path).parent_path(), dir.path);
    EXPECT_EQ(new_file_write(file, "partial"), "");
    EXPECT_EQ(names_in(dir.path).size(), 2u);
  }
  EXPECT_EQ(read_file(dir / "r.txt"), "old\n");
  EXPECT_EQ(names_in(dir.path), std::set<std::string>{"r.txt"});
}

}  // namespace
