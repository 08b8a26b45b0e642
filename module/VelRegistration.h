// The module's registration scripts: the module script (AppID), one script
// per class (ProgIDs, CLSID key, and for the plugins their configuration
// under HKEY_LOCAL_MACHINE\SOFTWARE\Zandor\VelPlatform\ItemPlugins), and the
// type-library keys (TypeLib and Interface), all as VelRegScript data.
//
// Thread safety: the tables are immutable after static initialisation.
#pragma once

#include <vector>

#include "module/VelRegistrar.h"

struct VelPluginExtension {
  const char16_t* extension;  // with its dot
  const char16_t* mimeType;
};

struct VelClassRegistration {
  const CLSID* clsid;
  const char16_t* coclass;         // "VelItemAudio": ProgIDs, class description
  const char16_t* threadingModel;  // "Free" or "Both"
  const char16_t* supportedMimes;  // null: the class writes no plugin configuration
  std::vector<VelPluginExtension> extensions;
};

// The classes in object-map order: factory, image, audio, video, MMS, SMS.
extern const VelClassRegistration kVelRegFactory;
extern const VelClassRegistration kVelRegImage;
extern const VelClassRegistration kVelRegAudio;
extern const VelClassRegistration kVelRegVideo;
extern const VelClassRegistration kVelRegMMS;
extern const VelClassRegistration kVelRegSMS;

// The project name, the module's AppID key text.
inline constexpr char16_t kVelProjectName[] = u"VelItemPlugins";

std::vector<VelRegScript> VelModuleScript();
std::vector<VelRegScript> VelClassScript(const VelClassRegistration& c);
std::vector<VelRegScript> VelTypeLibScript();

// "{XXXXXXXX-...}" in upper case.
std::u16string VelGuidText(const GUID& guid);
