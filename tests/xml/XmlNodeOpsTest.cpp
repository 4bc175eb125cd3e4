// The node operations: text and value, children, lookups, paths, copies, CDATA and base64.
#include <gtest/gtest.h>

#include <functional>

#include "tests/xml/XmlTestSupport.h"
#include "xml/XmlInternal.h"

using namespace xml;
using xmltest::ErrorOf;

namespace {

struct Node : ::testing::Test {
    XmlRef<IXmlDocument> doc = NewXmlDocument({}, "1.0", {}, NewXmlNameTable());
    XmlRef<IXmlElement> e = doc->AppendChildElement("e");

    std::string Compact(const XmlRef<IXmlNode>& n) {
        XmlRef<IXmlDocument> holder = NewXmlDocument({}, "1.0", {}, doc->NameTableRef());
        holder->SetPreserveWhiteSpace(true);
        holder->AppendChildNode(n);
        std::string text = holder->MarkupText();
        holder->RemoveChildNode(n);
        return text;
    }
};

const std::string kNotSupported = "Данная возможность не поддерживается библиотекой XML";

}  // namespace

TEST_F(Node, ElementTextAndValue) {
    e->WriteText("abc");
    EXPECT_EQ(e->ReadText(), "abc");
    EXPECT_EQ(e->ValueKind(), TaggedValue::vkText);
    e->WriteValue(TaggedValue::Int32(5));
    EXPECT_EQ(e->ValueKind(), TaggedValue::vkInt32);
    EXPECT_EQ(e->ReadText(), "5");
    EXPECT_EQ(e->ReadValue(), TaggedValue::Int32(5));
    e->AppendChildElement("x");
    EXPECT_EQ(e->ReadText(), "");
    EXPECT_EQ(e->ValueKind(), TaggedValue::vkText);
    EXPECT_EQ(e->ReadValue(), TaggedValue(""));
    e->ClearChildren();
    EXPECT_EQ(e->ReadText(), "5");  // the direct value counts again
    e->AppendTextNode("t");
    e->WriteText("new");  // removes the children
    EXPECT_EQ(e->ChildList()->ItemCount(), 0);
    EXPECT_EQ(e->ReadText(), "new");
}

TEST_F(Node, ElementTextJoinsElementsTextsAndCDATA) {
    e->AppendTextNode("a");
    e->AppendCommentNode("skipped");
    e->AppendTextNode("");
    e->AppendChildElement("inner")->AppendTextNode("b");
    e->AppendInstruction("pi", "skipped");
    e->AppendCDATANode("  c  ");
    e->AppendChildElement("empty");
    e->AppendChildElement("direct")->WriteText("d");
    EXPECT_EQ(e->ReadText(), "a b c d");
    EXPECT_EQ(doc->ReadText(), "a b c d");
}

TEST_F(Node, CharacterDataIsTrimmedUnlessWhiteSpaceIsPreserved) {
    XmlRef<IXmlNode> comment = e->AppendCommentNode(" \t c \r\n");
    XmlRef<IXmlNode> cdata = e->AppendCDATANode("  x ");
    EXPECT_EQ(comment->ReadText(), "c");
    EXPECT_EQ(cdata->ReadText(), "x");
    doc->SetPreserveWhiteSpace(true);
    EXPECT_EQ(comment->ReadText(), " \t c \r\n");
    EXPECT_EQ(cdata->ReadText(), "  x ");
    XmlRef<IXmlNode> loose = doc->CreateComment(" y ");  // outside any document: the default
    EXPECT_EQ(loose->ReadText(), "y");
}

TEST_F(Node, OtherKindsTextAndValue) {
    XmlRef<IXmlNode> text = e->AppendTextNode(" t ");
    EXPECT_EQ(text->ReadText(), " t ");
    text->WriteValue(TaggedValue::Float64(2.5));
    EXPECT_EQ(text->ValueKind(), TaggedValue::vkFloat64);
    EXPECT_EQ(text->ReadText(), "2.5");
    XmlRef<IXmlNode> pi = e->AppendInstruction("pi", "data");
    EXPECT_EQ(pi->ReadText(), "data");
    pi->WriteValue(TaggedValue::Boolean(true));  // through the general text
    EXPECT_EQ(pi->ReadText(), "True");
    EXPECT_EQ(pi->ValueKind(), TaggedValue::vkText);
    XmlRef<IXmlNode> comment = e->AppendCommentNode("c");
    comment->WriteValue(TaggedValue::Int32(3));
    EXPECT_EQ(comment->ReadValue(), TaggedValue("3"));
}

TEST_F(Node, KindsNamesAndCasts) {
    struct Case {
        XmlRef<IXmlNode> node;
        int32_t kind;
        const char* name;
    } cases[] = {
        {e, 1, "e"},
        {e->AppendTextNode("t"), 3, "#text"},
        {e->AppendCDATANode("c"), 4, "#cdata-section"},
        {e->AppendInstruction("target", "d"), 7, "target"},
        {e->AppendCommentNode("c"), 8, "#comment"},
        {doc, 9, "#document"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.node->NodeKind(), c.kind);
        EXPECT_EQ(c.node->NameString(), c.name);
        EXPECT_EQ(c.node->ToElement() != nullptr, c.kind == 1);
        EXPECT_EQ(c.node->ToText() != nullptr, c.kind == 3);
        EXPECT_EQ(c.node->ToCDATA() != nullptr, c.kind == 4);
        EXPECT_EQ(c.node->ToInstruction() != nullptr, c.kind == 7);
        EXPECT_EQ(c.node->ToComment() != nullptr, c.kind == 8);
        EXPECT_EQ(c.node->DocumentOf(), doc);
    }
    EXPECT_EQ(doc->CreateElement("loose")->DocumentOf(), nullptr);
    EXPECT_EQ(e->Parent(), doc);
}

TEST_F(Node, FindChildElementTakesSimpleNamesOnly) {
    for (const char* bad : {"", "1a", "a/b", "@id", "#text", "a b"})
        EXPECT_EQ(ErrorOf([&] { e->FindChildElement(bad); }), kNotSupported) << bad;
    EXPECT_EQ(ErrorOf([&] { e->FindChildElements("a/b"); }), kNotSupported);
    EXPECT_EQ(ErrorOf([&] { e->ReadPathValue("a/b"); }), kNotSupported);
    EXPECT_EQ(e->FindChildElement("a-b.c:d_e"), nullptr);
    EXPECT_EQ(e->FindChildElement("_Имя"), nullptr);  // Cyrillic letters are letters
}

TEST_F(Node, FirstChildByNameMatchesAnyKind) {
    XmlRef<IXmlElement> odd = e->AppendChildElement("a/b");  // appending checks nothing
    odd->WriteText("odd");
    e->AppendCommentNode("note");
    XmlRef<IXmlElement> cfg1 = e->AppendChildElement("cfg");
    XmlRef<IXmlElement> cfg2 = e->AppendChildElement("cfg");
    EXPECT_EQ(e->FindChildElement("cfg").get(), static_cast<IXmlNode*>(cfg1.get()));
    EXPECT_EQ(e->FindChildElements("cfg")->ItemCount(), 2);
    EXPECT_EQ(cfg2->Parent(), e);  // a result list does not adopt
    EXPECT_EQ(e->ReadChildText("a/b", ""), "odd");
    EXPECT_EQ(e->RequireChild("a/b").get(), static_cast<IXmlNode*>(odd.get()));
    EXPECT_EQ(e->ReadChildText("#comment", ""), "note");
    EXPECT_EQ(e->FindChildElement("note"), nullptr);
}

TEST_F(Node, ChildTextOperations) {
    XmlRef<IXmlElement> fresh = doc->CreateElement("fresh");
    EXPECT_EQ(fresh->ReadChildText("x", "dflt"), "dflt");
    EXPECT_EQ(ImplNode(fresh.get())->Children(), nullptr);  // no list made
    fresh->WriteChildText("x", "1");
    XmlRef<IXmlNode> x = fresh->FindChildElement("x");
    ASSERT_TRUE(x);
    EXPECT_EQ(ImplNode(x.get())->Children(), nullptr);  // held as the direct value
    EXPECT_EQ(x->ReadText(), "1");
    fresh->WriteChildText("x", "2");
    EXPECT_EQ(fresh->ChildList()->ItemCount(), 1);
    EXPECT_EQ(fresh->ReadChildText("x", ""), "2");
    EXPECT_EQ(ErrorOf([&] { fresh->RequireChild("cfg"); }), "Ошибка: не найден дочерний элемент \"cfg\".");
    XmlRef<IXmlNode> obtained = fresh->ObtainChild("cfg");
    EXPECT_EQ(fresh->ObtainChild("cfg"), obtained);
    EXPECT_EQ(fresh->ChildList()->ItemCount(), 2);
}

TEST_F(Node, InsertReplaceRemove) {
    XmlRef<IXmlElement> a = e->AppendChildElement("a");
    XmlRef<IXmlElement> b = e->AppendChildElement("b");
    XmlRef<IXmlElement> stranger = doc->CreateElement("s");
    XmlRef<IXmlElement> n = doc->CreateElement("n");
    e->InsertChildBefore(n, b);
    EXPECT_EQ(Compact(e), "<e><a/><n/><b/></e>");
    XmlRef<IXmlElement> m = doc->CreateElement("m");
    e->InsertChildBefore(m, stranger);  // not a child: at the end
    e->InsertChildBefore(doc->CreateElement("z"), nullptr);
    EXPECT_EQ(Compact(e), "<e><a/><n/><b/><m/><z/></e>");
    e->ReplaceChildNode(doc->CreateElement("r"), stranger);  // nothing
    e->ReplaceChildNode(stranger, a);
    EXPECT_EQ(a->Parent(), nullptr);
    EXPECT_EQ(stranger->Parent(), e);
    EXPECT_EQ(e->RemoveChildNode(n), 1);
    EXPECT_EQ(e->RemoveChildNode(n), -1);
    EXPECT_EQ(n->Parent(), nullptr);
    EXPECT_EQ(Compact(e), "<e><s/><b/><m/><z/></e>");
}

TEST_F(Node, FindChildElementByAttr) {
    EXPECT_EQ(doc->CreateElement("x")->FindChildElementByAttr("item", "id", TaggedValue("1")), nullptr);
    e->AppendChildElement("item")->WriteAttr("id", "x");  // not a number: compares unequal
    e->AppendChildElement("item");                        // no attribute
    XmlRef<IXmlElement> third = e->AppendChildElement("item");
    third->WriteAttr("id", "7");
    XmlRef<IXmlElement> fourth = e->AppendChildElement("item");
    fourth->WriteIntAttr("id", 8);
    EXPECT_EQ(e->FindChildElementByAttr("item", "id", TaggedValue::Int32(7)), third);
    EXPECT_EQ(e->FindChildElementByAttr("item", "id", TaggedValue("8")), fourth);
    EXPECT_EQ(e->FindChildElementByAttr("item", "id", TaggedValue::Int32(9)), nullptr);
}

TEST_F(Node, PathValues) {
    EXPECT_EQ(e->ReadPathValue("@id"), TaggedValue(""));
    e->WritePathValue("@id", TaggedValue::Int32(3));
    EXPECT_EQ(e->ReadPathValue("@id"), TaggedValue::Int32(3));
    EXPECT_EQ(e->ReadPathValue("sub"), TaggedValue(""));
    e->WritePathValue("sub", TaggedValue::Boolean(true));
    EXPECT_EQ(e->ReadPathValue("sub"), TaggedValue::Boolean(true));
    e->WritePathValue("", TaggedValue("own"));  // replaces the children
    EXPECT_EQ(e->ReadPathValue(""), e->ReadValue());
    EXPECT_EQ(e->ReadPathValue(""), TaggedValue("own"));
    EXPECT_EQ(Compact(e), "<e id=\"3\">own</e>");
}

TEST_F(Node, Duplicate) {
    e->WriteAttr("a", "1");
    e->WriteIntAttr("b", 2);
    XmlRef<IXmlElement> c = e->AppendChildElement("c");
    c->WriteText("direct");
    e->AppendTextNode("t");
    XmlRef<IXmlNode> deep = e->Duplicate(true);
    EXPECT_EQ(deep->Parent(), nullptr);
    EXPECT_EQ(deep->NameTableRef(), e->NameTableRef());
    EXPECT_EQ(Compact(deep), Compact(e));
    EXPECT_EQ(Compact(deep), "<e a=\"1\" b=\"2\"><c>direct</c>t</e>");
    EXPECT_EQ(Compact(e->Duplicate(false)), "<e a=\"1\" b=\"2\"/>");
    // The copy is independent.
    deep->WriteAttr("a", "changed");
    EXPECT_EQ(e->ReadAttr("a", ""), "1");

    XmlRef<IXmlNode> pi = e->AppendInstruction("xml", "");
    pi->WriteAttr("version", "1.0");
    EXPECT_EQ(Compact(pi->Duplicate(false)), "<?xml version=\"1.0\"?>");
    EXPECT_EQ(e->AppendCDATANode("x")->Duplicate(false)->MarkupText(), "<![CDATA[x]]>");

    doc->SetPreserveWhiteSpace(true);
    XmlRef<IXmlNode> docCopy = doc->Duplicate(true);
    ASSERT_TRUE(docCopy->DocumentOf());
    EXPECT_FALSE(docCopy->DocumentOf()->GetPreserveWhiteSpace());
    EXPECT_EQ(docCopy->NameTableRef(), doc->NameTableRef());
    docCopy->DocumentOf()->SetPreserveWhiteSpace(true);
    EXPECT_EQ(docCopy->MarkupText(), doc->MarkupText());
    EXPECT_EQ(doc->Duplicate(false)->ChildList()->ItemCount(), 0);
}

TEST_F(Node, ReplaceTextWithCDATA) {
    e->AppendTextNode("old");
    e->AppendCommentNode("keep");
    e->AppendCDATANode("old too");
    e->AppendChildElement("child");
    e->ReplaceTextWithCDATA("a]]>b");
    EXPECT_EQ(Compact(e), "<e><!--keep--><child/><![CDATA[a]]]><![CDATA[]>b]]></e>");
    XmlRef<IXmlNodeCollection> list = e->ChildList();
    ASSERT_EQ(list->ItemCount(), 4);
    EXPECT_EQ(ImplNode(list->ItemAt(2).get())->NodeKind(), xnkCDATA);
    EXPECT_EQ(static_cast<TXmlCDATASection*>(ImplNode(list->ItemAt(2).get()))->Text.TextView(), "a]");
    EXPECT_EQ(static_cast<TXmlCDATASection*>(ImplNode(list->ItemAt(3).get()))->Text.TextView(), "]>b");
    e->ReplaceTextWithCDATA("plain");
    EXPECT_EQ(Compact(e), "<e><!--keep--><child/><![CDATA[plain]]></e>");
    e->ReplaceTextWithCDATA("]]>]]>");
    EXPECT_EQ(e->ChildList()->ItemCount(), 5);
    EXPECT_EQ(e->ReadText(), "] ]>] ]>");  // "]", "]>]", "]>" joined
}

TEST_F(Node, Base64Text) {
    e->AppendTextNode("old");
    const std::string bytes("\x00\x01\xFF" "xyz", 6);
    e->ReplaceTextWithBase64(bytes.data(), static_cast<int32_t>(bytes.size()), 4);
    EXPECT_EQ(e->ChildList()->ItemCount(), 1);
    EXPECT_EQ(e->ReadText(), "AAH/\r\neHl6");
    EXPECT_EQ(e->ReadBase64Text(), bytes);
}
