// CYGUID: GUIDs to and from their registry text "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
//
// Thread safety: stateless; any thread.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/types.h"

class CYGUID {
 public:
  // Upper-case digits, in braces.
  static std::u16string GUIDToString(REFGUID guid);
  // With or without the braces; an empty text is GUID_NULL. A text that is no
  // GUID raises the system text of CLSIDFromString's HRESULT.
  static GUID StringToGUID(std::u16string_view text);
};
