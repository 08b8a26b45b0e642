// What every plugin answers the same way: its name, the folder its kind of
// items is stored in, the capability query (no capability is known), and the
// MIME type its configuration assigns to an extension.
// The plugin classes call these from inside their COM boundary.
//
// Thread safety: stateless; any thread.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/types.h"
#include "ylib/YErrorFrame.h"

class CVelPluginHelpers {
 public:
  // VARIANT_FALSE for every capability number.
  static void QueryCapability(LONG capability, VARIANT_BOOL* result);
  // A new BSTR holding name, owned by the caller.
  static void Name(std::u16string_view name, BSTR* result);
  // The shell folder csidl as a path in a new BSTR; csidl 0 stores the null
  // BSTR (the messaging plugins propose no folder).
  static void StoragePath(int csidl, BSTR* result);

  // The MIME type that the plugin configuration of clsid (registry text with
  // braces) gives extension (with its dot, any case); empty when none does.
  // Reads the registry on every call: plugins ask it once per item.
  static std::u16string RegisteredExt2MimeType(std::u16string_view clsid, std::u16string_view extension);
};
