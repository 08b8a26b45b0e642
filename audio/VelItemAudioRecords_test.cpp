// The record helpers of the Windows Media write path and the read-only test of
// the write paths: names compare without regard to letter case, the first
// match wins.
#include <gtest/gtest.h>

#include "audio/VelItemAudio.h"
#include "contract/VelItemsLib.h"
#include "platform/text.h"

namespace {

CMetaDataItemList Records() {
  CMetaDataItemList list;
  list.emplace_back(u"Title", kCoreNamespace, _variant_t(u"first"), 1);
  list.emplace_back(u"Artist", kCoreNamespace, _variant_t(u"a"), 1);
  list.emplace_back(u"TITLE", kCoreNamespace, _variant_t(u"second"), 1);
  list.emplace_back(u"Picture", kExtendedNamespace, _variant_t(), 13);
  return list;
}

std::u16string Names(const CMetaDataItemList& list) {
  std::u16string out;
  for (const CMetaDataItem& r : list) out += r.name + u";";
  return out;
}

TEST(AudioRecordsTest, FindRecordTakesTheFirstMatchIgnoringCase) {
  const CMetaDataItemList list = Records();
  const struct {
    const char16_t* name;
    const CMetaDataItem* expected;
  } cases[] = {
      {u"title", &list[0]}, {u"TITLE", &list[0]}, {u"aRTIST", &list[1]},
      {u"picture", &list[3]}, {u"Titl", nullptr}, {u"", nullptr},
  };
  for (const auto& c : cases) EXPECT_EQ(CVelItemAudio::FindRecord(c.name, list), c.expected) << vel::ToUtf8(c.name);
}

TEST(AudioRecordsTest, RemoveMetaDataItemErasesTheFirstMatchOnly) {
  const struct {
    const char* label;
    const char16_t* name;
    std::u16string left;
  } cases[] = {
      {"first of two titles", u"tItLe", u"Artist;TITLE;Picture;"},
      {"last record", u"PICTURE", u"Title;Artist;TITLE;"},
      {"no such record", u"Album", u"Title;Artist;TITLE;Picture;"},
      {"empty name", u"", u"Title;Artist;TITLE;Picture;"},
  };
  for (const auto& c : cases) {
    CMetaDataItemList list = Records();
    CVelItemAudio::RemoveMetaDataItem(c.name, list);
    EXPECT_EQ(Names(list), c.left) << c.label;
  }
  CMetaDataItemList list = Records();
  CVelItemAudio::RemoveMetaDataItem(u"title", list);
  CVelItemAudio::RemoveMetaDataItem(u"title", list);
  EXPECT_EQ(Names(list), u"Artist;Picture;");
  EXPECT_EQ(list[0].value.vt, VT_BSTR);
}

TEST(AudioRecordsTest, IsReadOnlyPropertyFollowsTheTable) {
  const struct {
    const char16_t* name;
    bool readOnly;
  } cases[] = {
      {u"Duration", true},  {u"bitrate", true},       {u"SAMPLINGFREQUENCY", true}, {u"Protected", true},
      {u"DRM", true},       {u"DRMKeyID", true},      {u"Publisher", true},         {u"Title", false},
      {u"picture", false},  {u"Lyricist", false},     {u"URI", false},              {u"", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CVelItemAudio::IsReadOnlyProperty(c.name), c.readOnly)
        << vel::ToUtf8(c.name);
}

}  // namespace
