// libFuzzer target for the MMS PDU decoder: header, multipart body, single
// entries, SMIL normalisation and part-name sanitising on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "messaging/MMS/MMSCodec2.h"
#include "messaging/MMS/PartFileName.h"
#include "messaging/MMS/WspCoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CMMSHeader header;
  const int offset = CMMSCodec2::ParseHeader(data, size, &header);
  CMultipartContainer container;
  // Bodies are fuzzed with and without a header in front of them.
  const std::size_t start = offset > 0 ? static_cast<std::size_t>(offset) : 0;
  CMMSCodec2::ParseMultipartFiles(data + start, size - start, &container);
  for (std::size_t i = 0; i < container.Count(); ++i) {
    CMultipartFile& part = *container.At(i);
    part.NormalizeSmil();
    vel::mms::MakeSafePartFileName(vel::wsp::BytesToWide(part.location, 0), i, part);
  }
  CMultipartFile single;
  CMMSCodec2::ReadMultipartFile(data, size, &single);
  return 0;
}
