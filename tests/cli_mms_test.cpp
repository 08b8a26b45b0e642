// velitems mms as a person runs it, on a fresh store: a message composed from
// files and unpacked again gives back those files with their types.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "testing/CliTest.h"

using namespace vel::testing;

namespace {

namespace fs = std::filesystem;

// The value of a property line ("  NAME   VT_...   VALUE") of `read`'s table.
std::string ValueOf(const std::string& line) {
  std::istringstream s(line);
  std::string name, vt, value;
  s >> name >> vt;
  std::getline(s >> std::ws, value);
  return value;
}

class CliMmsTest : public CliTest {};

TEST_F(CliMmsTest, ComposeThenExtractGivesTheFilesBack) {
  const std::string in = dir_ + "/in", out = dir_ + "/out", parts = dir_ + "/parts";
  for (const std::string& d : {in, out, parts}) fs::create_directory(d);
  WriteText(in + "/note.txt", "hello there");
  WriteText(in + "/pic.jpg", std::string("\xFF\xD8\xFF\xE0 not really a picture", 24));

  Result r = Velitems("mms compose --title Holiday --from +4911 --to +4922 --to +4933 --folder " + out + " " + in +
                          "/note.txt " + in + "/pic.jpg");
  ASSERT_EQ(r.status, 0) << r.err;
  // Paths come back with the file system's own separator only.
  const std::string message = r.out.substr(0, r.out.find('\n'));
  EXPECT_EQ(message, out + "/Holiday.mms") << r.out;
  ASSERT_TRUE(fs::exists(message));

  r = Velitems("read " + message);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("+4911"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("+4922"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("+4933"), std::string::npos) << r.out;

  r = Velitems("mms extract " + message + " " + parts);
  ASSERT_EQ(r.status, 0) << r.err;
  std::map<std::string, std::string> types;  // file name -> ItemType
  std::string uri;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("  URI ", 0) == 0) {
      uri = ValueOf(line);
      EXPECT_EQ(uri.find('\\'), std::string::npos) << uri;
      EXPECT_EQ(uri.rfind(parts + "/", 0), 0u) << uri;
    }
    if (line.rfind("  ItemType ", 0) == 0) types[fs::path(uri).filename().string()] = ValueOf(line);
  }
  const std::map<std::string, std::string> expected = {{"note.txt", "text/plain"}, {"pic.jpg", "image/jpeg"}};
  EXPECT_EQ(types, expected) << r.out;
  EXPECT_EQ(ReadText(parts + "/note.txt"), "hello there");
  EXPECT_EQ(ReadText(parts + "/pic.jpg"), ReadText(in + "/pic.jpg"));
}

TEST_F(CliMmsTest, ComposeRefusesMissingArgumentsAndReportsFailures) {
  struct Row {
    const char* name;
    std::string args;
  } rows[] = {
      {"no recipient", "mms compose --title T --from 1 --folder " + dir_ + " " + dir_ + "/x.txt"},
      {"no folder", "mms compose --title T --from 1 --to 2 " + dir_ + "/x.txt"},
      {"no files", "mms compose --title T --from 1 --to 2 --folder " + dir_},
      {"value missing", "mms compose --title T --from 1 --to"},
      {"unknown option", "mms compose --bcc 3 --title T --from 1 --to 2 --folder " + dir_ + " " + dir_ + "/x.txt"},
  };
  for (const Row& row : rows) {
    const Result r = Velitems(row.args);
    EXPECT_NE(r.status, 0) << row.name;
    EXPECT_TRUE(r.out.empty()) << row.name << ": " << r.out;
  }
  // A folder that is not there: the message cannot be written, and that is no success.
  const Result r =
      Velitems("mms compose --title T --from 1 --to 2 --folder " + dir_ + "/nowhere " + dir_ + "/x.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("CreateMMS wrote no message"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
}

}  // namespace

namespace {

// A file the plugin cannot decode gives no parts, and that is a failure.
TEST_F(CliMmsTest, ExtractingWhatIsNoMessageFails) {
  WriteText(dir_ + "/junk.mms", "junk");
  fs::create_directory(dir_ + "/parts");
  const Result r = Velitems("mms extract " + dir_ + "/junk.mms " + dir_ + "/parts");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("junk.mms: no parts"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_empty(dir_ + "/parts"));
}

}  // namespace
