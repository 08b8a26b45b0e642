// COM creation through the in-process test server, registered in a temporary
// registry store.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "testing/ReportMatchers.h"
#include "testing/TempStore.h"
#include "testing/servers/CountingServer.h"
#include "ylib/YCOMClassFactory.h"
#include "ylib/YCOMUtilities.h"
#include "ylib/YGUID.h"

using namespace vel::testing;

namespace {

// Not registered anywhere.
constexpr CLSID kUnknownClass = {0x0A1B2C3D, 0x4E5F, 0x6071, {0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9}};

class COMCreation : public TempStore {
 protected:
  void SetUp() override {
    TempStore::SetUp();
    const char* bin = std::getenv("VEL_TEST_BIN");
    ASSERT_NE(bin, nullptr);
    const std::u16string server = vel::FromUtf8(std::string(bin) + "/libylib_com_test_server.so");
    for (const CLSID& clsid : {kTestCountedClass, kTestRefusingClass}) {
      const std::u16string key = u"CLSID\\" + CYGUID::GUIDToString(clsid) + u"\\InprocServer32";
      HKEY handle = nullptr;
      ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle,
                                nullptr),
                ERROR_SUCCESS);
      SetString(handle, nullptr, server);
      RegCloseKey(handle);
    }
  }

  static ComPtr<ITestCounters> Counters(const ComPtr<IUnknown>& object) {
    ITestCounters* counters = nullptr;
    EXPECT_EQ(object->QueryInterface(kIIDTestCounters, reinterpret_cast<void**>(&counters)), S_OK);
    return ComPtr<ITestCounters>(counters, false);
  }
  // The module's count of class-object requests so far, read through a fresh
  // object (whose own request is included).
  static LONG Requests() {
    const ComPtr<IUnknown> probe = CYCOMUtils::CreateObject(kTestCountedClass, u"probe");
    return Counters(probe)->ClassObjectRequests();
  }
};

TEST(CYGUID, TextForms) {
  EXPECT_EQ(U8(CYGUID::GUIDToString(kTestCountedClass)), "{8C1D6A3E-5B0F-4E7A-9D21-3F6B0C2E4A71}");
  EXPECT_EQ(U8(CYGUID::GUIDToString(GUID_NULL)), "{00000000-0000-0000-0000-000000000000}");
  for (const char16_t* text : {u"{8C1D6A3E-5B0F-4E7A-9D21-3F6B0C2E4A71}", u"8C1D6A3E-5B0F-4E7A-9D21-3F6B0C2E4A71",
                               u"{8c1d6a3e-5b0f-4e7a-9d21-3f6b0c2e4a71}"}) {
    EXPECT_TRUE(CYGUID::StringToGUID(text) == kTestCountedClass) << U8(text);
  }
  EXPECT_TRUE(CYGUID::StringToGUID(u"") == GUID_NULL);
  for (const char16_t* text : {u"{8C1D6A3E-5B0F-4E7A-9D21-3F6B0C2E4A71", u"8C1D6A3E-5B0F-4E7A-9D21-3F6B0C2E4A71}",
                               u"not a guid", u"{8C1D6A3E-5B0F-4E7A-9D21-3F6B0C2E4A7}"}) {
    auto report = ReportOf([&] { CYGUID::StringToGUID(text); });
    if (!report) continue;
    EXPECT_EQ(report->GetCode(), CO_E_CLASSSTRING) << U8(text);
    EXPECT_EQ(U8(Origin(*report, u"sourcefunction")), "CYGUID::StringToGUID");
    EXPECT_NE(Origin(*report, u"description"), u"") << U8(text);
  }
}

TEST_F(COMCreation, CreateObjectFailureCarriesTheClass) {
  auto report = ReportOf([] { CYCOMUtils::CreateObject(kUnknownClass, u"VelItemsLib::VelItem"); });
  ASSERT_TRUE(report);
  EXPECT_EQ(report->GetCode(), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(U8(Origin(*report, u"ClassID")), "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
  EXPECT_EQ(U8(Origin(*report, u"ProgID")), "VelItemsLib::VelItem");
  EXPECT_EQ(U8(Origin(*report, u"sourcefunction")), "CYCOMUtils::CreateObject");
  EXPECT_NE(Origin(*report, u"description"), u"");

  report = ReportOf([] { CYCOMUtils::CreateObject(kUnknownClass, nullptr); });
  ASSERT_TRUE(report);
  EXPECT_EQ(U8(Origin(*report, u"ProgID")), "<missing>") << "no name, no ProgID";

  const ComPtr<IUnknown> object = CYCOMUtils::CreateObject(kTestCountedClass, u"Counted");
  EXPECT_TRUE(object);
}

TEST_F(COMCreation, ClassObjectsAreLookedUpOncePerClassUntilClear) {
  CYCOMClassFactory factory;
  const LONG before = Requests();
  const ComPtr<IUnknown> first = factory.CreateObject(kTestCountedClass, u"Counted");
  const ComPtr<IUnknown> second = factory.CreateObject(kTestCountedClass, u"Counted");
  EXPECT_NE(first.GetInterfacePtr(), second.GetInterfacePtr()) << "two objects";
  EXPECT_EQ(Counters(second)->ClassObjectRequests(), before + 1) << "one lookup for two creations";

  factory.Clear();
  const ComPtr<IUnknown> third = factory.CreateObject(kTestCountedClass, u"Counted");
  EXPECT_EQ(Counters(third)->ClassObjectRequests(), before + 2) << "Clear forgets the class object";
}

TEST_F(COMCreation, ARefusingClassObjectGetsOnePlainAttemptMore) {
  CYCOMClassFactory factory;
  const LONG refusedBefore = Counters(CYCOMUtils::CreateObject(kTestCountedClass, nullptr))->RefusedCreations();
  auto report = ReportOf([&] { factory.CreateObject(kTestRefusingClass, u"Refusing.1"); });
  ASSERT_TRUE(report);
  EXPECT_EQ(report->GetCode(), E_ACCESSDENIED);
  EXPECT_EQ(U8(Origin(*report, u"sourcefunction")), "CYCOMUtils::CreateObject");
  EXPECT_EQ(U8(Origin(*report, u"ClassID")), "{8C1D6A3E-5B0F-4E7A-9D21-3F6B0C2E4A72}");
  EXPECT_EQ(U8(Origin(*report, u"ProgID")), "Refusing.1");
  EXPECT_EQ(U8(Newest(*report, u"sourcefunction")), "CYCOMClassFactory::CreateObject");
  const LONG refusedAfter = Counters(CYCOMUtils::CreateObject(kTestCountedClass, nullptr))->RefusedCreations();
  EXPECT_EQ(refusedAfter - refusedBefore, 2) << "the cached class object, then CoCreateInstance";
}

TEST_F(COMCreation, AnUnregisteredClassIsReportedAndNotCached) {
  CYCOMClassFactory factory;
  auto report = ReportOf([&] { factory.CreateObject(kUnknownClass, u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}"); });
  ASSERT_TRUE(report);
  EXPECT_EQ(report->GetCode(), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(U8(Origin(*report, u"ClassID")), "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
}

}  // namespace
