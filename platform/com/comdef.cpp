// _com_error and the functions that raise it.
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/com/combase.h"
#include "platform/com/comdef.h"
#include "platform/win32/winbase.h"

namespace {

char16_t* CopyText(const char16_t* text, std::size_t len) noexcept {
  auto* out = new (std::nothrow) char16_t[len + 1];
  if (!out) return nullptr;
  std::memcpy(out, text, len * sizeof(char16_t));
  out[len] = 0;
  return out;
}

char16_t* AsciiText(const char* text) noexcept {
  std::size_t len = std::strlen(text);
  auto* out = new (std::nothrow) char16_t[len + 1];
  if (!out) return nullptr;
  for (std::size_t i = 0; i <= len; ++i) out[i] = static_cast<unsigned char>(text[i]);
  return out;
}

}  // namespace

_com_error::_com_error(HRESULT hr, IErrorInfo* perrinfo, bool fAddRef) noexcept : hr_(hr), info_(perrinfo) {
  if (info_ && fAddRef) info_->AddRef();
}

_com_error::_com_error(const _com_error& that) noexcept : hr_(that.hr_), info_(that.info_) {
  if (info_) info_->AddRef();
}

_com_error& _com_error::operator=(const _com_error& that) noexcept {
  if (this == &that) return *this;
  if (that.info_) that.info_->AddRef();
  if (info_) info_->Release();
  hr_ = that.hr_;
  info_ = that.info_;
  delete[] message_;
  message_ = nullptr;
  return *this;
}

_com_error::~_com_error() {
  if (info_) info_->Release();
  delete[] message_;
}

WORD _com_error::HRESULTToWCode(HRESULT hr) noexcept {
  const auto u = static_cast<std::uint32_t>(hr);
  return (u >= 0x80040200u && u <= 0x8004FFFFu) ? static_cast<WORD>(u - 0x80040200u) : 0;
}

WORD _com_error::WCode() const noexcept { return HRESULTToWCode(hr_); }

IErrorInfo* _com_error::ErrorInfo() const noexcept {
  if (info_) info_->AddRef();
  return info_;
}

_bstr_t _com_error::Description() const {
  BSTR text = nullptr;
  if (info_) info_->GetDescription(&text);
  return _bstr_t(text, false);
}

_bstr_t _com_error::Source() const {
  BSTR text = nullptr;
  if (info_) info_->GetSource(&text);
  return _bstr_t(text, false);
}

_bstr_t _com_error::HelpFile() const {
  BSTR text = nullptr;
  if (info_) info_->GetHelpFile(&text);
  return _bstr_t(text, false);
}

DWORD _com_error::HelpContext() const noexcept {
  DWORD context = 0;
  if (info_) info_->GetHelpContext(&context);
  return context;
}

::GUID _com_error::GUID() const noexcept {
  ::GUID guid = GUID_NULL;
  if (info_) info_->GetGUID(&guid);
  return guid;
}

const char16_t* _com_error::ErrorMessage() const noexcept {
  if (message_) return message_;
  char16_t buffer[1024];
  DWORD len = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(hr_), 0, buffer, sizeof buffer / sizeof buffer[0], nullptr);
  if (len > 0) {
    while (len > 0 && (buffer[len - 1] == u'\r' || buffer[len - 1] == u'\n')) --len;
    message_ = CopyText(buffer, len);
  } else {
    char narrow[64];
    if (WORD code = WCode())
      std::snprintf(narrow, sizeof narrow, "IDispatch error #%d", static_cast<int>(code));
    else
      std::snprintf(narrow, sizeof narrow, "Unknown error 0x%08X", static_cast<unsigned>(hr_));
    message_ = AsciiText(narrow);
  }
  return message_;
}

void _com_issue_error(HRESULT hr) { throw _com_error(hr); }

void _com_issue_errorex(HRESULT hr, IUnknown* punk, REFIID riid) {
  IErrorInfo* info = nullptr;
  if (punk) {
    ISupportErrorInfo* support = nullptr;
    if (SUCCEEDED(punk->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support))) && support) {
      if (support->InterfaceSupportsErrorInfo(riid) == S_OK && GetErrorInfo(0, &info) != S_OK) info = nullptr;
      support->Release();
    }
  }
  throw _com_error(hr, info);
}
