#include "testing/TraceCapture.h"

#include <memory>

#include "ylib/YLogging.h"
#include "ylib/YUtf8.h"

namespace vel::testing {

namespace {

class CaptureSink : public CYLogBase {
 public:
  explicit CaptureSink(std::vector<std::string>* lines) : lines_(lines) {}
  void Init() override {}
  void Log(int level, const std::u16string& text, bool) override {
    if (lines_ && level == kYLogDebug) lines_->push_back(YUtf16ToUtf8(text));
  }
  bool IsDebuggingLevel() const override { return lines_ != nullptr; }

 private:
  std::vector<std::string>* lines_;
};

}  // namespace

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

}  // namespace vel::testing
