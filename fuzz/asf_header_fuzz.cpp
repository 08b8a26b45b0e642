// libFuzzer target for the ASF object layer: arbitrary bytes as a header
// object. Whatever is read must come back unchanged from the header a save
// would write for it, and a header that was not read completely is never
// written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/wmf/AsfFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto file = vel::wmf::AsfFile::Parse(std::span<const std::uint8_t>(data, size), size);
  file->ComputedAttributes();
  file->Streams();
  file->DrmProperty(u"DRMHeader.KID");
  if (!file->complete()) return 0;
  vel::wmf::Bytes rebuilt = file->BuildHeader(0);
  auto again = vel::wmf::AsfFile::Parse(rebuilt, rebuilt.size());
  if (!again->complete()) std::abort();
  // Attributes the layer can store come back in the same order; values too
  // large for their object are the only ones that may move.
  if (again->attributes().size() != file->attributes().size()) std::abort();
  if (again->languages() != file->languages()) std::abort();
  return 0;
}
