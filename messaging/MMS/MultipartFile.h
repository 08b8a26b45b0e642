// CMultipartFile: one body part of a decoded MMS message, with the two things
// done to a part on its way out: SMIL layout and writing it to a file.
//
// Thread safety: none; a part belongs to its container's owner.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/types.h"

class CMultipartFile {
 public:
  virtual ~CMultipartFile();

  std::uint8_t contentType = 0;   // well-known code without the 0x80 bit; 0 for an unknown text type
  std::vector<std::uint8_t> data;
  std::string location;           // the part's name, cleaned of quotes and angle brackets
  std::string typeText;           // the content type as text, when the table does not know it
  UINT charsetCodePage = 0;       // of the charset parameter; 0 when absent
  std::string contentId;          // cleaned like location

  // Creates or replaces the file with the data (through a temporary file in
  // the same folder, so a failure never leaves a damaged file). False for a
  // null path, a part without data, or any failed step.
  bool WriteToFile(const char16_t* path) const;
  // For SMIL text laid out on one line: every ">" not followed by CR gets
  // CR LF after it, unless the text is already laid out line by line.
  void NormalizeSmil();
};
