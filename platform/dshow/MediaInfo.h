// What the media graph knows about a file: its streams (the source filter's
// output pins) and the figures of the video it renders, read through FFmpeg.
//
// ReadMediaInfo opens the file, reads what the figures need and closes it
// again; no FFmpeg state outlives the call. It never opens a decoder and never
// decodes a frame: a stream "renders" when a decoder for it exists.
//
// Only local files are read ("file:" with a protocol whitelist of "file"), and
// only the container formats of kContainerFormats: the format is recognised
// from the content alone, never from the name, so a text file named ".mp4" is
// an unknown file type and "concat:"/"http:" texts are just names of missing
// files.
//
// Thread safety: ReadMediaInfo may run on any number of threads at once (each
// call has its own FFmpeg contexts). The first call installs the process-wide
// FFmpeg log callback, which sends FFmpeg's messages to the debugger output
// instead of standard error.
#pragma once

#include <vector>

#include "platform/com/types.h"

namespace vel::dshow {

// FFmpeg demuxer names the graph reads: MP4/3GP/3G2 (mov), ASF/WMV/WMA (asf),
// AVI, MPEG program and transport streams, MPEG video and audio elementary
// streams (.m1v/.m2v, .mpa/.mp2). Matroska, FLV, Ogg and the rest have no
// source filter on the platform either.
inline constexpr const char* kContainerFormats = "mov,mp4,3gp,3g2,asf,avi,mpeg,mpegts,mpegvideo,mp3";

enum class StreamKind { kVideo, kAudio, kOther };

struct StreamInfo {
  StreamKind kind = StreamKind::kOther;
  bool renders = false;  // a decoder exists for its codec
};

struct MediaInfo {
  std::vector<StreamInfo> streams;  // in file order; cover pictures are no stream
  LONGLONG duration = 0;            // 100-ns units, the longest stream; 0 when unknown
  // The first video stream that renders; all 0 without one.
  bool hasVideo = false;
  LONG width = 0;
  LONG height = 0;
  LONG bitRate = 0;             // bits per second as the file states it; 0 when it does not
  double avgTimePerFrame = 0;   // seconds; 0 when unknown
  LONGLONG frames = 0;          // frame count; 0 when unknown
};

// Reads the streams and figures of the file at a module path text.
// Errors: HRESULT_FROM_WIN32 of the file system's error (ERROR_FILE_NOT_FOUND,
// ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED also for a folder or a device),
// VFW_E_UNKNOWN_FILE_TYPE (content of no format above),
// VFW_E_INVALID_FILE_FORMAT (a damaged file, or one without any stream),
// E_OUTOFMEMORY.
HRESULT ReadMediaInfo(const char16_t* path, MediaInfo& out);

// RenderFile's answer for a file: S_OK, VFW_S_VIDEO_NOT_RENDERED,
// VFW_S_AUDIO_NOT_RENDERED, VFW_S_PARTIAL_RENDER (first failing kind in that
// order) or VFW_E_CANNOT_RENDER when no stream renders.
HRESULT RenderResult(const MediaInfo& info);

}  // namespace vel::dshow
