// The XML text of nodes, byte for byte, in both layouts.
#include <gtest/gtest.h>

#include <thread>

#include "xml/XmlInternal.h"

using namespace xml;

namespace {

struct Layouts : ::testing::Test {
    XmlRef<IXmlDocument> indented = NewXmlDocument({}, "1.0", {}, NewXmlNameTable());
    XmlRef<IXmlDocument> compact = NewXmlDocument({}, "1.0", {}, NewXmlNameTable());
    Layouts() { compact->SetPreserveWhiteSpace(true); }
};

const char* const kDeclaration = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>";

void BuildSettings(IXmlDocument& doc) {
    XmlRef<IXmlElement> root = doc.NewDocument("1.0", "", "XML");
    XmlRef<IXmlElement> section = root->AppendChildElement("Section1");
    XmlRef<IXmlElement> reader = section->AppendChildElement("KRA_MCR_Serial");
    reader->WriteIntAttr("COM_Number", 1);
    reader->WriteIntAttr("Baud", 9600);
    reader->WriteIntAttr("Bits", 0);
}

}  // namespace

TEST_F(Layouts, SettingsDocumentByteForByte) {
    BuildSettings(*indented);
    EXPECT_EQ(indented->MarkupText(), std::string(kDeclaration) +
                                          "\r\n<XML>"
                                          "\r\n\t<Section1>"
                                          "\r\n\t\t<KRA_MCR_Serial COM_Number=\"1\" Baud=\"9600\" Bits=\"0\"/>"
                                          "\r\n\t</Section1>"
                                          "\r\n</XML>");
    BuildSettings(*compact);
    EXPECT_EQ(compact->MarkupText(),
              std::string(kDeclaration) +
                  "<XML><Section1><KRA_MCR_Serial COM_Number=\"1\" Baud=\"9600\" Bits=\"0\"/></Section1></XML>");
}

TEST_F(Layouts, AnInnerElementStartsAtDepthZero) {
    BuildSettings(*indented);
    XmlRef<IXmlNode> section = indented->DocumentElement()->FindChildElement("Section1");
    EXPECT_EQ(section->MarkupText(),
              "\r\n<Section1>\r\n\t<KRA_MCR_Serial COM_Number=\"1\" Baud=\"9600\" Bits=\"0\"/>\r\n</Section1>");
}

TEST(Escape, MarkupCharactersOnly) {
    EXPECT_EQ(EscapeXmlText("<&\">'"), "&lt;&amp;&quot;&gt;'");
    EXPECT_EQ(EscapeXmlText("plain\t\x01"), "plain\t\x01");
    EXPECT_EQ(EscapeXmlText(""), "");
}

TEST_F(Layouts, ElementContentRules) {
    struct Case {
        TaggedValue direct;
        const char* indentedText;
        const char* compactText;
    } cases[] = {
        {TaggedValue(), "\r\n<e/>", "<e/>"},
        {TaggedValue("x<y"), "\r\n<e>x&lt;y</e>", "<e>x&lt;y</e>"},
        {TaggedValue("a\r\nb"), "\r\n<e>a\r\nb\r\n</e>", "<e>a\r\nb</e>"},
        {TaggedValue("a\r\n"), "\r\n<e>a\r\n</e>", "<e>a\r\n</e>"},
        {TaggedValue("a\n"), "\r\n<e>a\n\r\n</e>", "<e>a\n</e>"},
        {TaggedValue(""), "\r\n<e/>", "<e/>"},
        {TaggedValue::Int32(-7), "\r\n<e>-7</e>", "<e>-7</e>"},
    };
    for (const Case& c : cases) {
        XmlRef<IXmlElement> a = indented->CreateElement("e");
        XmlRef<IXmlElement> b = compact->CreateElement("e");
        a->WriteValue(c.direct);
        b->WriteValue(c.direct);
        indented->AppendChildNode(a);  // the layout is that of the element's document
        compact->AppendChildNode(b);
        EXPECT_EQ(a->MarkupText(), c.indentedText) << c.compactText;
        EXPECT_EQ(b->MarkupText(), c.compactText);
    }
}

TEST_F(Layouts, ElementOutsideADocumentIsIndented) {
    XmlRef<IXmlElement> e = compact->CreateElement("e");  // not inserted: no document
    e->AppendChildElement("f");
    EXPECT_EQ(e->MarkupText(), "\r\n<e>\r\n\t<f/>\r\n</e>");
}

TEST_F(Layouts, AttributeValuesAreEscapedAndTyped) {
    XmlRef<IXmlElement> e = compact->AppendChildElement("e");
    e->WriteBoolAttr("f", true);
    e->WriteFloatAttr("g", 1.5);
    e->WriteAttr("h", "a\"<&'");
    EXPECT_EQ(e->MarkupText(), "<e f=\"1\" g=\"1.5\" h=\"a&quot;&lt;&amp;'\"/>");
}

TEST_F(Layouts, MixedContent) {
    XmlRef<IXmlElement> a = indented->AppendChildElement("a");
    a->AppendTextNode("t");
    a->AppendChildElement("b");
    EXPECT_EQ(a->MarkupText(), "\r\n<a>t\r\n\t<b/>\r\n</a>");

    XmlRef<IXmlElement> empty = indented->AppendChildElement("e");
    empty->AppendTextNode("");
    EXPECT_EQ(empty->MarkupText(), "\r\n<e/>");

    // Content that already ends with CR LF gets no second one.
    XmlRef<IXmlElement> c = indented->AppendChildElement("c");
    c->AppendChildElement("d");
    c->AppendTextNode("\r\n");
    EXPECT_EQ(c->MarkupText(), "\r\n<c>\r\n\t<d/>\r\n</c>");
}

TEST_F(Layouts, OtherNodeKinds) {
    XmlRef<IXmlElement> e = compact->AppendChildElement("e");
    EXPECT_EQ(e->AppendTextNode("]]>")->MarkupText(), "]]&gt;");
    EXPECT_EQ(e->AppendCDATANode("a]]>b")->MarkupText(), "<![CDATA[a]]]><![CDATA[]>b]]>");
    EXPECT_EQ(e->AppendCDATANode("x<y")->MarkupText(), "<![CDATA[x<y]]>");
    EXPECT_EQ(e->AppendCommentNode(" a--b ")->MarkupText(), "<!-- a--b -->");
    XmlRef<IXmlNode> decl = e->AppendInstruction("xml", "");
    decl->WriteAttr("version", "1.0");
    decl->WriteAttr("encoding", "windows-1251");
    EXPECT_EQ(decl->MarkupText(), kDeclaration);
    decl->WriteText("abc");
    EXPECT_EQ(decl->MarkupText(), "<?xml abc?>");
    XmlRef<IXmlNode> nullText = e->AppendTextNode("");
    nullText->WriteValue(TaggedValue::Null());
    EXPECT_EQ(nullText->MarkupText(), "{{null}}");
    EXPECT_EQ(nullText->ReadText(), "{{null}}");
}

TEST_F(Layouts, DocumentAndListConcatenateTheirItems) {
    indented->AppendCommentNode("c");
    indented->AppendChildElement("a");
    indented->AppendChildElement("b");
    EXPECT_EQ(indented->MarkupText(), "<!--c-->\r\n<a/>\r\n<b/>");
    EXPECT_EQ(indented->ChildList()->MarkupText(), indented->MarkupText());
    XmlRef<IXmlDocument> empty = NewXmlDocument();
    EXPECT_EQ(empty->MarkupText(), "");
}

// Output far larger than any internal buffer keeps every rule.
TEST_F(Layouts, LargeOutput) {
    XmlRef<IXmlElement> e = indented->AppendChildElement("e");
    std::string expected = "\r\n<e>";
    for (int i = 0; i < 20000; ++i) {
        XmlRef<IXmlElement> c = e->AppendChildElement("c");
        c->WriteIntAttr("i", i);
        expected += "\r\n\t<c i=\"" + std::to_string(i) + "\"/>";
    }
    const std::string big(100000, 'x');
    e->AppendTextNode(big + "\r\n");
    expected += big + "\r\n</e>";  // content ends with CR LF: no second one
    EXPECT_EQ(e->MarkupText(), expected);

    XmlRef<IXmlElement> text = indented->AppendChildElement("t");
    text->WriteText(big + "\n" + big);
    EXPECT_EQ(text->MarkupText(), "\r\n<t>" + big + "\n" + big + "\r\n</t>");
    XmlRef<IXmlElement> flat = indented->AppendChildElement("f");
    flat->WriteText(big);
    EXPECT_EQ(flat->MarkupText(), "\r\n<f>" + big + "</f>");
}

// The indentation depth belongs to each serialization, not to the process.
TEST(Concurrency, TwoThreadsIndentIndependently) {
    auto build = [](int depth) {
        XmlRef<IXmlDocument> doc = NewXmlDocument({}, "1.0", {}, NewXmlNameTable());
        XmlRef<IXmlElement> e = doc->AppendChildElement("r");
        for (int i = 0; i < depth; ++i) e = e->AppendChildElement("c");
        return doc;
    };
    XmlRef<IXmlDocument> a = build(30), b = build(3);
    const std::string expectA = a->MarkupText(), expectB = b->MarkupText();
    bool okA = true, okB = true;
    std::thread ta([&] { for (int i = 0; i < 300; ++i) okA = okA && a->MarkupText() == expectA; });
    std::thread tb([&] { for (int i = 0; i < 300; ++i) okB = okB && b->MarkupText() == expectB; });
    ta.join();
    tb.join();
    EXPECT_TRUE(okA);
    EXPECT_TRUE(okB);
}
