#include "framework/VelPluginHelpers.h"

#include <string>

#include "platform/com/oleauto.h"
#include "ylib/YException.h"
#include "ylib/YFileUtilities.h"

namespace {
constexpr char16_t kSource[] = u"VelPluginHelpers";
}

void CVelPluginHelpers::QueryCapability(LONG capability, VARIANT_BOOL* result) {
  YErrorFrame({u"CVelPluginHelpers::QueryCapability", kSource, __LINE__}, [&](const YFrame& f) {
    if (!result) YThrow(kYErrInvalidParameter, f);
    *result = VARIANT_FALSE;
  });
}

void CVelPluginHelpers::Name(std::u16string_view name, BSTR* result) {
  YErrorFrame({u"CVelPluginHelpers::Name", kSource, __LINE__}, [&](const YFrame& f) {
    if (!result) YThrow(kYErrInvalidParameter, f);
    *result = nullptr;
    BSTR text = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
    if (!text) throw std::bad_alloc();
    *result = text;
  });
}

void CVelPluginHelpers::StoragePath(int csidl, BSTR* result) {
  YErrorFrame({u"CVelPluginHelpers::StoragePath", kSource, __LINE__}, [&](const YFrame& f) {
    if (!result) YThrow(kYErrInvalidParameter, f);
    *result = nullptr;
    if (csidl == 0) return;
    const std::u16string path = CYFileUtilities::SHGetFolder(csidl);
    BSTR text = SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
    if (!text) throw std::bad_alloc();
    *result = text;
  });
}
