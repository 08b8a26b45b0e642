// The module's outward contract, the type library VelItemPluginsLib 1.0: the
// validation status bits, the dual interfaces IVelItemPluginFactory and
// IVelItemPlugin (vtable slots and DISPIDs fixed, each with its dispatch
// table), the IUnknown-only extension interfaces of the image, audio and MMS
// plugins, and the fixed identifiers of the library, the application and the
// six classes.
//
// The identifiers never change once published: registrations and the plugin
// configuration in the registry are keyed by them. The audio plugin's CLSID
// text sorts before the video plugin's (ignoring case), so for the extensions
// both claim the configuration lists the audio plugin first.
//
// Thread safety: declarations and immutable tables only.
#pragma once

#include "contract/VelItemsLib.h"
#include "platform/com/dispatch.h"
#include "platform/com/interfaces.h"

// ---------------------------------------------------------------------------
// Identifiers.

// {04ED4152-080B-4F83-98D7-445DFD011491}
inline constexpr GUID LIBID_VelItemPluginsLib = {0x04ED4152, 0x080B, 0x4F83, {0x98, 0xD7, 0x44, 0x5D, 0xFD, 0x01, 0x14, 0x91}};
// {DB43915B-00B2-4C51-AA34-8A52B1104C18}
inline constexpr GUID APPID_VelItemPlugins = {0xDB43915B, 0x00B2, 0x4C51, {0xAA, 0x34, 0x8A, 0x52, 0xB1, 0x10, 0x4C, 0x18}};

// {B53EFB24-44AA-4EC8-AF33-8EC686A9E48B}
inline constexpr IID IID_IVelItemPluginFactory = {0xB53EFB24, 0x44AA, 0x4EC8, {0xAF, 0x33, 0x8E, 0xC6, 0x86, 0xA9, 0xE4, 0x8B}};
// {7A30C070-B29C-4D3C-89AF-B0C6148F8FCC}
inline constexpr IID IID_IVelItemPlugin = {0x7A30C070, 0xB29C, 0x4D3C, {0x89, 0xAF, 0xB0, 0xC6, 0x14, 0x8F, 0x8F, 0xCC}};
// {46D1A7E6-9857-45BC-A0C3-4FECF96856BD}
inline constexpr IID IID_IVelItemImage = {0x46D1A7E6, 0x9857, 0x45BC, {0xA0, 0xC3, 0x4F, 0xEC, 0xF9, 0x68, 0x56, 0xBD}};
// {74D45E4B-E14D-4234-8CAF-451B81D8A04D}
inline constexpr IID IID_IVelItemAudio = {0x74D45E4B, 0xE14D, 0x4234, {0x8C, 0xAF, 0x45, 0x1B, 0x81, 0xD8, 0xA0, 0x4D}};
// {2C6B887B-E682-4070-BCBD-A8E5CB4AB23C}
inline constexpr IID IID_IVelItemMMS = {0x2C6B887B, 0xE682, 0x4070, {0xBC, 0xBD, 0xA8, 0xE5, 0xCB, 0x4A, 0xB2, 0x3C}};

// {188BA3CE-72EA-47C8-AC9B-40AAA0A88A65}
inline constexpr CLSID CLSID_VelItemPluginFactory = {0x188BA3CE, 0x72EA, 0x47C8, {0xAC, 0x9B, 0x40, 0xAA, 0xA0, 0xA8, 0x8A, 0x65}};
// {16DDA287-F03B-4507-BCDB-7A9E39D9A2AE}
inline constexpr CLSID CLSID_VelItemImage = {0x16DDA287, 0xF03B, 0x4507, {0xBC, 0xDB, 0x7A, 0x9E, 0x39, 0xD9, 0xA2, 0xAE}};
// {96110D89-A6B8-4D6C-A2CD-1DC24790AF01}  (sorts before the video plugin's)
inline constexpr CLSID CLSID_VelItemAudio = {0x96110D89, 0xA6B8, 0x4D6C, {0xA2, 0xCD, 0x1D, 0xC2, 0x47, 0x90, 0xAF, 0x01}};
// {D7D80993-8917-4971-8C1D-E2D05636D8F4}
inline constexpr CLSID CLSID_VelItemVideo = {0xD7D80993, 0x8917, 0x4971, {0x8C, 0x1D, 0xE2, 0xD0, 0x56, 0x36, 0xD8, 0xF4}};
// {434D282E-BAAE-4A13-ACEB-EA46732862F1}
inline constexpr CLSID CLSID_VelItemMMS = {0x434D282E, 0xBAAE, 0x4A13, {0xAC, 0xEB, 0xEA, 0x46, 0x73, 0x28, 0x62, 0xF1}};
// {1F66231A-7C7B-47D1-BAA1-5A09B69F89F5}
inline constexpr CLSID CLSID_VelItemSMS = {0x1F66231A, 0x7C7B, 0x47D1, {0xBA, 0xA1, 0x5A, 0x09, 0xB6, 0x9F, 0x89, 0xF5}};

// Version-dependent ProgIDs: the source of every error object a class raises.
inline constexpr char16_t kProgIdVelItemPluginFactory[] = u"VelItemPlugins.VelItemPluginFactory.1";
inline constexpr char16_t kProgIdVelItemImage[] = u"VelItemPlugins.VelItemImage.1";
inline constexpr char16_t kProgIdVelItemAudio[] = u"VelItemPlugins.VelItemAudio.1";
inline constexpr char16_t kProgIdVelItemVideo[] = u"VelItemPlugins.VelItemVideo.1";
inline constexpr char16_t kProgIdVelItemMMS[] = u"VelItemPlugins.VelItemMMS.1";
inline constexpr char16_t kProgIdVelItemSMS[] = u"VelItemPlugins.VelItemSMS.1";

// ---------------------------------------------------------------------------
// Validation status: a bit set, returned by ValidateItem as a long.
enum EVelValidateStatus : LONG {
  EVelValidateStatus_OK = 0,
  EVelValidateStatus_FileMissing = 1,
  EVelValidateStatus_FileCorrupt = 2,
  EVelValidateStatus_FileOld = 4,
  EVelValidateStatus_MetadataOld = 8,
  EVelValidateStatus_FileLocked = 16,
};

// ---------------------------------------------------------------------------
// Interfaces. Slots 0-2 are IUnknown's, 3-6 IDispatch's for the dual ones.

struct IVelItemPlugin;

// "IVelItemPluginFactory Interface"
struct IVelItemPluginFactory : IDispatch {
  STDMETHOD(CreateWithMimeType)(BSTR strMimeType, IVelItemPlugin** ppiRetVal) = 0;  // 7, DISPID 1
  STDMETHOD(CreateWithFile)(BSTR strFilePath, IVelItemPlugin** ppiRetVal) = 0;      // 8, DISPID 2
  STDMETHOD(CreateWithItem)(IVelItem* piItem, IVelItemPlugin** ppiRetVal) = 0;      // 9, DISPID 3
  STDMETHOD(GetRegisteredMimeTypes)(VARIANT* pvarMIMEs) = 0;                        // 10, DISPID 4
  STDMETHOD(IsRegisteredMimeType)(BSTR strMimeType, VARIANT_BOOL* pbRetVal) = 0;    // 11, DISPID 5

  static const vel::com::DispatchTable kDispatch;
};
VEL_DECLARE_IID(IVelItemPluginFactory, IID_IVelItemPluginFactory);

// "IVelItemPlugin Interface"
struct IVelItemPlugin : IDispatch {
  STDMETHOD(QueryCapability)(LONG nCapability, VARIANT_BOOL* pbRetVal) = 0;  // 7, DISPID 1
  STDMETHOD(get_Name)(BSTR* pVal) = 0;                                       // 8, DISPID 2 (property get)
  STDMETHOD(get_CustomStoragePath)(BSTR* pVal) = 0;                          // 9, DISPID 3 (property get)
  STDMETHOD(ValidateItem)(IVelItem* pItem, LONG* pStatus) = 0;               // 10, DISPID 4
  STDMETHOD(ReadMetadata)(BSTR strFilePath, IVelItem** ppiRetVal) = 0;       // 11, DISPID 5
  STDMETHOD(WriteMetadata)(BSTR strFilePath, IVelItem* pItem) = 0;           // 12, DISPID 6
  STDMETHOD(GetItemPath)(IVelItem* pItem, BSTR* pVal) = 0;                   // 13, DISPID 7

  static const vel::com::DispatchTable kDispatch;
};
VEL_DECLARE_IID(IVelItemPlugin, IID_IVelItemPlugin);

// "IVelItemImage Interface"
struct IVelItemImage : IUnknown {
  STDMETHOD(ReadIPTCKeywords)(BSTR strFilePath, VARIANT* varKeywords) = 0;
  STDMETHOD(WriteIPTCKeywords)(BSTR strFilePath, VARIANT varKeywords) = 0;
};
VEL_DECLARE_IID(IVelItemImage, IID_IVelItemImage);

// "IVelItemAudio Interface"
struct IVelItemAudio : IUnknown {
  STDMETHOD(ReadPicture)(BSTR strFilePath, VARIANT* varPicture) = 0;
  STDMETHOD(WritePicture)(BSTR strFilePath, VARIANT varPicture) = 0;
};
VEL_DECLARE_IID(IVelItemAudio, IID_IVelItemAudio);

// "IVelItemMMS Interface"
struct IVelItemMMS : IUnknown {
  STDMETHOD(CreateMMS)(IVelItem* pItem, IVelItem* pSenderItem, IVelEnum* spRecipientEnum, VARIANT varFileList,
                       BSTR strTempFolder, BSTR* pstrMMSFilePath) = 0;
  STDMETHOD(CreateSMIL)(IVelItem* pItem, BSTR strTempFolder, IUnknown** enumFiles) = 0;
};
VEL_DECLARE_IID(IVelItemMMS, IID_IVelItemMMS);

// ---------------------------------------------------------------------------
// Dispatch tables, in member order.

inline const vel::com::DispatchTable IVelItemPluginFactory::kDispatch = {
    vel::com::DispMethod<&IVelItemPluginFactory::CreateWithMimeType>(u"CreateWithMimeType", 1),
    vel::com::DispMethod<&IVelItemPluginFactory::CreateWithFile>(u"CreateWithFile", 2),
    vel::com::DispMethod<&IVelItemPluginFactory::CreateWithItem>(u"CreateWithItem", 3),
    vel::com::DispMethod<&IVelItemPluginFactory::GetRegisteredMimeTypes>(u"GetRegisteredMimeTypes", 4),
    vel::com::DispMethod<&IVelItemPluginFactory::IsRegisteredMimeType>(u"IsRegisteredMimeType", 5),
};

inline const vel::com::DispatchTable IVelItemPlugin::kDispatch = {
    vel::com::DispMethod<&IVelItemPlugin::QueryCapability>(u"QueryCapability", 1),
    vel::com::DispPropGet<&IVelItemPlugin::get_Name>(u"Name", 2),
    vel::com::DispPropGet<&IVelItemPlugin::get_CustomStoragePath>(u"CustomStoragePath", 3),
    vel::com::DispMethod<&IVelItemPlugin::ValidateItem>(u"ValidateItem", 4),
    vel::com::DispMethod<&IVelItemPlugin::ReadMetadata>(u"ReadMetadata", 5),
    vel::com::DispMethod<&IVelItemPlugin::WriteMetadata>(u"WriteMetadata", 6),
    vel::com::DispMethod<&IVelItemPlugin::GetItemPath>(u"GetItemPath", 7),
};

// The library's interfaces, for the type-library keys registration writes.
struct VelTypeLibInterface {
  const IID* iid;
  const char16_t* name;
  const vel::com::DispatchTable* dispatch;  // null for the IUnknown-only ones
};
inline constexpr VelTypeLibInterface kVelItemPluginsInterfaces[] = {
    {&IID_IVelItemPluginFactory, u"IVelItemPluginFactory", &IVelItemPluginFactory::kDispatch},
    {&IID_IVelItemPlugin, u"IVelItemPlugin", &IVelItemPlugin::kDispatch},
    {&IID_IVelItemImage, u"IVelItemImage", nullptr},
    {&IID_IVelItemAudio, u"IVelItemAudio", nullptr},
    {&IID_IVelItemMMS, u"IVelItemMMS", nullptr},
};
