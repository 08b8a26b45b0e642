#include "audio/AudioPropertyMap.h"

#include <algorithm>

#include "contract/VelItemsLib.h"
#include "platform/base/Ascii.h"

namespace {

template <class Predicate>
const AudioPropertyMapRow* FindFirst(Predicate matches) noexcept {
  const auto found = std::find_if(AudioPropertyMap.begin(), AudioPropertyMap.end(), matches);
  return found == AudioPropertyMap.end() ? nullptr : &*found;
}

// Both spellings of an item type come from the same text; a row whose wide
// form says something else than its bytes would send the MP4 code and the
// reports different ways.
constexpr bool AtomSpellingsAgree(const AudioPropertyMapRow& row) noexcept {
  if (row.atomName.size() != row.atomText.size()) return false;
  for (std::size_t i = 0; i < row.atomName.size(); ++i) {
    if (static_cast<char16_t>(static_cast<unsigned char>(row.atomName[i])) != row.atomText[i]) return false;
  }
  return true;
}

// The 0xA9 byte stands apart from the letters after it because a hex escape
// would swallow them ("\xA9ART" is one out-of-range escape, not four bytes).
// clang-format off
constexpr std::array<AudioPropertyMapRow, kAudioPropertyCount> kRows{{
    /*  0 */ {u"Title", kCoreNamespace, "\xA9" "nam", u"©nam", u"Title", false, false},
    /*  1 */ {u"Artist", kCoreNamespace, "\xA9" "ART", u"©ART", u"Author", false, false},
    /*  2 */ {u"Track", kCoreNamespace, "trkn", u"trkn", u"WM/TrackNumber", false, false},
    /*  3 */ {u"Comment", kCoreNamespace, "\xA9" "cmt", u"©cmt", u"Comment", false, false},
    /*  4 */ {u"Lyrics", kExtendedNamespace, "\xA9" "lyr", u"©lyr", u"WM/Lyrics", false, false},
    /*  5 */ {u"Lyricist", kExtendedNamespace, {}, {}, u"WM/Writer", false, false},
    /*  6 */ {u"Disk", kExtendedNamespace, "disk", u"disk", u"Disk", false, false},
    /*  7 */ {u"Genre", kCoreNamespace, "gnre", u"gnre", u"WM/Genre", false, false},
    /*  8 */ {u"Year", kExtendedNamespace, "\xA9" "day", u"©day", u"WM/Year", false, false},
    /*  9 */ {u"VariableBitRate", kExtendedNamespace, {}, {}, u"IsVBR", false, false},
    /* 10 */ {u"Album", kCoreNamespace, "\xA9" "alb", u"©alb", u"WM/AlbumTitle", false, false},
    /* 11 */ {u"AlbumArtist", kCoreNamespace, "aART", u"aART", u"WM/AlbumArtist", false, false},
    /* 12 */ {u"Composer", kCoreNamespace, "\xA9" "wrt", u"©wrt", u"WM/Composer", false, false},
    /* 13 */ {u"MCDI", kExtendedNamespace, "mcdi", u"mcdi", u"WM/MCDI", false, false},
    /* 14 */ {u"Rating", kCoreNamespace, "rtng", u"rtng", u"Rating", false, false},
    /* 15 */ {u"Author", kCoreNamespace, "auth", u"auth", u"Author", false, false},
    /* 16 */ {u"Copyright", kCoreNamespace, "cprt", u"cprt", u"Copyright", false, false},
    /* 17 */ {u"Description", kCoreNamespace, "desc", u"desc", u"Description", false, false},
    /* 18 */ {u"OriginalArtist", kCoreNamespace, "oART", u"oART", u"WM/OriginalArtist", false, false},
    /* 19 */ {u"ShopTrackId", kExtendedNamespace, "ytrk", u"ytrk", u"Zandor/TrackId", false, false},
    /* 20 */ {u"ShopAlbumId", kExtendedNamespace, "yalb", u"yalb", u"Zandor/AlbumId", false, false},
    /* 21 */ {u"ShopArtistId", kExtendedNamespace, "yart", u"yart", u"Zandor/ArtistId", false, false},
    /* 22 */ {u"ShopGenreId", kExtendedNamespace, "ygnr", u"ygnr", u"Zandor/GenreId", false, false},
    /* 23 */ {u"Picture", kExtendedNamespace, "covr", u"covr", u"WM/Picture", false, false},
    /* 24 */ {u"Duration", kCoreNamespace, "durn", u"durn", u"Duration", true, false},
    /* 25 */ {u"Bitrate", kCoreNamespace, "bitr", u"bitr", u"Bitrate", true, false},
    /* 26 */ {u"SamplingFrequency", kCoreNamespace, "srate", u"srate", u"SampleRate", true, false},
    /* 27 */ {u"Protected", kCoreNamespace, "prot", u"prot", u"Is_Protected", true, false},
    /* 28 */ {u"DRM", kCoreNamespace, "\xA9" "drm", u"©drm", u"WM/DRM", true, false},
    /* 29 */ {u"WMCollectionGroupID", kExtendedNamespace, {}, {}, u"WM/WMCollectionGroupID", true, false},
    /* 30 */ {u"WMCollectionID", kExtendedNamespace, {}, {}, u"WM/WMCollectionID", true, false},
    /* 31 */ {u"WMContentID", kExtendedNamespace, {}, {}, u"WM/WMContentID", true, false},
    /* 32 */ {u"Publisher", kExtendedNamespace, {}, {}, u"WM/Publisher", true, false},
    /* 33 */ {u"ContentProvider", kExtendedNamespace, {}, {}, u"WM/ContentDistributor", true, false},
    /* 34 */ {u"DRMKeyID", kExtendedNamespace, {}, {}, kDrmHeaderKeyId, true, true},
    /* 35 */ {u"DRMIndividualizedVersion", kExtendedNamespace, {}, {}, kDrmHeaderSecurityVersion, true, true},
}};
// clang-format on

static_assert(std::all_of(kRows.begin(), kRows.end(), AtomSpellingsAgree),
              "every item type's UTF-16 text must be its bytes widened one to one");

}  // namespace

const std::array<AudioPropertyMapRow, kAudioPropertyCount> AudioPropertyMap = kRows;

const std::array<std::u16string_view, kGenreCount> kGenreNames{{
    u"Blues",
    u"Classic Rock",
    u"Country",
    u"Dance",
    u"Disco",
    u"Funk",
    u"Grunge",
    u"Hip-Hop",
    u"Jazz",
    u"Metal",
    u"New Age",
    u"Oldies",
    u"Other",
    u"Pop",
    u"R&B",
    u"Rap",
    u"Reggae",
    u"Rock",
    u"Techno",
    u"Industrial",
    u"Alternative",
    u"Ska",
    u"Death Metal",
    u"Pranks",
    u"Soundtrack",
    u"Euro-Techno",
    u"Ambient",
    u"Trip-Hop",
    u"Vocal",
    u"Jazz+Funk",
    u"Fusion",
    u"Trance",
    u"Classical",
    u"Instrumental",
    u"Acid",
    u"House",
    u"Game",
    u"Sound Clip",
    u"Gospel",
    u"Noise",
    u"AlternRock",
    u"Bass",
    u"Soul",
    u"Punk",
    u"Space",
    u"Meditative",
    u"Instrumental Pop",
    u"Instrumental Rock",
    u"Ethnic",
    u"Gothic",
    u"Darkwave",
    u"Techno-Industrial",
    u"Electronic",
    u"Pop-Folk",
    u"Eurodance",
    u"Dream",
    u"Southern Rock",
    u"Comedy",
    u"Cult",
    u"Gangsta",
    u"Top 40",
    u"Christian Rap",
    u"Pop/Funk",
    u"Jungle",
    u"Native American",
    u"Cabaret",
    u"New Wave",
    u"Psychadelic",
    u"Rave",
    u"Showtunes",
    u"Trailer",
    u"Lo-Fi",
    u"Tribal",
    u"Acid Punk",
    u"Acid Jazz",
    u"Polka",
    u"Retro",
    u"Musical",
    u"Rock & Roll",
    u"Hard Rock",
    u"Folk",
    u"Folk-Rock",
    u"National Folk",
    u"Swing",
    u"Fast Fusion",
    u"Bebob",
    u"Latin",
    u"Revival",
    u"Celtic",
    u"Bluegrass",
    u"Avantgarde",
    u"Gothic Rock",
    u"Progressive Rock",
    u"Psychedelic Rock",
    u"Symphonic Rock",
    u"Slow Rock",
    u"Big Band",
    u"Chorus",
    u"Easy Listening",
    u"Acoustic",
    u"Humour",
    u"Speech",
    u"Chanson",
    u"Opera",
    u"Chamber Music",
    u"Sonata",
    u"Symphony",
    u"Booty Bass",
    u"Primus",
    u"Porn Groove",
    u"Satire",
    u"Slow Jam",
    u"Club",
    u"Tango",
    u"Samba",
    u"Folklore",
    u"Ballad",
    u"Power Ballad",
    u"Rhythmic Soul",
    u"Freestyle",
    u"Duet",
    u"Punk Rock",
    u"Drum Solo",
    u"A capella",
    u"Euro-House",
    u"Dance Hall",
    u"Goa",
    u"Drum & Bass",
    u"Club-House",
    u"Hardcore",
    u"Terror",
    u"Indie",
    u"BritPop",
    u"Negerping",
    u"Polsk Punk",
    u"Beat",
    u"Christian Gangsta Rap",
    u"Heavy Metal",
    u"Black Metal",
    u"Crossover",
    u"Contemporary Christian",
    u"Christian Rock",
    u"Merengue",
    u"Salsa",
    u"Trash Metal",
    u"Anime",
    u"Jpop",
    u"Synth Pop",
}};

const AudioPropertyMapRow* FindAudioPropertyByName(std::u16string_view propertyName) noexcept {
  if (propertyName.empty()) return nullptr;
  return FindFirst([&](const AudioPropertyMapRow& row) { return vel::AsciiEqualsNoCase(row.propertyName, propertyName); });
}

const AudioPropertyMapRow* FindAudioPropertyByNameAndNamespace(std::u16string_view propertyName,
                                                               std::u16string_view propertyNamespace) noexcept {
  if (propertyName.empty()) return nullptr;
  return FindFirst([&](const AudioPropertyMapRow& row) {
    return vel::AsciiEqualsNoCase(row.propertyName, propertyName) &&
           vel::AsciiEqualsNoCase(row.propertyNamespace, propertyNamespace);
  });
}

const AudioPropertyMapRow* FindAudioPropertyByAtom(std::string_view atomName) noexcept {
  if (atomName.empty()) return nullptr;
  return FindFirst([&](const AudioPropertyMapRow& row) { return vel::AsciiEqualsNoCase(row.atomName, atomName); });
}

const AudioPropertyMapRow* FindAudioPropertyByAtom(std::u16string_view atomText) noexcept {
  if (atomText.empty()) return nullptr;
  return FindFirst([&](const AudioPropertyMapRow& row) { return vel::AsciiEqualsNoCase(row.atomText, atomText); });
}

const AudioPropertyMapRow* FindAudioPropertyByAttribute(std::u16string_view attributeName) noexcept {
  if (attributeName.empty()) return nullptr;
  return FindFirst(
      [&](const AudioPropertyMapRow& row) { return vel::AsciiEqualsNoCase(row.attributeName, attributeName); });
}

std::size_t AudioPropertyIndex(const AudioPropertyMapRow& row) noexcept {
  return static_cast<std::size_t>(&row - AudioPropertyMap.data());
}

std::u16string_view GenreName(std::int64_t number) noexcept {
  if (number < 1 || number > static_cast<std::int64_t>(kGenreCount)) return {};
  return kGenreNames[static_cast<std::size_t>(number - 1)];
}

std::optional<std::uint16_t> GenreNumber(std::u16string_view name) noexcept {
  for (std::size_t i = 0; i < kGenreNames.size(); ++i) {
    if (vel::AsciiEqualsNoCase(kGenreNames[i], name)) return static_cast<std::uint16_t>(i + 1);
  }
  return std::nullopt;
}
