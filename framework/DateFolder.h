// The storage folder of an item filed by date, "year-month" ("2008-10"), as
// the image and video plugins propose it from their GetItemPath.
//
// The date is the item's "CreationDate"; an item without one is read afresh
// from its "URI" through the plugin's own IVelItemPlugin::ReadMetadata (the
// caller's item stays as it is), and when the file's item has none either,
// the file's last write time in local time decides.
//
//   HRESULT CVelItemVideo::GetItemPath(IVelItem* pItem, BSTR* pVal) {
//     ... *out = _bstr_t(vel::framework::DateFolder(this, pItem)).Detach(); ...
//   }
//
// Thread safety: stateless; any thread. The item is the host's, which guards it.
#pragma once

#include <string>

#include "contract/VelItemsLib.h"
#include "contract/VelItemPluginsLib.h"

namespace vel::framework {

// "%d-%02d" of the item's date. Failures of the host's calls and of the
// re-read raise the report they carry.
std::u16string DateFolder(IVelItemPlugin* plugin, IVelItem* item);

}  // namespace vel::framework
