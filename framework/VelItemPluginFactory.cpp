#include "framework/VelItemPluginFactory.h"

#include <algorithm>

#include "contract/VelComBoundary.h"
#include "framework/ItemProperties.h"
#include "platform/com/oleauto.h"
#include "ylib/YFileUtilities.h"
#include "ylib/YGUID.h"
#include "ylib/YLogging.h"
#include "ylib/YRegistry.h"
#include "ylib/YString.h"
#include "ylib/YVariant.h"

namespace {
constexpr char16_t kSource[] = u"VelItemPluginFactory";
constexpr const IID& kFactory = IID_IVelItemPluginFactory;
constexpr const char16_t* kProgId = kProgIdVelItemPluginFactory;

// Every name, attribute, value and security change below the key.
constexpr DWORD kConfigNotifyFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES |
                                      REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;

// MIME types and extensions are compared exactly once loaded, so only ASCII
// letters are folded: a non-ASCII spelling stays what the configuration says.
std::u16string AsciiLower(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return text;
}

// Adds clsid to the entry of key, creating the entry with mimeType and
// extension when the map has none yet.
void AddPlugin(CVelItemPluginFactory::PluginMap& map, const std::u16string& key, const std::u16string& clsid,
               const std::u16string& mimeType, const std::u16string& extension) {
  auto [it, inserted] = map.try_emplace(key);
  CVelItemPluginFactory::PluginEntry& entry = it->second;
  if (inserted) {
    entry.mimeType = mimeType;
    entry.extension = extension;
  }
  if (std::find(entry.clsids.begin(), entry.clsids.end(), clsid) == entry.clsids.end()) entry.clsids.push_back(clsid);
}

using vel::framework::BstrText;

// An item property in kCoreNamespace as text; false when the item lacks it.
bool GetCoreText(IVelProperties* properties, const char16_t* name, std::u16string& text) {
  _bstr_t bstrName(name);
  _bstr_t bstrNamespace(kCoreNamespace);
  VARIANT_BOOL exists = VARIANT_FALSE;
  YCheckHr(properties->Exists(bstrName, bstrNamespace, &exists));
  if (exists != VARIANT_TRUE) return false;
  _variant_t value;
  YCheckHr(properties->get_Value(bstrName, bstrNamespace, value.GetAddress()));
  YCheckHr(VariantChangeType(&value, &value, 0, VT_BSTR));
  text = BstrText(value.bstrVal);
  return true;
}

}  // namespace

HRESULT CVelItemPluginFactory::FinalConstruct() {
  return VelComBoundary(kFactory, kProgId, {u"CVelItemPluginFactory::FinalConstruct", kSource, __LINE__}, [&] {
    LoadConfig();
    m_listener.StartListening(kVelItemPluginsConfigKey, this, true, kConfigNotifyFilter);
  });
}

void CVelItemPluginFactory::FinalRelease() {
  YErrorFrameNoThrow({u"CVelItemPluginFactory::FinalRelease", kSource, __LINE__}, [&] {
    m_listener.StopListening();
    m_classFactory.Clear();
  });
}

void CVelItemPluginFactory::OnRegistryChange(const std::u16string& keyPath) {
  YErrorFrame({u"CVelItemPluginFactory::OnRegistryChange", kSource, __LINE__}, [&] {
    CYLockHolder hold(m_lock);
    LoadConfig();
  });
}

void CVelItemPluginFactory::LoadConfig() {
  YErrorFrame({u"CVelItemPluginFactory::LoadConfig", kSource, __LINE__}, [&] {
    CYLockHolder hold(m_lock);
    m_mimeMap.clear();
    m_extensionMap.clear();
    for (const std::u16string& clsid : CYRegistry::GetSubKeyNames(kVelItemPluginsConfigKey)) {
      try {
        YErrorFrame({u"CVelItemPluginFactory::LoadConfig", kSource, __LINE__}, [&](const YFrame& f) {
          const std::u16string key = CYFileUtilities::ConcatPathname(kVelItemPluginsConfigKey, clsid);
          const std::u16string supported = CYRegistry::GetStringValue(key, u"SupportedMIMEs", nullptr);
          // An empty list leaves the plugin out like a missing one: its extensions alone are no configuration.
          if (supported.empty()) throw YReport(kYErrReadRegistryValue, f).AddDetail(u"Registry value", u"SupportedMIMEs");
          for (const std::u16string& token : CYStringHelper::TokenizeString(supported, u"|")) {
            const std::u16string mimeType = AsciiLower(token);
            AddPlugin(m_mimeMap, mimeType, clsid, mimeType, u"");
            CYLogging::Log(kYLogDebug, u"Vel Item Plugin %s supports MimeType \"%s\"\n", clsid, mimeType);
          }
          for (const YRegValueName& value : CYRegistry::GetValueNames(key, -1)) {
            if (value.name.empty() || value.name[0] != u'.') continue;
            const std::u16string extension = AsciiLower(value.name);
            const std::u16string mimeType = AsciiLower(CYRegistry::GetStringValue(key, value.name.c_str(), nullptr));
            AddPlugin(m_mimeMap, mimeType, clsid, mimeType, extension);
            AddPlugin(m_extensionMap, extension, clsid, mimeType, extension);
            CYLogging::Log(kYLogDebug, u"Vel Item Plugin %s supports MimeType \"%s\" (%s)\n", clsid, mimeType,
                           extension);
          }
        });
      } catch (const CYException& report) {
        CYLogging::Log(kYLogWarning, u"Failed to read Vel Item Plugin configuration for plugin %s\n\n%s", clsid,
                       report.GetText(kYTextForLog));
      }
    }
  });
}

ComPtr<IVelItemPlugin> CVelItemPluginFactory::CreatePlugin(const std::u16string& clsid) {
  return YErrorFrame({u"CVelItemPluginFactory::CreatePlugin", kSource, __LINE__}, [&] {
    ComPtr<IUnknown> object = m_classFactory.CreateObject(CYGUID::StringToGUID(clsid), clsid.c_str());
    ComPtr<IVelItemPlugin> plugin;
    const HRESULT hr = object.QueryInterface(plugin);
    if (hr == E_NOINTERFACE) return ComPtr<IVelItemPlugin>();
    YCheckHr(hr);
    return plugin;
  });
}

HRESULT CVelItemPluginFactory::CreateWithMimeType(BSTR strMimeType, IVelItemPlugin** ppiRetVal) {
  return VelComBoundary(kFactory, kProgId, {u"CVelItemPluginFactory::CreateWithMimeType", kSource, __LINE__},
                        [&](const YFrame& f) {
                          IVelItemPlugin** result = VelOutParam(ppiRetVal, f);
                          std::u16string clsid;
                          {
                            CYLockHolder hold(m_lock);
                            const auto found = m_mimeMap.find(BstrText(strMimeType));
                            if (found == m_mimeMap.end() || found->second.clsids.empty()) return;
                            clsid = found->second.clsids.front();
                          }
                          *result = CreatePlugin(clsid).Detach();
                        });
}

HRESULT CVelItemPluginFactory::CreateWithFile(BSTR strFilePath, IVelItemPlugin** ppiRetVal) {
  return VelComBoundary(
      kFactory, kProgId, {u"CVelItemPluginFactory::CreateWithFile", kSource, __LINE__}, [&](const YFrame& f) {
        IVelItemPlugin** result = VelOutParam(ppiRetVal, f);
        const std::u16string path = BstrText(strFilePath);
        // The lock guards the maps only: plugins are created and asked
        // outside it, so threads creating plugins do not wait for each other
        // (nor for a plugin reading a file to answer ValidateItem).
        std::vector<std::u16string> clsids;
        {
          CYLockHolder hold(m_lock);
          const auto found = m_extensionMap.find(AsciiLower(CYFileUtilities::GetFileExtension(path)));
          if (found == m_extensionMap.end()) return;
          clsids = found->second.clsids;
        }
        ComPtr<IVelItemPlugin> plugin;
        for (const std::u16string& clsid : clsids) {
          plugin = CreatePlugin(clsid);
          if (clsids.size() == 1) break;
          if (!plugin) continue;  // no plugin interface: nothing to ask, the next candidate decides
          ComPtr<IUnknown> object = m_classFactory.CreateObject(CLSID_VelItem, u"VelItemsLib::VelItem");
          ComPtr<IVelItem> item;
          YCheckHr(object.QueryInterface(item));
          ComPtr<IVelProperties> properties;
          YCheckHr(item->get_Properties(&properties));
          _variant_t uri(strFilePath ? _bstr_t(strFilePath, true) : _bstr_t(u""));
          YCheckHr(properties->put_Value(_bstr_t(u"URI"), _bstr_t(kCoreNamespace), uri));
          LONG status = EVelValidateStatus_OK;
          YCheckHr(plugin->ValidateItem(item, &status));
          if (status != EVelValidateStatus_FileCorrupt) break;
        }
        *result = plugin.Detach();
      });
}

HRESULT CVelItemPluginFactory::CreateWithItem(IVelItem* piItem, IVelItemPlugin** ppiRetVal) {
  return VelComBoundary(
      kFactory, kProgId, {u"CVelItemPluginFactory::CreateWithItem", kSource, __LINE__},
      [&](const YFrame& f) -> HRESULT {
        CYLockHolder hold(m_lock);
        IVelItemPlugin** result = VelOutParam(ppiRetVal, f);
        ComPtr<IVelItem> item;
        if (!piItem || FAILED(piItem->QueryInterface(IID_IVelItem, reinterpret_cast<void**>(&item))) || !item)
          return S_FALSE;
        ComPtr<IVelProperties> properties;
        YCheckHr(item->get_Properties(&properties));
        if (!properties) return S_FALSE;
        IVelItemPluginFactory* self = this;
        std::u16string text;
        if (GetCoreText(properties, u"ItemType", text)) {
          YCheckHr(self->CreateWithMimeType(_bstr_t(text), result));
        } else if (GetCoreText(properties, u"URI", text)) {
          YCheckHr(self->CreateWithFile(_bstr_t(text), result));
        }
        return S_OK;
      });
}

HRESULT CVelItemPluginFactory::GetRegisteredMimeTypes(VARIANT* pvarMIMEs) {
  return VelComBoundary(kFactory, kProgId, {u"CVelItemPluginFactory::GetRegisteredMimeTypes", kSource, __LINE__},
                        [&](const YFrame& f) {
                          CYLockHolder hold(m_lock);
                          VARIANT* result = VelOutParam(pvarMIMEs, f);
                          std::vector<std::u16string> mimeTypes;
                          mimeTypes.reserve(m_mimeMap.size());
                          for (const auto& entry : m_mimeMap) mimeTypes.push_back(entry.first);
                          *result = CYVariant::StringVectorToVariant(mimeTypes).Detach();
                        });
}

HRESULT CVelItemPluginFactory::IsRegisteredMimeType(BSTR strMimeType, VARIANT_BOOL* pbRetVal) {
  return VelComBoundary(kFactory, kProgId, {u"CVelItemPluginFactory::IsRegisteredMimeType", kSource, __LINE__},
                        [&](const YFrame& f) {
                          CYLockHolder hold(m_lock);
                          VARIANT_BOOL* result = VelOutParam(pbRetVal, f);
                          *result = m_mimeMap.count(BstrText(strMimeType)) ? VARIANT_TRUE : VARIANT_FALSE;
                        });
}
