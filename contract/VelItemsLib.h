// The host item model as the module sees it (the "VelItems.tlb" library,
// VelItemsLib): the dual interfaces IVelItem, IVelProperties, IVelProperty and
// IVelEnum in vtable slot order, their IIDs and dispatch tables, the classes'
// CLSIDs and ProgIDs, and the property namespaces.
//
// Slots 0-2 are IUnknown's and 3-6 IDispatch's; the first own slot is 7. The
// module calls only some of the slots (the others are marked "not called by
// the module"), but every slot is a real member of the host's classes.
//
// Every interface's kDispatch table names its members for IDispatch
// (GetIDsOfNames ignores case). Header only: the host's item library and the
// module each compile their own copy of the tables.
//
// Thread safety: declarations and immutable tables only. The host's objects
// may be called from any thread (threading model "Free").
#pragma once

#include "platform/com/dispatch.h"
#include "platform/com/interfaces.h"

// ---------------------------------------------------------------------------
// Identifiers. Fixed once chosen: registrations and callers keep them.

// {251024CD-8A2F-4F8F-9985-FBDDAEDA946C}
inline constexpr GUID LIBID_VelItemsLib = {0x251024CD, 0x8A2F, 0x4F8F, {0x99, 0x85, 0xFB, 0xDD, 0xAE, 0xDA, 0x94, 0x6C}};
// {A0E249E9-97D7-4605-8FE0-3AC7B1D3BE4A}
inline constexpr IID IID_IVelItem = {0xA0E249E9, 0x97D7, 0x4605, {0x8F, 0xE0, 0x3A, 0xC7, 0xB1, 0xD3, 0xBE, 0x4A}};
// {6193CF61-2E54-4DB6-BC3F-BA93D32C6269}
inline constexpr IID IID_IVelProperties = {0x6193CF61, 0x2E54, 0x4DB6, {0xBC, 0x3F, 0xBA, 0x93, 0xD3, 0x2C, 0x62, 0x69}};
// {23E10283-997C-4718-8919-DA7DD677F40F}
inline constexpr IID IID_IVelProperty = {0x23E10283, 0x997C, 0x4718, {0x89, 0x19, 0xDA, 0x7D, 0xD6, 0x77, 0xF4, 0x0F}};
// {E6A809EA-A987-4CBD-99F6-DC5FCDB7224F}
inline constexpr IID IID_IVelEnum = {0xE6A809EA, 0xA987, 0x4CBD, {0x99, 0xF6, 0xDC, 0x5F, 0xCD, 0xB7, 0x22, 0x4F}};
// {29D5B651-8A38-4943-ADE8-B418B9F6C51D}
inline constexpr CLSID CLSID_VelItem = {0x29D5B651, 0x8A38, 0x4943, {0xAD, 0xE8, 0xB4, 0x18, 0xB9, 0xF6, 0xC5, 0x1D}};
// {77F2FE4E-34FA-45E7-B0EE-B8ECE15C66D6}
inline constexpr CLSID CLSID_VelEnum = {0x77F2FE4E, 0x34FA, 0x45E7, {0xB0, 0xEE, 0xB8, 0xEC, 0xE1, 0x5C, 0x66, 0xD6}};

inline constexpr char16_t kVelItemProgId[] = u"VelItemsLib.VelItem";
inline constexpr char16_t kVelItemProgIdVersioned[] = u"VelItemsLib.VelItem.1";
inline constexpr char16_t kVelEnumProgId[] = u"VelItemsLib.VelEnum";
inline constexpr char16_t kVelEnumProgIdVersioned[] = u"VelItemsLib.VelEnum.1";

// Property namespaces.
inline constexpr char16_t kCoreNamespace[] = u"urn:zandor:vel:core";
inline constexpr char16_t kExtendedNamespace[] = u"urn:zandor:vel:extended";
inline constexpr char16_t kGeoNamespace[] = u"http://www.w3.org/2003/01/geo/wgs84_pos#";

// ---------------------------------------------------------------------------
// Interfaces. A property is keyed by name and namespace, compared exactly
// (case matters); a null BSTR is the empty text.

struct IVelProperties;
struct IVelProperty;

// One item: an ordered list of properties, a class word and a label.
struct IVelItem : IDispatch {
  // Slots 7-9, not called by the module: an identifier the host keeps for the
  // item (not content, so Clone does not copy it), and Clear, which removes
  // every property, the class and the label.
  STDMETHOD(get_Id)(BSTR* pVal) = 0;                                   // 7
  STDMETHOD(put_Id)(BSTR newVal) = 0;                                  // 8
  STDMETHOD(Clear)() = 0;                                              // 9
  STDMETHOD(get_Label)(BSTR* pVal) = 0;                                // 10
  STDMETHOD(put_Label)(BSTR newVal) = 0;                               // 11
  STDMETHOD(get_ItemClass)(BSTR* pVal) = 0;                            // 12
  STDMETHOD(put_ItemClass)(BSTR newVal) = 0;                           // 13
  STDMETHOD(get_Properties)(IVelProperties** ppVal) = 0;               // 14
  // Slot 15, not called by the module: replaces all properties of this item
  // by copies of those of the given set (which may belong to another item).
  STDMETHOD(putref_Properties)(IVelProperties* pSet) = 0;              // 15
  // Target missing (VT_ERROR DISP_E_PARAMNOTFOUND, or VT_EMPTY): a new,
  // independent copy. Target an item (VT_DISPATCH, VT_UNKNOWN): this item's
  // properties, class and label replace the target's; the result is the target.
  STDMETHOD(Clone)(VARIANT target, IVelItem** ppItem) = 0;             // 16

  static const vel::com::DispatchTable kDispatch;
};
VEL_DECLARE_IID(IVelItem, IID_IVelItem);

// The property set of one item; changes go straight into the item.
struct IVelProperties : IDispatch {
  // Slots 7-9, not called by the module: the property at a position (from 0),
  // the position of a key (-1 when absent), and removal of every property.
  STDMETHOD(get_Item)(LONG index, IVelProperty** ppVal) = 0;           // 7
  STDMETHOD(IndexOf)(BSTR name, BSTR ns, LONG* pIndex) = 0;            // 8
  STDMETHOD(Clear)() = 0;                                              // 9
  // An absent key fails with E_INVALIDARG (callers ask Exists first).
  STDMETHOD(get_Value)(BSTR name, BSTR ns, VARIANT* pVal) = 0;         // 10
  // Replaces the value in place, or appends the property.
  STDMETHOD(put_Value)(BSTR name, BSTR ns, VARIANT newVal) = 0;        // 11
  // IEnumVARIANT over IVelProperty objects (VT_DISPATCH), a snapshot.
  STDMETHOD(get__NewEnum)(IUnknown** ppEnum) = 0;                      // 12
  // Appends; a key already present has its value replaced in place.
  STDMETHOD(Add)(VARIANT value, BSTR name, BSTR ns) = 0;               // 13
  // An absent key is no error.
  STDMETHOD(Remove)(BSTR name, BSTR ns) = 0;                           // 14
  STDMETHOD(get_Count)(LONG* pCount) = 0;                              // 15
  // Slot 16, not called by the module: the property of a key as an object,
  // or null with S_FALSE when absent.
  STDMETHOD(Find)(BSTR name, BSTR ns, IVelProperty** ppVal) = 0;       // 16
  STDMETHOD(Exists)(BSTR name, BSTR ns, VARIANT_BOOL* pExists) = 0;    // 17

  static const vel::com::DispatchTable kDispatch;
};
VEL_DECLARE_IID(IVelProperties, IID_IVelProperties);

// One property as it was when it was handed out (a read-only snapshot).
struct IVelProperty : IDispatch {
  // Slots 7-9, 11, 13-15 are not called by the module.
  STDMETHOD(get_ValueType)(LONG* pVt) = 0;                             // 7: the VARTYPE of the value
  STDMETHOD(get_IsEmpty)(VARIANT_BOOL* pVal) = 0;                      // 8: VT_EMPTY or VT_NULL
  STDMETHOD(get_Text)(BSTR* pVal) = 0;                                 // 9: the value converted to text
  STDMETHOD(get_Name)(BSTR* pVal) = 0;                                 // 10
  STDMETHOD(get_ExpandedName)(BSTR* pVal) = 0;                         // 11: "{namespace}name"
  STDMETHOD(get_Value)(VARIANT* pVal) = 0;                             // 12
  STDMETHOD(get_IsArray)(VARIANT_BOOL* pVal) = 0;                      // 13
  STDMETHOD(get_Index)(LONG* pIndex) = 0;                              // 14: position in the item when handed out
  STDMETHOD(get_ValueTypeName)(BSTR* pVal) = 0;                        // 15: "VT_BSTR", "VT_ARRAY|VT_UI1", ...
  STDMETHOD(get_Namespace)(BSTR* pVal) = 0;                            // 16

  static const vel::com::DispatchTable kDispatch;
};
VEL_DECLARE_IID(IVelProperty, IID_IVelProperty);

// An ordered list of items.
struct IVelEnum : IDispatch {
  // Slots 7-9, 11-13 and 15 are not called by the module.
  STDMETHOD(get__NewEnum)(IUnknown** ppEnum) = 0;                      // 7: IEnumVARIANT over the items (VT_DISPATCH)
  STDMETHOD(Clear)() = 0;                                              // 8
  STDMETHOD(Remove)(VARIANT index) = 0;                                // 9
  // index: an integer from 0; DISP_E_BADINDEX outside the list.
  STDMETHOD(Item)(VARIANT index, VARIANT* pItem) = 0;                  // 10
  STDMETHOD(Replace)(VARIANT index, VARIANT item) = 0;                 // 11
  STDMETHOD(IndexOf)(VARIANT item, LONG* pIndex) = 0;                  // 12: by object identity; -1 when absent
  STDMETHOD(Contains)(VARIANT item, VARIANT_BOOL* pVal) = 0;           // 13
  // item: VT_UNKNOWN or VT_DISPATCH holding an IVelItem. before missing:
  // appended; an index: inserted before that position (the count appends).
  STDMETHOD(Add)(VARIANT item, VARIANT before) = 0;                    // 14
  STDMETHOD(Clone)(IVelEnum** ppEnum) = 0;                             // 15: a new list of the same items
  STDMETHOD(get_Count)(LONG* pCount) = 0;                              // 16

  static const vel::com::DispatchTable kDispatch;
};
VEL_DECLARE_IID(IVelEnum, IID_IVelEnum);

// ---------------------------------------------------------------------------
// Dispatch tables.

inline const vel::com::DispatchTable IVelItem::kDispatch = {
    vel::com::DispPropGet<&IVelItem::get_Id>(u"Id", 1),
    vel::com::DispPropPut<&IVelItem::put_Id>(u"Id", 1),
    vel::com::DispMethod<&IVelItem::Clear>(u"Clear", 2),
    vel::com::DispPropGet<&IVelItem::get_Label>(u"Label", 3),
    vel::com::DispPropPut<&IVelItem::put_Label>(u"Label", 3),
    vel::com::DispPropGet<&IVelItem::get_ItemClass>(u"ItemClass", 4),
    vel::com::DispPropPut<&IVelItem::put_ItemClass>(u"ItemClass", 4),
    vel::com::DispPropGet<&IVelItem::get_Properties>(u"Properties", 5),
    vel::com::DispPropPut<&IVelItem::putref_Properties>(u"Properties", 5),
    vel::com::DispMethod<&IVelItem::Clone>(u"Clone", 6),
};

inline const vel::com::DispatchTable IVelProperties::kDispatch = {
    vel::com::DispPropGet<&IVelProperties::get_Item>(u"Item", DISPID_VALUE),
    vel::com::DispMethod<&IVelProperties::IndexOf>(u"IndexOf", 8),
    vel::com::DispMethod<&IVelProperties::Clear>(u"Clear", 9),
    vel::com::DispPropGet<&IVelProperties::get_Value>(u"Value", 1),
    vel::com::DispPropPut<&IVelProperties::put_Value>(u"Value", 1),
    vel::com::DispPropGet<&IVelProperties::get__NewEnum>(u"_NewEnum", DISPID_NEWENUM),
    vel::com::DispMethod<&IVelProperties::Add>(u"Add", 2),
    vel::com::DispMethod<&IVelProperties::Remove>(u"Remove", 3),
    vel::com::DispPropGet<&IVelProperties::get_Count>(u"Count", 4),
    vel::com::DispMethod<&IVelProperties::Find>(u"Find", 6),
    vel::com::DispMethod<&IVelProperties::Exists>(u"Exists", 5),
};

inline const vel::com::DispatchTable IVelProperty::kDispatch = {
    vel::com::DispPropGet<&IVelProperty::get_ValueType>(u"ValueType", 4),
    vel::com::DispPropGet<&IVelProperty::get_IsEmpty>(u"IsEmpty", 5),
    vel::com::DispPropGet<&IVelProperty::get_Text>(u"Text", 6),
    vel::com::DispPropGet<&IVelProperty::get_Name>(u"Name", 1),
    vel::com::DispPropGet<&IVelProperty::get_ExpandedName>(u"ExpandedName", 7),
    vel::com::DispPropGet<&IVelProperty::get_Value>(u"Value", DISPID_VALUE),
    vel::com::DispPropGet<&IVelProperty::get_IsArray>(u"IsArray", 8),
    vel::com::DispPropGet<&IVelProperty::get_Index>(u"Index", 9),
    vel::com::DispPropGet<&IVelProperty::get_ValueTypeName>(u"ValueTypeName", 10),
    vel::com::DispPropGet<&IVelProperty::get_Namespace>(u"Namespace", 2),
};

inline const vel::com::DispatchTable IVelEnum::kDispatch = {
    vel::com::DispPropGet<&IVelEnum::get__NewEnum>(u"_NewEnum", DISPID_NEWENUM),
    vel::com::DispMethod<&IVelEnum::Clear>(u"Clear", 3),
    vel::com::DispMethod<&IVelEnum::Remove>(u"Remove", 4),
    vel::com::DispMethod<&IVelEnum::Item>(u"Item", DISPID_VALUE),
    vel::com::DispMethod<&IVelEnum::Replace>(u"Replace", 5),
    vel::com::DispMethod<&IVelEnum::IndexOf>(u"IndexOf", 6),
    vel::com::DispMethod<&IVelEnum::Contains>(u"Contains", 7),
    vel::com::DispMethod<&IVelEnum::Add>(u"Add", 1),
    vel::com::DispMethod<&IVelEnum::Clone>(u"Clone", 8),
    vel::com::DispPropGet<&IVelEnum::get_Count>(u"Count", 2),
};
