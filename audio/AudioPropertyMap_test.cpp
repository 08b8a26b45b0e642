#include "audio/AudioPropertyMap.h"

#include <gtest/gtest.h>

#include <string>

#include "contract/VelItemsLib.h"
#include "platform/text.h"

namespace {

std::string U8(std::u16string_view s) { return vel::ToUtf8(s); }

std::string RowName(const AudioPropertyMapRow* row) {
  return row == nullptr ? std::string("<none>")
                        : std::to_string(AudioPropertyIndex(*row)) + " " + U8(row->propertyName);
}

TEST(AudioPropertyMapTest, HoldsThirtySixRowsWithUniqueNamesInTheirFixedPlaces) {
  ASSERT_EQ(AudioPropertyMap.size(), 36u);
  // A few anchors the readers and writers index by position or rely on.
  const struct {
    std::size_t index;
    std::u16string_view name;
  } anchors[] = {{0, u"Title"},
                 {1, u"Artist"},
                 {7, u"Genre"},
                 {15, u"Author"},
                 {23, u"Picture"},
                 {24, u"Duration"},
                 {26, u"SamplingFrequency"},
                 {33, u"ContentProvider"},
                 {35, u"DRMIndividualizedVersion"}};
  for (const auto& anchor : anchors) {
    EXPECT_EQ(AudioPropertyMap[anchor.index].propertyName, anchor.name) << "row " << anchor.index;
  }
  // Every row is the first answer to its own name: no name is shadowed by an
  // earlier row spelled the same way in another case.
  for (std::size_t i = 0; i < AudioPropertyMap.size(); ++i) {
    const AudioPropertyMapRow* found = FindAudioPropertyByName(AudioPropertyMap[i].propertyName);
    ASSERT_NE(found, nullptr) << "row " << i;
    EXPECT_EQ(AudioPropertyIndex(*found), i) << "row " << i << " answered by " << RowName(found);
  }
}

TEST(AudioPropertyMapTest, RowsCarryEveryColumnAsGiven) {
  const struct {
    std::size_t index;
    std::u16string_view name;
    std::u16string_view ns;
    std::string_view atom;
    std::u16string_view atomText;
    std::u16string_view attribute;
    bool readOnly;
    bool drm;
  } cases[] = {
      {0, u"Title", kCoreNamespace, "\xA9nam", u"\u00A9nam", u"Title", false, false},
      {4, u"Lyrics", kExtendedNamespace, "\xA9lyr", u"\u00A9lyr", u"WM/Lyrics", false, false},
      {5, u"Lyricist", kExtendedNamespace, "", u"", u"WM/Writer", false, false},
      {11, u"AlbumArtist", kCoreNamespace, "aART", u"aART", u"WM/AlbumArtist", false, false},
      {19, u"ShopTrackId", kExtendedNamespace, "ytrk", u"ytrk", u"Zandor/TrackId", false, false},
      {26, u"SamplingFrequency", kCoreNamespace, "srate", u"srate", u"SampleRate", true, false},
      {28, u"DRM", kCoreNamespace,
       "\xA9"
       "drm",
       u"\u00A9drm", u"WM/DRM", true, false},
      {34, u"DRMKeyID", kExtendedNamespace, "", u"", u"DRMHeader.KID", true, true},
      {35, u"DRMIndividualizedVersion", kExtendedNamespace, "", u"", u"DRMHeader.SECURITYVERSION", true, true},
  };
  for (const auto& c : cases) {
    const AudioPropertyMapRow& row = AudioPropertyMap[c.index];
    SCOPED_TRACE("row " + std::to_string(c.index) + " " + U8(c.name));
    EXPECT_EQ(row.propertyName, c.name);
    EXPECT_EQ(row.propertyNamespace, c.ns);
    EXPECT_EQ(row.atomName, c.atom);
    EXPECT_EQ(row.atomText, c.atomText);
    EXPECT_EQ(row.HasAtom(), !c.atom.empty());
    EXPECT_EQ(row.attributeName, c.attribute);
    EXPECT_EQ(row.readOnly, c.readOnly);
    EXPECT_EQ(row.drmProperty, c.drm);
  }
  // The copyright sign is one byte in a file, not its two-byte UTF-8 form.
  EXPECT_EQ(AudioPropertyMap[0].atomName.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(AudioPropertyMap[0].atomName[0]), 0xA9u);
}

TEST(AudioPropertyMapTest, FlagsMarkTheComputedAndDrmRowsOnly) {
  for (std::size_t i = 0; i < AudioPropertyMap.size(); ++i) {
    // Rows 0 to 23 are tags a person edits; everything after is derived or protected.
    EXPECT_EQ(AudioPropertyMap[i].readOnly, i >= 24) << "row " << i;
    EXPECT_EQ(AudioPropertyMap[i].drmProperty, i >= 34) << "row " << i;
  }
}

TEST(AudioPropertyMapTest, LookupsIgnoreCaseAndTakeTheFirstMatch) {
  const struct {
    const char* what;
    const AudioPropertyMapRow* found;
    int expected;  // row index, -1 for none
  } cases[] = {
      {"name Title", FindAudioPropertyByName(u"Title"), 0},
      {"name title", FindAudioPropertyByName(u"title"), 0},
      {"name SAMPLINGFREQUENCY", FindAudioPropertyByName(u"SAMPLINGFREQUENCY"), 26},
      {"name unknown", FindAudioPropertyByName(u"Tempo"), -1},
      {"name prefix", FindAudioPropertyByName(u"Titl"), -1},
      {"name empty", FindAudioPropertyByName(u""), -1},
      {"name+core", FindAudioPropertyByNameAndNamespace(u"album", kCoreNamespace), 10},
      {"name+ns upper", FindAudioPropertyByNameAndNamespace(u"Lyrics", u"URN:ZANDOR:VEL:EXTENDED"), 4},
      {"name+wrong ns", FindAudioPropertyByNameAndNamespace(u"Title", kExtendedNamespace), -1},
      {"name+empty ns", FindAudioPropertyByNameAndNamespace(u"Title", u""), -1},
      {"atom bytes", FindAudioPropertyByAtom(std::string_view("\xA9nam")), 0},
      {"atom bytes upper", FindAudioPropertyByAtom(std::string_view("\xA9NAM")), 0},
      {"atom aART", FindAudioPropertyByAtom(std::string_view("aart")), 11},
      {"atom srate", FindAudioPropertyByAtom(std::string_view("SRATE")), 26},
      {"atom four of srate", FindAudioPropertyByAtom(std::string_view("srat")), -1},
      {"atom utf-8 sign", FindAudioPropertyByAtom(std::string_view("\xC2\xA9nam")), -1},
      {"atom empty", FindAudioPropertyByAtom(std::string_view()), -1},
      {"atom text", FindAudioPropertyByAtom(std::u16string_view(u"\u00A9ART")), 1},
      {"atom text upper", FindAudioPropertyByAtom(std::u16string_view(u"\u00A9DRM")), 28},
      {"atom text empty", FindAudioPropertyByAtom(std::u16string_view()), -1},
      {"attribute Author", FindAudioPropertyByAttribute(u"Author"), 1},
      {"attribute author", FindAudioPropertyByAttribute(u"author"), 1},
      {"attribute wm/tracknumber", FindAudioPropertyByAttribute(u"wm/tracknumber"), 2},
      {"attribute drm kid", FindAudioPropertyByAttribute(u"drmheader.kid"), 34},
      {"attribute unknown", FindAudioPropertyByAttribute(u"WM/Mood"), -1},
      {"attribute empty", FindAudioPropertyByAttribute(u""), -1},
  };
  for (const auto& c : cases) {
    if (c.expected < 0) {
      EXPECT_EQ(c.found, nullptr) << c.what << " found " << RowName(c.found);
    } else {
      ASSERT_NE(c.found, nullptr) << c.what;
      EXPECT_EQ(AudioPropertyIndex(*c.found), static_cast<std::size_t>(c.expected)) << c.what;
    }
  }
}

TEST(AudioPropertyMapTest, DrmRowsShareTheDrmHeaderConstants) {
  EXPECT_EQ(AudioPropertyMap[34].attributeName, std::u16string_view(kDrmHeaderKeyId));
  EXPECT_EQ(AudioPropertyMap[35].attributeName, std::u16string_view(kDrmHeaderSecurityVersion));
}

TEST(GenreNamesTest, NumbersSelectNamesOneBased) {
  ASSERT_EQ(kGenreNames.size(), 148u);
  const struct {
    std::int64_t number;
    std::u16string_view name;
  } cases[] = {
      {1, u"Blues"},
      {15, u"R&B"},
      {18, u"Rock"},
      {30, u"Jazz+Funk"},
      {63, u"Pop/Funk"},
      {68, u"Psychadelic"},
      {79, u"Rock & Roll"},
      {124, u"A capella"},
      {128, u"Drum & Bass"},
      {137, u"Christian Gangsta Rap"},
      {148, u"Synth Pop"},
      {0, u""},
      {149, u""},
      {-1, u""},
      {65536 + 18, u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GenreName(c.number), c.name) << "gnre " << c.number;
  }
}

TEST(GenreNamesTest, NamesGiveTheirNumberWithoutRegardToCase) {
  EXPECT_EQ(GenreNumber(u"Rock"), std::optional<std::uint16_t>(18));
  EXPECT_EQ(GenreNumber(u"rOCK"), std::optional<std::uint16_t>(18));
  EXPECT_EQ(GenreNumber(u"BLUES"), std::optional<std::uint16_t>(1));
  EXPECT_EQ(GenreNumber(u"synth pop"), std::optional<std::uint16_t>(148));
  EXPECT_EQ(GenreNumber(u"Rock "), std::nullopt);
  EXPECT_EQ(GenreNumber(u"SynthPop"), std::nullopt);
  EXPECT_EQ(GenreNumber(u""), std::nullopt);
  // Every name leads back to its own number: no name repeats an earlier one.
  for (std::size_t i = 0; i < kGenreNames.size(); ++i) {
    EXPECT_EQ(GenreNumber(kGenreNames[i]), std::optional<std::uint16_t>(i + 1)) << U8(kGenreNames[i]);
  }
}

}  // namespace
