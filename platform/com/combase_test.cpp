#include "platform/com/combase.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "platform/com/comdef.h"

namespace {

const GUID kGuid = {0x0123ABCD, 0x4567, 0x89EF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};

TEST(GuidText, RoundTripsInUpperCase) {
  LPOLESTR text = nullptr;
  ASSERT_EQ(StringFromCLSID(kGuid, &text), S_OK);
  EXPECT_EQ(std::u16string(text), u"{0123ABCD-4567-89EF-FEDC-BA9876543210}");
  GUID back{};
  EXPECT_EQ(CLSIDFromString(text, &back), S_OK);
  EXPECT_EQ(back, kGuid);
  CoTaskMemFree(text);

  OLECHAR buffer[39];
  EXPECT_EQ(StringFromGUID2(kGuid, buffer, 39), 39);
  EXPECT_EQ(std::u16string(buffer), u"{0123ABCD-4567-89EF-FEDC-BA9876543210}");
  EXPECT_EQ(StringFromGUID2(kGuid, buffer, 38), 0) << "no room for the terminator";

  EXPECT_EQ(CLSIDFromString(u"{0123abcd-4567-89ef-fedc-ba9876543210}", &back), S_OK) << "lower case is read";
  EXPECT_EQ(back, kGuid);
}

TEST(GuidText, BadTextsAreClassStringErrors) {
  const struct {
    const char* name;
    const char16_t* text;
  } rows[] = {
      {"no braces", u"0123ABCD-4567-89EF-FEDC-BA9876543210"},
      {"no closing brace", u"{0123ABCD-4567-89EF-FEDC-BA9876543210"},
      {"empty", u""},
      {"too short", u"{0123ABCD-4567-89EF-FEDC-BA987654321}"},
      {"too long", u"{0123ABCD-4567-89EF-FEDC-BA98765432100}"},
      {"trailing text", u"{0123ABCD-4567-89EF-FEDC-BA9876543210}x"},
      {"non-hex digit", u"{0123ABCG-4567-89EF-FEDC-BA9876543210}"},
      {"dash misplaced", u"{0123ABC-D4567-89EF-FEDC-BA9876543210}"},
      {"sign in field", u"{+123ABCD-4567-89EF-FEDC-BA9876543210}"},
      {"spaces", u"{0123ABCD 4567 89EF FEDC BA9876543210}"},
  };
  for (const auto& row : rows) {
    GUID g = kGuid;
    EXPECT_EQ(CLSIDFromString(row.text, &g), CO_E_CLASSSTRING) << row.name;
  }
}

ComPtr<IErrorInfo> MakeErrorInfo(const char16_t* description) {
  ComPtr<ICreateErrorInfo> create;
  EXPECT_EQ(CreateErrorInfo(&create), S_OK);
  create->SetDescription(const_cast<LPOLESTR>(description));
  return ComPtr<IErrorInfo>(create);
}

std::u16string DescriptionOf(IErrorInfo* info) {
  BSTR text = nullptr;
  info->GetDescription(&text);
  std::u16string out = text ? text : u"";
  SysFreeString(text);
  return out;
}

TEST(ErrorInfo, GetHandsOverAndClearsSetReplacesAndNullClears) {
  IErrorInfo* got = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE);
  EXPECT_EQ(got, nullptr);

  SetErrorInfo(0, MakeErrorInfo(u"first"));
  SetErrorInfo(0, MakeErrorInfo(u"second"));
  ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
  EXPECT_EQ(DescriptionOf(got), u"second");
  got->Release();
  EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE) << "taken once only";

  SetErrorInfo(0, MakeErrorInfo(u"dropped"));
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE);
}

TEST(ErrorInfo, IsKeptPerThread) {
  SetErrorInfo(0, MakeErrorInfo(u"main thread"));
  HRESULT seenOnOther = E_FAIL;
  std::u16string setOnOther;
  std::thread([&] {
    IErrorInfo* got = nullptr;
    seenOnOther = GetErrorInfo(0, &got);
    if (got) got->Release();
    SetErrorInfo(0, MakeErrorInfo(u"other thread"));  // released when the thread ends
  }).join();
  EXPECT_EQ(seenOnOther, S_FALSE);
  IErrorInfo* got = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
  EXPECT_EQ(DescriptionOf(got), u"main thread");
  got->Release();
}

TEST(ErrorInfo, ObjectKeepsItsFields) {
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  create->SetGUID(kGuid);
  create->SetSource(const_cast<LPOLESTR>(u"Vel.Thing.1"));
  create->SetHelpContext(7);
  ComPtr<IErrorInfo> info(create);
  ASSERT_TRUE(info);
  GUID g{};
  info->GetGUID(&g);
  EXPECT_EQ(g, kGuid);
  BSTR text = nullptr;
  info->GetSource(&text);
  EXPECT_EQ(std::u16string(text), u"Vel.Thing.1");
  SysFreeString(text);
  info->GetDescription(&text);
  EXPECT_EQ(text, nullptr) << "unset fields are null";
  DWORD context = 0;
  info->GetHelpContext(&context);
  EXPECT_EQ(context, 7u);
}

TEST(Apartment, CountsPerThreadAndRefusesAnotherModel) {
  std::thread([] {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitialize(nullptr), S_OK) << "after the last CoUninitialize a new model may be chosen";
    CoUninitialize();
  }).join();
}

TEST(TaskMemory, AllocReallocFree) {
  auto* p = static_cast<char*>(CoTaskMemAlloc(4));
  ASSERT_NE(p, nullptr);
  std::memcpy(p, "abc", 4);
  p = static_cast<char*>(CoTaskMemRealloc(p, 4096));
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p, "abc");
  EXPECT_EQ(CoTaskMemRealloc(p, 0), nullptr) << "a zero size frees";
  CoTaskMemFree(nullptr);
}

}  // namespace
