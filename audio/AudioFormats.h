// The audio formats: one row per file extension the audio plugin knows, with
// the MIME type its configuration registers and the engine that reads, writes
// and validates it. The plugin looks a file's extension up here once and
// dispatches on the row; the module's registration writes the registered rows
// as the plugin's extension values, in table order. A new format of a known
// family is a new row, not a new branch.
//
// Thread safety: constant data and pure functions; any thread.
#pragma once

#include <array>
#include <string_view>

#include "platform/base/Ascii.h"

namespace vel::audio {

// The engine that reads a format's tags, writes them back and reaches its picture.
enum class AudioFamily {
  kNone,          // no engine: an item of the framework properties only, nothing written
  kWindowsMedia,  // the Windows Media runtime (platform/wmf)
  kMp4,           // the plugin's own MP4 tag editor
  kWave,          // the plugin's own RIFF/WAVE header reader; read only, no picture
};

// How ValidateItem judges an existing file of the format.
enum class AudioCheck {
  kWindowsMedia,  // the runtime opens it (a failure is logged, the file still passes)
  kMp4,           // the MP4 editor loads it
  kAccept,        // its existence is enough
};

struct AudioFormat {
  std::u16string_view extension;  // lower case, with its dot; a literal, so data() ends in a null
  const char16_t* mimeType;       // as registered; null: not in the plugin's configuration
  AudioFamily family;
  AudioCheck check;
  // The video plugin claims the extension too: a file it validates is a video
  // and not this plugin's.
  bool videoFirst;
};

// Registered rows in the order the configuration lists them, then the rest.
inline constexpr std::array<AudioFormat, 11> kAudioFormats{{
    {u".amr", u"audio/amr", AudioFamily::kNone, AudioCheck::kAccept, false},
    {u".m4a", u"audio/mp4", AudioFamily::kMp4, AudioCheck::kMp4, false},
    {u".mp4", u"audio/mp4", AudioFamily::kMp4, AudioCheck::kMp4, true},
    {u".aac", u"audio/aac", AudioFamily::kMp4, AudioCheck::kMp4, false},
    {u".asf", u"audio/asf", AudioFamily::kWindowsMedia, AudioCheck::kWindowsMedia, true},
    {u".mp3", u"audio/mpeg", AudioFamily::kWindowsMedia, AudioCheck::kWindowsMedia, false},
    {u".wav", u"audio/wav", AudioFamily::kWave, AudioCheck::kAccept, false},
    {u".wma", u"audio/x-ms-wma", AudioFamily::kWindowsMedia, AudioCheck::kWindowsMedia, false},
    {u".3gp", u"audio/3gpp", AudioFamily::kMp4, AudioCheck::kMp4, true},
    {u".3g2", u"audio/3gpp2", AudioFamily::kNone, AudioCheck::kMp4, true},
    // Registered for the video plugin only, yet read through the runtime here too.
    {u".wmv", nullptr, AudioFamily::kWindowsMedia, AudioCheck::kWindowsMedia, false},
}};

// The row of a file extension (with its dot, any letter case); null when the
// plugin does not know it.
constexpr const AudioFormat* FindAudioFormat(std::u16string_view extension) noexcept {
  for (const AudioFormat& format : kAudioFormats) {
    if (AsciiEqualsNoCase<char16_t, char16_t>(format.extension, extension)) return &format;
  }
  return nullptr;
}

namespace detail {
constexpr bool ExtensionsDistinctAndLower() noexcept {
  for (std::size_t i = 0; i < kAudioFormats.size(); ++i) {
    for (const char16_t c : kAudioFormats[i].extension) {
      if (AsciiLower(c) != c) return false;
    }
    if (FindAudioFormat(kAudioFormats[i].extension) != &kAudioFormats[i]) return false;
  }
  return true;
}
}  // namespace detail
// One row per extension, spelled the way the lookup compares.
static_assert(detail::ExtensionsDistinctAndLower());

}  // namespace vel::audio
