// Windows Media family files (".mp3" and ".wma") through velitems as a person
// runs it, on files that ffmpeg makes in the test (a ".wma" cover is added by
// mutagen: ffmpeg's ASF writer keeps attached pictures as a video stream),
// checked against the peers: exiftool, mutagen and ffprobe must read the tags
// and covers velitems wrote, the decoded audio must stay bit for bit what it
// was, no temporary file may stay beside the file, and tags velitems does not
// know (other ID3 frames, an APEv2 tag) must survive a write. Peer checks are
// skipped when the peer is not installed.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "testing/ChildProcess.h"
#include "testing/CliTest.h"
#include "testing/FileBytes.h"
#include "testing/ItemJson.h"
#include "testing/Tools.h"

using namespace vel::testing;

namespace {

namespace fs = std::filesystem;

// Standard output of a shell command.
std::string Shell(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// The system's own Python, where the mutagen package lives.
std::string Python() { return fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3"; }
bool HaveMutagen() { return std::system((Python() + " -c 'import mutagen' >/dev/null 2>&1").c_str()) == 0; }

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// A "JPEG" of n bytes whose content a reader cannot mistake for another.
std::string JpegLike(std::size_t n) {
  std::string bytes = "\xFF\xD8\xFF\xE0";
  unsigned state = 12345;
  while (bytes.size() + 2 < n) {
    state = state * 1103515245u + 12345u;
    bytes.push_back(static_cast<char>(state >> 16));
  }
  return bytes + "\xFF\xD9";
}

// The MD5 of the decoded audio (every sample of the audio streams), as
// ffmpeg prints it: "MD5=...". ffmpeg's messages are left out: it decodes a
// cover while it probes the file, and the covers here are not all images.
std::string AudioMd5(const std::string& path) {
  return RunCommand("ffmpeg -v error -nostdin -i '" + path + "' -map 0:a -f md5 - 2>/dev/null").out;
}

// The names in a folder, sorted.
std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The streams ffprobe sees, one "codec,type,attached picture" line each
// ("png,video,1").
std::string ProbeStreams(const std::string& path) {
  return RunCommand("ffprobe -v error -show_entries stream=codec_name,codec_type:stream_disposition=attached_pic "
                    "-of csv=p=0 '" + path + "' 2>/dev/null")
      .out;
}

// A mutagen script that prints each picture of an ID3 (APIC) or ASF
// (WM/Picture) tag as "MIME<TAB>type<TAB>description<TAB>image length<TAB>
// stated length" and writes its image to argv[2] + its number. mutagen keeps
// a WM/Picture value as the attribute's raw bytes, so it is taken apart here:
// picture type, 32-bit image length, MIME type and description (UTF-16, each
// ended by a zero unit), the image to the end; a stated length that is not
// the image's shows as the last column.
constexpr char kMutagenPictures[] = R"(import struct, sys, mutagen
f = mutagen.File(sys.argv[1])
pictures = []
if hasattr(f.tags, 'getall'):
    pictures = [(p.mime, int(p.type), p.desc, p.data, len(p.data)) for p in f.tags.getall('APIC')]
elif f.tags is not None:
    for attribute in f.tags.get('WM/Picture', []):
        value = attribute.value
        kind, size = struct.unpack_from('<BI', value)
        def text(at):
            end = at
            while end < len(value) and value[end:end + 2] != b'\0\0':
                end += 2
            return value[at:end].decode('utf-16-le'), end + 2
        mime, at = text(5)
        description, at = text(at)
        pictures.append((mime, kind, description, value[at:], size))
for n, (mime, kind, description, data, size) in enumerate(pictures):
    print(mime, kind, description, len(data), size, sep='\t')
    open(sys.argv[2] + str(n), 'wb').write(data)
)";

// An attached-picture body: encoding byte, MIME type, picture type, the
// description as stored (terminator included), the image.
std::string Body(char encoding, const std::string& mime, char type, const std::string& description,
                 const std::string& image) {
  return std::string(1, encoding) + mime + std::string(1, '\0') + std::string(1, type) + description + image;
}

struct Kind {
  const char* name;
  const char* ext;
  const char* track;  // as stored
};

class CliWmaTest : public CliTest, public ::testing::WithParamInterface<Kind> {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    cover_ = dir_ + "/cover.jpg";
    ASSERT_EQ(std::system(("ffmpeg -v error -f lavfi -i color=c=red:s=64x64 -frames:v 1 -y " + cover_).c_str()), 0);
    media_ = dir_ + "/media";
    fs::create_directory(media_);
    path_ = Make();
    audio_ = AudioMd5(path_);
    ASSERT_EQ(audio_.rfind("MD5=", 0), 0u) << audio_;
  }

  // After a change: the audio decodes to the same samples as before, and
  // the file's folder holds the file alone (no temporary file was left).
  void ExpectAudioAndFolderKept(const std::string& step) {
    EXPECT_EQ(AudioMd5(path_), audio_) << "audio after " << step;
    EXPECT_EQ(Entries(media_), std::vector<std::string>{fs::path(path_).filename().string()}) << "folder after " << step;
  }

  // What the mutagen script prints for the file's pictures; their images
  // go to dir_/mutagen-picture0, 1, ...
  std::string MutagenPictures() {
    const std::string script = dir_ + "/pictures.py";
    WriteText(script, kMutagenPictures);
    return RunCommand(Python() + " " + script + " " + path_ + " " + dir_ + "/mutagen-picture").out;
  }

  // A 1.5 s tone with tags and the cover, as the kind's file.
  std::string Make() {
    const Kind& kind = GetParam();
    const std::string path = media_ + "/song" + kind.ext;
    std::string command = "ffmpeg -v error -f lavfi -i sine=frequency=440:sample_rate=22050:duration=1.5 ";
    if (std::string(kind.ext) == ".mp3") {
      command += "-i " + cover_ + " -map 0:a -map 1:v -c:v copy -disposition:v attached_pic "
                 "-metadata:s:v comment=\"Cover (front)\" -c:a libmp3lame -b:a 32k -id3v2_version 3 -metadata date=2026 ";
    } else {
      command += "-c:a wmav2 -b:a 32k -metadata WM/Year=2026 ";
    }
    command += std::string("-ac 1 -metadata title=\"Sample Tone\" -metadata artist=\"Vel Band\" "
                           "-metadata album=\"Demo Tones\" -metadata genre=Electronic -metadata track=") +
               kind.track + " -y " + path;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    if (std::string(kind.ext) == ".wma") {
      if (!HaveMutagen()) {
        ADD_FAILURE() << "mutagen is needed to give the .wma file its cover";
        return path;
      }
      const std::string script =
          "import struct, sys; from mutagen.asf import ASF, ASFByteArrayAttribute; f = ASF(sys.argv[1]); "
          "d = open(sys.argv[2], 'rb').read(); "
          "f['WM/Picture'] = [ASFByteArrayAttribute(struct.pack('<BI', 3, len(d)) + 'image/jpeg'.encode('utf-16-le') "
          "+ bytes(2) + 'Front'.encode('utf-16-le') + bytes(2) + d)]; f.save()";
      EXPECT_EQ(std::system((Python() + " -c \"" + script + "\" " + path + " " + cover_).c_str()), 0);
    }
    return path;
  }

  std::map<std::string, JsonProperty> Read() {
    const Result r = Velitems("read --json " + path_);
    EXPECT_EQ(r.status, 0) << r.err;
    return ItemJsonProperties(r.out);
  }

  std::string cover_;
  std::string media_;  // the folder of the file under test, nothing else in it
  std::string path_;
  std::string audio_;  // AudioMd5 of the file as made
};

TEST_P(CliWmaTest, ReadsTheTagsFfmpegWrote) {
  auto p = Read();
  EXPECT_EQ(p["Title"].value, Quoted("Sample Tone"));
  EXPECT_EQ(p["Artist"].value, Quoted("Vel Band"));
  EXPECT_EQ(p["Author"].value, Quoted("Vel Band"));
  EXPECT_EQ(p["Album"].value, Quoted("Demo Tones"));
  EXPECT_EQ(p["Genre"].value, Quoted("Electronic"));
  EXPECT_EQ(p["Track"].vt, "VT_I4");
  EXPECT_EQ(p["Track"].value, "7");
  EXPECT_EQ(p["Year"].value, Quoted("2026"));
  EXPECT_EQ(p["Duration"].vt, "VT_R8");
  const double duration = std::atof(p["Duration"].value.c_str());
  EXPECT_GT(duration, 1.4);
  EXPECT_LT(duration, 1.8);
  EXPECT_GT(std::atof(p["Bitrate"].value.c_str()), 0) << p["Bitrate"].vt;
  EXPECT_EQ(p["SamplingFrequency"].vt, "VT_R4");
  EXPECT_EQ(p["SamplingFrequency"].value, "22050");
  EXPECT_EQ(p["Protected"].vt, "VT_BOOL");
  EXPECT_EQ(p["Protected"].value, "false");
  // read leaves the picture out; the picture command gives it.
  EXPECT_EQ(p["Picture"].vt, "VT_EMPTY");
  const std::string out = dir_ + "/out.jpg", raw = dir_ + "/out.body";
  Result r = Velitems("picture get " + path_ + " " + out);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadText(out), ReadText(cover_));
  r = Velitems("picture --raw get " + path_ + " " + raw);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string body = ReadText(raw);
  EXPECT_EQ(body.substr(0, 13), std::string("\0image/jpeg\0\x03", 13));
  EXPECT_EQ(body.substr(body.size() - ReadText(cover_).size()), ReadText(cover_));
  r = Velitems("validate " + path_);
  EXPECT_EQ(r.out, path_ + "\t0\tOK\n");
}

TEST_P(CliWmaTest, PeersReadWhatVelitemsWrote) {
  Result r = Velitems("write " + path_ + " 'Title=New Title' 'Album=Other Album' Track:VT_I4=9 '{urn:zandor:vel:extended}Year=2027'");
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectAudioAndFolderKept("write");
  auto p = Read();
  EXPECT_EQ(p["Title"].value, Quoted("New Title"));
  EXPECT_EQ(p["Album"].value, Quoted("Other Album"));
  EXPECT_EQ(p["Track"].value, "9");
  EXPECT_EQ(p["Artist"].value, Quoted("Vel Band")) << "a tag the item does not name stays";
  if (HaveTool("exiftool")) {
    const std::string tags = Shell("exiftool -s -s -s -Title -Album -AlbumTitle " + path_);
    EXPECT_NE(tags.find("New Title"), std::string::npos) << tags;
    EXPECT_NE(tags.find("Other Album"), std::string::npos) << tags;
  }
  if (HaveTool("ffprobe")) {
    // (ffmpeg gives a ".wma" a second, lower-case "title" that velitems
    // leaves alone and ffprobe prefers; the album has one attribute only.)
    const std::string tags = ProbeTags(path_);
    EXPECT_NE(tags.find("Other Album"), std::string::npos) << tags;
  }
  if (HaveMutagen()) {
    const std::string tags = Shell(Python() + " -c \"import sys, mutagen; print(mutagen.File(sys.argv[1]).pprint())\" " + path_);
    EXPECT_NE(tags.find("New Title"), std::string::npos) << tags;
    EXPECT_NE(tags.find("Other Album"), std::string::npos) << tags;
  }
  EXPECT_TRUE(DecodesCleanly(path_));
}

TEST_P(CliWmaTest, CoversSetAndClearedAreSeenByPeers) {
  // Images of each kind a cover mostly is, one beyond 16 bits of length.
  const std::string png = dir_ + "/cover.png", gif = dir_ + "/cover.gif", big = dir_ + "/big.jpg";
  ASSERT_TRUE(RunFfmpeg("-f lavfi -i color=c=blue:s=48x32 -frames:v 1 " + png));
  ASSERT_TRUE(RunFfmpeg("-f lavfi -i color=c=green:s=16x16 -frames:v 1 " + gif));
  WriteText(big, JpegLike(90000));
  struct Row {
    const char* name;
    std::string image;
    const char* mime;
    const char* codec;  // as ffprobe names it
  };
  const Row rows[] = {
      {"JPEG over 64 KB", big, "image/jpeg", "mjpeg"},
      {"JPEG", cover_, "image/jpeg", "mjpeg"},
      {"PNG", png, "image/png", "png"},
      {"GIF", gif, "image/gif", "gif"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string image = ReadText(row.image);
    Result r = Velitems("picture set " + path_ + " " + row.image);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("keeps no pictures"), std::string::npos) << r.err;
    ExpectAudioAndFolderKept("picture set");
    const std::string out = dir_ + "/out.img", raw = dir_ + "/out.body";
    r = Velitems("picture get " + path_ + " " + out);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadText(out), image);
    // The body velitems made: the image's MIME type, front cover, no description.
    r = Velitems("picture --raw get " + path_ + " " + raw);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadText(raw), Body('\0', row.mime, 3, std::string(1, '\0'), image));
    EXPECT_EQ(Read()["Title"].value, Quoted("Sample Tone")) << "the picture write keeps the tags";
    if (HaveTool("exiftool")) {
      EXPECT_EQ(Shell("exiftool -b -Picture " + path_), image);
      EXPECT_NE(Shell("exiftool -s -s -s -PictureMIMEType " + path_).find(row.mime), std::string::npos);
    }
    // ffprobe's ASF reader refuses Metadata Library values over 64 KB,
    // where such a picture lives (it misses mutagen's the same way).
    if (HaveTool("ffprobe") && !(std::string(GetParam().ext) == ".wma" && image.size() > 0xFFFF)) {
      const std::string streams = ProbeStreams(path_);
      EXPECT_NE(streams.find(std::string(row.codec) + ",video,1\n"), std::string::npos) << streams;
    }
    if (HaveMutagen()) {
      // One picture, the one set, whole.
      EXPECT_EQ(MutagenPictures(), std::string(row.mime) + "\t3\t\t" + std::to_string(image.size()) + "\t" +
                                       std::to_string(image.size()) + "\n");
      EXPECT_EQ(ReadText(dir_ + "/mutagen-picture0"), image);
    }
  }
  const std::string out = dir_ + "/out.img";
  Result r = Velitems("picture clear " + path_);
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectAudioAndFolderKept("picture clear");
  r = Velitems("picture get " + path_ + " " + out);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no picture"), std::string::npos) << r.err;
  if (HaveTool("exiftool")) {
    EXPECT_EQ(Shell("exiftool -s -s -s -Picture " + path_), "");
  }
  if (HaveTool("ffprobe")) {
    const std::string streams = ProbeStreams(path_);
    EXPECT_EQ(streams.find(",video,"), std::string::npos) << streams;
    EXPECT_NE(streams.find(",audio,0\n"), std::string::npos) << streams;
  }
  if (HaveMutagen()) {
    EXPECT_EQ(MutagenPictures(), "");
  }
  EXPECT_EQ(Read()["Album"].value, Quoted("Demo Tones"));
}

// --raw hands a body over as it is both ways: what was set is what is got,
// and the peers see its MIME type, picture type and description.
TEST_P(CliWmaTest, RawBodiesTravelUnchanged) {
  const std::string gif("GIF89a\x01\x00\x01\x00\x80\x00\x00\xFF\xFF\xFF\x00\x00\x00;", 20);
  struct Row {
    const char* name;
    std::string body;
    std::string mutagen;  // what the mutagen script prints
  };
  const Row rows[] = {
      {"back cover, Latin-1 description", Body('\0', "image/gif", 4, std::string("R\xFC" "ckseite\0", 10), gif),
       "image/gif\t4\tR\u00fcckseite\t20\t20\n"},
      {"artist, UTF-16 description",
       Body('\x01', "image/gif", 8, std::string("\xFF\xFE" "B\0a\0n\0d\0 \0\xAC\x20\0\0", 16), gif),
       "image/gif\t8\tBand \u20ac\t20\t20\n"},
      {"front cover, no description", Body('\0', "image/gif", 3, std::string(1, '\0'), gif), "image/gif\t3\t\t20\t20\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string in = dir_ + "/in.body", out = dir_ + "/out.body";
    WriteText(in, row.body);
    Result r = Velitems("picture --raw set " + path_ + " " + in);
    ASSERT_EQ(r.status, 0) << r.err;
    ExpectAudioAndFolderKept("picture --raw set");
    r = Velitems("picture --raw get " + path_ + " " + out);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadText(out), row.body);
    if (HaveMutagen()) {
      EXPECT_EQ(MutagenPictures(), row.mutagen);
    }
  }
}

TEST_P(CliWmaTest, AReadOnlyFileIsRefused) {
  const std::string before = ReadText(path_);
  ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
  const Result r = Velitems("write --verbose " + path_ + " 'Title=Never'");
  chmod(path_.c_str(), 0644);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Error writing audio metadata."), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("61004"), std::string::npos) << r.err;
  EXPECT_EQ(ReadText(path_), before);
}

TEST_P(CliWmaTest, PictureSetRefusesWhatIsNoImage) {
  const std::string text = dir_ + "/notes.txt", before = ReadText(path_);
  WriteText(text, "just words");
  Result r = Velitems("picture set " + path_ + " " + text);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("not a JPEG, PNG, GIF, BMP, WebP or TIFF image"), std::string::npos) << r.err;
  EXPECT_EQ(ReadText(path_), before);
}

// Windows Media family files of several kinds at once.
class CliWmaFilesTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  }
};

// What mutagen reads of an MP3's tags: the ID3v2 version, every ID3v2 frame
// (sorted by key) and the APEv2 tag.
constexpr char kMutagenTags[] = R"(import sys
from mutagen.id3 import ID3
from mutagen.apev2 import APEv2
tags = ID3(sys.argv[1])
print('ID3v2.%d' % tags.version[1])
for key in sorted(tags.keys()):
    print(tags[key].pprint())
print(APEv2(sys.argv[1]).pprint())
)";

// Gives an MP3 ID3v2 frames velitems has no property for (a private frame,
// a comment with a description, the encoder's settings) and an APEv2 tag.
constexpr char kMutagenAddTags[] = R"(import sys
from mutagen.id3 import ID3, PRIV, COMM, TSSE
from mutagen.apev2 import APEv2
tags = ID3(sys.argv[1])
tags.add(PRIV(owner='vel.test', data=b'\x00\x01secret\xff'))
tags.add(COMM(encoding=3, lang='eng', desc='Notes', text=['kept words']))
tags.add(TSSE(encoding=3, text=['Vel encoder 1.0']))
tags.save(v2_version=3)
ape = APEv2()
ape['Catalog'] = 'VEL-42'
ape['Artist'] = 'Ape Band'
ape.save(sys.argv[1])
)";

TEST_F(CliWmaFilesTest, TagsVelitemsDoesNotKnowSurviveAWrite) {
  if (!HaveMutagen()) GTEST_SKIP() << "mutagen is not installed";
  const std::string media = dir_ + "/media", path = media + "/song.mp3", cover = dir_ + "/cover.jpg";
  fs::create_directory(media);
  ASSERT_TRUE(RunFfmpeg("-f lavfi -i color=c=red:s=64x64 -frames:v 1 " + cover));
  ASSERT_TRUE(RunFfmpeg("-f lavfi -i sine=frequency=440:sample_rate=22050:duration=1.5 -i " + cover +
                        " -map 0:a -map 1:v -c:v copy -disposition:v attached_pic -c:a libmp3lame -b:a 32k "
                        "-id3v2_version 3 -ac 1 -metadata title=\"Sample Tone\" -metadata artist=\"Vel Band\" "
                        "-metadata track=7/12 " + path));
  const std::string add = dir_ + "/add.py", dump = dir_ + "/dump.py";
  WriteText(add, kMutagenAddTags);
  WriteText(dump, kMutagenTags);
  ASSERT_EQ(RunCommand(Python() + " " + add + " " + path).status, 0);
  const std::string before = RunCommand(Python() + " " + dump + " " + path).out;
  for (const char* line : {"ID3v2.3\n", "COMM=Notes=eng=kept words\n", "PRIV=vel.test=b'\\x00\\x01secret\\xff'\n",
                           "TIT2=Sample Tone\n", "TSSE=Vel encoder 1.0\n", "Artist=Ape Band\nCatalog=VEL-42\n"}) {
    ASSERT_NE(before.find(line), std::string::npos) << "the file as made lacks " << line << before;
  }
  const std::string audio = AudioMd5(path);
  ASSERT_EQ(audio.rfind("MD5=", 0), 0u) << audio;

  const Result r = Velitems("write " + path + " Title=X");
  ASSERT_EQ(r.status, 0) << r.err;
  // Everything as it was but the title.
  std::string want = before;
  want.replace(want.find("TIT2=Sample Tone\n"), 17, "TIT2=X\n");
  EXPECT_EQ(RunCommand(Python() + " " + dump + " " + path).out, want);
  EXPECT_EQ(AudioMd5(path), audio);
  EXPECT_EQ(Entries(media), std::vector<std::string>{"song.mp3"});
}

// Reading a folder tree of both kinds on four threads prints what one thread
// prints, in the same order, and nothing on standard error.
TEST_F(CliWmaFilesTest, ReadingInParallelPrintsWhatOneThreadPrints) {
  const std::string media = dir_ + "/media";
  fs::create_directories(media + "/sub");
  std::vector<std::pair<std::string, std::string>> files;  // path, title
  std::string outputs;
  for (int i = 0; i < 12; ++i) {
    const bool mp3 = i % 2 == 0;
    const std::string path = media + (i >= 6 ? "/sub/" : "/") + "tone" + std::to_string(i) + (mp3 ? ".mp3" : ".wma");
    const std::string title = "Tone " + std::to_string(i);
    files.emplace_back(path, title);
    outputs += std::string(" -map 0:a -c:a ") + (mp3 ? "libmp3lame" : "wmav2") + " -b:a 32k -metadata title=\"" +
               title + "\" " + path;
  }
  ASSERT_TRUE(RunFfmpeg("-f lavfi -i sine=frequency=440:sample_rate=22050:duration=1 -ac 1" + outputs));

  const Result registered = Velitems("register");  // which says so on standard error
  ASSERT_EQ(registered.status, 0) << registered.err;
  const Result one = Velitems("read --json -r -j 1 " + media);
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(one.err, "");
  const Result four = Velitems("read --json -r -j 4 " + media);
  EXPECT_EQ(four.status, 0);
  EXPECT_EQ(four.err, "");
  EXPECT_EQ(four.out, one.out);
  // One line per file, with the file's own tags.
  for (const auto& [path, title] : files) {
    const std::size_t at = one.out.find("{\"path\":\"" + path + "\",");
    ASSERT_NE(at, std::string::npos) << path << "\n" << one.out;
    const std::string line = one.out.substr(at, one.out.find('\n', at) - at);
    auto p = ItemJsonProperties(line);
    EXPECT_EQ(p["Title"].value, Quoted(title)) << path;
    EXPECT_EQ(p["Duration"].vt, "VT_R8") << path;
  }
  EXPECT_EQ(std::count(one.out.begin(), one.out.end(), '\n'), static_cast<long>(files.size())) << one.out;
  // In the walk's order (names by byte value, the subfolder where its name
  // sorts), whichever files were read first: the first MP3 and the first WMA
  // are read ahead, and files of their kinds are set aside meanwhile.
  std::vector<std::string> walked;
  for (const char* name :
       {"sub/tone10.mp3", "sub/tone11.wma", "sub/tone6.mp3", "sub/tone7.wma", "sub/tone8.mp3", "sub/tone9.wma",
        "tone0.mp3", "tone1.wma", "tone2.mp3", "tone3.wma", "tone4.mp3", "tone5.wma"})
    walked.push_back(media + "/" + name);
  std::vector<std::string> printed;
  for (std::size_t at = one.out.find("{\"path\":\""); at != std::string::npos;
       at = one.out.find("{\"path\":\"", at + 1)) {
    const std::size_t start = at + 9;
    printed.push_back(one.out.substr(start, one.out.find('"', start) - start));
  }
  EXPECT_EQ(printed, walked);
}

INSTANTIATE_TEST_SUITE_P(Files, CliWmaTest,
                         ::testing::Values(Kind{"Mp3", ".mp3", "7/12"}, Kind{"Wma", ".wma", "07"}),
                         [](const ::testing::TestParamInfo<Kind>& info) { return std::string(info.param.name); });

}  // namespace
