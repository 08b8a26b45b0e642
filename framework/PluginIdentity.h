// What every plugin says about itself the same way: its name, the folder its
// kind of items is stored in (a shell folder, or none) and the capability
// query (no capability number is known, every one answers VARIANT_FALSE).
// Each plugin keeps one PluginIdentity and its three IVelItemPlugin members
// forward to it:
//
//   const vel::framework::PluginIdentity kIdentity{u"CVelItemVideo", kSource, kProgId, u"Video", CSIDL_MYVIDEO};
//   HRESULT CVelItemVideo::get_Name(BSTR* pVal) { return kIdentity.Name(pVal); }
//
// Each call is a COM boundary of its own: a failure (a null out-parameter)
// answers kVelErrorHResult with an error object for IID_IVelItemPlugin and the
// plugin's ProgID, its trace naming the plugin's method
// ("CVelItemVideo::get_Name").
//
// Thread safety: immutable after construction; any thread.
#pragma once

#include <string>

#include "platform/com/types.h"

namespace vel::framework {

class PluginIdentity {
 public:
  // className ("CVelItemAudio") names the methods in error traces, source
  // the plugin's source file as traces show it; progId is the class's
  // version-dependent ProgID; storageFolder a CSIDL, 0 for none.
  PluginIdentity(const char16_t* className, const char16_t* source, const char16_t* progId, const char16_t* name,
                 int storageFolder);

  // IVelItemPlugin::QueryCapability
  HRESULT QueryCapability(LONG capability, VARIANT_BOOL* result) const noexcept;
  // IVelItemPlugin::get_Name
  HRESULT Name(BSTR* result) const noexcept;
  // IVelItemPlugin::get_CustomStoragePath: the folder's path, or the null
  // BSTR for a plugin without one.
  HRESULT CustomStoragePath(BSTR* result) const noexcept;

 private:
  std::u16string queryCapabilityFrame_;
  std::u16string nameFrame_;
  std::u16string storagePathFrame_;
  const char16_t* source_;
  const char16_t* progId_;
  const char16_t* name_;
  int storageFolder_;
};

}  // namespace vel::framework
