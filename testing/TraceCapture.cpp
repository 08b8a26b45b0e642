#include "testing/TraceCapture.h"

#include <memory>

#include "ylib/YLogging.h"
#include "platform/text.h"

namespace vel::testing {

namespace {

class CaptureSink : public CYLogBase {
 public:
  CaptureSink(std::vector<std::string>* lines, std::vector<std::string>* info) : lines_(lines), info_(info) {}
  void Init() override {}
  void Log(int level, const std::u16string& text, bool) override {
    if (lines_ && level == kYLogDebug) lines_->push_back(vel::ToUtf8(text));
    if (info_ && level == kYLogInfo) info_->push_back(vel::ToUtf8(text));
  }
  bool IsDebuggingLevel() const override { return lines_ != nullptr; }

 private:
  std::vector<std::string>* lines_;
  std::vector<std::string>* info_;
};

}  // namespace

TraceCapture::TraceCapture() {
  CYLogConfig config;
  config.EventLogLevel = 0;
  config.FileLogLevel = kYLogStackTrace;
  config.File = u"capture";  // never opened: the capturing sink stands in for the file
  CYLogging::Instance().InstallSinks(nullptr, std::make_unique<CaptureSink>(&lines, &info), config);
}

TraceCapture::~TraceCapture() {
  CYLogConfig quiet;
  quiet.EventLogLevel = 0;
  CYLogging::Instance().InstallSinks(nullptr, std::make_unique<CaptureSink>(nullptr, nullptr), quiet);
}

bool TraceCapture::Has(std::string_view line) const {
  for (const auto& l : lines) {
    if (l == line) return true;
  }
  return false;
}

}  // namespace vel::testing
