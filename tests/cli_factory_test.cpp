// velitems as a person runs it, on a fresh store: registration and its
// removal, the factory's MIME types and plugin choices, a plugin left out of
// a broken configuration, and a missing configuration key.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <fstream>
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
  EXPECT_NE(r.err.find("0x80045D53"), std::string::npos) << r.err;
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
  EXPECT_NE(r.err.find("<error>"), std::string::npos) << r.err;

  r = Velitems("write " + a + " Year:VT_BOGUS=1");
  EXPECT_EQ(r.status, 2) << r.err;
}

}  // namespace
