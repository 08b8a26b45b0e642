// libFuzzer target for the MP4 tag reader: arbitrary bytes parsed as an MP4
// file and as an ADTS stream through the editor's bytes entry point; what was
// read is turned into records and written back into a new udta, so the
// encoders and the raw carry-over see every frame the parser can make.
#include <cstddef>
#include <cstdint>
#include <span>

#include "audio/MetaDataItem.h"
#include "audio/mp4/TagBase.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  for (const char16_t* extension : {u".m4a", u".aac"}) {
    CTagBase base;
    if (!base.ParseImage(bytes, extension)) continue;
    CMetaDataItemList records;
    base.CollectRecords(records);
    // The input as an old udta too: its children are walked and carried over.
    (void)base.BuildUserData(bytes, base.ByteOrder());
  }
  return 0;
}
