// CYException from a COM error, and YCheckHr.
#include "platform/com/combase.h"
#include "platform/com/comdef.h"
#include "platform/com/oleauto.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YErrorText.h"
#include "ylib/YFormat.h"

namespace {

// The description and source of the error object, read directly so that a
// report of any length arrives whole.
void ReadErrorInfo(const _com_error& e, std::u16string& description, std::u16string& source) {
  IErrorInfo* info = e.ErrorInfo();  // one reference for us
  if (!info) return;
  BSTR text = nullptr;
  if (SUCCEEDED(info->GetDescription(&text)) && text) description.assign(text, SysStringLen(text));
  SysFreeString(text);
  text = nullptr;
  if (SUCCEEDED(info->GetSource(&text)) && text) source.assign(text, SysStringLen(text));
  SysFreeString(text);
  info->Release();
}

}  // namespace

CYException::CYException(const _com_error& e) : CYException() {
  std::u16string description;
  std::u16string source;
  ReadErrorInfo(e, description, source);
  const HRESULT hr = e.Error();
  if (hr == kVelErrorHResult) {
    // Whatever part of the report the reader accepts continues the trace.
    CYXmlParseInfo info;
    Root().Load(description, info);
    if (Root().GetName() != u"error") {
      m_root = std::make_unique<CYXmlNode>(EYXmlNodeType::Element, std::u16string(u"error"));
    }
    return;
  }
  std::u16string message = description;
  if (message.empty()) {
    const auto* system = e.ErrorMessage();
    if (system) message = system;
  }
  if (message.empty()) message = FormatErrorMessage(static_cast<DWORD>(hr));
  m_root->AppendChild(u"errorentry");
  CYXmlNode& entry = *m_root->GetChildren().back();
  entry.AppendChild(u"description", message);
  entry.AppendChild(u"errorcode", YFormat(u"%d", hr));
  if (!source.empty()) entry.AppendChild(u"sourcefile", source);
}

void YCheckHr(HRESULT hr) {
  if (SUCCEEDED(hr)) return;
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK) info = nullptr;
  throw _com_error(hr, info);  // takes our reference
}
