// CYCOMUtils::CreateObject: COM object creation whose failure is a full report
// (the system text of the HRESULT, the HRESULT, and the details "ClassID" and
// "ProgID").
//
//   ComPtr<IUnknown> item = CYCOMUtils::CreateObject(CLSID_VelItem, u"VelItemsLib::VelItem");
//
// The name only labels reports; it never selects the class.
//
// Thread safety: any thread.
#pragma once

#include "platform/com/combase.h"
#include "platform/com/comdef.h"

class CYCOMUtils {
 public:
  // CoCreateInstance for IUnknown; with a local or remote server in context,
  // the object is also run (OleRun) and asked for IUnknown again.
  static ComPtr<IUnknown> CreateObject(REFCLSID clsid, const char16_t* name, DWORD context = CLSCTX_ALL);
};
