// The media graph as the video plugin uses it: libveldshow.so registered by
// its own DllRegisterServer in the test's registry store, graphs created
// through CoCreateInstance, files made by ffmpeg in a temporary folder and
// handed over as module path texts ("\\?\" prefix, "\" separators).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/combase.h"
#include "platform/com/comdef.h"
#include "platform/dshow/dshow.h"
#include "platform/registry/winreg.h"
#include "platform/text.h"

namespace {

// The platform's layout (64-bit).
static_assert(sizeof(AM_MEDIA_TYPE) == 88);
static_assert(offsetof(AM_MEDIA_TYPE, formattype) == 44);
static_assert(offsetof(AM_MEDIA_TYPE, pUnk) == 64);
static_assert(offsetof(AM_MEDIA_TYPE, cbFormat) == 72);
static_assert(offsetof(AM_MEDIA_TYPE, pbFormat) == 80);

namespace fs = std::filesystem;

bool HaveFfmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }

// Runs ffmpeg quietly; input lavfi sources, then args, then the output file.
bool Ffmpeg(const std::string& args, const fs::path& out) {
  return std::system(("ffmpeg -v error -nostdin -y " + args + " '" + out.string() + "' >/dev/null 2>&1").c_str()) ==
         0;
}

constexpr const char* kClipSources = "-f lavfi -i testsrc=size=640x360:rate=25 -f lavfi -i sine -t 10 ";

// The module's own spelling of a path.
std::u16string ModulePath(const fs::path& path) {
  std::u16string text = u"\\\\?\\" + vel::FromUtf8(path.string());
  std::replace(text.begin(), text.end(), u'/', u'\\');
  return text;
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Label(const GUID& majortype) {
  if (majortype == MEDIATYPE_Video) return "video";
  if (majortype == MEDIATYPE_Audio) return "audio";
  if (majortype == MEDIATYPE_Stream) return "stream";
  return "other";
}

// The major types of the filter's pins, sorted, walked as the video plugin
// walks them; every pin must be an output pin.
std::vector<std::string> PinTypes(IBaseFilter* filter) {
  std::vector<std::string> labels;
  ComPtr<IEnumPins> pins;
  EXPECT_EQ(filter->EnumPins(&pins), S_OK);
  if (!pins) return labels;
  ComPtr<IPin> pin;
  while (pins->Next(1, &pin, nullptr) == S_OK) {
    PIN_DIRECTION dir = PINDIR_INPUT;
    EXPECT_EQ(pin->QueryDirection(&dir), S_OK);
    EXPECT_EQ(dir, PINDIR_OUTPUT);
    ComPtr<IEnumMediaTypes> types;
    EXPECT_EQ(pin->EnumMediaTypes(&types), S_OK);
    AM_MEDIA_TYPE* mt = nullptr;
    while (types && types->Next(1, &mt, nullptr) == S_OK) {
      labels.push_back(Label(mt->majortype));
      DeleteMediaType(mt);
    }
  }
  std::sort(labels.begin(), labels.end());
  return labels;
}

class Graph : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string pattern = (fs::temp_directory_path() / "veldshow-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    setenv("VEL_REGISTRY", (dir_ / "registry.db").c_str(), 1);  // before the first registry call
    const char* bin = std::getenv("VEL_TEST_BIN");
    ASSERT_NE(bin, nullptr);
    modulePath_ = std::string(bin) + "/libveldshow.so";
    module_ = dlopen(modulePath_.c_str(), RTLD_NOW);
    ASSERT_NE(module_, nullptr) << dlerror();
    ASSERT_EQ(Entry("DllRegisterServer")(), S_OK);
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  static HRESULT (*Entry(const char* name))() {
    return reinterpret_cast<HRESULT (*)()>(dlsym(module_, name));
  }

  static ComPtr<IGraphBuilder> NewGraph() {
    ComPtr<IGraphBuilder> graph;
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_ALL, IID_IGraphBuilder,
                               reinterpret_cast<void**>(&graph)),
              S_OK);
    return graph;
  }

  static fs::path Clip(const std::string& name, const std::string& args) {
    const fs::path path = dir_ / name;
    EXPECT_TRUE(Ffmpeg(args, path)) << name;
    return path;
  }

  static inline fs::path dir_;
  static inline std::string modulePath_;
  static inline void* module_ = nullptr;
};

std::u16string ReadText(const std::u16string& key, const char16_t* name) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return u"<no key>";
  char16_t buffer[1024] = {};
  DWORD size = sizeof buffer - sizeof(char16_t);
  DWORD type = 0;
  const LSTATUS status = RegQueryValueExW(h, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(h);
  return status == ERROR_SUCCESS && type == REG_SZ ? std::u16string(buffer) : u"<no value>";
}

TEST_F(Graph, RegistersItselfAndIsCreatedThroughTheRegistry) {
  const std::u16string server = u"CLSID\\{E436EBB3-524F-11CE-9F53-0020AF0BA770}\\InprocServer32";
  EXPECT_EQ(ReadText(server, nullptr), vel::FromUtf8(modulePath_));
  EXPECT_EQ(ReadText(server, u"ThreadingModel"), u"Both");

  ComPtr<IGraphBuilder> graph = NewGraph();
  ASSERT_TRUE(graph);
  ComPtr<IFilterGraph> base;
  ComPtr<IMediaSeeking> seeking;
  ComPtr<IBasicVideo> video;
  ComPtr<IDispatch> dispatch;
  EXPECT_EQ(graph.QueryInterface(base), S_OK);
  EXPECT_EQ(graph.QueryInterface(seeking), S_OK) << "answered before anything is rendered";
  EXPECT_EQ(graph.QueryInterface(video), S_OK);
  EXPECT_EQ(graph.QueryInterface(dispatch), S_OK);

  ASSERT_EQ(Entry("DllUnregisterServer")(), S_OK);
  void* p = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_ALL, IID_IGraphBuilder, &p), REGDB_E_CLASSNOTREG);
  ASSERT_EQ(Entry("DllRegisterServer")(), S_OK);
}

TEST_F(Graph, NothingRenderedAnswersNothing) {
  ComPtr<IGraphBuilder> graph = NewGraph();
  ComPtr<IMediaSeeking> seeking;
  ComPtr<IBasicVideo> video;
  ASSERT_EQ(graph.QueryInterface(seeking), S_OK);
  ASSERT_EQ(graph.QueryInterface(video), S_OK);
  LONGLONG duration = -1;
  EXPECT_TRUE(FAILED(seeking->GetDuration(&duration)));
  EXPECT_EQ(duration, 0);
  EXPECT_EQ(seeking->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME), S_FALSE);
  EXPECT_EQ(seeking->IsFormatSupported(&TIME_FORMAT_FRAME), S_FALSE);
  LONG width = -1;
  EXPECT_TRUE(FAILED(video->get_VideoWidth(&width)));
  EXPECT_EQ(width, 0);
}

// Files made by ffmpeg: 10 s of 640x360 at 25 frames per second with sound.
struct ClipCase {
  const char* name;
  const char* file;
  const char* codecs;
  bool statesBitRate;  // the container states the video's bit rate in its header
};
void PrintTo(const ClipCase& c, std::ostream* os) { *os << c.name; }

class GraphFigures : public Graph, public ::testing::WithParamInterface<ClipCase> {};

TEST_P(GraphFigures, ReportDurationSizeAndRates) {
  if (!HaveFfmpeg()) {
    GTEST_SKIP() << "ffmpeg is not installed";
  }
  const ClipCase& c = GetParam();
  const fs::path path = Clip(c.file, std::string(kClipSources) + c.codecs);

  ComPtr<IGraphBuilder> graph = NewGraph();
  ASSERT_EQ(graph->RenderFile(ModulePath(path).c_str(), nullptr), S_OK);
  ComPtr<IMediaSeeking> seeking;
  ComPtr<IBasicVideo> video;
  ASSERT_EQ(graph.QueryInterface(seeking), S_OK);
  ASSERT_EQ(graph.QueryInterface(video), S_OK);

  LONGLONG duration = 0;
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_NEAR(static_cast<double>(duration) * 1e-7, 10.0, 0.1);
  LONG width = 0, height = 0, bitRate = 0;
  REFTIME perFrame = 0;
  EXPECT_EQ(video->get_VideoWidth(&width), S_OK);
  EXPECT_EQ(video->get_VideoHeight(&height), S_OK);
  EXPECT_EQ(video->get_BitRate(&bitRate), S_OK);
  EXPECT_EQ(video->get_AvgTimePerFrame(&perFrame), S_OK);
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 360);
  ASSERT_GT(perFrame, 0.0);
  EXPECT_NEAR(1.0 / perFrame, 25.0, 0.01);
  if (c.statesBitRate) {
    EXPECT_GT(bitRate, 0);
  }

  EXPECT_EQ(seeking->IsFormatSupported(&TIME_FORMAT_NONE), S_FALSE);
  ASSERT_EQ(seeking->IsFormatSupported(&TIME_FORMAT_FRAME), S_OK);
  ASSERT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
  EXPECT_EQ(seeking->IsUsingTimeFormat(&TIME_FORMAT_FRAME), S_OK);
  LONGLONG frames = 0;
  ASSERT_EQ(seeking->GetDuration(&frames), S_OK);
  EXPECT_NEAR(static_cast<double>(frames), 250.0, 2.0);

  ComPtr<IBaseFilter> source;
  ASSERT_EQ(NewGraph()->AddSourceFilter(ModulePath(path).c_str(), u"FileSource", &source), S_OK);
  EXPECT_EQ(PinTypes(source), (std::vector<std::string>{"audio", "video"}));
  ComPtr<IMediaFilter> mediaFilter;
  ComPtr<IPersist> persist;
  EXPECT_EQ(source.QueryInterface(mediaFilter), S_OK);
  EXPECT_EQ(source.QueryInterface(persist), S_OK);
}

INSTANTIATE_TEST_SUITE_P(
    Containers, GraphFigures,
    ::testing::Values(ClipCase{"Mp4", "clip.mp4", "-c:v libx264 -preset ultrafast -c:a aac", true},
                      ClipCase{"ThreeGp", "clip.3gp", "-c:v libx264 -preset ultrafast -c:a aac -ar 16000 -ac 1", true},
                      ClipCase{"Avi", "clip.avi", "-c:v mpeg4 -c:a mp2", true},
                      ClipCase{"Wmv", "clip.wmv", "-c:v wmv2 -c:a wmav2", false},
                      ClipCase{"MpegProgramStream", "clip.mpg", "-c:v mpeg2video -c:a mp2", false}),
    [](const auto& info) { return std::string(info.param.name); });

// Files whose streams render only in part, or whose only video is a cover.
struct RenderCase {
  const char* name;
  const char* file;
  const char* args;  // sources and codecs
  HRESULT expected;
  std::vector<std::string> pins;
  bool hasVideo;
};
void PrintTo(const RenderCase& c, std::ostream* os) { *os << c.name; }

class GraphRender : public Graph, public ::testing::WithParamInterface<RenderCase> {};

TEST_P(GraphRender, RendersWhatHasADecoder) {
  if (!HaveFfmpeg()) {
    GTEST_SKIP() << "ffmpeg is not installed";
  }
  const RenderCase& c = GetParam();
  const fs::path path = Clip(c.file, c.args);

  ComPtr<IBaseFilter> source;
  ASSERT_EQ(NewGraph()->AddSourceFilter(ModulePath(path).c_str(), u"FileSource", &source), S_OK);
  EXPECT_EQ(PinTypes(source), c.pins);

  ComPtr<IGraphBuilder> graph = NewGraph();
  EXPECT_EQ(graph->RenderFile(ModulePath(path).c_str(), nullptr), c.expected);
  ComPtr<IBasicVideo> video;
  ComPtr<IMediaSeeking> seeking;
  ASSERT_EQ(graph.QueryInterface(video), S_OK);
  ASSERT_EQ(graph.QueryInterface(seeking), S_OK);
  LONG width = 0;
  EXPECT_EQ(SUCCEEDED(video->get_VideoWidth(&width)), c.hasVideo);
  EXPECT_EQ(width > 0, c.hasVideo);
  EXPECT_EQ(seeking->IsFormatSupported(&TIME_FORMAT_FRAME), c.hasVideo ? S_OK : S_FALSE);
  LONGLONG duration = 0;
  if (SUCCEEDED(c.expected)) {
    EXPECT_EQ(seeking->GetDuration(&duration), S_OK);
    EXPECT_GT(duration, 0);
  }
}

constexpr const char* kShortClip = "-f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine -t 2 ";

INSTANTIATE_TEST_SUITE_P(
    Streams, GraphRender,
    ::testing::Values(
        RenderCase{"AudioOnlyMp4", "audio.mp4", "-f lavfi -i sine -t 10 -c:a aac", S_OK, {"audio"}, false},
        RenderCase{"AudioMp4WithCover", "cover.mp4",
                   "-f lavfi -i sine -f lavfi -i testsrc=size=64x64 -frames:v 1 -t 10 -map 0 -map 1 -c:a aac "
                   "-c:v mjpeg -disposition:v attached_pic",
                   S_OK, {"audio"}, false},
        RenderCase{"VideoWithoutDecoder", "vnodec.avi",
                   "-f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine -t 2 -c:v mpeg4 -vtag ABCD -c:a mp2 "
                   "-strict -1",
                   VEL_HR(0x00040257), {"audio", "video"}, false},
        RenderCase{"AudioWithoutDecoder", "anodec.avi",
                   "-f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine -t 2 -c:v mpeg4 -c:a mp2 -atag 0x7777 "
                   "-strict -1",
                   VEL_HR(0x00040258), {"audio", "video"}, true},
        RenderCase{"NoDecoderAtAll", "nodec.avi",
                   "-f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine -t 2 -c:v mpeg4 -vtag ABCD -c:a mp2 "
                   "-atag 0x7777 -strict -1",
                   VEL_HR(0x80040218), {"audio", "video"}, false},
        RenderCase{"TimecodeTrack", "timecode.mp4",
                   "-f lavfi -i testsrc=size=160x120:rate=25 -t 2 -c:v libx264 -preset ultrafast -timecode 00:00:00:00",
                   VEL_HR(0x00040242), {"stream", "video"}, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Paths the graph cannot read; the expected codes are spelled out, not taken
// from the header under test.
struct UnreadableCase {
  const char* name;
  std::function<std::string(const fs::path& dir)> make;  // the path text to hand over
  HRESULT expected;
};
void PrintTo(const UnreadableCase& c, std::ostream* os) { *os << c.name; }

class GraphUnreadable : public Graph, public ::testing::WithParamInterface<UnreadableCase> {};

TEST_P(GraphUnreadable, FailsWithTheFilesError) {
  const UnreadableCase& c = GetParam();
  const std::u16string path = vel::FromUtf8(c.make(dir_));

  ComPtr<IGraphBuilder> graph = NewGraph();
  EXPECT_EQ(graph->RenderFile(path.c_str(), nullptr), c.expected);
  ComPtr<IBaseFilter> source;
  EXPECT_EQ(graph->AddSourceFilter(path.c_str(), u"FileSource", &source), c.expected);
  EXPECT_FALSE(source);
  ComPtr<IMediaSeeking> seeking;
  ASSERT_EQ(graph.QueryInterface(seeking), S_OK);
  LONGLONG duration = 0;
  EXPECT_TRUE(FAILED(seeking->GetDuration(&duration)));
}

std::string Noise(const fs::path& dir) {
  std::mt19937 random(1);
  std::string bytes(64 * 1024, '\0');
  for (char& b : bytes) b = static_cast<char>(random());
  WriteBytes(dir / "noise.mp4", bytes);
  return (dir / "noise.mp4").string();
}

INSTANTIATE_TEST_SUITE_P(
    Paths, GraphUnreadable,
    ::testing::Values(
        UnreadableCase{"RandomBytesNamedMp4", Noise, VEL_HR(0x80040240)},
        UnreadableCase{"TextNamedMp4",
                       [](const fs::path& dir) {
                         std::string text;
                         for (int i = 0; i < 100; ++i) text += "This is a line of text, not a video.\n";
                         WriteBytes(dir / "text.mp4", text);
                         return (dir / "text.mp4").string();
                       },
                       VEL_HR(0x80040240)},
        UnreadableCase{"EmptyFile",
                       [](const fs::path& dir) {
                         WriteBytes(dir / "empty.mp4", "");
                         return (dir / "empty.mp4").string();
                       },
                       VEL_HR(0x80040240)},
        UnreadableCase{"MissingFile", [](const fs::path& dir) { return (dir / "missing.mp4").string(); },
                       VEL_HR(0x80070002)},
        UnreadableCase{"MissingFolder", [](const fs::path& dir) { return (dir / "none" / "missing.mp4").string(); },
                       VEL_HR(0x80070003)},
        UnreadableCase{"Folder", [](const fs::path& dir) { return dir.string(); }, VEL_HR(0x80070005)},
        // Were "concat:" followed, the existing file would be read (and found unknown).
        UnreadableCase{"ConcatOfExistingFiles",
                       [](const fs::path& dir) {
                         const std::string file = Noise(dir);
                         return "concat:" + file + "|" + file;
                       },
                       VEL_HR(0x80070003)},
        UnreadableCase{"HttpUrl", [](const fs::path&) { return std::string("http://127.0.0.1:9/clip.mp4"); },
                       VEL_HR(0x80070003)}),
    [](const auto& info) { return std::string(info.param.name); });

// Every prefix of a few real files: a clean answer, never a crash.
struct TruncationCase {
  const char* name;
  const char* file;
  const char* codecs;
};
void PrintTo(const TruncationCase& c, std::ostream* os) { *os << c.name; }

class GraphTruncation : public Graph, public ::testing::WithParamInterface<TruncationCase> {};

TEST_P(GraphTruncation, PrefixesFailCleanlyOrRender) {
  if (!HaveFfmpeg()) {
    GTEST_SKIP() << "ffmpeg is not installed";
  }
  const TruncationCase& c = GetParam();
  const std::string whole = ReadBytes(Clip(c.file, std::string(kShortClip) + c.codecs));
  ASSERT_GT(whole.size(), 8192u);
  const std::vector<HRESULT> answers = {S_OK,
                                        VEL_HR(0x00040242),
                                        VEL_HR(0x00040257),
                                        VEL_HR(0x00040258),
                                        VEL_HR(0x80040218),
                                        VEL_HR(0x8004022F),
                                        VEL_HR(0x80040240)};
  const size_t n = whole.size();
  for (size_t size : {size_t{0}, size_t{1}, size_t{12}, size_t{100}, size_t{1000}, size_t{4096}, n / 4, n / 2,
                      n * 3 / 4, n - 100, n - 1}) {
    const fs::path cut = dir_ / ("cut-" + std::to_string(size) + "-" + c.file);
    WriteBytes(cut, whole.substr(0, size));
    ComPtr<IGraphBuilder> graph = NewGraph();
    const HRESULT hr = graph->RenderFile(ModulePath(cut).c_str(), nullptr);
    EXPECT_NE(std::find(answers.begin(), answers.end(), hr), answers.end())
        << "prefix of " << size << " bytes: 0x" << std::hex << static_cast<uint32_t>(hr);
    if (SUCCEEDED(hr)) {
      ComPtr<IMediaSeeking> seeking;
      ASSERT_EQ(graph.QueryInterface(seeking), S_OK);
      LONGLONG duration = -1;
      seeking->GetDuration(&duration);
      EXPECT_GE(duration, 0) << size;
    }
    ComPtr<IBaseFilter> source;
    const HRESULT added = NewGraph()->AddSourceFilter(ModulePath(cut).c_str(), u"FileSource", &source);
    EXPECT_EQ(SUCCEEDED(added), static_cast<bool>(source)) << size;
    if (source) PinTypes(source);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, GraphTruncation,
                         ::testing::Values(TruncationCase{"Mp4", "cut.mp4", "-c:v libx264 -preset ultrafast -c:a aac"},
                                           TruncationCase{"Mp4FastStart", "cutfs.mp4",
                                                          "-c:v libx264 -preset ultrafast -c:a aac -movflags faststart"},
                                           TruncationCase{"Avi", "cut.avi", "-c:v mpeg4 -c:a mp2"},
                                           TruncationCase{"Wmv", "cut.wmv", "-c:v wmv2 -c:a wmav2"},
                                           TruncationCase{"Mpeg", "cut.mpg", "-c:v mpeg2video -c:a mp2"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Graph, GraphsOnSeveralThreadsAreIndependent) {
  if (!HaveFfmpeg()) {
    GTEST_SKIP() << "ffmpeg is not installed";
  }
  const fs::path video = Clip("threads.mp4", std::string(kShortClip) + "-c:v libx264 -preset ultrafast -c:a aac");
  const fs::path audio = Clip("threads.m4a", "-f lavfi -i sine -t 3 -c:a aac");
  std::vector<std::thread> threads;
  std::vector<LONG> widths(8, -1);
  std::vector<LONGLONG> durations(8, -1);
  for (size_t i = 0; i < widths.size(); ++i) {
    threads.emplace_back([&, i] {
      ComPtr<IGraphBuilder> graph = NewGraph();
      if (!graph || FAILED(graph->RenderFile(ModulePath(i % 2 ? audio : video).c_str(), nullptr))) return;
      ComPtr<IMediaSeeking> seeking;
      ComPtr<IBasicVideo> basic;
      graph.QueryInterface(seeking);
      graph.QueryInterface(basic);
      seeking->GetDuration(&durations[i]);
      basic->get_VideoWidth(&widths[i]);
    });
  }
  for (std::thread& t : threads) t.join();
  for (size_t i = 0; i < widths.size(); ++i) {
    EXPECT_EQ(widths[i], i % 2 ? 0 : 160) << i;
    EXPECT_NEAR(static_cast<double>(durations[i]) * 1e-7, i % 2 ? 3.0 : 2.0, 0.1) << i;
  }
}

struct NameCase {
  HRESULT hr;
  const char16_t* name;
};
void PrintTo(const NameCase& c, std::ostream* os) { *os << vel::ToUtf8(c.name); }

class ErrorNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(ErrorNames, AreThePlatformsSpelling) {
  EXPECT_EQ(std::u16string(DirectShowErrorName(GetParam().hr)), GetParam().name)
      << std::hex << static_cast<uint32_t>(GetParam().hr);
}

INSTANTIATE_TEST_SUITE_P(Codes, ErrorNames,
                         ::testing::Values(NameCase{VEL_HR(0x80040240), u"VFW_E_UNKNOWN_FILE_TYPE"},
                                           NameCase{VEL_HR(0x8004022F), u"VFW_E_INVALID_FILE_FORMAT"},
                                           NameCase{VEL_HR(0x80040218), u"VFW_E_CANNOT_RENDER"},
                                           NameCase{VEL_HR(0x00040242), u"VFW_S_PARTIAL_RENDER"},
                                           NameCase{VEL_HR(0x00040257), u"VFW_S_VIDEO_NOT_RENDERED"},
                                           NameCase{VEL_HR(0x00040258), u"VFW_S_AUDIO_NOT_RENDERED"},
                                           NameCase{VEL_HR(0x80004005), u"E_FAIL"},
                                           NameCase{VEL_HR(0x80070005), u"E_ACCESSDENIED"},
                                           NameCase{VEL_HR(0x80070002), u"ERROR_FILE_NOT_FOUND"},
                                           NameCase{2, u"ERROR_FILE_NOT_FOUND"},
                                           NameCase{VEL_HR(0x80070003), u"ERROR_PATH_NOT_FOUND"},
                                           NameCase{VEL_HR(0x8004D00E), u"Unknown"}),
                         [](const auto& info) { return "Code" + std::to_string(info.index); });

}  // namespace
