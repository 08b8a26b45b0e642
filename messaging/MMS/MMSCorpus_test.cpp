// Real messages from phones and servers (read from the shared corpus folder,
// never copied into the project), messages this writer makes, their
// truncations, and hostile part names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

#include "messaging/MMS/MMSCodec2.h"
#include "messaging/MMS/MMSWriter.h"
#include "messaging/MMS/PartFileName.h"
#include "messaging/MMS/WspCoding.h"
#include "testing/MmsBuilder.h"
#include "testing/TempDir.h"
#include "testing/TempRegistry.h"
#include "testing/Text.h"
#include "testing/TraceCapture.h"
#include "ylib/YLogging.h"

using namespace vel::testing;

#if defined(__SANITIZE_ADDRESS__)
#define VEL_MMS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEL_MMS_ASAN 1
#endif
#endif
#ifdef VEL_MMS_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

// A registry store of this binary's own, set before any test logs.
const TempRegistry kOwnRegistry{"velmms-reg"};

namespace fs = std::filesystem;

struct ExpectedPart {
  int code;
  std::string typeText;
  std::string location;
  std::size_t size;
};

// What each file says about its parts.
const std::map<std::string, std::vector<ExpectedPart>>& Expectations() {
  static const std::map<std::string, std::vector<ExpectedPart>> expected = {
      {"27d0a048cd79555de05283a22372b0eb.mms",
       {{0x21, "", "Rain.wbmp", 134}, {0x03, "", "mms.txt", 19}, {0x7D, "", "mms.smil", 379}}},
      {"BTMMS.MMS",
       {{0x7D, "", "btmms.smil", 494},
        {0x1D, "", "btlogo.gif", 10430},
        {0x00, "audio/amr", "catchy_g.amr", 9638},
        {0x03, "", "btmms.txt", 25}}},
      {"NOWMMS.MMS",
       {{0x7D, "", "nowmms.smil", 633},
        {0x1D, "", "pic1.gif", 4736},
        {0x03, "", "Text0000.txt", 17},
        {0x00, "audio/amr", "catchy_g.amr", 9638},
        {0x03, "", "Text0001.txt", 16}}},
      {"SEC-SGHS300M.mms", {{0x03, "", "1259430.txt", 2}}},
      {"SIMPLE.MMS", {{0x03, "", "3E03099E.txt", 58}}},
      {"SonyEricssonT310-R201.mms",
       {{0x1D, "", "Tony.gif", 2940},
        {0x03, "", "mms.txt", 8},
        {0x00, "audio/midi", "OldhPhone.mid", 5726},
        {0x7D, "", "mms.smil", 415}}},
      {"TOMSLOT.MMS",
       {{0x7D, "", "tomslot.smil", 900},
        {0x1E, "", "img00.jpg", 3212},
        {0x1E, "", "img01.jpg", 3105},
        {0x1E, "", "img02.jpg", 2768},
        {0x1E, "", "img03.jpg", 3006},
        {0x1E, "", "img04.jpg", 2971},
        {0x03, "", "txt04.txt", 21},
        {0x00, "audio/amr", "aud04.amr", 27222}}},
      {"gallery2test.mms", {{0x7D, "", "", 418}, {0x03, "", "", 3}, {0x1E, "", "gnu-head.jpg", 18395}}},
      {"iPhone.mms", {{0x7D, "", "", 300}, {0x1E, "", "IMG_6807.jpg", 213580}}},
      {"images_are_cut_off_debug.mms", {{0x1E, "", "Picture3.jpg", 88253}, {0x7D, "", "SMIL.TXT", 316}}},
      {"m.mms",
       {{0x03, "", "Text0008.txt", 5},
        {0x7D, "", "", 1440},
        {0x03, "", "Text0007.txt", 6},
        {0x03, "", "Text0006.txt", 17},
        {0x00, "audio/amr", "gold102.amr", 25926},
        {0x03, "", "Text0003.txt", 105},
        {0x03, "", "Text0002.txt", 14},
        {0x03, "", "Text0001.txt", 13},
        {0x03, "", "Text0000.txt", 4}}},
      {"openwave.mms", {{0x7D, "", "", 356}, {0x03, "", "", 6}}},
      {"projekt_exempel.mms", {{0x03, "", "mms.txt", 18}, {0x1D, "", "SonyhEr.gif", 1891}, {0x7D, "", "mms.smil", 381}}},
  };
  return expected;
}

std::vector<fs::path> CorpusFiles() {
  const char* source = std::getenv("VEL_SOURCE_DIR");
  if (source == nullptr) return {};
  const fs::path dir = fs::path(source) / ".." / "shared" / "corpus" / "mms";
  std::error_code error;
  if (!fs::is_directory(dir, error)) return {};
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(dir, error)) {
    if (e.is_regular_file()) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

#define SKIP_WITHOUT_CORPUS(files)                                                                   \
  if ((files).empty()) GTEST_SKIP() << "MMS corpus not found at $VEL_SOURCE_DIR/../shared/corpus/mms: " \
                                       "real-message checks skipped"

TEST(MmsCorpus, EveryFileDecodesWithItsParts) {
  const auto files = CorpusFiles();
  SKIP_WITHOUT_CORPUS(files);
  for (const auto& file : files) {
    const std::string name = file.filename().string();
    CMMSCodec2 codec;
    ASSERT_EQ(codec.ParseMmsMessage(U16(file.string())), 0) << name;
    const CMultipartContainer& parts = *codec.GetContainer();
    std::printf("[ corpus ] %-40s %zu parts:", name.c_str(), parts.Count());
    for (std::size_t i = 0; i < parts.Count(); ++i) {
      const CMultipartFile& p = *parts.At(i);
      std::printf(" [%s %s]", p.location.c_str(),
                  p.contentType ? vel::wsp::ContentTypeToText(p.contentType) : p.typeText.c_str());
    }
    std::printf("\n");
    const auto known = Expectations().find(name);
    if (known == Expectations().end()) continue;  // a file kept aside: decoding is what counts
    ASSERT_EQ(parts.Count(), known->second.size()) << name;
    for (std::size_t i = 0; i < parts.Count(); ++i) {
      const CMultipartFile& p = *parts.At(i);
      const ExpectedPart& e = known->second[i];
      EXPECT_EQ(p.contentType, e.code) << name << " part " << i;
      EXPECT_EQ(p.typeText, e.typeText) << name << " part " << i;
      EXPECT_EQ(p.location, e.location) << name << " part " << i;
      EXPECT_EQ(p.data.size(), e.size) << name << " part " << i;
    }
  }
}

TEST(MmsCorpus, HeadersOfKnownFiles) {
  const auto files = CorpusFiles();
  SKIP_WITHOUT_CORPUS(files);
  const fs::path dir = files.front().parent_path();
  CMMSCodec2 a;
  ASSERT_EQ(a.ParseMmsMessage(U16((dir / "27d0a048cd79555de05283a22372b0eb.mms").string())), 0);
  ASSERT_EQ(a.GetHeader()->to.size(), 1u);
  EXPECT_EQ(U8(*a.GetHeader()->to[0]), "123");
  EXPECT_EQ(U8(a.GetHeader()->subject), "Ang\xC3\xA5" "ende art-tillh\xC3\xB6righet") << "UTF-8 subject";
  EXPECT_EQ(a.GetHeader()->from, u"") << "insert-address token";
  CMMSCodec2 b;
  ASSERT_EQ(b.ParseMmsMessage(U16((dir / "NOWMMS.MMS").string())), 0);
  EXPECT_EQ(U8(b.GetHeader()->from), "NowMMS <nowsms@now.co.uk>");
  EXPECT_EQ(b.GetHeader()->start, "<nowmms.smil>");
  EXPECT_EQ(b.GetHeader()->type, "application/smil");
}

// Every prefix of bytes decodes to a clean result. Under AddressSanitizer the
// bytes past the prefix are poisoned, so a read beyond it is caught.
void SweepPrefixes(const Bytes& bytes, const std::string& name) {
  const std::size_t capacity = (bytes.size() + 8) & ~std::size_t{7};
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[capacity]);
  std::copy(bytes.begin(), bytes.end(), buffer.get());
  for (std::size_t k = bytes.size() + 1; k-- > 0;) {
#ifdef VEL_MMS_ASAN
    ASAN_POISON_MEMORY_REGION(buffer.get() + k, capacity - k);
#endif
    CMMSHeader header;
    CMultipartContainer container;
    const int offset = CMMSCodec2::ParseHeader(buffer.get(), k, &header);
    ASSERT_TRUE(offset == kMmsErrBadHeader || (offset >= 0 && static_cast<std::size_t>(offset) <= k))
        << name << " prefix " << k << ": " << offset;
    if (offset < 0) continue;
    const int body = CMMSCodec2::ParseMultipartFiles(buffer.get() + offset, k - offset, &container);
    ASSERT_TRUE(body == kMmsErrLengthMismatch || (body >= 0 && static_cast<std::size_t>(body) <= k - offset))
        << name << " prefix " << k << ": " << body;
    for (std::size_t i = 0; i < container.Count(); ++i) container.At(i)->NormalizeSmil();
  }
#ifdef VEL_MMS_ASAN
  ASAN_UNPOISON_MEMORY_REGION(buffer.get(), capacity);
#endif
}

TEST(MmsCorpus, TruncationSweep) {
  const auto files = CorpusFiles();
  SKIP_WITHOUT_CORPUS(files);
  for (const auto& file : files) SweepPrefixes(ReadBytes(file.string()), file.filename().string());
}

TEST(MmsWrittenMessage, TruncationSweep) {
  TempDir dir;
  CMMSWriter w;
  w.SetMessageType(0x80);
  w.SetTransactionId("Daylume");
  w.SetFrom(std::string(40, '1'));
  w.SetTo("+1%+2");
  const std::pair<const char*, Bytes> files[] = {
      {"a.txt", B({"hello"})}, {"b.smil", B({"<smil><body/></smil>"})}, {"c.jpg", Bytes(200, 0xFF)}};
  for (const auto& [name, content] : files) {
    WriteBytes(dir.File(name), content);
    const std::u16string path = dir.WFile(name);
    ASSERT_EQ(w.AddPart(path.c_str(), static_cast<std::uint8_t>(CMMSWriter::ExtensionToContentType(path.c_str()))),
              kMmsWriterOk);
  }
  SweepPrefixes(w.Encode(), "written message");
}

TEST(MmsPartNames, HostileNamesStayInsideTheFolder) {
  TempDir outer;
  const std::string folder = outer.File("parts");
  fs::create_directory(folder);
  const char* names[] = {"../x", "/etc/x", "a\\b", "..", "", "../../y.txt", "ok.txt"};
  Bytes body = B({static_cast<int>(std::size(names))});
  for (const char* n : names) body = B({body, Entry(B({0x83, 0x8E, n, 0}), B({"payload"}))});
  const Bytes message = B({0x8C, 0x80, 0x8D, 0x90, 0x84, 0xA3, body});
  WriteBytes(outer.File("hostile.mms"), message);

  CMMSCodec2 codec;
  ASSERT_EQ(codec.ParseMmsMessage(outer.WFile("hostile.mms")), 0);
  ASSERT_EQ(codec.GetContainer()->Count(), std::size(names));
  std::vector<std::string> written;
  int index = 0;
  std::size_t i = 0;
  while (CMultipartFile* part = codec.GetContainer()->GetNext(index)) {
    const std::u16string name = vel::mms::MakeSafePartFileName(vel::wsp::BytesToWide(part->location, 0), i++, *part);
    const std::string path = folder + "/" + U8(name);
    EXPECT_TRUE(part->WriteToFile(U16(path).c_str())) << part->location;
    written.push_back(U8(name));
  }
  EXPECT_EQ(written, (std::vector<std::string>{"x", "x", "b", "part3.asc", "part4.asc", "y.txt", "ok.txt"}));
  // Only the folder received files.
  std::size_t outside = 0;
  for (const auto& e : fs::recursive_directory_iterator(outer.path())) {
    if (e.is_regular_file() && e.path().parent_path() != fs::path(folder) && e.path().filename() != "hostile.mms") {
      ++outside;
    }
  }
  EXPECT_EQ(outside, 0u);
  EXPECT_FALSE(fs::exists(fs::path(outer.path()).parent_path() / "y.txt"));
}

}  // namespace
