#include "ylib/YReplacingFile.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

class ReplacingFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "yreplace-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::u16string WidePath(const std::string& name) const { return vel::FromUtf8(Path(name)); }
  void Put(const std::string& name, const std::string& content) const {
    std::ofstream(Path(name), std::ios::binary) << content;
  }
  std::string Get(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    return names;
  }
  fs::path dir_;
};

TEST_F(ReplacingFileTest, CommitReplacesAndKeepsThePermissionBits) {
  Put("a.bin", "old contents");
  chmod(Path("a.bin").c_str(), 0600);
  CYReplacingFile file(WidePath("a.bin"));
  ASSERT_TRUE(file.Open());
  ASSERT_TRUE(file.Write("new ", 4));
  ASSERT_TRUE(file.Write("bytes", 5));
  EXPECT_EQ(Get("a.bin"), "old contents");  // nothing changes before the commit
  ASSERT_TRUE(file.Commit());
  EXPECT_EQ(Get("a.bin"), "new bytes");
  struct stat st {};
  ASSERT_EQ(stat(Path("a.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(Names(), std::vector<std::string>{"a.bin"});

  CYReplacingFile fresh(WidePath("new.bin"));  // no original: a new file
  ASSERT_TRUE(fresh.Open());
  ASSERT_TRUE(fresh.Commit());
  EXPECT_EQ(Get("new.bin"), "");
}

TEST_F(ReplacingFileTest, ALinkIsFollowedAndStaysALink) {
  fs::create_directory(dir_ / "real");
  Put("real/a.bin", "old");
  fs::create_symlink(dir_ / "real" / "a.bin", dir_ / "link.bin");
  CYReplacingFile file(WidePath("link.bin"));
  ASSERT_TRUE(file.Open());
  ASSERT_TRUE(file.Write("new", 3));
  ASSERT_TRUE(file.Commit());
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.bin"));
  EXPECT_EQ(Get("real/a.bin"), "new");
  EXPECT_EQ(Get("link.bin"), "new");
  std::vector<std::string> real;
  for (const auto& e : fs::directory_iterator(dir_ / "real")) real.push_back(e.path().filename().string());
  EXPECT_EQ(real, std::vector<std::string>{"a.bin"});  // the temporary file was beside the real one
}

TEST_F(ReplacingFileTest, WhatIsNotCommittedLeavesTheOriginalAndNoTemporaryFile) {
  Put("a.bin", "original");
  {
    CYReplacingFile file(WidePath("a.bin"));
    ASSERT_TRUE(file.Open());
    ASSERT_TRUE(file.Write("half", 4));
  }
  EXPECT_EQ(Get("a.bin"), "original");
  EXPECT_EQ(Names(), std::vector<std::string>{"a.bin"});

  chmod(Path("a.bin").c_str(), 0444);  // a read-only original cannot be replaced
  CYReplacingFile readOnly(WidePath("a.bin"));
  EXPECT_FALSE(readOnly.Open());
  EXPECT_FALSE(readOnly.Write("x", 1));
  EXPECT_FALSE(readOnly.Commit());
  EXPECT_EQ(Get("a.bin"), "original");
  EXPECT_EQ(Names(), std::vector<std::string>{"a.bin"});

  CYReplacingFile folder(vel::FromUtf8(dir_.string()));  // a folder is not a file to replace
  EXPECT_FALSE(folder.Open());
}

}  // namespace
