// The audio property vocabulary: one fixed table that names every audio
// property once and ties it to the MP4 item type and to the Windows Media
// attribute that store it, and the genre names an MP4 "gnre" number selects.
// Both tag editors, reading, writing and validation share it, so a property
// is spelled in one place only.
//
// Item types are kept twice per row, both from the same constant text:
//   atomName  the item type's bytes as they stand in an MP4 file ("©" is the
//             single byte 0xA9, so "\xA9nam"); what the MP4 code compares;
//   atomText  the same bytes widened one to one (Latin-1) into UTF-16
//             (u"©nam"), for reports and for callers that hold wide text.
// "srate" is five bytes long: it names a computed value, never a stored atom,
// so no code may assume four bytes per item type.
// An empty atomName, atomText or attributeName means the row has none; an
// empty name never matches a lookup.
//
// Lookups ignore the letter case of ASCII letters only and return the first
// matching row (rows 1 and 15 share the attribute "Author": it finds row 1).
// Every name in the table is ASCII apart from the 0xA9 byte, which has no
// case, so folding further letters could only produce false matches.
//
// Thread safety: constant data and pure functions; any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct AudioPropertyMapRow {
  std::u16string_view propertyName;
  std::u16string_view propertyNamespace;  // kCoreNamespace or kExtendedNamespace
  std::string_view atomName;              // MP4 item type bytes; empty: none
  std::u16string_view atomText;           // atomName widened byte for byte; empty: none
  std::u16string_view attributeName;      // Windows Media attribute; empty: none
  bool readOnly;                          // never written back
  bool drmProperty;                       // read through the DRM editor for a protected file

  bool HasAtom() const noexcept { return !atomName.empty(); }
  bool HasAttribute() const noexcept { return !attributeName.empty(); }
};

inline constexpr std::size_t kAudioPropertyCount = 36;
inline constexpr std::size_t kGenreCount = 148;

// The DRM header attribute names. The table's rows for them and the DRM
// editor's list of properties to read share these constants, so the two can
// never drift apart.
inline constexpr char16_t kDrmHeaderKeyId[] = u"DRMHeader.KID";
inline constexpr char16_t kDrmHeaderSecurityVersion[] = u"DRMHeader.SECURITYVERSION";

extern const std::array<AudioPropertyMapRow, kAudioPropertyCount> AudioPropertyMap;

// 1-based in use: "gnre" number g selects kGenreNames[g - 1].
extern const std::array<std::u16string_view, kGenreCount> kGenreNames;

// Row lookups; null when no row matches.
const AudioPropertyMapRow* FindAudioPropertyByName(std::u16string_view propertyName) noexcept;
const AudioPropertyMapRow* FindAudioPropertyByNameAndNamespace(std::u16string_view propertyName,
                                                               std::u16string_view propertyNamespace) noexcept;
const AudioPropertyMapRow* FindAudioPropertyByAtom(std::string_view atomName) noexcept;
const AudioPropertyMapRow* FindAudioPropertyByAtom(std::u16string_view atomText) noexcept;
const AudioPropertyMapRow* FindAudioPropertyByAttribute(std::u16string_view attributeName) noexcept;

// The row's position in AudioPropertyMap (0 to 35); the row must be one of the table's.
std::size_t AudioPropertyIndex(const AudioPropertyMapRow& row) noexcept;

// The genre name for "gnre" number g (1 to 148); empty outside that range.
std::u16string_view GenreName(std::int64_t number) noexcept;
// The "gnre" number (1 to 148) of the first genre name equal to name without
// regard to (ASCII) letter case; nothing when no name matches.
std::optional<std::uint16_t> GenreNumber(std::u16string_view name) noexcept;
