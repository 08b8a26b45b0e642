// CYXmlNode: the small XML tree that holds error reports (CYException).
//
// A node owns its children; attributes are kept in order. GetXml writes the
// tree in the report layout (CRLF line breaks, one tab per level, empty
// elements as "<name/>"); Load reads such text back. Load never throws on bad
// input: it records the first error in the parse options and keeps whatever
// it parsed so far.
//
// Thread safety: a tree is a plain value; one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

enum class EYXmlNodeType { Element, ProcessingInstruction, Comment, CData, Document };

// Entity table: each entry maps one character to its reference ("&amp;").
struct CYXmlEntity {
  char16_t ch;
  std::u16string_view ref;
};
using CYXmlEntities = std::vector<CYXmlEntity>;
// &amp; &quot; &apos; &lt; &gt;
const CYXmlEntities& YXmlStandardEntities();

struct CYXmlDisplayOptions {
  bool newLine = true;                              // "\r\n" and tabs before every node
  bool referenceValue = true;                       // entity-encode values
  char16_t quote = u'"';                            // around attribute values
  const CYXmlEntities* entities = &YXmlStandardEntities();
  int depth = 0;                                    // indentation of the node written first
};

struct CYXmlParseInfo {
  bool trimValue = false;                           // strip white space around values
  bool entityValue = true;                          // decode entity references
  const CYXmlEntities* entities = &YXmlStandardEntities();
  char16_t escapeChar = 0;                          // 0: none; else it makes the next character literal
  bool forceParse = false;                          // go on after a mismatched end tag
  // Results.
  bool errorOccurred = false;
  std::u16string errorMessage;
  std::size_t errorOffset = 0;                      // position in the text where the error was found
};

class CYXmlNode {
 public:
  using Attribute = std::pair<std::u16string, std::u16string>;

  explicit CYXmlNode(EYXmlNodeType type = EYXmlNodeType::Element, std::u16string name = {},
                     std::u16string value = {});
  CYXmlNode(const CYXmlNode&) = delete;
  CYXmlNode& operator=(const CYXmlNode&) = delete;

  EYXmlNodeType GetType() const noexcept { return m_type; }
  const std::u16string& GetName() const noexcept { return m_name; }
  const std::u16string& GetValue() const noexcept { return m_value; }
  void SetValue(std::u16string value) { m_value = std::move(value); }
  CYXmlNode* GetParent() const noexcept { return m_parent; }

  // Creates an element and appends it; returns it.
  CYXmlNode& AppendChild(std::u16string name, std::u16string value = {});
  // Appends an existing node (taking ownership); returns it.
  CYXmlNode& AppendChild(std::unique_ptr<CYXmlNode> node);
  // Children with that name, in order.
  std::vector<CYXmlNode*> GetChildren(std::u16string_view name) const;
  const std::vector<std::unique_ptr<CYXmlNode>>& GetChildren() const noexcept { return m_children; }
  void RemoveChildren() noexcept { m_children.clear(); }

  void AppendAttribute(std::u16string name, std::u16string value);
  const std::vector<Attribute>& GetAttributes() const noexcept { return m_attributes; }

  // A deep copy without parent.
  std::unique_ptr<CYXmlNode> Clone() const;

  std::u16string GetXml(const CYXmlDisplayOptions& options = {}) const;

  // Replaces this node's content by the first element of text (leading
  // declarations, comments and white space are skipped). Returns false when
  // an error was recorded in info.
  bool Load(std::u16string_view text, CYXmlParseInfo& info);

 private:
  void Write(std::u16string& out, const CYXmlDisplayOptions& options, int depth) const;

  EYXmlNodeType m_type;
  std::u16string m_name;
  std::u16string m_value;
  CYXmlNode* m_parent = nullptr;
  std::vector<std::unique_ptr<CYXmlNode>> m_children;
  std::vector<Attribute> m_attributes;

  friend class CYXmlParser;
};
