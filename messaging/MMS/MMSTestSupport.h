// Helpers shared by the MMS tests: byte literals, temporary folders, captured
// trace lines. Every test binary gets its own registry store in a temporary
// folder, so logging never reads the user's configuration.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "ylib/YLogging.h"

using Bytes = std::vector<std::uint8_t>;

// Pieces of a byte string: numbers are bytes, texts are their bytes (no terminator).
struct BytePiece {
  BytePiece(int byte) : bytes{static_cast<std::uint8_t>(byte)} {}  // NOLINT: implicit on purpose
  BytePiece(const char* text) : bytes(text, text + std::string_view(text).size()) {}  // NOLINT
  BytePiece(const Bytes& b) : bytes(b) {}  // NOLINT
  Bytes bytes;
};
Bytes B(std::initializer_list<BytePiece> pieces);
// One multipart entry: HeadersLen, DataLen, headers, data.
Bytes Entry(const Bytes& headers, const Bytes& data);
std::string Hex(const Bytes& bytes);
std::string U8(std::u16string_view text);
std::u16string U16(std::string_view text);

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::string& path() const { return m_path; }
  std::string File(const std::string& name) const { return m_path + "/" + name; }
  std::u16string WFile(const std::string& name) const { return U16(File(name)); }

 private:
  std::string m_path;
};

Bytes ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& bytes);

// Trace lines (level 4) that reach the log while this lives.
class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  std::vector<std::string> lines;
  bool Has(std::string_view line) const;
};
