#include <gtest/gtest.h>

#include <string>

#include "platform/com/combase.h"
#include "platform/com/comdef.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YException.h"
#include "platform/text.h"

namespace {

std::string U8(std::u16string_view s) { return vel::ToUtf8(s); }

// A _com_error as a sibling component leaves it: HRESULT plus error object.
_com_error MakeComError(HRESULT hr, const char16_t* description, const char16_t* source) {
  ICreateErrorInfo* create = nullptr;
  EXPECT_EQ(CreateErrorInfo(&create), S_OK);
  if (description) create->SetDescription(const_cast<LPOLESTR>(description));
  if (source) create->SetSource(const_cast<LPOLESTR>(source));
  IErrorInfo* info = nullptr;
  EXPECT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
  create->Release();
  return _com_error(hr, info);  // takes the reference
}

std::vector<const CYXmlNode*> Entries(const CYException& x) {
  std::vector<const CYXmlNode*> out;
  for (const auto& c : x.GetTree().GetChildren()) out.push_back(c.get());
  return out;
}

std::u16string Child(const CYXmlNode& entry, std::u16string_view name) {
  const auto found = entry.GetChildren(name);
  return found.empty() ? u"<missing>" : found.front()->GetValue();
}

TEST(CYExceptionFromComError, AReportOfTheFamilyContinuesItsTrace) {
  CYException sibling(u"Invalid function parameter.", 1010, u"YItem", 3, u"CVelItem::Add");
  sibling.AddEntry(u"Stacktrace.", 1005, u"YItem", 9, u"CVelItem::put_Value");
  const _com_error e = MakeComError(kVelErrorHResult, sibling.GetXml().c_str(), u"VelItemsLib.VelItem.1");
  try {
    YErrorFrame({u"CVelItemAudio::ReadMetadata", u"VelItemAudio", 40}, [&] { throw e; });
    FAIL() << "nothing thrown";
  } catch (const CYException& x) {
    const auto entries = Entries(x);
    ASSERT_EQ(entries.size(), 3u) << U8(x.GetXml());
    EXPECT_EQ(Child(*entries[0], u"sourcefunction"), u"CVelItem::Add");
    EXPECT_EQ(Child(*entries[1], u"sourcefunction"), u"CVelItem::put_Value");
    EXPECT_EQ(Child(*entries[2], u"description"), u"");
    EXPECT_EQ(Child(*entries[2], u"errorcode"), u"1005");
    EXPECT_EQ(Child(*entries[2], u"sourcefunction"), u"CVelItemAudio::ReadMetadata");
    EXPECT_EQ(x.GetCode(), 1010);
  }
}

TEST(CYExceptionFromComError, ABrokenReportKeepsWhatWasRead) {
  const _com_error e = MakeComError(
      kVelErrorHResult, u"\r\n<error>\r\n\t<errorentry><description>first</description></errorentry><errorentry><descr",
      nullptr);
  const CYException x(e);
  ASSERT_GE(Entries(x).size(), 1u);
  EXPECT_EQ(Child(*Entries(x)[0], u"description"), u"first");
}

TEST(CYExceptionFromComError, OtherErrorsBecomeOneEntry) {
  {
    const CYException x(MakeComError(E_FAIL, u"host said no", u"VelItemsLib.VelItem.1"));
    const auto entries = Entries(x);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(Child(*entries[0], u"description"), u"host said no");
    EXPECT_EQ(x.GetCode(), E_FAIL);
    EXPECT_EQ(Child(*entries[0], u"sourcefile"), u"VelItemsLib.VelItem.1");
    EXPECT_EQ(U8(x.GetStackTrace()), "Stack trace:\n\tVelItemsLib.VelItem.1(Unknown line) : Unknown function\n");
  }
  {
    // Without an error object the HRESULT's own text describes it.
    const CYException x{_com_error(E_INVALIDARG)};
    const auto entries = Entries(x);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_FALSE(Child(*entries[0], u"description").empty());
    EXPECT_EQ(Child(*entries[0], u"sourcefile"), u"<missing>");
  }
}

TEST(YCheckHr, FailedResultsRaiseWithTheThreadsErrorInfo) {
  EXPECT_NO_THROW(YCheckHr(S_OK));
  EXPECT_NO_THROW(YCheckHr(S_FALSE));
  ICreateErrorInfo* create = nullptr;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  create->SetDescription(const_cast<LPOLESTR>(u"from the host"));
  IErrorInfo* info = nullptr;
  create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
  create->Release();
  SetErrorInfo(0, info);
  info->Release();
  try {
    YErrorFrame({u"C::M", u"Y", 1}, [] { YCheckHr(E_FAIL); });
    FAIL() << "nothing thrown";
  } catch (const CYException& x) {
    EXPECT_EQ(Child(*Entries(x)[0], u"description"), u"from the host");
    EXPECT_EQ(x.GetCode(), E_FAIL);
  }
}

}  // namespace
