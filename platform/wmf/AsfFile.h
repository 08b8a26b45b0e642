// vel::wmf::AsfFile: the ASF back end. The header object is read into memory
// and split into its objects, dispatched by GUID; objects it does not know are
// kept as raw bytes and written back unchanged. Attributes come from the
// Content Description, Extended Content Description, Metadata and Metadata
// Library objects (in file order, each with its language index), languages
// from the Language List, streams from the Stream Properties objects.
//
// Save rebuilds the header object only: attributes of language 0 and stream 0
// up to 64 KB that are not GUIDs go to the Extended Content Description (the
// five Content Description texts to that object), every other one to the
// Metadata Library; the File Properties size is updated and the data and
// index objects after the header are copied unchanged.
//
// A header that could not be read completely (truncated, sizes past their
// parent, counts past their object) still yields what could be read, but is
// never saved: Save answers NS_E_INVALID_DATA. So does a file cut short after
// its header: the data object, or the file size File Properties gives,
// claims more than the file holds.
//
// Thread safety: one object, one thread at a time.
#pragma once

#include <span>

#include "platform/base/ByteReader.h"

#include "platform/wmf/Container.h"

namespace vel::wmf {

class AsfFile final : public Container {
 public:
  // Parses a header object's bytes (possibly cut short); fileSize is the
  // size of the whole file.
  static std::unique_ptr<AsfFile> Parse(std::span<const std::uint8_t> header, std::uint64_t fileSize);
  // True when bytes begin with the ASF header object's GUID.
  static bool Recognises(std::span<const std::uint8_t> bytes);

  std::vector<Attribute> ComputedAttributes() const override;
  std::vector<StreamInfo> Streams() const override { return streams_; }
  bool IsProtected() const override { return protected_; }
  std::optional<Attribute> DrmProperty(std::u16string_view name) const override;
  HRESULT Save(ReplacingFile& writer) override;
  std::unique_ptr<Container> Clone() const override { return std::unique_ptr<Container>(new AsfFile(*this)); }

  // The header object Save would write for a file of this header's data
  // (exposed for the tests and the fuzz target).
  Bytes BuildHeader(std::uint64_t dataSize) const;
  bool complete() const { return complete_; }
  std::uint64_t headerSize() const { return headerSize_; }

 private:
  enum class Kind { kRaw, kFileProperties, kContentDescription, kExtendedContentDescription, kHeaderExtension };
  struct Node {
    Kind kind = Kind::kRaw;
    Bytes bytes;  // the whole object, header included
  };

  void ParseObjects(ByteReader r);
  void ParseHeaderExtension(ByteReader r);
  void ParseContentEncryption(ByteReader r);
  void ParseContentDescription(ByteReader r);
  void ParseExtendedContentDescription(ByteReader r);
  void ParseMetadata(ByteReader r, bool library);
  void ParseLanguageList(ByteReader r);
  void ParseStreamProperties(ByteReader r);
  void ParseStreamBitrates(ByteReader r);
  void ParseFileProperties(ByteReader r);
  void ParseExtendedEncryption(ByteReader r);

  std::vector<Node> nodes_;
  std::vector<Node> extensionChildren_;  // raw children of the header extension
  Bytes extensionReserved_;              // its 18 reserved bytes
  std::vector<StreamInfo> streams_;
  std::uint64_t fileSize_ = 0;           // the file's real size
  std::uint64_t declaredFileSize_ = 0;   // File Properties
  std::uint64_t playDuration_ = 0;
  std::uint64_t prerollMs_ = 0;
  std::uint32_t maxBitrate_ = 0;
  std::uint64_t streamBitrates_ = 0;
  std::uint64_t headerSize_ = 0;
  bool protected_ = false;
  std::u16string keyId_;
  std::u16string securityVersion_;
  bool complete_ = true;
};

}  // namespace vel::wmf
