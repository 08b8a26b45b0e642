#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/comdef.h"
#include "platform/com/hresult.h"
#include "platform/com/oleauto.h"
#include "platform/win32/winerror.h"
#include "testing/ReportMatchers.h"
#include "ylib/YBufMalloc.h"
#include "ylib/YBufSafeArray.h"
#include "ylib/YErrorText.h"
#include "ylib/YLogging.h"

using namespace vel::testing;

namespace {

// A size no heap provides.
constexpr std::uint64_t kHuge = 1ull << 62;

// Keeps what reaches the event sink, so logged (not raised) failures are seen.
class CaptureSink : public CYLogBase {
 public:
  explicit CaptureSink(std::vector<std::string>& lines) : m_lines(lines) {}
  void Init() override {}
  void Log(int, const std::u16string& text, bool) override { m_lines.push_back(U8(text)); }
  bool IsDebuggingLevel() const override { return false; }

 private:
  std::vector<std::string>& m_lines;
};

class LogCapture : public ::testing::Test {
 protected:
  void SetUp() override { CYLogging::Instance().InstallSinks(std::make_unique<CaptureSink>(lines), nullptr); }
  void TearDown() override { CYLogging::Instance().InstallSinks(nullptr, nullptr); }
  bool Logged(const std::string& part) const {
    for (const std::string& line : lines) {
      if (line.find(part) != std::string::npos) return true;
    }
    return false;
  }
  std::vector<std::string> lines;
};

_variant_t ByteArray(const std::vector<BYTE>& bytes) {
  _variant_t v;
  v.vt = VT_ARRAY | VT_UI1;
  v.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (!bytes.empty()) std::memcpy(v.parray->pvData, bytes.data(), bytes.size());
  return v;
}

std::vector<BYTE> Content(CYBuf& buf) {
  const std::uint64_t size = buf.GetSize();
  if (size == 0) return {};
  CYLockHolder hold(buf);
  const BYTE* data = static_cast<const BYTE*>(buf.GetBuf());
  return std::vector<BYTE>(data, data + size);
}

const std::vector<BYTE> kTen = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

TEST(CYBufMalloc, AllocCopyAndRealloc) {
  CYBufMalloc buf;
  EXPECT_EQ(buf.Alloc(0), nullptr);
  EXPECT_EQ(buf.GetSize(), 0u);
  EXPECT_EQ(buf.GetBuf(), nullptr);
  buf.Copy(kTen.data(), kTen.size());
  EXPECT_EQ(Content(buf), kTen);
  buf.Realloc(20);
  EXPECT_EQ(buf.GetSize(), 20u);
  EXPECT_EQ(std::vector<BYTE>(static_cast<BYTE*>(buf.GetBuf()), static_cast<BYTE*>(buf.GetBuf()) + 10), kTen);
  buf.Realloc(3);
  EXPECT_EQ(Content(buf), (std::vector<BYTE>{1, 2, 3}));
  buf.Clear();
  EXPECT_EQ(buf.GetSize(), 0u);
  EXPECT_EQ(buf.GetBuf(), nullptr);
}

TEST(CYBufMalloc, HeapFailuresKeepTheBlock) {
  CYBufMalloc buf(10);
  std::memcpy(buf.GetBuf(), kTen.data(), 10);
  void* const block = buf.GetBuf();
  auto report = ReportOf([&] { buf.Realloc(kHuge); });
  ASSERT_TRUE(report);
  EXPECT_EQ(report->GetCode(), E_OUTOFMEMORY);
  EXPECT_EQ(U8(Origin(*report, u"description")), U8(FormatErrorMessage(ERROR_OUTOFMEMORY)));
  EXPECT_EQ(U8(Origin(*report, u"description")).rfind("Not enough memory", 0), 0u);
  EXPECT_EQ(U8(Origin(*report, u"sourcefunction")), "CYBufMalloc::Realloc");
  EXPECT_EQ(buf.GetBuf(), block);
  EXPECT_EQ(Content(buf), kTen);

  ExpectCode([&] { buf.Alloc(kHuge); }, E_OUTOFMEMORY, "Alloc");
  EXPECT_EQ(buf.GetSize(), 0u) << "Alloc drops the old content first";
}

TEST_F(LogCapture, ConstructorsLogInsteadOfRaising) {
  CYBufMalloc huge(kHuge);
  EXPECT_EQ(huge.GetSize(), 0u);
  EXPECT_TRUE(Logged("Exception caught in CYBufMalloc::CYBufMalloc"));

  _variant_t ints;
  ints.vt = VT_ARRAY | VT_I4;
  ints.parray = SafeArrayCreateVector(VT_I4, 0, 2);
  CYBufSafeArray wrong(ints);
  EXPECT_EQ(wrong.GetSize(), 0u);
  EXPECT_EQ(ints.vt, VT_ARRAY | VT_I4) << "a refused VARIANT stays with the caller";
  EXPECT_TRUE(Logged("Exception caught in CYBufSafeArray::CYBufSafeArray"));
  EXPECT_TRUE(Logged("Invalid variant type"));
}

TEST(CYBufSafeArray, GetBufOnlyWhileLocked) {
  CYBufSafeArray buf;
  EXPECT_EQ(buf.GetSize(), 0u) << "empty";
  buf.Alloc(4);
  auto report = ReportOf([&] { buf.GetBuf(); });
  ASSERT_TRUE(report);
  EXPECT_EQ(report->GetCode(), 2007);
  EXPECT_EQ(U8(Origin(*report, u"description")), "Array not locked.");
  EXPECT_EQ(U8(Origin(*report, u"sourcefunction")), "CYBufSafeArray::GetBuf");

  ASSERT_TRUE(buf.Lock());
  EXPECT_EQ(buf.GetBuf(), buf.GetVariant().parray->pvData);
  EXPECT_EQ(buf.GetVariant().parray->cLocks, 1u);
  buf.Unlock();
  EXPECT_EQ(buf.GetVariant().parray->cLocks, 0u);
  ExpectCode([&] { buf.GetBuf(); }, 2007, "after Unlock");

  // Clear ends every pin, so the array can go.
  buf.Lock();
  buf.Lock();
  buf.Clear();
  EXPECT_EQ(buf.GetVariant().vt, VT_EMPTY);
  ExpectCode([&] { buf.Lock(); }, 1015, "Lock of an empty buffer");
}

TEST(CYBufSafeArray, CopyTenBytes) {
  CYBufSafeArray buf;
  buf.Copy(kTen.data(), kTen.size());
  const VARIANT& v = buf.GetVariant();
  ASSERT_EQ(v.vt, VT_ARRAY | VT_UI1);
  EXPECT_EQ(v.parray->cLocks, 0u) << "unlocked afterwards";
  EXPECT_EQ(v.parray->rgsabound[0].cElements, 10u);
  EXPECT_EQ(v.parray->rgsabound[0].lLbound, 0);
  EXPECT_EQ(std::memcmp(v.parray->pvData, kTen.data(), 10), 0);
  EXPECT_EQ(buf.GetSize(), 10u);

  buf.Realloc(12);
  std::vector<BYTE> grown = kTen;
  grown.push_back(0);
  grown.push_back(0);
  EXPECT_EQ(Content(buf), grown);
  buf.Lock();
  ExpectCode([&] { buf.Realloc(2); }, DISP_E_ARRAYISLOCKED, "Realloc while pinned");
  buf.Unlock();
}

TEST(CYBufSafeArray, AttachWithAndWithoutCopy) {
  _variant_t source = ByteArray(kTen);
  SAFEARRAY* const original = source.parray;
  CYBufSafeArray copied;
  copied.Attach(source, true);
  EXPECT_EQ(source.parray, original) << "the source keeps its array";
  EXPECT_NE(copied.GetVariant().parray, original);
  static_cast<BYTE*>(original->pvData)[0] = 99;
  EXPECT_EQ(Content(copied), kTen) << "the copy is independent";

  CYBufSafeArray taken;
  taken.Attach(source, false);
  EXPECT_EQ(source.vt, VT_EMPTY);
  EXPECT_EQ(taken.GetVariant().parray, original);

  CYBufSafeArray fromConstructor(source);
  EXPECT_EQ(fromConstructor.GetSize(), 0u) << "an empty VARIANT is no byte array";

  VARIANT out;
  taken.Detach(&out);
  EXPECT_EQ(out.parray, original);
  EXPECT_EQ(taken.GetVariant().vt, VT_EMPTY);
  VariantClear(&out);
}

TEST(CYBufSafeArray, OnlyByteArraysAttach) {
  struct Case {
    const char* name;
    VARTYPE vt;
    bool withArray;
  };
  for (const Case& c : {Case{"VT_ARRAY|VT_I4", static_cast<VARTYPE>(VT_ARRAY | VT_I4), true},
                        Case{"byte array without array", static_cast<VARTYPE>(VT_ARRAY | VT_UI1), false},
                        Case{"VT_UI1", VT_UI1, false}, Case{"VT_EMPTY", VT_EMPTY, false}}) {
    _variant_t v;
    if (c.withArray) v.parray = SafeArrayCreateVector(VT_I4, 0, 1);
    v.vt = c.vt;
    CYBufSafeArray buf;
    for (bool copy : {false, true}) {
      ExpectCode([&] { buf.Attach(v, copy); }, 1015, std::string(c.name) + (copy ? " copied" : " taken"));
    }
    EXPECT_EQ(v.vt, c.vt) << c.name;
    if (!c.withArray) v.vt = VT_EMPTY;
  }
}

TEST(CYBufSafeArray, SizesBeyondTheArraysCountAreRefused) {
  CYBufSafeArray buf;
  ExpectCode([&] { buf.Alloc((1ull << 32) + 5); }, E_OUTOFMEMORY, "Alloc");
  EXPECT_EQ(buf.GetSize(), 0u);
  buf.Alloc(5);
  ExpectCode([&] { buf.Realloc((1ull << 32) + 1); }, E_OUTOFMEMORY, "Realloc");
  EXPECT_EQ(buf.GetSize(), 5u);
}

}  // namespace
