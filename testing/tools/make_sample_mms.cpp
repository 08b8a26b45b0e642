// make_sample_mms OUT.mms: the demo message samples/hello.mms, composed by our
// writer from a greeting and a slide show of one text.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "messaging/MMS/MMSWriter.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample_mms OUT.mms\n");
    return 2;
  }
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / "make_sample_mms";
  fs::create_directories(dir);
  std::ofstream(dir / "hello.txt", std::ios::binary) << "Hello from the sample message!";
  std::ofstream(dir / "hello.smil", std::ios::binary)
      << "<smil><head><layout><region id=\"Text\"/></layout></head>"
         "<body><par dur=\"5000ms\"><text src=\"hello.txt\" region=\"Text\"/></par></body></smil>";
  CMMSWriter writer;
  writer.SetMessageType(0x80);
  writer.SetTransactionId("Sample1");
  writer.SetSubject("Hello");
  writer.SetFrom("+4915550001/TYPE=PLMN");
  writer.SetTo("+4915550002/TYPE=PLMN%+4915550003/TYPE=PLMN");
  for (const char* name : {"hello.smil", "hello.txt"}) {
    const std::u16string path = vel::FromUtf8((dir / name).string());
    const int code = CMMSWriter::ExtensionToContentType(path.c_str());
    if (code >= 256 || writer.AddPart(path.c_str(), static_cast<std::uint8_t>(code)) != kMmsWriterOk) return 1;
  }
  const int status = writer.Write(vel::FromUtf8(argv[1]).c_str());
  fs::remove_all(dir);
  return status == kMmsWriterOk ? 0 : 1;
}
