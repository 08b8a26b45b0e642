// CVelItemHelpers::MergeItems: two host items combined into a new one. The
// video, MMS and SMS plugins write an item back by merging the host's item
// (a) with the one read from the file (b) in mode 0, so file values win and
// host-only properties survive.
//
//   mode  property in both items             class / label set in both
//   0     b's                                b's
//   1     a's                                a's
//   2     a's, only when both values equal   not set
//   other left out                           not set
// Properties found in only one item are always taken; a class or label that
// only one item has is taken.
//
// Thread safety: any thread; the items are the host's, which guards them.
#pragma once

#include "contract/VelItemsLib.h"
#include "platform/com/comdef.h"

class CVelItemHelpers {
 public:
  // A new item (one reference for the caller); null when a and b are both
  // null. One null argument raises "Invalid function parameter." (1010).
  static ComPtr<IVelItem> MergeItems(IVelItem* a, IVelItem* b, int mode);
};
