// The MMS PDU decoder: reads a binary MMS message (".mms") into its header
// (CMMSHeader) and its multipart body (CMultipartContainer of CMultipartFile).
// The codec is the face of the decoder; the reading itself is MMSPduParser's.
//
//   CMMSCodec2 codec;
//   if (codec.ParseMmsMessage(path) == 0) {
//     int i = 0;
//     while (CMultipartFile* part = codec.GetContainer()->GetNext(i)) { ... }
//   }
//
// The decoder reports by return code and level-4 trace lines, never by
// exception for anything a file holds; only running out of memory while
// reading raises a CYException. Every read stays inside the file's buffer and
// inside the declared header area of a body entry.
//
// Thread safety: none; each caller builds its own codec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "messaging/MMS/MMSHeader.h"
#include "messaging/MMS/MultipartContainer.h"
#include "messaging/MMS/MultipartFile.h"

// Return codes of the decoder.
constexpr int kMmsErrEmptyPath = -1;
constexpr int kMmsErrEmptyFile = -2;
constexpr int kMmsErrReadFailed = -3;
constexpr int kMmsErrOpenFailed = -4;
constexpr int kMmsErrLengthMismatch = -11;
constexpr int kMmsErrCopyFailed = -12;
constexpr int kMmsErrBadHeader = -20;

class CMMSCodec2 {
 public:
  CMMSCodec2();
  CMMSCodec2(const CMMSCodec2&) = delete;
  CMMSCodec2& operator=(const CMMSCodec2&) = delete;
  virtual ~CMMSCodec2();

  // 0 when the file decodes, otherwise a negative code (kMmsErr...).
  int ParseMmsMessage(const char16_t* path);
  int ParseMmsMessage(const std::u16string& path) { return ParseMmsMessage(path.c_str()); }

  // Created empty on first use.
  CMMSHeader* GetHeader();
  CMultipartContainer* GetContainer();

  // The offset of the body, 0 for no input, or kMmsErrBadHeader.
  static int ParseHeader(const std::uint8_t* data, std::size_t length, CMMSHeader* header);
  // Bytes consumed (> 0), 0, or a negative code; parts read before an error stay.
  static int ParseMultipartFiles(const std::uint8_t* data, std::size_t length, CMultipartContainer* container);
  // The entry's total size, or a negative code.
  static int ReadMultipartFile(const std::uint8_t* data, std::size_t length, CMultipartFile* part);

 private:
  std::unique_ptr<CMMSHeader> header_;
  std::unique_ptr<CMultipartContainer> container_;
};
