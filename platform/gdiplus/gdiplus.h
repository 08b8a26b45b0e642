// GDI+ as the image code reaches it: start-up and shut-down, images opened
// from a file with their property items (EXIF, GIF and PNG metadata by tag
// number), frame dimensions and frame counts, and the pixel size.
//
// Built on libgdiplus. What differs from calling that library directly:
// - Start-up is counted. The library's own start-up runs once per process and
//   its shut-down never runs while the process lives: it would pull the
//   library out from under every other thread using it. Each GdiplusStartup
//   hands out a token of its own; GdiplusShutdown takes it back.
// - Image paths are module path texts ("\\?\" prefix, "\" separators).
// - Property values come in the platform's byte order (little-endian numbers)
//   whatever the byte order of the file's EXIF block, and the thumbnail IFD's
//   tags carry the thumbnail tag numbers (PropertyTagThumbnail*).
// - Out-parameters are cleared before each call, so a failing call never
//   leaves stale data behind.
//
// Thread safety: the functions and any number of Image objects may be used
// from any thread at once; one Image object belongs to one thread at a time.
// Calls into the library are serialised inside.
#pragma once

#include "platform/com/types.h"

namespace Gdiplus {

enum Status : int {
  Ok = 0,
  GenericError = 1,
  InvalidParameter = 2,
  OutOfMemory = 3,
  ObjectBusy = 4,
  InsufficientBuffer = 5,
  NotImplemented = 6,
  Win32Error = 7,
  WrongState = 8,
  Aborted = 9,
  FileNotFound = 10,
  ValueOverflow = 11,
  AccessDenied = 12,
  UnknownImageFormat = 13,
  FontFamilyNotFound = 14,
  FontStyleNotFound = 15,
  NotTrueTypeFont = 16,
  UnsupportedGdiplusVersion = 17,
  GdiplusNotInitialized = 18,
  PropertyNotFound = 19,
  PropertyNotSupported = 20,
  ProfileNotFound = 21,
};

enum DebugEventLevel : int { DebugEventLevelFatal = 0, DebugEventLevelWarning = 1 };
using DebugEventProc = void (*)(DebugEventLevel level, CHAR* message);
using NotificationHookProc = Status (*)(ULONG_PTR* token);
using NotificationUnhookProc = void (*)(ULONG_PTR token);

struct GdiplusStartupInput {
  std::uint32_t GdiplusVersion;  // must be 1
  DebugEventProc DebugEventCallback;
  BOOL SuppressBackgroundThread;
  BOOL SuppressExternalCodecs;

  GdiplusStartupInput(DebugEventProc debugEventCallback = nullptr, BOOL suppressBackgroundThread = FALSE,
                      BOOL suppressExternalCodecs = FALSE)
      : GdiplusVersion(1),
        DebugEventCallback(debugEventCallback),
        SuppressBackgroundThread(suppressBackgroundThread),
        SuppressExternalCodecs(suppressExternalCodecs) {}
};

// Filled only when SuppressBackgroundThread is set: the caller then runs the
// hooks itself. There is no background thread here; the hooks do nothing.
struct GdiplusStartupOutput {
  NotificationHookProc NotificationHook;
  NotificationUnhookProc NotificationUnhook;
};

// Ok with a new non-zero *token; InvalidParameter for a null token or input,
// or for a suppressed background thread without output;
// UnsupportedGdiplusVersion for a version other than 1; GenericError when
// the library cannot start.
Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, GdiplusStartupOutput* output);
// Gives back a token of GdiplusStartup; an unknown or repeated token is ignored.
void GdiplusShutdown(ULONG_PTR token);

using PROPID = ULONG;

// One property item, as GetPropertyItem lays it out in the caller's buffer:
// the value bytes follow the record itself.
class PropertyItem {
 public:
  PROPID id;     // tag number (PropertyTag*)
  ULONG length;  // bytes of value
  WORD type;     // PropertyTagType*
  void* value;
};
static_assert(sizeof(void*) != 8 || sizeof(PropertyItem) == 24, "the platform's PropertyItem layout");

// Property value types.
constexpr WORD PropertyTagTypeByte = 1;
constexpr WORD PropertyTagTypeASCII = 2;
constexpr WORD PropertyTagTypeShort = 3;
constexpr WORD PropertyTagTypeLong = 4;
constexpr WORD PropertyTagTypeRational = 5;
constexpr WORD PropertyTagTypeUndefined = 7;
constexpr WORD PropertyTagTypeSLONG = 9;
constexpr WORD PropertyTagTypeSRational = 10;

// Tag numbers of the main image, the EXIF IFD and the GIF/PNG metadata.
constexpr PROPID PropertyTagImageWidth = 0x0100;
constexpr PROPID PropertyTagImageHeight = 0x0101;
constexpr PROPID PropertyTagBitsPerSample = 0x0102;
constexpr PROPID PropertyTagCompression = 0x0103;
constexpr PROPID PropertyTagImageDescription = 0x010E;
constexpr PROPID PropertyTagEquipMake = 0x010F;
constexpr PROPID PropertyTagEquipModel = 0x0110;
constexpr PROPID PropertyTagOrientation = 0x0112;
constexpr PROPID PropertyTagSamplesPerPixel = 0x0115;
constexpr PROPID PropertyTagXResolution = 0x011A;
constexpr PROPID PropertyTagYResolution = 0x011B;
constexpr PROPID PropertyTagResolutionUnit = 0x0128;
constexpr PROPID PropertyTagSoftwareUsed = 0x0131;
constexpr PROPID PropertyTagDateTime = 0x0132;
constexpr PROPID PropertyTagArtist = 0x013B;
constexpr PROPID PropertyTagJPEGInterFormat = 0x0201;
constexpr PROPID PropertyTagJPEGInterLength = 0x0202;
constexpr PROPID PropertyTagYCbCrPositioning = 0x0213;
constexpr PROPID PropertyTagCopyright = 0x8298;
constexpr PROPID PropertyTagExifIFD = 0x8769;
constexpr PROPID PropertyTagGpsIFD = 0x8825;
constexpr PROPID PropertyTagExifExposureTime = 0x829A;
constexpr PROPID PropertyTagExifFNumber = 0x829D;
constexpr PROPID PropertyTagExifExposureProg = 0x8822;
constexpr PROPID PropertyTagExifISOSpeed = 0x8827;
constexpr PROPID PropertyTagExifVer = 0x9000;
constexpr PROPID PropertyTagExifDTOrig = 0x9003;
constexpr PROPID PropertyTagExifDTDigitized = 0x9004;
constexpr PROPID PropertyTagExifCompConfig = 0x9101;
constexpr PROPID PropertyTagExifShutterSpeed = 0x9201;
constexpr PROPID PropertyTagExifAperture = 0x9202;
constexpr PROPID PropertyTagExifExposureBias = 0x9204;
constexpr PROPID PropertyTagExifMaxAperture = 0x9205;
constexpr PROPID PropertyTagExifMeteringMode = 0x9207;
constexpr PROPID PropertyTagExifFlash = 0x9209;
constexpr PROPID PropertyTagExifFocalLength = 0x920A;
constexpr PROPID PropertyTagExifFPXVer = 0xA000;
constexpr PROPID PropertyTagExifPixXDim = 0xA002;
constexpr PROPID PropertyTagExifPixYDim = 0xA003;
constexpr PROPID PropertyTagExifInterop = 0xA005;
constexpr PROPID PropertyTagExifFocalXRes = 0xA20E;
constexpr PROPID PropertyTagExifFocalYRes = 0xA20F;
constexpr PROPID PropertyTagExifFocalResUnit = 0xA210;
constexpr PROPID PropertyTagExifWhiteBalance = 0xA403;
constexpr PROPID PropertyTagExifFocalLengthIn35mmFilm = 0xA405;
constexpr PROPID PropertyTagFrameDelay = 0x5100;
constexpr PROPID PropertyTagLoopCount = 0x5101;
// Tag numbers of the thumbnail (the EXIF block's second IFD).
constexpr PROPID PropertyTagThumbnailFormat = 0x5012;
constexpr PROPID PropertyTagThumbnailWidth = 0x5020;
constexpr PROPID PropertyTagThumbnailHeight = 0x5021;
constexpr PROPID PropertyTagThumbnailBitsPerSample = 0x5022;
constexpr PROPID PropertyTagThumbnailCompression = 0x5023;
constexpr PROPID PropertyTagThumbnailPhotometricInterp = 0x5024;
constexpr PROPID PropertyTagThumbnailImageDescription = 0x5025;
constexpr PROPID PropertyTagThumbnailEquipMake = 0x5026;
constexpr PROPID PropertyTagThumbnailEquipModel = 0x5027;
constexpr PROPID PropertyTagThumbnailStripOffsets = 0x5028;
constexpr PROPID PropertyTagThumbnailOrientation = 0x5029;
constexpr PROPID PropertyTagThumbnailSamplesPerPixel = 0x502A;
constexpr PROPID PropertyTagThumbnailRowsPerStrip = 0x502B;
constexpr PROPID PropertyTagThumbnailStripBytesCount = 0x502C;
constexpr PROPID PropertyTagThumbnailResolutionX = 0x502D;
constexpr PROPID PropertyTagThumbnailResolutionY = 0x502E;
constexpr PROPID PropertyTagThumbnailPlanarConfig = 0x502F;
constexpr PROPID PropertyTagThumbnailResolutionUnit = 0x5030;
constexpr PROPID PropertyTagThumbnailTransferFunction = 0x5031;
constexpr PROPID PropertyTagThumbnailSoftwareUsed = 0x5032;
constexpr PROPID PropertyTagThumbnailDateTime = 0x5033;
constexpr PROPID PropertyTagThumbnailArtist = 0x5034;
constexpr PROPID PropertyTagThumbnailWhitePoint = 0x5035;
constexpr PROPID PropertyTagThumbnailPrimaryChromaticities = 0x5036;
constexpr PROPID PropertyTagThumbnailYCbCrCoefficients = 0x5037;
constexpr PROPID PropertyTagThumbnailYCbCrSubsampling = 0x5038;
constexpr PROPID PropertyTagThumbnailYCbCrPositioning = 0x5039;
constexpr PROPID PropertyTagThumbnailRefBlackWhite = 0x503A;
constexpr PROPID PropertyTagThumbnailCopyRight = 0x503B;

}  // namespace Gdiplus

// Frame dimensions (the platform declares them outside the namespace).
extern "C" {
extern const GUID FrameDimensionTime;        // {6AEDBD6D-3FB5-418A-83A6-7F45229DC872}: animation frames
extern const GUID FrameDimensionResolution;  // {84236F7B-3BD3-428F-8DAB-4EA1439CA315}
extern const GUID FrameDimensionPage;        // {7462DC86-6180-4C7E-8E3F-EE7333A7A483}: pages of a TIFF
}

namespace Gdiplus {

// An image opened from a file. A failing call records its status, which
// GetLastStatus hands out once (and then answers Ok until the next failure).
class Image {
 public:
  // Opens and decodes filename (a module path text) and reads its size,
  // frames and property items. A file that cannot be opened or decoded
  // leaves an image with no content: every call then fails
  // (InvalidParameter) and GetLastStatus first reports why: FileNotFound (no
  // such file, or a path with no meaning here), AccessDenied (a folder, no
  // permission), GdiplusNotInitialized (no start-up token outstanding),
  // OutOfMemory (data the decoder rejects, as the platform says too),
  // InvalidParameter (a null name).
  explicit Image(const WCHAR* filename, BOOL useEmbeddedColorManagement = FALSE);
  virtual ~Image();
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  // new Image(filename, ...): the caller deletes it.
  static Image* FromFile(const WCHAR* filename, BOOL useEmbeddedColorManagement = FALSE);

  Status GetLastStatus() const;

  UINT GetWidth();   // 0 on failure
  UINT GetHeight();  // 0 on failure

  UINT GetPropertyCount();  // 0 on failure
  // list gets numOfProperty tag numbers; numOfProperty must equal
  // GetPropertyCount (InvalidParameter otherwise). list is zeroed first.
  Status GetPropertyIdList(UINT numOfProperty, PROPID* list);
  // Bytes GetPropertyItem needs for propId: the record plus its value (0 on
  // failure: PropertyNotFound).
  UINT GetPropertyItemSize(PROPID propId);
  // The item into buffer (propSize bytes, at least GetPropertyItemSize): the
  // record first, its value right after it, buffer->value pointing there.
  // The record is zeroed first. Numeric values hold whole elements only; an
  // item shorter than one element of its type has no value (length 0, value
  // null).
  Status GetPropertyItem(PROPID propId, UINT propSize, PropertyItem* buffer);
  // The bytes GetAllPropertyItems needs and the number of items (both 0
  // first, and on failure).
  Status GetPropertySize(UINT* totalBufferSize, UINT* numProperties);
  // Every item: numProperties records, then their values.
  Status GetAllPropertyItems(UINT totalBufferSize, UINT numProperties, PropertyItem* allItems);

  UINT GetFrameDimensionsCount();  // 0 on failure
  // count dimension identifiers (count must equal GetFrameDimensionsCount);
  // dimensionIDs is zeroed first.
  Status GetFrameDimensionsList(GUID* dimensionIDs, UINT count);
  UINT GetFrameCount(const GUID* dimensionID);  // 0 on failure

 private:
  Status SetStatus(Status status) const;

  struct Content;
  Content* content_ = nullptr;
  mutable Status lastResult_ = Ok;
};

}  // namespace Gdiplus
