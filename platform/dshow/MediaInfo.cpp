// Reading a file's streams and figures through FFmpeg (libavformat); see
// MediaInfo.h for the contract.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/log.h>
}

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <limits>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "platform/dshow/FrameSize.h"
#include "platform/dshow/MediaInfo.h"
#include "platform/dshow/dshow.h"
#include "platform/win32/paths.h"
#include "platform/win32/winbase.h"
#include "platform/win32/winerror.h"

namespace vel::dshow {
namespace {

// Enough for the headers of every format read here; a program stream states
// its streams within the first few hundred kilobytes.
constexpr int64_t kProbeBytes = 2 * 1024 * 1024;
constexpr int64_t kAnalyzeMicroseconds = 5 * int64_t{AV_TIME_BASE};
// A codec whitelist that names no decoder: when the container header leaves
// figures open, avformat_find_stream_info learns them from the parsers and
// cannot open or run a decoder (reading figures never decodes a frame).
constexpr const char* kNoDecoders = "vel-reads-headers-only";
constexpr AVRational k100ns = {1, 10'000'000};

void LogToDebugger(void* avcl, int level, const char* fmt, va_list vl) {
  if (level > av_log_get_level()) return;
  // FFmpeg may build one line from several calls; only its start is marked.
  thread_local int printPrefix = 1;
  const bool lineStart = printPrefix != 0;
  char line[1024];
  av_log_format_line2(avcl, level, fmt, vl, line, sizeof line, &printPrefix);
  OutputDebugStringA(lineStart ? (std::string("FFmpeg: ") + line).c_str() : line);
}

void InstallLogCallback() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_callback(&LogToDebugger); });
}

// Frees an FFmpeg option dictionary when leaving scope.
struct Options {
  AVDictionary* dict = nullptr;
  ~Options() { av_dict_free(&dict); }
  void Set(const char* key, const char* value) { av_dict_set(&dict, key, value, 0); }
  void Set(const char* key, int64_t value) { av_dict_set_int(&dict, key, value, 0); }
};

// The opened file: our own I/O context (so the format is probed from the
// content alone) and the demuxer reading from it.
struct Input {
  AVIOContext* pb = nullptr;
  AVFormatContext* ctx = nullptr;
  ~Input() {
    avformat_close_input(&ctx);  // leaves a caller's I/O context open
    avio_closep(&pb);
  }
};

HRESULT FromErrno(int err, const std::string& path) {
  if (err == ENOMEM) return E_OUTOFMEMORY;
  return HRESULT_FROM_WIN32(static_cast<long>(win32::ErrorFromErrno(err, path, ERROR_FILE_EXISTS)));
}

bool IsErrno(int averror) { return averror < 0 && -averror < 4096; }

bool IsCoverPicture(const AVStream* s) {
  return (s->disposition & (AV_DISPOSITION_ATTACHED_PIC | AV_DISPOSITION_TIMED_THUMBNAILS)) != 0;
}

bool IsValidRate(AVRational r) { return r.num > 0 && r.den > 0; }

LONGLONG StreamDuration(const AVStream* s) {
  if (s->duration == AV_NOPTS_VALUE || s->duration <= 0 || !IsValidRate(s->time_base)) return 0;
  return av_rescale_q(s->duration, s->time_base, k100ns);
}

StreamKind KindOf(const AVStream* s) {
  switch (s->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO: return StreamKind::kVideo;
    case AVMEDIA_TYPE_AUDIO: return StreamKind::kAudio;
    default: return StreamKind::kOther;
  }
}

// True when the header leaves open what the graph reports: the streams of a
// format without a header (program and transport streams), a codec, a frame
// size, a frame rate or the duration.
bool NeedsPackets(const AVFormatContext* ctx) {
  if ((ctx->ctx_flags & AVFMTCTX_NOHEADER) || ctx->nb_streams == 0) return true;
  bool duration = ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    const AVStream* s = ctx->streams[i];
    if (IsCoverPicture(s)) continue;
    const StreamKind kind = KindOf(s);
    if (kind != StreamKind::kOther && s->codecpar->codec_id == AV_CODEC_ID_NONE) return true;
    if (StreamDuration(s) > 0) duration = true;
    if (kind == StreamKind::kVideo) {
      if (s->codecpar->width <= 0 || s->codecpar->height <= 0) return true;
      if (!IsValidRate(s->avg_frame_rate) && !(s->nb_frames > 0 && StreamDuration(s) > 0)) return true;
    }
  }
  return !duration;
}

// The figures of the video stream s into info.
void TakeVideoFigures(const AVStream* s, MediaInfo& info) {
  info.hasVideo = true;
  info.width = s->codecpar->width;
  info.height = s->codecpar->height;
  const int64_t bits = s->codecpar->bit_rate;
  info.bitRate = bits > 0 ? static_cast<LONG>(std::min<int64_t>(bits, std::numeric_limits<LONG>::max())) : 0;
  const LONGLONG duration = StreamDuration(s);
  double fps = 0;
  if (IsValidRate(s->avg_frame_rate))
    fps = av_q2d(s->avg_frame_rate);
  else if (s->nb_frames > 0 && duration > 0)
    fps = static_cast<double>(s->nb_frames) * 1e7 / static_cast<double>(duration);
  else if (IsValidRate(s->r_frame_rate))
    fps = av_q2d(s->r_frame_rate);
  info.avgTimePerFrame = fps > 0 ? 1.0 / fps : 0.0;
  if (s->nb_frames > 0)
    info.frames = s->nb_frames;
  else if (fps > 0 && duration > 0)
    info.frames = std::llround(static_cast<double>(duration) * 1e-7 * fps);
}

// MPEG-4 Part 2 and H.263 streams in MP4 and 3GP files leave the frame size
// to the codec's headers, which the graph reads itself rather than decode:
// the decoder configuration, else the first frame of the stream.
void FrameSizeFromHeaders(AVFormatContext* ctx, const AVStream* s, MediaInfo& info) {
  const AVCodecID id = s->codecpar->codec_id;
  const bool mpeg4 = id == AV_CODEC_ID_MPEG4;
  if (!mpeg4 && id != AV_CODEC_ID_H263 && id != AV_CODEC_ID_H263P) return;
  std::optional<FrameSize> size;
  if (mpeg4 && s->codecpar->extradata != nullptr && s->codecpar->extradata_size > 0)
    size = Mpeg4VolFrameSize({s->codecpar->extradata, static_cast<std::size_t>(s->codecpar->extradata_size)});
  if (!size) {
    AVPacket* packet = av_packet_alloc();
    // Packets of other streams may come first; only the stream's first counts.
    for (int read = 0; packet != nullptr && read < 64 && av_read_frame(ctx, packet) >= 0; ++read) {
      const bool ours = packet->stream_index == s->index;
      if (ours && packet->data != nullptr && packet->size > 0) {
        const std::span<const std::uint8_t> bytes(packet->data, static_cast<std::size_t>(packet->size));
        size = mpeg4 ? Mpeg4VolFrameSize(bytes) : H263FrameSize(bytes);
      }
      av_packet_unref(packet);
      if (ours) break;
    }
    av_packet_free(&packet);
  }
  if (!size) return;
  info.width = size->width;
  info.height = size->height;
}

HRESULT Open(const std::string& path, Input& in) {
  const std::string url = "file:" + path;
  {
    Options io;
    io.Set("protocol_whitelist", "file");
    const int ret = avio_open2(&in.pb, url.c_str(), AVIO_FLAG_READ, nullptr, &io.dict);
    if (ret < 0) return IsErrno(ret) ? FromErrno(-ret, path) : E_FAIL;
  }
  // No file name: the extension must not make a format of unknown content.
  const AVInputFormat* format = nullptr;
  int ret = av_probe_input_buffer2(in.pb, &format, nullptr, nullptr, 0, 0);
  if (ret == AVERROR(ENOMEM)) return E_OUTOFMEMORY;
  if (ret < 0 || !format || av_match_list(format->name, kContainerFormats, ',') <= 0) return VFW_E_UNKNOWN_FILE_TYPE;

  in.ctx = avformat_alloc_context();
  if (!in.ctx) return E_OUTOFMEMORY;
  in.ctx->pb = in.pb;
  Options options;
  options.Set("format_whitelist", kContainerFormats);
  options.Set("protocol_whitelist", "file");
  options.Set("codec_whitelist", kNoDecoders);
  options.Set("probesize", kProbeBytes);
  options.Set("analyzeduration", kAnalyzeMicroseconds);
  ret = avformat_open_input(&in.ctx, url.c_str(), format, &options.dict);  // frees ctx on failure
  if (ret == AVERROR(ENOMEM)) return E_OUTOFMEMORY;
  if (ret < 0) return VFW_E_INVALID_FILE_FORMAT;
  return S_OK;
}

}  // namespace

HRESULT ReadMediaInfo(const char16_t* path, MediaInfo& out) {
  out = MediaInfo{};
  InstallLogCallback();
  const win32::MappedPath mapped = win32::MapPath(path);
  if (!mapped.ok()) return HRESULT_FROM_WIN32(static_cast<long>(mapped.error));
  struct stat st{};
  if (stat(mapped.path.c_str(), &st) != 0) return FromErrno(errno, mapped.path);
  // A folder, a pipe or a device is no media file (and a pipe could block).
  if (!S_ISREG(st.st_mode)) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);

  Input in;
  HRESULT hr = Open(mapped.path, in);
  if (FAILED(hr)) return hr;
  if (NeedsPackets(in.ctx) && avformat_find_stream_info(in.ctx, nullptr) == AVERROR(ENOMEM)) return E_OUTOFMEMORY;

  MediaInfo info;
  for (unsigned i = 0; i < in.ctx->nb_streams; ++i) {
    const AVStream* s = in.ctx->streams[i];
    if (IsCoverPicture(s)) continue;
    StreamInfo stream;
    stream.kind = KindOf(s);
    stream.renders = avcodec_find_decoder(s->codecpar->codec_id) != nullptr;
    info.streams.push_back(stream);
    info.duration = std::max(info.duration, StreamDuration(s));
    if (stream.kind == StreamKind::kVideo && stream.renders && !info.hasVideo) {
      TakeVideoFigures(s, info);
      if (info.width <= 0 || info.height <= 0) FrameSizeFromHeaders(in.ctx, s, info);
    }
  }
  if (info.streams.empty()) return VFW_E_INVALID_FILE_FORMAT;
  if (info.duration == 0 && in.ctx->duration != AV_NOPTS_VALUE && in.ctx->duration > 0)
    info.duration = av_rescale_q(in.ctx->duration, AV_TIME_BASE_Q, k100ns);
  if (info.hasVideo && info.frames == 0 && info.avgTimePerFrame > 0)
    info.frames = std::llround(static_cast<double>(info.duration) * 1e-7 / info.avgTimePerFrame);
  out = std::move(info);
  return S_OK;
}

HRESULT RenderResult(const MediaInfo& info) {
  bool any = false, videoFails = false, audioFails = false, otherFails = false;
  for (const StreamInfo& s : info.streams) {
    if (s.renders) {
      any = true;
      continue;
    }
    (s.kind == StreamKind::kVideo ? videoFails : s.kind == StreamKind::kAudio ? audioFails : otherFails) = true;
  }
  if (!any) return VFW_E_CANNOT_RENDER;
  if (videoFails) return VFW_S_VIDEO_NOT_RENDERED;
  if (audioFails) return VFW_S_AUDIO_NOT_RENDERED;
  if (otherFails) return VFW_S_PARTIAL_RENDER;
  return S_OK;
}

}  // namespace vel::dshow
