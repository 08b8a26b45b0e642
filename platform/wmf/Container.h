// vel::wmf::Container: the seam between the runtime stand-in's COM objects
// and the file formats behind them. A container is read from a file once; the
// editor changes its attribute and language lists and asks it to save them.
// OpenContainer picks the back end by the file's first bytes (an ASF header
// object or an MP3 stream), never by the name's extension.
//
// Thread safety: a container belongs to one object, used by one thread at a
// time; OpenContainer may run in any number of threads.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/wmf/Attribute.h"

namespace vel {
class ReplacingFile;
}

namespace vel::wmf {

class Container {
 public:
  virtual ~Container() = default;

  // Attributes the file's structure gives (FileSize, Duration, Bitrate,
  // Is_Protected, ...): read-only, listed before the stored ones.
  virtual std::vector<Attribute> ComputedAttributes() const = 0;
  virtual std::vector<StreamInfo> Streams() const = 0;
  virtual bool IsProtected() const { return false; }
  // A property of the content-protection header ("DRMHeader.KID", ...).
  virtual std::optional<Attribute> DrmProperty(std::u16string_view name) const {
    (void)name;
    return std::nullopt;
  }
  // Whether the file can store the attribute (its type, stream and value) so
  // that it comes back: the editor refuses (NS_E_INVALID_REQUEST) to take a
  // change the save would lose.
  virtual bool CanHold(const Attribute& attribute) const {
    (void)attribute;
    return true;
  }
  // Writes attributes() and languages() into the file that writer holds
  // locked (since before the container was read): Begin, the new contents,
  // CommitAndHold, so the writer stays locked for a later save. S_OK, or the
  // failure with the file unchanged.
  virtual HRESULT Save(ReplacingFile& writer) = 0;
  // A copy with its own lists.
  virtual std::unique_ptr<Container> Clone() const = 0;

  // The stored attributes in file order, and the language list.
  std::vector<Attribute>& attributes() { return attributes_; }
  std::vector<std::u16string>& languages() { return languages_; }

 protected:
  std::vector<Attribute> attributes_;
  std::vector<std::u16string> languages_;
};

// Reads the file at path (a module path text). NS_E_FILE_NOT_FOUND for a
// missing file, NS_E_INVALID_INPUT_FORMAT for content neither back end reads,
// the Win32 error as HRESULT for other failures. A host that reads a file
// asks for it several times over (protection, attributes, streams): each
// thread keeps a copy of the last small container it read, handed out again
// while the file is the same version (inode, size, times). `fresh` reads the file
// anyway (a writer, which must build on the file as it is under its lock).
HRESULT OpenContainer(const std::u16string& path, std::unique_ptr<Container>& out, bool fresh = false);

// The HRESULT for a failed replacing write (its Win32 error).
HRESULT SaveFailure(DWORD win32Error);

}  // namespace vel::wmf
