#include "ylib/YException.h"

#include <charconv>

#include "ylib/YFormat.h"
#include "platform/text.h"

namespace {

constexpr std::u16string_view kRootName = u"error";
constexpr std::u16string_view kEntryName = u"errorentry";

const CYXmlNode* FindChild(const CYXmlNode& node, std::u16string_view name) {
  for (const auto& c : node.GetChildren()) {
    if (c->GetName() == name) return c.get();
  }
  return nullptr;
}

bool ParseCode(const CYXmlNode& entry, std::int32_t& code) {
  const CYXmlNode* node = FindChild(entry, u"errorcode");
  if (!node) return false;
  const std::string text = vel::ToUtf8(node->GetValue());
  long long v = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return false;
  code = static_cast<std::int32_t>(v);
  return true;
}

bool IsStackEntry(const CYXmlNode& entry) {
  std::int32_t code = 0;
  return ParseCode(entry, code) && code == kYErrStackEntry.code;
}

bool IsSourceChild(std::u16string_view name) {
  return name == u"sourcefile" || name == u"sourceline" || name == u"sourcefunction";
}

const CYXmlNode& EmptyRoot() {
  static const CYXmlNode empty(EYXmlNodeType::Element, std::u16string(kRootName));
  return empty;
}

}  // namespace

CYException::CYException() : m_root(std::make_unique<CYXmlNode>(EYXmlNodeType::Element, std::u16string(kRootName))) {}

CYException::CYException(std::u16string_view message, std::int32_t code, std::u16string_view file, int line,
                         std::u16string_view function)
    : CYException() {
  AddEntry(message, code, file, line, function);
}

CYException::CYException(const CYException& other) : CYException() { AppendEntries(other); }

CYException& CYException::operator=(const CYException& other) {
  if (this != &other) {
    CYException copy(other);
    m_root = std::move(copy.m_root);
  }
  return *this;
}

CYException::~CYException() = default;

CYXmlNode& CYException::Root() {
  if (!m_root) m_root = std::make_unique<CYXmlNode>(EYXmlNodeType::Element, std::u16string(kRootName));
  return *m_root;
}

const CYXmlNode& CYException::GetTree() const { return m_root ? *m_root : EmptyRoot(); }

CYException& CYException::AddEntry(std::u16string_view message, std::int32_t code, std::u16string_view file, int line,
                                   std::u16string_view function) {
  CYXmlNode& entry = Root().AppendChild(std::u16string(kEntryName));
  entry.AppendChild(u"description", std::u16string(message));
  entry.AppendChild(u"errorcode", YFormat(u"%d", code));
  entry.AppendChild(u"sourcefile", std::u16string(file));
  entry.AppendChild(u"sourceline", YFormat(u"%d", line));
  entry.AppendChild(u"sourcefunction", std::u16string(function));
  return *this;
}

CYException& CYException::AddDetail(std::u16string_view name, std::u16string_view text) {
  std::u16string clean;
  for (char16_t c : name) {
    if (c != u' ' && c != u'<' && c != u'&') clean.push_back(c);
  }
  // An element without a name would make the report unreadable.
  if (clean.empty()) clean = u"detail";
  const auto& children = Root().GetChildren();
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    if ((*it)->GetName() == kEntryName && !IsStackEntry(**it)) {
      (*it)->AppendChild(std::move(clean), std::u16string(text));
      break;
    }
  }
  return *this;
}

CYException& CYException::AddDetail(std::u16string_view name, std::int64_t number, bool hex) {
  return AddDetail(name, YFormat(hex ? u"0x%X" : u"%d", number));
}

CYException& CYException::AppendEntries(const CYException& other) {
  if (&other == this) {
    const CYException copy(other);
    return AppendEntries(copy);
  }
  CYXmlNode& root = Root();
  for (const auto& c : other.GetTree().GetChildren()) root.AppendChild(c->Clone());
  return *this;
}

std::u16string CYException::GetXml() const {
  CYXmlDisplayOptions options;  // line breaks, entity references, '"', standard table, depth 0
  return GetTree().GetXml(options);
}

std::u16string CYException::GetText(int flags) const {
  std::u16string text;
  const auto& entries = GetTree().GetChildren();
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    const CYXmlNode& entry = **it;
    if (entry.GetName() != kEntryName || IsStackEntry(entry)) continue;
    const CYXmlNode* description = FindChild(entry, u"description");
    if (description) text += description->GetValue();
    text += u"\n";
    for (const auto& child : entry.GetChildren()) {
      const std::u16string& name = child->GetName();
      if (child.get() == description || IsSourceChild(name)) continue;
      if (name == u"errorcode" && !(flags & kYTextErrorCodes)) continue;
      text += u"\t" + name + u":\t" + child->GetValue() + u"\n";
    }
    if (!(flags & kYTextAllEntries)) break;
  }
  if (flags & kYTextStackTrace) text += u"\n" + GetStackTrace();
  std::u16string doubled;
  doubled.reserve(text.size());
  for (char16_t c : text) {
    doubled.push_back(c);
    if (c == u'%') doubled.push_back(u'%');
  }
  return doubled;
}

std::u16string CYException::GetStackTrace() const {
  std::u16string text = u"Stack trace:";
  const auto& entries = GetTree().GetChildren();
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    const CYXmlNode* file = FindChild(**it, u"sourcefile");
    const CYXmlNode* line = FindChild(**it, u"sourceline");
    const CYXmlNode* function = FindChild(**it, u"sourcefunction");
    if (!file && !line && !function) continue;
    text += u"\n\t";
    text += file ? file->GetValue() : u"Unknown file";
    text += u"(";
    text += line ? line->GetValue() : u"Unknown line";
    text += u") : ";
    text += function ? function->GetValue() : u"Unknown function";
  }
  text += u"\n";
  return text;
}

std::int32_t CYException::GetCode() const {
  for (const auto& c : GetTree().GetChildren()) {
    std::int32_t code = 0;
    if (c->GetName() == kEntryName && ParseCode(*c, code)) return code;
  }
  return 0;
}
