#include "ylib/YXmlNode.h"

#include "platform/text.h"
#include "ylib/YFormat.h"

const CYXmlEntities& YXmlStandardEntities() {
  static const CYXmlEntities table = {
      {u'&', u"&amp;"}, {u'"', u"&quot;"}, {u'\'', u"&apos;"}, {u'<', u"&lt;"}, {u'>', u"&gt;"},
  };
  return table;
}

namespace {

void Encode(std::u16string& out, std::u16string_view text, const CYXmlDisplayOptions& o) {
  if (!o.referenceValue || !o.entities) {
    out.append(text);
    return;
  }
  for (char16_t c : text) {
    bool replaced = false;
    for (const CYXmlEntity& e : *o.entities) {
      if (e.ch == c) {
        out.append(e.ref);
        replaced = true;
        break;
      }
    }
    if (!replaced) out.push_back(c);
  }
}

// A character reference's code point; NUL is no XML character either.
void AppendCodePoint(std::u16string& out, char32_t cp) { vel::AppendUtf16(out, cp == 0 ? 0xFFFD : cp); }

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

std::u16string_view Trim(std::u16string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

bool IsBlank(std::u16string_view s) { return Trim(s).empty(); }

// Deep documents would exhaust the stack of the recursive reader; reports are
// three levels deep, so this bound only ever stops hostile input.
constexpr int kMaxDepth = 256;

}  // namespace

// Recursive-descent reader over one text; every access is bounds-checked.
class CYXmlParser {
 public:
  CYXmlParser(std::u16string_view text, CYXmlParseInfo& info) : m_text(text), m_info(info) {}

  bool LoadRoot(CYXmlNode& node) {
    for (;;) {
      SkipSpace();
      if (AtEnd()) return Fail(u"Element must be closed.");
      if (m_text[m_pos] != u'<') return Fail(u"Element must be closed.");
      if (StartsWith(u"<?")) {
        if (!SkipPast(u"?>")) return Fail(u"Element must be closed.");
      } else if (StartsWith(u"<!--")) {
        if (!SkipPast(u"-->")) return Fail(u"Element must be closed.");
      } else if (StartsWith(u"<!")) {
        if (!SkipPast(u">")) return Fail(u"Element must be closed.");
      } else {
        return ParseElement(node, 0);
      }
    }
  }

 private:
  bool AtEnd() const { return m_pos >= m_text.size(); }
  bool StartsWith(std::u16string_view s) const { return m_text.substr(m_pos).starts_with(s); }
  void SkipSpace() {
    while (!AtEnd() && IsSpace(m_text[m_pos])) ++m_pos;
  }
  bool SkipPast(std::u16string_view end) {
    const std::size_t at = m_text.find(end, m_pos);
    if (at == std::u16string_view::npos) {
      m_pos = m_text.size();
      return false;
    }
    m_pos = at + end.size();
    return true;
  }
  bool Fail(std::u16string message) {
    if (!m_info.errorOccurred) {
      m_info.errorOccurred = true;
      m_info.errorMessage = std::move(message);
      m_info.errorOffset = m_pos;
    }
    return false;
  }

  std::u16string_view ReadName() {
    const std::size_t start = m_pos;
    while (!AtEnd()) {
      const char16_t c = m_text[m_pos];
      if (IsSpace(c) || c == u'/' || c == u'>' || c == u'=' || c == u'<' || c == u'?') break;
      ++m_pos;
    }
    return m_text.substr(start, m_pos - start);
  }

  // Text with entity references decoded (when asked) and the escape character applied.
  std::u16string Decode(std::u16string_view raw, bool applyEscape) const {
    std::u16string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
      const char16_t c = raw[i];
      if (applyEscape && m_info.escapeChar && c == m_info.escapeChar && i + 1 < raw.size()) {
        out.push_back(raw[++i]);
        continue;
      }
      if (c == u'&' && m_info.entityValue) {
        const std::u16string_view rest = raw.substr(i);
        bool done = false;
        if (m_info.entities) {
          for (const CYXmlEntity& e : *m_info.entities) {
            if (rest.starts_with(e.ref)) {
              out.push_back(e.ch);
              i += e.ref.size() - 1;
              done = true;
              break;
            }
          }
        }
        if (!done && rest.starts_with(u"&#")) {
          const std::size_t semi = rest.find(u';');
          if (semi != std::u16string_view::npos && semi > 2 && semi <= 12) {
            const bool hex = rest[2] == u'x' || rest[2] == u'X';
            const std::u16string_view digits = rest.substr(hex ? 3 : 2, semi - (hex ? 3 : 2));
            char32_t cp = 0;
            bool ok = !digits.empty();
            for (char16_t d : digits) {
              int v;
              if (d >= u'0' && d <= u'9') v = d - u'0';
              else if (hex && d >= u'a' && d <= u'f') v = d - u'a' + 10;
              else if (hex && d >= u'A' && d <= u'F') v = d - u'A' + 10;
              else { ok = false; break; }
              cp = cp * (hex ? 16 : 10) + static_cast<char32_t>(v);
              if (cp > 0x10FFFF) { ok = false; break; }
            }
            if (ok) {
              AppendCodePoint(out, cp);
              i += semi;
              done = true;
            }
          }
        }
        if (done) continue;
      }
      out.push_back(c);
    }
    return out;
  }

  // Attributes up to the tag's end ("/>", ">", or "?>" for an instruction).
  // Returns false after recording an error.
  bool ParseAttributes(CYXmlNode& node, bool instruction, bool& selfClosed) {
    selfClosed = false;
    for (;;) {
      SkipSpace();
      if (AtEnd()) return Fail(u"Element must be closed.");
      if (instruction && StartsWith(u"?>")) {
        m_pos += 2;
        return true;
      }
      if (!instruction && StartsWith(u"/>")) {
        m_pos += 2;
        selfClosed = true;
        return true;
      }
      if (!instruction && m_text[m_pos] == u'>') {
        ++m_pos;
        return true;
      }
      const std::u16string_view name = ReadName();
      SkipSpace();
      if (name.empty() || AtEnd() || m_text[m_pos] != u'=') {
        return Fail(YFormat(u"<%s> attribute has error", node.m_name));
      }
      ++m_pos;
      SkipSpace();
      if (AtEnd() || (m_text[m_pos] != u'"' && m_text[m_pos] != u'\'')) {
        return Fail(YFormat(u"<%s> attribute has error", node.m_name));
      }
      const char16_t quote = m_text[m_pos++];
      const std::size_t end = m_text.find(quote, m_pos);
      if (end == std::u16string_view::npos) {
        return Fail(YFormat(u"<%s> attribute has error", node.m_name));
      }
      node.AppendAttribute(std::u16string(name), Decode(m_text.substr(m_pos, end - m_pos), false));
      m_pos = end + 1;
    }
  }

  // At "<name": fills node. Text between child nodes that is only white space
  // is layout, not value, once the element has children.
  bool ParseElement(CYXmlNode& node, int depth) {
    if (depth > kMaxDepth) return Fail(u"Element must be closed.");
    ++m_pos;  // '<'
    const std::u16string_view name = ReadName();
    if (name.empty()) return Fail(u"Element must be closed.");
    node.m_type = EYXmlNodeType::Element;
    node.m_name = std::u16string(name);
    bool selfClosed = false;
    if (!ParseAttributes(node, false, selfClosed)) return false;
    if (selfClosed) return true;

    std::u16string allText;
    std::u16string nonBlankText;
    for (;;) {
      // Text up to the next '<' that the escape character does not protect.
      const std::size_t start = m_pos;
      while (!AtEnd() && m_text[m_pos] != u'<') {
        if (m_info.escapeChar && m_text[m_pos] == m_info.escapeChar && m_pos + 1 < m_text.size()) ++m_pos;
        ++m_pos;
      }
      if (m_pos > start) {
        std::u16string_view raw = m_text.substr(start, m_pos - start);
        if (m_info.trimValue) raw = Trim(raw);
        std::u16string decoded = Decode(raw, true);
        if (!IsBlank(decoded)) nonBlankText += decoded;
        allText += decoded;
      }
      node.m_value = node.m_children.empty() ? allText : nonBlankText;
      if (AtEnd()) return Fail(YFormat(u"'<%s> ... </%s>' is not wel-formed.", node.m_name, node.m_name));

      if (StartsWith(u"</")) {
        m_pos += 2;
        const std::u16string_view endName = ReadName();
        SkipSpace();
        if (AtEnd() || m_text[m_pos] != u'>') return Fail(YFormat(u"it must be closed with </%s>", node.m_name));
        ++m_pos;
        if (endName != node.m_name) {
          Fail(YFormat(u"%s must be closed with </%s>", node.m_name, node.m_name));
          return m_info.forceParse;
        }
        return true;
      }
      if (StartsWith(u"<!--")) {
        m_pos += 4;
        const std::size_t end = m_text.find(u"-->", m_pos);
        if (end == std::u16string_view::npos) return Fail(u"Element must be closed.");
        node.AppendChild(std::make_unique<CYXmlNode>(EYXmlNodeType::Comment, std::u16string(),
                                                     std::u16string(m_text.substr(m_pos, end - m_pos))));
        m_pos = end + 3;
      } else if (StartsWith(u"<![CDATA[")) {
        m_pos += 9;
        const std::size_t end = m_text.find(u"]]>", m_pos);
        if (end == std::u16string_view::npos) return Fail(u"Element must be closed.");
        node.AppendChild(std::make_unique<CYXmlNode>(EYXmlNodeType::CData, std::u16string(),
                                                     std::u16string(m_text.substr(m_pos, end - m_pos))));
        m_pos = end + 3;
      } else if (StartsWith(u"<?")) {
        m_pos += 2;
        auto pi = std::make_unique<CYXmlNode>(EYXmlNodeType::ProcessingInstruction, std::u16string(ReadName()));
        CYXmlNode& added = node.AppendChild(std::move(pi));
        bool unused = false;
        if (!ParseAttributes(added, true, unused)) return false;
      } else if (StartsWith(u"<!")) {
        if (!SkipPast(u">")) return Fail(u"Element must be closed.");
      } else {
        CYXmlNode& child = node.AppendChild(std::make_unique<CYXmlNode>());
        if (!ParseElement(child, depth + 1)) {
          if (child.m_name.empty()) node.m_children.pop_back();
          return false;
        }
      }
    }
  }

  std::u16string_view m_text;
  CYXmlParseInfo& m_info;
  std::size_t m_pos = 0;
};

CYXmlNode::CYXmlNode(EYXmlNodeType type, std::u16string name, std::u16string value)
    : m_type(type), m_name(std::move(name)), m_value(std::move(value)) {}

CYXmlNode& CYXmlNode::AppendChild(std::u16string name, std::u16string value) {
  return AppendChild(std::make_unique<CYXmlNode>(EYXmlNodeType::Element, std::move(name), std::move(value)));
}

CYXmlNode& CYXmlNode::AppendChild(std::unique_ptr<CYXmlNode> node) {
  node->m_parent = this;
  m_children.push_back(std::move(node));
  return *m_children.back();
}

std::vector<CYXmlNode*> CYXmlNode::GetChildren(std::u16string_view name) const {
  std::vector<CYXmlNode*> found;
  for (const auto& c : m_children) {
    if (c->m_name == name) found.push_back(c.get());
  }
  return found;
}

void CYXmlNode::AppendAttribute(std::u16string name, std::u16string value) {
  m_attributes.emplace_back(std::move(name), std::move(value));
}

std::unique_ptr<CYXmlNode> CYXmlNode::Clone() const {
  auto copy = std::make_unique<CYXmlNode>(m_type, m_name, m_value);
  copy->m_attributes = m_attributes;
  for (const auto& c : m_children) copy->AppendChild(c->Clone());
  return copy;
}

std::u16string CYXmlNode::GetXml(const CYXmlDisplayOptions& options) const {
  std::u16string out;
  Write(out, options, options.depth);
  return out;
}

void CYXmlNode::Write(std::u16string& out, const CYXmlDisplayOptions& o, int depth) const {
  if (m_type == EYXmlNodeType::Document) {
    for (const auto& c : m_children) c->Write(out, o, depth);
    return;
  }
  if (o.newLine) {
    out.append(u"\r\n");
    out.append(static_cast<std::size_t>(depth < 0 ? 0 : depth), u'\t');
  }
  auto writeAttributes = [&] {
    for (const Attribute& a : m_attributes) {
      out.push_back(u' ');
      out.append(a.first);
      out.push_back(u'=');
      out.push_back(o.quote);
      Encode(out, a.second, o);
      out.push_back(o.quote);
    }
  };
  switch (m_type) {
    case EYXmlNodeType::ProcessingInstruction:
      out.append(u"<?");
      out.append(m_name);
      writeAttributes();
      out.append(u"?>");
      return;
    case EYXmlNodeType::Comment:
      out.append(u"<!--");
      out.append(m_value);
      out.append(u"-->");
      return;
    case EYXmlNodeType::CData:
      out.append(u"<![CDATA[");
      out.append(m_value);
      out.append(u"]]>");
      return;
    default:
      break;
  }
  out.push_back(u'<');
  out.append(m_name);
  writeAttributes();
  if (m_children.empty() && m_value.empty()) {
    out.append(u"/>");
    return;
  }
  out.push_back(u'>');
  for (const auto& c : m_children) c->Write(out, o, depth + 1);
  if (!m_value.empty()) {
    if (!m_children.empty() && o.newLine) {
      out.append(u"\r\n");
      out.append(static_cast<std::size_t>(depth + 1), u'\t');
    }
    Encode(out, m_value, o);
  }
  if (!m_children.empty() && o.newLine) {
    out.append(u"\r\n");
    out.append(static_cast<std::size_t>(depth < 0 ? 0 : depth), u'\t');
  }
  out.append(u"</");
  out.append(m_name);
  out.push_back(u'>');
}

bool CYXmlNode::Load(std::u16string_view text, CYXmlParseInfo& info) {
  m_children.clear();
  m_attributes.clear();
  m_value.clear();
  m_name.clear();
  m_type = EYXmlNodeType::Element;
  CYXmlParser parser(text, info);
  return parser.LoadRoot(*this);
}
