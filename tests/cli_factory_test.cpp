// velitems as a person runs it, on a fresh store: registration and its
// removal, the factory's MIME types and plugin choices, a plugin left out of
// a broken configuration, and a missing configuration key.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "testing/CliTest.h"

using namespace vel::testing;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream s(text);
  for (std::string line; std::getline(s, line);) lines.push_back(line);
  return lines;
}

constexpr char kPluginsKey[] = "'HKEY_LOCAL_MACHINE\\SOFTWARE\\Zandor\\VelPlatform\\ItemPlugins'";

class CliFactoryTest : public CliTest {};

TEST_F(CliFactoryTest, RegisterWritesTheFivePluginsAndUnregisterRemovesThem) {
  Result r = Velitems("register");
  ASSERT_EQ(r.status, 0) << r.err;
  r = Velitems(std::string("registry dump ") + kPluginsKey);
  ASSERT_EQ(r.status, 0) << r.err;
  const char* expected[] = {
      "ItemPlugins\\{16DDA287-F03B-4507-BCDB-7A9E39D9A2AE}]\n\"SupportedMIMEs\"=REG_SZ:\"image/jpeg\"\n"
      "\".jpg\"=REG_SZ:\"image/jpeg\"",
      "ItemPlugins\\{96110D89-A6B8-4D6C-A2CD-1DC24790AF01}]\n\"SupportedMIMEs\"=REG_SZ:\"audio/amr|audio/m4a|"
      "audio/mp4|audio/aac|audio/asf|audio/mpeg|audio/wav|audio/x-ms-wma|audio/3gpp|audio/3gpp2\"\n"
      "\".amr\"=REG_SZ:\"audio/amr\"\n\".m4a\"=REG_SZ:\"audio/mp4\"",
      "ItemPlugins\\{D7D80993-8917-4971-8C1D-E2D05636D8F4}]\n\"SupportedMIMEs\"=REG_SZ:\"video/3gpp2|",
      "\".wmv\"=REG_SZ:\"video/x-ms-wmv\"",
      "ItemPlugins\\{434D282E-BAAE-4A13-ACEB-EA46732862F1}]\n\"SupportedMIMEs\"=REG_SZ:"
      "\"application/vnd.zandor.vexa.mms\"\n\".mms\"=REG_SZ:\"application/vnd.zandor.vexa.mms\"",
      "ItemPlugins\\{1F66231A-7C7B-47D1-BAA1-5A09B69F89F5}]\n\"SupportedMIMEs\"=REG_SZ:"
      "\"application/vnd.zandor.vexa.sms\"\n\".vmg\"=REG_SZ:\"application/vnd.zandor.vexa.sms\"",
  };
  for (const char* e : expected) EXPECT_NE(r.out.find(e), std::string::npos) << e << "\nin:\n" << r.out;
  EXPECT_EQ(r.out.find("{188BA3CE"), std::string::npos) << "the factory has no configuration";

  r = Velitems("unregister");
  ASSERT_EQ(r.status, 0) << r.err;
  r = Velitems(std::string("registry dump ") + kPluginsKey);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zandor\\VelPlatform\\ItemPlugins]\n");
}

TEST_F(CliFactoryTest, MimeTypesAndPluginChoices) {
  // No register first: the commands register the module on first use.
  Result r = Velitems("mimetypes");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> types = Lines(r.out);
  ASSERT_FALSE(types.empty());
  for (std::size_t i = 1; i < types.size(); ++i) EXPECT_LT(types[i - 1], types[i]) << "ordinal order, each once";
  for (const char* t : {"image/png", "image/jpeg", "audio/m4a", "audio/mp4", "video/mp4",
                        "application/vnd.zandor.vexa.mms", "application/vnd.zandor.vexa.sms"})
    EXPECT_NE(std::find(types.begin(), types.end(), t), types.end()) << t;
  EXPECT_EQ(types.size(), 24u) << r.out;

  struct Row {
    const char* args;
    const char* plugin;
  } rows[] = {
      {"a.MP3", "Audio"},          {"a.jpg", "Image"},        {"a.vmg", "SMS"},
      {"a.mms", "MMS"},            {"a.xyz", "none"},         {"noextension", "none"},
      {"--mime audio/m4a", "Audio"}, {"--mime AUDIO/M4A", "none"}, {"--mime image/png", "Image"},
  };
  for (const Row& row : rows) {
    r = Velitems(std::string("plugin ") + row.args);
    EXPECT_EQ(r.status, 0) << row.args << ": " << r.err;
    EXPECT_EQ(r.out, std::string(row.plugin) + "\n") << row.args;
  }
}

TEST_F(CliFactoryTest, BrokenPluginConfigurationIsLoggedAndSkipped) {
  ASSERT_EQ(Velitems("register").status, 0);
  // The SMS plugin loses its "SupportedMIMEs".
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                          u"SOFTWARE\\Zandor\\VelPlatform\\ItemPlugins\\{1F66231A-7C7B-47D1-BAA1-5A09B69F89F5}", 0,
                          KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteValueW(key, u"SupportedMIMEs"), ERROR_SUCCESS);
  RegCloseKey(key);
  Result r = Velitems("mimetypes");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("application/vnd.zandor.vexa.sms"), std::string::npos);
  EXPECT_NE(r.out.find("application/vnd.zandor.vexa.mms"), std::string::npos);
  EXPECT_EQ(Velitems("plugin a.vmg").out, "none\n");
  const std::string log = Log();
  EXPECT_NE(log.find("Failed to read Vel Item Plugin configuration for plugin {1F66231A-7C7B-47D1-BAA1-5A09B69F89F5}"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Failed to read registry value."), std::string::npos) << log;
}

TEST_F(CliFactoryTest, MissingConfigurationKeyIsReported) {
  ASSERT_EQ(Velitems("register").status, 0);
  ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Zandor\\VelPlatform\\ItemPlugins"), ERROR_SUCCESS);
  Result r = Velitems("plugin a.mp3");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("(0x80045D53)"), std::string::npos) << r.err;
  r = Velitems("plugin --verbose a.mp3");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Failed to open registry key."), std::string::npos) << r.err;
}

TEST_F(CliFactoryTest, FailingFilesAreReportedAndTheRunGoesOn) {
  const std::string a = dir_ + "/a.mp3", b = dir_ + "/b.xyz";
  // a.mp3 is not there; b.xyz has no plugin.
  std::ofstream(b) << "x";
  Result r = Velitems("read --json " + a + " " + b);
  EXPECT_EQ(r.status, 1);
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u) << r.out;
  // The plugin's report of the missing file arrives as the error.
  EXPECT_EQ(lines[0].rfind("{\"path\":\"" + a + "\",\"error\":{\"hresult\":\"0x80045D53\",\"xml\":\"", 0), 0u)
      << lines[0];
  EXPECT_EQ(lines[1].rfind("{\"path\":\"" + b + "\",\"error\":", 0), 0u) << lines[1];
  // Standard error says why in one line a file; the report comes with --verbose.
  EXPECT_NE(r.err.find(a + ": The system cannot find the file specified.\n"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("<error>"), std::string::npos) << r.err;
  r = Velitems("read --verbose " + a);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("<error>"), std::string::npos) << r.err;

  r = Velitems("write " + a + " Year:VT_BOGUS=1");
  EXPECT_EQ(r.status, 2) << r.err;
}

// A folder's pipe (or socket, or device) is never opened: opening one may
// wait for ever. The files beside it are read.
TEST_F(CliFactoryTest, AFolderReadLeavesOutWhatIsNeitherAFileNorAFolder) {
  const std::string folder = dir_ + "/tree";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  ASSERT_EQ(mkfifo((folder + "/a.mp3").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((folder + "/c.vmg").c_str(), 0600), 0);
  const char* source = std::getenv("VEL_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  {
    std::ifstream in(std::string(source) + "/samples/hello.vmg", std::ios::binary);
    std::ofstream(folder + "/b.vmg", std::ios::binary) << in.rdbuf();
  }
  const ProcessResult r =
      RunCommand("timeout 60 " + TestBinDir() + "/velitems read --json -r -j 2 " + folder + " 2>/dev/null");
  EXPECT_EQ(r.status, 0) << "124: the time limit ended it";
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 1u) << r.out;
  EXPECT_EQ(lines[0].rfind("{\"path\":\"" + folder + "/b.vmg\",\"plugin\":\"SMS\"", 0), 0u) << lines[0];
}

TEST_F(CliFactoryTest, TheTableShowsTheValuesItHoldsWithIsoDates) {
  // An audio item holds the whole audio vocabulary; a file with no tags the
  // plugin can read leaves nearly all of it empty.
  const std::string song = dir_ + "/untagged.wma";
  std::ofstream(song) << "x";
  Result table = Velitems("read " + song);
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_EQ(table.out.find("VT_EMPTY"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("  URI "), std::string::npos) << table.out;
  Result all = Velitems("read --all " + song);
  ASSERT_EQ(all.status, 0) << all.err;
  EXPECT_NE(all.out.find("VT_EMPTY"), std::string::npos) << all.out;
  // Namespaced names widen the name column: the types stand in one column.
  EXPECT_NE(all.out.find("{urn:zandor:vel:extended}"), std::string::npos) << all.out;
  std::set<std::size_t> typeColumns;
  for (const std::string& line : Lines(all.out)) {
    if (line.rfind("  ", 0) == 0) typeColumns.insert(line.find(" VT_"));
  }
  EXPECT_EQ(typeColumns.size(), 1u) << all.out;

  const char* source = std::getenv("VEL_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  Result message = Velitems(std::string("read ") + source + "/samples/hello.vmg");
  ASSERT_EQ(message.status, 0) << message.err;
  EXPECT_NE(message.out.find("VT_DATE            2026-10-12T07:35:48.000\n"), std::string::npos) << message.out;
}

}  // namespace
