#include "module/VelRegistration.h"

#include "audio/AudioFormats.h"
#include "contract/VelItemPluginsLib.h"
#include "platform/com/combase.h"

namespace {

// The type-library marshaler: automation-compatible interfaces go through it.
// {00020424-0000-0000-C000-000000000046}
constexpr char16_t kTypeLibMarshaler[] = u"{00020424-0000-0000-C000-000000000046}";
constexpr char16_t kTypeLibHelpString[] = u"VelItemPlugins 1.0 Type Library";
constexpr char16_t kTypeLibVersion[] = u"1.0";
// The library's locale (0x409) as the key name of its file.
constexpr char16_t kTypeLibLocale[] = u"409";
// The platform subkey naming the file that holds the library.
constexpr char16_t kTypeLibPlatform[] = u"linux64";

VelRegKey Key(std::u16string name, VelRegFlag flag = VelRegFlag::None) {
  VelRegKey k;
  k.name = std::move(name);
  k.flag = flag;
  return k;
}

VelRegKey KeyWithDefault(std::u16string name, std::u16string defaultValue, VelRegFlag flag = VelRegFlag::None) {
  VelRegKey k = Key(std::move(name), flag);
  k.defaultValue = std::move(defaultValue);
  return k;
}

// The audio plugin's extension values: the registered rows of its format table.
std::vector<VelPluginExtension> AudioExtensions() {
  std::vector<VelPluginExtension> extensions;
  for (const vel::audio::AudioFormat& format : vel::audio::kAudioFormats) {
    if (format.mimeType) extensions.push_back({format.extension.data(), format.mimeType});
  }
  return extensions;
}

}  // namespace

std::u16string VelGuidText(const GUID& guid) {
  OLECHAR text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

const VelClassRegistration kVelRegFactory{&CLSID_VelItemPluginFactory, u"VelItemPluginFactory", u"Free", nullptr, {}};

const VelClassRegistration kVelRegImage{&CLSID_VelItemImage,
                                        u"VelItemImage",
                                        u"Free",
                                        u"image/jpeg",
                                        {{u".jpg", u"image/jpeg"},
                                         {u".jpeg", u"image/jpeg"},
                                         {u".jif", u"image/jpeg"},
                                         {u".bmp", u"image/bmp"},
                                         {u".gif", u"image/gif"},
                                         {u".png", u"image/png"},
                                         {u".tif", u"image/tiff"},
                                         {u".tiff", u"image/tiff"}}};

const VelClassRegistration kVelRegAudio{
    &CLSID_VelItemAudio,
    u"VelItemAudio",
    u"Free",
    u"audio/amr|audio/m4a|audio/mp4|audio/aac|audio/asf|audio/mpeg|audio/wav|audio/x-ms-wma|audio/3gpp|audio/3gpp2",
    AudioExtensions()};

const VelClassRegistration kVelRegVideo{&CLSID_VelItemVideo,
                                        u"VelItemVideo",
                                        u"Both",
                                        u"video/3gpp2|video/3gpp|video/mp4|video/avi|video/mpeg|video/x-ms-wmv|video/asf",
                                        {{u".3g2", u"video/3gpp2"},
                                         {u".3gp2", u"video/3gpp2"},
                                         {u".3gp", u"video/3gpp"},
                                         {u".3gpp", u"video/3gpp"},
                                         {u".mp4", u"video/mp4"},
                                         {u".mpg4", u"video/mp4"},
                                         {u".avi", u"video/avi"},
                                         {u".asf", u"video/asf"},
                                         {u".m1v", u"video/mpeg"},
                                         {u".m2v", u"video/mpeg"},
                                         {u".mp2", u"video/mpeg"},
                                         {u".mp2v", u"video/mpeg"},
                                         {u".mpv2", u"video/mpeg"},
                                         {u".mpa", u"video/mpeg"},
                                         {u".mpe", u"video/mpeg"},
                                         {u".mpeg", u"video/mpeg"},
                                         {u".mpg", u"video/mpeg"},
                                         {u".wmv", u"video/x-ms-wmv"}}};

const VelClassRegistration kVelRegMMS{&CLSID_VelItemMMS,
                                      u"VelItemMMS",
                                      u"Free",
                                      u"application/vnd.zandor.vexa.mms",
                                      {{u".mms", u"application/vnd.zandor.vexa.mms"}}};

const VelClassRegistration kVelRegSMS{&CLSID_VelItemSMS,
                                      u"VelItemSMS",
                                      u"Free",
                                      u"application/vnd.zandor.vexa.sms",
                                      {{u".vmg", u"application/vnd.zandor.vexa.sms"}}};

// HKCR { NoRemove AppID { '%APPID%' = s 'VelItemPlugins'
//                         'VelItemPlugins.DLL' { val AppID = s '%APPID%' } } }
std::vector<VelRegScript> VelModuleScript() {
  VelRegKey appId = Key(u"AppID", VelRegFlag::NoRemove);
  appId.children.push_back(KeyWithDefault(u"%APPID%", kVelProjectName));
  VelRegKey dll = Key(std::u16string(kVelProjectName) + u".DLL");
  dll.values.push_back({u"AppID", u"%APPID%"});
  appId.children.push_back(std::move(dll));
  return {VelRegScript{HKEY_CLASSES_ROOT, {std::move(appId)}}};
}

std::vector<VelRegScript> VelClassScript(const VelClassRegistration& c) {
  const std::u16string clsid = VelGuidText(*c.clsid);
  const std::u16string description = std::u16string(c.coclass) + u" Class";
  const std::u16string progId = std::u16string(kVelProjectName) + u"." + c.coclass;
  const std::u16string versioned = progId + u".1";

  VelRegKey versionedKey = KeyWithDefault(versioned, description);
  versionedKey.children.push_back(KeyWithDefault(u"CLSID", clsid));

  VelRegKey progIdKey = KeyWithDefault(progId, description);
  progIdKey.children.push_back(KeyWithDefault(u"CLSID", clsid));
  progIdKey.children.push_back(KeyWithDefault(u"CurVer", versioned));

  VelRegKey classKey = KeyWithDefault(clsid, description, VelRegFlag::ForceRemove);
  classKey.children.push_back(KeyWithDefault(u"ProgID", versioned));
  classKey.children.push_back(KeyWithDefault(u"VersionIndependentProgID", progId));
  classKey.children.push_back(Key(u"Programmable", VelRegFlag::ForceRemove));
  VelRegKey server = KeyWithDefault(u"InprocServer32", u"%MODULE%");
  server.values.push_back({u"ThreadingModel", c.threadingModel});
  classKey.children.push_back(std::move(server));
  classKey.children.push_back(KeyWithDefault(u"TypeLib", VelGuidText(LIBID_VelItemPluginsLib)));
  classKey.values.push_back({u"AppID", u"%APPID%"});
  VelRegKey clsidRoot = Key(u"CLSID", VelRegFlag::NoRemove);
  clsidRoot.children.push_back(std::move(classKey));

  std::vector<VelRegScript> scripts;
  scripts.push_back({HKEY_CLASSES_ROOT, {}});
  scripts.back().keys.push_back(std::move(versionedKey));
  scripts.back().keys.push_back(std::move(progIdKey));
  scripts.back().keys.push_back(std::move(clsidRoot));

  if (c.supportedMimes) {
    VelRegKey plugin = Key(clsid, VelRegFlag::ForceRemove);
    plugin.values.push_back({u"SupportedMIMEs", c.supportedMimes});
    for (const VelPluginExtension& e : c.extensions) plugin.values.push_back({e.extension, e.mimeType});
    VelRegKey plugins = Key(u"ItemPlugins", VelRegFlag::NoRemove);
    plugins.children.push_back(std::move(plugin));
    VelRegKey platform = Key(u"VelPlatform", VelRegFlag::NoRemove);
    platform.children.push_back(std::move(plugins));
    VelRegKey maker = Key(u"Zandor", VelRegFlag::NoRemove);
    maker.children.push_back(std::move(platform));
    VelRegKey software = Key(u"SOFTWARE", VelRegFlag::NoRemove);
    software.children.push_back(std::move(maker));
    scripts.push_back({HKEY_LOCAL_MACHINE, {}});
    scripts.back().keys.push_back(std::move(software));
  }
  return scripts;
}

// What registering the library writes, as the platform's type-library
// registration does: the library under TypeLib, and every interface under
// Interface with its marshaler and library.
std::vector<VelRegScript> VelTypeLibScript() {
  const std::u16string libId = VelGuidText(LIBID_VelItemPluginsLib);

  VelRegKey version = KeyWithDefault(kTypeLibVersion, kTypeLibHelpString, VelRegFlag::ForceRemove);
  VelRegKey locale = Key(kTypeLibLocale);
  locale.children.push_back(KeyWithDefault(kTypeLibPlatform, u"%MODULE%"));
  version.children.push_back(std::move(locale));
  version.children.push_back(KeyWithDefault(u"FLAGS", u"0"));
  version.children.push_back(KeyWithDefault(u"HELPDIR", u"%MODULEDIR%"));
  VelRegKey lib = Key(libId);
  lib.children.push_back(std::move(version));
  VelRegKey typeLibRoot = Key(u"TypeLib", VelRegFlag::NoRemove);
  typeLibRoot.children.push_back(std::move(lib));

  VelRegKey interfaceRoot = Key(u"Interface", VelRegFlag::NoRemove);
  for (const VelTypeLibInterface& itf : kVelItemPluginsInterfaces) {
    VelRegKey k = KeyWithDefault(VelGuidText(*itf.iid), itf.name, VelRegFlag::ForceRemove);
    k.children.push_back(KeyWithDefault(u"ProxyStubClsid32", kTypeLibMarshaler));
    VelRegKey typeLib = KeyWithDefault(u"TypeLib", libId);
    typeLib.values.push_back({u"Version", kTypeLibVersion});
    k.children.push_back(std::move(typeLib));
    interfaceRoot.children.push_back(std::move(k));
  }
  return {VelRegScript{HKEY_CLASSES_ROOT, {std::move(typeLibRoot), std::move(interfaceRoot)}}};
}
