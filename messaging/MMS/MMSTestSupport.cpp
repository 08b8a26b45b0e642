#include "messaging/MMS/MMSTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include <gtest/gtest.h>

#include "ylib/YUtf8.h"

namespace fs = std::filesystem;

namespace {

// A registry store of this process's own, set before any test logs.
struct OwnRegistry {
  OwnRegistry() {
    std::string pattern = (fs::temp_directory_path() / "velmms-reg-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
      dir = pattern;
      setenv("VEL_REGISTRY", (dir + "/registry.db").c_str(), 1);
    }
  }
  ~OwnRegistry() {
    std::error_code ignored;
    if (!dir.empty()) fs::remove_all(dir, ignored);
  }
  std::string dir;
};
OwnRegistry g_registry;

class CaptureSink : public CYLogBase {
 public:
  explicit CaptureSink(std::vector<std::string>* lines) : m_lines(lines) {}
  void Init() override {}
  void Log(int level, const std::u16string& text, bool) override {
    if (m_lines && level == kYLogDebug) m_lines->push_back(YUtf16ToUtf8(text));
  }
  bool IsDebuggingLevel() const override { return m_lines != nullptr; }

 private:
  std::vector<std::string>* m_lines;
};

}  // namespace

Bytes B(std::initializer_list<BytePiece> pieces) {
  Bytes out;
  for (const auto& p : pieces) out.insert(out.end(), p.bytes.begin(), p.bytes.end());
  return out;
}

static void PutUintvarForTest(Bytes& out, std::uint32_t v) {
  std::uint8_t g[5];
  int n = 0;
  do {
    g[n++] = v & 0x7F;
    v >>= 7;
  } while (v);
  while (n--) out.push_back(static_cast<std::uint8_t>(g[n] | (n ? 0x80 : 0)));
}

Bytes Entry(const Bytes& headers, const Bytes& data) {
  Bytes out;
  PutUintvarForTest(out, static_cast<std::uint32_t>(headers.size()));
  PutUintvarForTest(out, static_cast<std::uint32_t>(data.size()));
  out.insert(out.end(), headers.begin(), headers.end());
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::string Hex(const Bytes& bytes) {
  std::string out;
  char buf[4];
  for (auto b : bytes) {
    std::snprintf(buf, sizeof buf, "%02X ", b);
    out += buf;
  }
  return out;
}

std::string U8(std::u16string_view text) { return YUtf16ToUtf8(text); }
std::u16string U16(std::string_view text) { return YUtf8ToUtf16(text); }

TempFolder::TempFolder() {
  std::string pattern = (fs::temp_directory_path() / "velmms-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "no temporary folder";
  m_path = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(m_path, ignored);
}

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TraceCapture::TraceCapture() {
  CYLogConfig config;
  config.EventLogLevel = 0;
  config.FileLogLevel = kYLogStackTrace;
  config.File = u"capture";  // never opened: the capturing sink stands in for the file
  CYLogging::Instance().InstallSinks(nullptr, std::make_unique<CaptureSink>(&lines), config);
}

TraceCapture::~TraceCapture() {
  CYLogConfig quiet;
  quiet.EventLogLevel = 0;
  CYLogging::Instance().InstallSinks(nullptr, std::make_unique<CaptureSink>(nullptr), quiet);
}

bool TraceCapture::Has(std::string_view line) const {
  for (const auto& l : lines) {
    if (l == line) return true;
  }
  return false;
}
