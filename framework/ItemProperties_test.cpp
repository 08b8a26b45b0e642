// The item-property helpers over real host items, and their plain parts
// (BSTR text, empty values) on values built in the test.
#include "framework/ItemProperties.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/com/oleauto.h"
#include "platform/text.h"
#include "testing/HostItemsTest.h"
#include "ylib/YException.h"

using vel::testing::HostItemsTest;

namespace {

using namespace vel::framework;

TEST(ItemPropertiesText, BstrTextAndViewKeepTheWholeBstr) {
  _bstr_t empty(u"");
  // A BSTR carries its length: an embedded null is part of the text.
  BSTR embedded = SysAllocStringLen(u"a\0b", 3);
  struct Row {
    const char* name;
    BSTR text;
    std::u16string expected;
  };
  const Row rows[] = {
      {"null BSTR", nullptr, u""},
      {"empty BSTR", empty.GetBSTR(), u""},
      {"embedded null", embedded, std::u16string(u"a\0b", 3)},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(BstrText(r.text), r.expected);
    EXPECT_EQ(BstrView(r.text), std::u16string_view(r.expected));
  }
  SysFreeString(embedded);
}

TEST(ItemPropertiesValues, OnlyEmptyAndBlankTextAreEmpty) {
  struct Row {
    const char* name;
    _variant_t value;
    bool empty;
  };
  VARIANT nullBstr;
  VariantInit(&nullBstr);
  nullBstr.vt = VT_BSTR;
  nullBstr.bstrVal = nullptr;
  VARIANT null;
  VariantInit(&null);
  null.vt = VT_NULL;
  const Row rows[] = {
      {"VT_EMPTY", _variant_t(), true},        {"null BSTR", _variant_t(nullBstr), true},
      {"empty text", _variant_t(u""), true},   {"text", _variant_t(u"x"), false},
      {"blank text", _variant_t(u" "), false}, {"VT_NULL", _variant_t(null), false},
      {"zero", _variant_t(0), false},          {"false", _variant_t(false), false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(IsEmptyValue(r.value), r.empty);
  }
}

class ItemProperties : public HostItemsTest {
 protected:
  static std::u16string Text(IVelProperties* properties, const char16_t* name, const char16_t* ns) {
    _variant_t value;
    EXPECT_EQ(properties->get_Value(_bstr_t(name), _bstr_t(ns), value.GetAddress()), S_OK);
    _variant_t text;
    text.ChangeType(VT_BSTR, &value);
    return BstrText(text.bstrVal);
  }
};

constexpr YFrame kFrame{u"ItemPropertiesTest", u"ItemProperties_test", __LINE__};

TEST_F(ItemProperties, PutAddAndExistsWriteTheNamedProperty) {
  ComPtr<IVelItem> item = NewItem();
  ASSERT_TRUE(item);
  ComPtr<IVelProperties> properties = PropertiesOf(item, kFrame);
  ASSERT_TRUE(properties);
  constexpr char16_t kOther[] = u"urn:test:other";

  Put(properties, u"Title", kOther, _variant_t(u"other"));
  Put(properties, u"Title", _variant_t(u"core"));
  PutText(properties, u"Artist", u"artist");
  Add(properties, _variant_t(7), u"Count", kCoreNamespace);

  struct Row {
    const char16_t* name;
    const char16_t* ns;
    bool exists;
    std::u16string text;
  };
  const Row rows[] = {
      {u"Title", kOther, true, u"other"},
      {u"Title", kCoreNamespace, true, u"core"},
      {u"Artist", kCoreNamespace, true, u"artist"},
      {u"Count", kCoreNamespace, true, u"7"},
      {u"Artist", kOther, false, u""},
      {u"Album", kCoreNamespace, false, u""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(vel::ToUtf8(std::u16string(r.name) + u" in " + r.ns));
    EXPECT_EQ(Exists(properties, r.name, r.ns), r.exists);
    if (r.exists) {
      EXPECT_EQ(Text(properties, r.name, r.ns), r.text);
    }
  }

  // Put replaces the value of the property it names.
  Put(properties, u"Title", kCoreNamespace, _variant_t(u"again"));
  EXPECT_EQ(Text(properties, u"Title", kCoreNamespace), u"again");
  EXPECT_EQ(Text(properties, u"Title", kOther), u"other");
}

TEST_F(ItemProperties, ForEachPropertyVisitsEveryPropertyInItsOrder) {
  ComPtr<IVelItem> item = NewItem();
  ASSERT_TRUE(item);
  ComPtr<IVelProperties> properties = PropertiesOf(item, kFrame);
  constexpr char16_t kOther[] = u"urn:test:other";
  Put(properties, u"Title", _variant_t(u"a"));
  Put(properties, u"lat", kOther, _variant_t(1.5));
  Put(properties, u"Artist", _variant_t(u"b"));
  std::u16string seen;
  ForEachProperty(properties, kFrame, [&](IVelProperty* property) {
    seen += PropertyName(property) + u"|" + PropertyNamespace(property) + u";";
  });
  EXPECT_EQ(seen, std::u16string(u"Title|") + kCoreNamespace + u";lat|" + kOther + u";Artist|" + kCoreNamespace + u";");
}

TEST_F(ItemProperties, NullItemRaisesEPointerInTheCallersFrame) {
  try {
    PropertiesOf(nullptr, kFrame);
    FAIL() << "no report";
  } catch (const CYException& e) {
    EXPECT_EQ(e.GetCode(), static_cast<std::int32_t>(E_POINTER));
    EXPECT_NE(e.GetXml().find(u"ItemPropertiesTest"), std::u16string::npos) << vel::ToUtf8(e.GetXml());
  }
}

}  // namespace
