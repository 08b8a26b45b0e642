#include "messaging/VelMMSFileHelper.h"

#include <cstdint>
#include <string>

#include "framework/ItemProperties.h"
#include "messaging/MMS/MMSCodec2.h"
#include "messaging/MMS/MMSFileIO.h"
#include "messaging/MMS/MMSWriter.h"
#include "messaging/MMS/PartFileName.h"
#include "messaging/MMS/WspCoding.h"
#include "platform/base/Ascii.h"
#include "platform/com/oleauto.h"
#include "platform/win32/fileapi.h"
#include "ylib/YBufMalloc.h"
#include "ylib/YCOMUtilities.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YFileUtilities.h"
#include "ylib/YString.h"

namespace {

constexpr char16_t kSource[] = u"VelMMSFileHelper";
constexpr std::uint8_t kSmilCode = 0x7D;
constexpr int kLastWriteTime = 2;

using vel::framework::PropertiesOf;

// A recipient's or sender's address: its "Title", or its "Number" when the title is empty.
std::u16string AddressOf(IVelItem* item) {
  std::u16string text = VelItemText(item, u"Title");
  return text.empty() ? VelItemText(item, u"Number") : text;
}

// Wide text as bytes of the ANSI code page, as the writer takes its header texts.
std::string ToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  CYBufMalloc buffer;
  CYStringHelper::StringToMultiByte(text, buffer, CP_ACP);
  return std::string(static_cast<const char*>(buffer.GetBuf()), static_cast<std::size_t>(buffer.GetSize()));
}

std::u16string MimeTypeOf(const CMultipartFile& part, std::u16string_view fileName) {
  if (part.contentType != 0) {
    const char* text = vel::wsp::ContentTypeToText(part.contentType);
    return text ? CYStringHelper::MultiByteToString(text, 0, CP_ACP) : std::u16string();
  }
  return CVelMMSFileHelper::PartTypeFromExtension(fileName);
}

}  // namespace

const std::array<VelPartExtensionType, 4> kPartExtensionTypes = {{
    {u"3gp", u"video/3gpp"},
    {u"amr", u"audio/AMR"},
    {u"awb", u"audio/AMR-WB"},
    {u"smil, smi", u"application/smil"},
}};

std::u16string VelItemText(IVelItem* item, const char16_t* name) {
  return YErrorFrame({u"VelItemText", kSource, __LINE__}, [&](const YFrame& f) {
    if (!item) YThrowHr(E_POINTER, f);
    ComPtr<IVelProperties> properties = PropertiesOf(item, f);
    const _bstr_t key(name);
    const _bstr_t ns(kCoreNamespace);
    VARIANT_BOOL exists = VARIANT_FALSE;
    YCheckHr(properties->Exists(key, ns, &exists));
    if (!exists) return std::u16string();
    _variant_t value;
    YCheckHr(properties->get_Value(key, ns, value.GetAddress()));
    if (value.vt == VT_EMPTY || value.vt == VT_NULL) return std::u16string();
    return std::u16string(_bstr_t(value).view());
  });
}

std::u16string CVelMMSFileHelper::PartTypeFromExtension(std::u16string_view fileName) {
  return YErrorFrame({u"CVelMMSFileHelper::PartTypeFromExtension", kSource, __LINE__}, [&] {
    std::u16string ext = CYFileUtilities::GetFileExtension(fileName);
    ext.erase(0, ext.find_first_not_of(u'.') == std::u16string::npos ? ext.size() : ext.find_first_not_of(u'.'));
    if (ext.empty()) return std::u16string();
    for (const VelPartExtensionType& row : kPartExtensionTypes) {
      // A row may list several extensions ("smil, smi"); each one counts on its own.
      std::u16string_view list(row.extensions);
      while (!list.empty()) {
        const std::size_t comma = list.find(u',');
        std::u16string_view one = list.substr(0, comma);
        while (!one.empty() && one.front() == u' ') one.remove_prefix(1);
        while (!one.empty() && one.back() == u' ') one.remove_suffix(1);
        if (one == ext) return std::u16string(row.mimeType);
        list = comma == std::u16string_view::npos ? std::u16string_view() : list.substr(comma + 1);
      }
    }
    return std::u16string();
  });
}

std::u16string CVelMMSFileHelper::MessageFileName(std::u16string_view title) {
  return YErrorFrame({u"CVelMMSFileHelper::MessageFileName", kSource, __LINE__}, [&] {
    // The title is the person's text, not a path: only its last component may
    // name the file, and a title that leaves nothing usable gets a plain name,
    // so the message never lands outside (or beside) the folder.
    return std::u16string(vel::mms::UsableLastComponent(title).value_or(u"message")) + u".mms";
  });
}

std::u16string CVelMMSFileHelper::CreateMMSFile(IVelItem* item, IVelItem* sender, IVelEnum* recipients,
                                                const std::vector<std::u16string>& files,
                                                std::u16string_view folder) {
  return YErrorFrame({u"CVelMMSFileHelper::CreateMMSFile", kSource, __LINE__}, [&](const YFrame& f) {
    CMMSWriter writer;
    writer.SetMessageType(0x80);
    writer.SetTransactionId("Daylume");

    for (const std::u16string& path : files) {
      if (vel::AsciiEqualsNoCase(CYFileUtilities::GetFileExtension(path), u".cid")) continue;
      const int code = CMMSWriter::ExtensionToContentType(path.c_str());
      if (code < 256) writer.AddPart(path.c_str(), static_cast<std::uint8_t>(code));
    }

    if (recipients) {
      LONG count = 0;
      YCheckHr(recipients->get_Count(&count));
      std::u16string to;
      for (LONG i = 0; i < count; ++i) {
        _variant_t element;
        YCheckHr(recipients->Item(_variant_t(static_cast<int>(i), VT_INT), element.GetAddress()));
        ComPtr<IVelItem> recipient(static_cast<const VARIANT&>(element));
        if (!recipient) YThrowHr(E_NOINTERFACE, f);
        if (i > 0) to += u"; ";
        to += AddressOf(recipient);
      }
      // A text of 256 bytes or more is refused by the writer: the message then has no To.
      writer.SetTo(ToAnsi(to));
    }
    if (sender) writer.SetFrom(ToAnsi(AddressOf(sender)));

    if (!item) YThrowHr(E_POINTER, f);
    const std::u16string path = CYFileUtilities::ConcatPathname(folder, MessageFileName(VelItemText(item, u"Title")), kNativePathSeparator);
    writer.Write(path.c_str());
    return path;
  });
}

ComPtr<IVelEnum> CVelMMSFileHelper::ExtractFilesFromMMS(IVelItem* item, std::u16string_view folder) {
  return YErrorFrame({u"CVelMMSFileHelper::ExtractFilesFromMMS", kSource, __LINE__}, [&](const YFrame& f) {
    if (!item) YThrowHr(E_POINTER, f);
    ComPtr<IVelEnum> result;
    ComPtr<IUnknown> created = CYCOMUtils::CreateObject(CLSID_VelEnum, u"VelItemsLib::VelEnum", CLSCTX_ALL);
    YCheckHr(created.QueryInterface(result));

    CMMSCodec2 codec;
    if (codec.ParseMmsMessage(VelItemText(item, u"URI")) != 0) return result;

    const CMultipartContainer* container = codec.GetContainer();
    for (std::size_t index = 0; index < container->Count(); ++index) {
      CMultipartFile& part = *container->At(index);
      std::u16string name =
          part.location.empty()
              ? std::u16string()
              : CYStringHelper::MultiByteToString(part.location.data(), part.location.size(), CP_ACP);
      if (part.contentType == kSmilCode) {
        if (name.empty()) name = u"pres.smil";
        part.NormalizeSmil();
      }
      name = vel::mms::MakeSafePartFileName(name, index, part);
      // Each part gets a file of its own that did not exist before: a name
      // already taken in the folder (by an earlier part, a file or a link of
      // someone else's) gets a free variant, and the item names the file
      // really written. A part without data still gets its (empty) file, so
      // one empty part does not cost the whole message its extraction.
      std::u16string path = vel::mms::WriteNewFile(folder, name, part.data.data(), part.data.size());
      // One never created fails below on its time, with the name it would have had.
      if (path.empty()) path = CYFileUtilities::ConcatPathname(folder, name, kNativePathSeparator);

      ComPtr<IVelItem> partItem;
      ComPtr<IUnknown> createdItem = CYCOMUtils::CreateObject(CLSID_VelItem, u"VelItemsLib::VelItem", CLSCTX_ALL);
      YCheckHr(createdItem.QueryInterface(partItem));
      ComPtr<IVelProperties> properties = PropertiesOf(partItem, f);
      const _bstr_t ns(kCoreNamespace);
      const auto size = static_cast<std::uint32_t>(CYFileUtilities::GetFileSize(path));
      const DATE modified = CYFileUtilities::GetFileTime(path, kLastWriteTime, 0);
      YCheckHr(properties->Add(_variant_t(std::u16string_view(path)), _bstr_t(u"URI"), ns));
      YCheckHr(properties->Add(_variant_t(static_cast<int>(size), VT_INT), _bstr_t(u"Size"), ns));
      YCheckHr(properties->Add(_variant_t(modified, VT_DATE), _bstr_t(u"LastModifiedDate"), ns));
      YCheckHr(properties->Add(_variant_t(std::u16string_view(MimeTypeOf(part, name))), _bstr_t(u"ItemType"), ns));

      _variant_t missing(static_cast<int>(DISP_E_PARAMNOTFOUND), VT_ERROR);
      YCheckHr(result->Add(_variant_t(static_cast<IUnknown*>(partItem.get())), missing));
    }
    return result;
  });
}
