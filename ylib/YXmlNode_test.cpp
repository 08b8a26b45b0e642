#include "ylib/YXmlNode.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/text.h"

namespace {

std::string U8(std::u16string_view s) { return vel::ToUtf8(s); }

TEST(CYXmlNode, WritesEveryNodeKind) {
  CYXmlNode doc(EYXmlNodeType::Document);
  auto pi = std::make_unique<CYXmlNode>(EYXmlNodeType::ProcessingInstruction, u"xml");
  pi->AppendAttribute(u"version", u"1.0");
  doc.AppendChild(std::move(pi));
  CYXmlNode& root = doc.AppendChild(u"root");
  root.AppendAttribute(u"a", u"x\"<y");
  root.AppendChild(std::make_unique<CYXmlNode>(EYXmlNodeType::Comment, u"", u" note "));
  root.AppendChild(std::make_unique<CYXmlNode>(EYXmlNodeType::CData, u"", u"<raw & text>"));
  root.AppendChild(u"empty");
  root.AppendChild(u"text", u"a&b 'q' >");
  root.SetValue(u"tail");

  EXPECT_EQ(U8(doc.GetXml()),
            "\r\n<?xml version=\"1.0\"?>"
            "\r\n<root a=\"x&quot;&lt;y\">"
            "\r\n\t<!-- note -->"
            "\r\n\t<![CDATA[<raw & text>]]>"
            "\r\n\t<empty/>"
            "\r\n\t<text>a&amp;b &apos;q&apos; &gt;</text>"
            "\r\n\ttail"
            "\r\n</root>");

  CYXmlDisplayOptions flat;
  flat.newLine = false;
  flat.referenceValue = false;
  flat.quote = u'\'';
  EXPECT_EQ(U8(root.GetXml(flat)),
            "<root a='x\"<y'><!-- note --><![CDATA[<raw & text>]]><empty/><text>a&b 'q' ></text>tail</root>");

  CYXmlDisplayOptions deeper;
  deeper.depth = 2;
  EXPECT_EQ(U8(root.GetChildren(u"text").front()->GetXml(deeper)), "\r\n\t\t<text>a&amp;b &apos;q&apos; &gt;</text>");
}

TEST(CYXmlNode, GetChildrenByName) {
  CYXmlNode n(EYXmlNodeType::Element, u"n");
  n.AppendChild(u"a", u"1");
  n.AppendChild(u"b", u"2");
  n.AppendChild(u"a", u"3");
  const auto as = n.GetChildren(u"a");
  ASSERT_EQ(as.size(), 2u);
  EXPECT_EQ(as[0]->GetValue(), u"1");
  EXPECT_EQ(as[1]->GetValue(), u"3");
  EXPECT_EQ(as[1]->GetParent(), &n);
  EXPECT_TRUE(n.GetChildren(u"c").empty());
}

TEST(CYXmlNode, LoadReadsWhatGetXmlWrote) {
  CYXmlNode root(EYXmlNodeType::Element, u"error");
  CYXmlNode& entry = root.AppendChild(u"errorentry");
  entry.AppendChild(u"description", u"  spaced <&> \"quoted\" \u00E9  ");
  entry.AppendChild(u"errorcode", u"-2147024894");
  entry.AppendChild(u"empty");
  root.AppendChild(u"errorentry").AppendChild(u"description", u"second");
  const std::u16string xml = root.GetXml();

  CYXmlNode loaded;
  CYXmlParseInfo info;
  ASSERT_TRUE(loaded.Load(xml, info)) << U8(info.errorMessage);
  EXPECT_FALSE(info.errorOccurred);
  EXPECT_EQ(U8(loaded.GetXml()), U8(xml));
  EXPECT_EQ(loaded.GetChildren(u"errorentry")[0]->GetChildren(u"description")[0]->GetValue(),
            u"  spaced <&> \"quoted\" \u00E9  ");
  EXPECT_TRUE(loaded.GetChildren(u"errorentry")[0]->GetValue().empty()) << "layout white space is no value";
}

TEST(CYXmlNode, LoadSkipsPrologAndReadsAttributesAndReferences) {
  CYXmlNode n;
  CYXmlParseInfo info;
  ASSERT_TRUE(n.Load(u"<?xml version=\"1.0\"?>\n<!-- c -->\n<r k='v&amp;w' j = \"2\">x&#65;&#x42;&unknown;<![CDATA[<c>]]><!--m--></r>",
                     info))
      << U8(info.errorMessage);
  EXPECT_EQ(n.GetName(), u"r");
  ASSERT_EQ(n.GetAttributes().size(), 2u);
  EXPECT_EQ(n.GetAttributes()[0].second, u"v&w");
  EXPECT_EQ(n.GetAttributes()[1].first, u"j");
  EXPECT_EQ(n.GetValue(), u"xAB&unknown;");
  ASSERT_EQ(n.GetChildren().size(), 2u);
  EXPECT_EQ(n.GetChildren()[0]->GetType(), EYXmlNodeType::CData);
  EXPECT_EQ(n.GetChildren()[0]->GetValue(), u"<c>");
  EXPECT_EQ(n.GetChildren()[1]->GetType(), EYXmlNodeType::Comment);

  CYXmlParseInfo trim;
  trim.trimValue = true;
  trim.entityValue = false;
  trim.escapeChar = u'\\';
  ASSERT_TRUE(n.Load(u"<r>  a \\< &amp;  </r>", trim));
  EXPECT_EQ(n.GetValue(), u"a < &amp;");
}

TEST(CYXmlNode, LoadRecordsErrorsAndKeepsWhatItRead) {
  struct Row {
    const char* name;
    std::u16string text;
    std::u16string message;
    std::size_t children;  // of the root after the failed load
  };
  const Row rows[] = {
      {"empty", u"", u"Element must be closed.", 0},
      {"no element", u"just text", u"Element must be closed.", 0},
      {"open tag cut", u"<error", u"Element must be closed.", 0},
      {"unclosed content", u"<error><a>1</a><b>2</b>", u"'<error> ... </error>' is not wel-formed.", 2},
      {"wrong end tag", u"<error><a>1</b></error>", u"a must be closed with </a>", 1},
      {"end tag cut", u"<error><a>1</a", u"it must be closed with </a>", 1},
      {"attribute without value", u"<error><a k>1</a></error>", u"<a> attribute has error", 1},
      {"attribute quote open", u"<error><a k=\"1>1</a></error>", u"<a> attribute has error", 1},
      {"comment cut", u"<error><!-- x", u"Element must be closed.", 0},
  };
  for (const Row& row : rows) {
    CYXmlNode n;
    CYXmlParseInfo info;
    EXPECT_FALSE(n.Load(row.text, info)) << row.name;
    EXPECT_TRUE(info.errorOccurred) << row.name;
    EXPECT_EQ(U8(info.errorMessage), U8(row.message)) << row.name;
    EXPECT_EQ(n.GetChildren().size(), row.children) << row.name;
  }

  CYXmlNode forced;
  CYXmlParseInfo force;
  force.forceParse = true;
  EXPECT_TRUE(forced.Load(u"<r><a>1</b><c/></r>", force));
  EXPECT_TRUE(force.errorOccurred);
  EXPECT_EQ(forced.GetChildren().size(), 2u) << "parsing went on after the mismatch";
}

TEST(CYXmlNode, EveryPrefixOfAReportLoadsCleanly) {
  CYXmlNode root(EYXmlNodeType::Element, u"error");
  CYXmlNode& entry = root.AppendChild(u"errorentry");
  entry.AppendChild(u"description", u"a &amp; b");
  entry.AppendChild(u"errorcode", u"1005");
  entry.AppendAttribute(u"k", u"v");
  entry.AppendChild(std::make_unique<CYXmlNode>(EYXmlNodeType::CData, u"", u"c"));
  const std::u16string xml = root.GetXml();
  for (std::size_t n = 0; n < xml.size(); ++n) {
    CYXmlNode part;
    CYXmlParseInfo info;
    const bool ok = part.Load(std::u16string_view(xml).substr(0, n), info);
    EXPECT_FALSE(ok) << "prefix " << n;
    EXPECT_LE(info.errorOffset, n) << "prefix " << n;
  }
}

TEST(CYXmlNode, DeepNestingIsAnErrorNotACrash) {
  std::u16string deep;
  for (int i = 0; i < 100000; ++i) deep += u"<a>";
  CYXmlNode n;
  CYXmlParseInfo info;
  EXPECT_FALSE(n.Load(deep, info));
  EXPECT_TRUE(info.errorOccurred);
}

TEST(CYXmlNode, CloneIsDeep) {
  CYXmlNode n(EYXmlNodeType::Element, u"n", u"v");
  n.AppendAttribute(u"a", u"b");
  n.AppendChild(u"c").AppendChild(u"d", u"e");
  auto copy = n.Clone();
  EXPECT_EQ(copy->GetXml(), n.GetXml());
  EXPECT_EQ(copy->GetParent(), nullptr);
  copy->RemoveChildren();
  EXPECT_EQ(n.GetChildren().size(), 1u);
}

}  // namespace
