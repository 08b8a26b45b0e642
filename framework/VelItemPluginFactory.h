// CVelItemPluginFactory: the host's entry point (VelItemPluginsLib::
// VelItemPluginFactory), choosing the plugin for a MIME type, a file or an
// item from the plugin configuration in the registry:
//
//   HKEY_LOCAL_MACHINE\Software\Zandor\VelPlatform\ItemPlugins\{clsid}
//     "SupportedMIMEs" = "type|type|..."      the plugin's MIME types
//     ".ext"           = "type"               one value per file extension
//
// The configuration is read into two ordered maps (MIME type -> plugins,
// extension -> plugins) when the factory is created, and read again on the
// listener's thread whenever anything below the key changes.
//
// Thread safety: any thread ("Free"). The factory's lock (recursive for its
// owner) guards the maps: a reload holds it from start to end, a lookup while
// it reads them, so a lookup never sees a half-loaded map. Plugins are created
// (and, for an extension several plugins claim, asked to validate the file)
// outside it, so threads asking for plugins do not wait for each other.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "contract/VelItemPluginsLib.h"
#include "platform/com/comdef.h"
#include "platform/com/comobject.h"
#include "ylib/YCOMClassFactory.h"
#include "ylib/YLock.h"
#include "ylib/YRegistryListener.h"

// The configuration key, as the factory reads and watches it.
inline constexpr char16_t kVelItemPluginsConfigKey[] = u"HKEY_LOCAL_MACHINE\\Software\\Zandor\\VelPlatform\\ItemPlugins";

class CVelItemPluginFactory
    : public vel::com::Implements<vel::com::DispatchImpl<IVelItemPluginFactory>,
                                  vel::com::SupportErrorInfoFor<IVelItemPluginFactory>>,
      public CYRegistryListenerNotify {
 public:
  // The value of both maps.
  struct PluginEntry {
    std::vector<std::u16string> clsids;  // registry texts in enumeration order, no duplicates
    std::u16string mimeType;             // lower case
    std::u16string extension;            // lower case with its dot; empty when made from "SupportedMIMEs"
  };
  // Keys are compared by UTF-16 code unit (std::u16string's own ordering).
  using PluginMap = std::map<std::u16string, PluginEntry>;

  HRESULT FinalConstruct();
  void FinalRelease();

  // IVelItemPluginFactory
  HRESULT CreateWithMimeType(BSTR strMimeType, IVelItemPlugin** ppiRetVal) override;
  HRESULT CreateWithFile(BSTR strFilePath, IVelItemPlugin** ppiRetVal) override;
  HRESULT CreateWithItem(IVelItem* piItem, IVelItemPlugin** ppiRetVal) override;
  HRESULT GetRegisteredMimeTypes(VARIANT* pvarMIMEs) override;
  HRESULT IsRegisteredMimeType(BSTR strMimeType, VARIANT_BOOL* pbRetVal) override;

  // CYRegistryListenerNotify: runs on the listener's thread.
  void OnRegistryChange(const std::u16string& keyPath) override;

 private:
  // Empties both maps and fills them from the registry, under the lock.
  void LoadConfig();
  // The plugin of the registry CLSID text, null when it lacks IVelItemPlugin.
  ComPtr<IVelItemPlugin> CreatePlugin(const std::u16string& clsid);

  CYCOMLock m_lock;
  CYCOMClassFactory m_classFactory;
  PluginMap m_mimeMap;
  PluginMap m_extensionMap;
  // Last, so its thread has ended before the maps and the lock go.
  CYRegistryListener m_listener;
};
