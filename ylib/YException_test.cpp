#include "ylib/YException.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "ylib/YErrorFrame.h"
#include "platform/text.h"

namespace {

std::string U8(std::u16string_view s) { return vel::ToUtf8(s); }

std::vector<const CYXmlNode*> Entries(const CYException& x) {
  std::vector<const CYXmlNode*> out;
  for (const auto& c : x.GetTree().GetChildren()) out.push_back(c.get());
  return out;
}

std::u16string Child(const CYXmlNode& entry, std::u16string_view name) {
  const auto found = entry.GetChildren(name);
  return found.empty() ? u"<missing>" : found.front()->GetValue();
}

TEST(CYException, SerialisesTheReportLayoutByteForByte) {
  CYException x(u"Invalid function parameter.", 1010, u"YRegistry", 120, u"CYRegistry::RegOpenRegKey");
  x.AddEntry(u"Stacktrace.", 1005, u"YPluginFactory", 77, u"CVelItemPluginFactory::Load");
  const std::u16string want =
      u"\r\n<error>"
      u"\r\n\t<errorentry>"
      u"\r\n\t\t<description>Invalid function parameter.</description>"
      u"\r\n\t\t<errorcode>1010</errorcode>"
      u"\r\n\t\t<sourcefile>YRegistry</sourcefile>"
      u"\r\n\t\t<sourceline>120</sourceline>"
      u"\r\n\t\t<sourcefunction>CYRegistry::RegOpenRegKey</sourcefunction>"
      u"\r\n\t</errorentry>"
      u"\r\n\t<errorentry>"
      u"\r\n\t\t<description>Stacktrace.</description>"
      u"\r\n\t\t<errorcode>1005</errorcode>"
      u"\r\n\t\t<sourcefile>YPluginFactory</sourcefile>"
      u"\r\n\t\t<sourceline>77</sourceline>"
      u"\r\n\t\t<sourcefunction>CVelItemPluginFactory::Load</sourcefunction>"
      u"\r\n\t</errorentry>"
      u"\r\n</error>";
  EXPECT_EQ(U8(x.GetXml()), U8(want));
}

TEST(CYException, HResultsAndSpecialCharactersInTheXml) {
  CYException x(u"a < b & \"c\"", static_cast<std::int32_t>(0x80070002u), u"F", 1, u"C::M");
  const std::u16string xml = x.GetXml();
  EXPECT_NE(xml.find(u"<errorcode>-2147024894</errorcode>"), std::u16string::npos) << U8(xml);
  EXPECT_NE(xml.find(u"<description>a &lt; b &amp; &quot;c&quot;</description>"), std::u16string::npos) << U8(xml);
  EXPECT_EQ(x.GetCode(), static_cast<std::int32_t>(0x80070002u));
}

// Three functions deep: A raises, B and the COM-like method M pass it on.
constexpr YFrame kFrameA{u"CA::A", u"YA", 10};
constexpr YFrame kFrameB{u"CB::B", u"YB", 20};
constexpr YFrame kFrameM{u"CCom::Method", u"YCom", 30};

int A(int x) {
  return YErrorFrame(kFrameA, [&](const YFrame& frame) -> int {
    if (x < 0) throw YReport(kYErrInvalidParameter, frame).AddDetail(u"Registry key", u"HKEY_X\\50%");
    return x;
  });
}
int B(int x) {
  return YErrorFrame(kFrameB, [&] { return A(x) + 1; });
}
int M(int x) {
  return YErrorFrame(kFrameM, [&] { return B(x) + 1; });
}

TEST(CYException, ReportGrowsOneStackEntryPerFrame) {
  EXPECT_EQ(M(1), 3);
  try {
    M(-1);
    FAIL() << "no exception";
  } catch (const CYException& x) {
    const auto entries = Entries(x);
    ASSERT_EQ(entries.size(), 4u) << U8(x.GetXml());
    EXPECT_EQ(Child(*entries[0], u"description"), u"Invalid function parameter.");
    EXPECT_EQ(Child(*entries[0], u"errorcode"), u"1010");
    EXPECT_EQ(Child(*entries[0], u"Registrykey"), u"HKEY_X\\50%");
    const char16_t* functions[] = {u"CA::A", u"CA::A", u"CB::B", u"CCom::Method"};
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(Child(*entries[i], u"sourcefunction"), functions[i]) << "entry " << i;
      if (i > 0) {
        EXPECT_EQ(Child(*entries[i], u"description"), u"Stacktrace.") << "entry " << i;
        EXPECT_EQ(Child(*entries[i], u"errorcode"), u"1005") << "entry " << i;
      }
    }
    EXPECT_EQ(U8(x.GetText(7)), "Invalid function parameter.\n"
                                "\terrorcode:\t1010\n"
                                "\tRegistrykey:\tHKEY_X\\50%%\n"
                                "\n"
                                "Stack trace:"
                                "\n\tYCom(30) : CCom::Method"
                                "\n\tYB(20) : CB::B"
                                "\n\tYA(10) : CA::A"
                                "\n\tYA(10) : CA::A"
                                "\n");
    // Without bit 4 the code is left out; the detail stays.
    EXPECT_EQ(U8(x.GetText(1)), "Invalid function parameter.\n\tRegistrykey:\tHKEY_X\\50%%\n");
  }
}

TEST(CYException, GetTextVisitsEntriesNewestFirst) {
  CYException x(u"origin 100%", 2, u"F1", 1, u"C::One");
  x.AddEntry(u"outer", 2004, u"F2", 2, u"C::Two");
  EXPECT_EQ(U8(x.GetText(0)), "outer\n") << "stops after the first entry with text";
  EXPECT_EQ(U8(x.GetText(1)), "outer\norigin 100%%\n");
  EXPECT_EQ(U8(x.GetText(5)), "outer\n\terrorcode:\t2004\norigin 100%%\n\terrorcode:\t2\n");
}

TEST(CYException, StackTraceListsNewestFirst) {
  CYException x(u"d", 1, u"F", 1, u"C::M");
  x.AddEntry(u"", 1005, u"G", 2, u"C::N");
  EXPECT_EQ(U8(x.GetStackTrace()), "Stack trace:\n\tG(2) : C::N\n\tF(1) : C::M\n");
}

TEST(CYException, AddDetailTargetsTheNewestNonStackEntry) {
  CYException x(u"origin", 7, u"F", 1, u"C::M");
  x.AddEntry(u"Stacktrace.", 1005, u"F", 2, u"C::N");
  x.AddDetail(u"Registry key", u"HKLM");
  x.AddDetail(u"<bad&name>", u"v");
  x.AddDetail(u" ", u"w");
  x.AddDetail(u"Code", 0x80070002, true);
  x.AddDetail(u"Count", -3, false);
  const auto entries = Entries(x);
  EXPECT_EQ(Child(*entries[0], u"Registrykey"), u"HKLM");
  EXPECT_EQ(Child(*entries[0], u"badname>"), u"v");
  EXPECT_EQ(Child(*entries[0], u"detail"), u"w");
  EXPECT_EQ(Child(*entries[0], u"Code"), u"0x80070002");
  EXPECT_EQ(Child(*entries[0], u"Count"), u"-3");
  EXPECT_EQ(entries[1]->GetChildren().size(), 5u) << "the stack entry got a detail";

  CYException onlyStack(u"Stacktrace.", 1005, u"F", 1, u"C::M");
  onlyStack.AddDetail(u"X", u"y");
  EXPECT_EQ(Entries(onlyStack)[0]->GetChildren().size(), 5u);
}

TEST(CYException, CopiesAreIndependent) {
  CYException x(u"origin", 7, u"F", 1, u"C::M");
  CYException copy(x);
  copy.AddEntry(u"more", 8, u"G", 2, u"C::N");
  EXPECT_EQ(Entries(x).size(), 1u);
  EXPECT_EQ(Entries(copy).size(), 2u);
  x = copy;
  EXPECT_EQ(x.GetXml(), copy.GetXml());
  x.AppendEntries(x);
  EXPECT_EQ(Entries(x).size(), 4u);
  CYException moved(std::move(copy));
  EXPECT_EQ(Entries(moved).size(), 2u);
}

struct CatchRow {
  const char* name;
  std::function<void()> raise;
  std::int32_t code;
  std::u16string description;
  std::size_t entries;
};

TEST(YErrorFrame, ConvertsEveryKindOfException) {
  const CatchRow rows[] = {
      {"CYException", [] { throw CYException(u"own", 2012, u"F", 1, u"C::Own"); }, 2012, u"own", 2},
      {"std::exception", [] { throw std::runtime_error("boom \xC3\xA9"); }, 1002,
       u"std exception caught: boom \u00E9", 1},
      {"char*", [] { throw "narrow"; }, 1003, u"char* exception caught: narrow", 1},
      {"mutable char*", [] { static char text[] = "mutable"; throw static_cast<char*>(text); }, 1003,
       u"char* exception caught: mutable", 1},
      {"char16_t*", [] { throw u"wide"; }, 1004, u"wchar_t* exception caught: wide", 1},
      {"int", [] { throw 42; }, 1001, u"Unhandled exception caught (Possibly caused by access violation)", 1},
  };
  for (const CatchRow& row : rows) {
    try {
      YErrorFrame({u"CTest::Run", u"YTest", 99}, [&] { row.raise(); });
      ADD_FAILURE() << row.name << ": nothing thrown";
    } catch (const CYException& x) {
      const auto entries = Entries(x);
      ASSERT_EQ(entries.size(), row.entries) << row.name;
      EXPECT_EQ(x.GetCode(), row.code) << row.name;
      EXPECT_EQ(U8(Child(*entries[0], u"description")), U8(row.description)) << row.name;
      const CYXmlNode& last = *entries.back();
      EXPECT_EQ(Child(last, u"sourcefunction"), u"CTest::Run") << row.name;
      EXPECT_EQ(Child(last, u"sourcefile"), u"YTest") << row.name;
      EXPECT_EQ(Child(last, u"sourceline"), u"99") << row.name;
    } catch (...) {
      ADD_FAILURE() << row.name << ": something other than CYException left the frame";
    }
  }
}

TEST(YErrorFrame, PassesResultsAndReferencesThrough) {
  int value = 5;
  int& ref = YErrorFrame({u"C::R", u"Y", 1}, [&]() -> int& { return value; });
  EXPECT_EQ(&ref, &value);
  YErrorFrame({u"C::V", u"Y", 1}, [] {});
  EXPECT_EQ(YErrorFrame({u"C::S", u"Y", 1}, [] { return std::u16string(u"s"); }), u"s");
}

}  // namespace
