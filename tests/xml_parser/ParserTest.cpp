// The text parser: what each input yields, the exact message and the state it leaves on failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/xml/XmlTestSupport.h"
#include "xml/XmlParser.h"
#include "xml/XmlStreams.h"

namespace {

using namespace xml;
using xmltest::Dump;
using xmltest::ErrorOf;

struct Outcome {
    std::string tree;
    std::string error;
};

Outcome ParseText(const std::string& text, bool preserve = false) {
    XmlRef<IXmlDocument> doc = NewXmlDocument();
    doc->SetPreserveWhiteSpace(preserve);
    const std::string error = ErrorOf([&] { doc->LoadXmlText(text); });
    return {Dump(doc), error};
}

// The same text through the stream source with a tiny block, so that every token of the input
// meets a block boundary somewhere.
Outcome ParseBlocks(const std::string& text, size_t block, bool preserve = false) {
    XmlRef<IXmlDocument> doc = NewXmlDocument();
    TMemoryStream stream(text);
    TXmlNode& node = *ImplNode(doc.get());
    const std::string error = ErrorOf([&] {
        TXmlStmSource source(stream, block);
        node.ChildListObject().ParseXml(source, node.Table(), preserve);
    });
    return {Dump(doc), error};
}

struct Case {
    const char* input;
    const char* tree;   // the nodes made, also when the parse fails
    const char* error;  // "" for none
};

const Case kCases[] = {
    // Content, blanks and top level.
    {"", "{}", ""},
    {" \t\r\n ", "{}", ""},
    {"<a></a>", "{E(a){}}", ""},
    {"<a> x </a>", "{E(a){T(256:\" x \")}}", ""},
    {"<a/>t<b/>", "{E(a) T(256:\"t\") E(b)}", ""},
    {"<a/></b><c/>", "{E(a)}", ""},  // a stray end tag ends the parse quietly
    {"<a/><", "{E(a)}", ""},
    {"<a/><!", "{E(a)}", ""},
    // Attributes.
    {"<a b='1'c=\"2\"/>", "{E(a b=256:\"1\" c=256:\"2\")}", ""},
    {"<a b='1' c='2' b='3'/>", "{E(a b=256:\"3\" c=256:\"2\")}", ""},
    {"<a b = '\"x\"\t&lt;' />", "{E(a b=256:\"\\22x\\22\\09<\")}", ""},
    {"<a b=1>", "{E(a)}", "Ожидается строковая константа"},
    {"<a b>", "{E(a)}", "Ожидается \"=\""},
    {"<a b='x", "{E(a)}", "Ожидается \"'\""},
    {"<a b='<'/>", "{E(a)}", "Символ \"<\" не может использоваться в значениях атрибутов"},
    {"<a b= ", "{E(a)}", "Ожидается значение атрибута"},
    // Tags.
    {"<a></ab>", "{E(a){}}", "Ожидается \">\""},
    {"<ab></a>", "{E(ab){}}", "Ожидается \"b\""},
    {"<a></a >", "{E(a){}}", ""},
    {"<a>text", "{E(a){T(256:\"text\")}}", "Ожидается \"/\""},
    {"<a/ >", "{E(a)}", "Ожидается \">\""},
    {"<a", "{}", "Не завершено определение элемента"},
    {"<a!>", "{}", "Некорретный символ в имени элемента"},
    {"< a/>", "{}", "Имя должно начинаться с буквы или \"_\""},
    {"<1/>", "{}", "Имя должно начинаться с буквы или \"_\""},
    {"<a><b x='1'><c/>tail", "{E(a){E(b x=256:\"1\"){E(c) T(256:\"tail\")}}}", "Ожидается \"/\""},
    // References: byte values of the code page.
    {"<a>&#65;&#x41;&#321;&lt;&gt;&amp;&quot;&apos;</a>", "{E(a){T(256:\"AAA<>&\\22'\")}}", ""},
    {"<a>&#X41;</a>", "{E(a){}}", "Ожидается число"},
    {"<a>&#</a>", "{E(a){}}", "Ожидается число"},
    {"<a>&#", "{E(a){}}", "Ожидается число"},
    {"<a>&#xg;</a>", "{E(a){}}", "Ожидается шестнадцатеричное число"},
    {"<a>&amp </a>", "{E(a){}}", "Ожидается \";\""},
    {"<a>&", "{E(a){}}", "Ожидается \"#\" или имя упрамляющего символа"},
    {"<a>& </a>", "{E(a){}}", "Имя должно начинаться с буквы или \"_\""},
    {"<a>&nbsp;</a>", "{E(a){}}", "Некорректное имя управляющего символа"},
    {"<a>&#4294967361;</a>", "{E(a){T(256:\"A\")}}", ""},  // beyond 32 bits: still the low byte
    {"<a>&amp;&lt;&gt;&quot;&apos;&ampx;</a>", "{E(a){}}", "Некорректное имя управляющего символа"},
    {"<a x='&apos;&amp;' y=\"&quot;'\">&lt;&gt;&amp;&apos;&quot;</a>", "{E(a x=256:\"'&\" y=256:\"\\22'\"){T(256:\"<>&'\\22\")}}", ""},
    // A failure deep inside keeps every node read before it, at every open level, in order.
    {"<a><b>x</b><c>y<d/>z<e>w&bogus;", "{E(a){E(b){T(256:\"x\")} E(c){T(256:\"y\") E(d) T(256:\"z\") E(e){}}}}",
     "Некорректное имя управляющего символа"},
    // Instructions, comments, CDATA, DOCTYPE.
    {"<?xml version='1.0' encoding='windows-1251'?>",
     "{P(xml version=256:\"1.0\" encoding=256:\"windows-1251\")\"\"}", ""},
    {"<?pi  data ?>", "{P(pi)\"  data \"}", ""},
    {"<?XML a?>", "{P(XML)\" a\"}", ""},
    {"<?pi a?b?" "?>", "{P(pi)\" a?b?\"}", ""},
    {"<?xml version='1.0'>", "{P(xml version=256:\"1.0\")\"\"}", "Ожидается \"?>\""},
    {"<?pi x", "{P(pi)\"\"}", "Ожидается \"?>\""},
    {"<?", "{}", "Имя должно начинаться с буквы или \"_\""},
    {"<!--a--->", "{M\"a-\"}", ""},
    {"<!--a--b-->", "{M\"a--b\"}", ""},
    {"<!-x", "{}", "Ожидается \"-\""},
    {"<!--x", "{}", "Ожидается \"-->\""},
    {"<![CDATA[x]]]>", "{C\"x]\"}", ""},
    {"<![CDATA[<a>&amp;]]>", "{C\"<a>&amp;\"}", ""},
    {"<![CDAT", "{}", "Ожидается \"A[\""},
    {"<![CDATA[x]]", "{}", "Ожидается \"]]>\""},
    {"<!DOCTYPE x [<!ENTITY e 'v'>]><x/>", "{T(256:\"]>\") E(x)}", ""},
    {"<!doctype x>", "{}", "Ожидается \"DOCTYPE\""},
    {"<!DOCTYPE x", "{}", "Ожидается \">\""},
    // Names of the code page: Cyrillic letters start and continue names.
    {"<Имя атр-1.б:в_г='Ё'/>", "{E(Имя атр-1.б:в_г=256:\"Ё\")}", ""},
    // Every byte above 127 starts and continues a name, also those that are no letters of the
    // code page: a UTF-8 file's letters are made of them ("Устройства", "ёїх" in UTF-8 here).
    {"<\x85\x91-\x97\x98\xA0 \xFF\x80='1'/>", "{E(\x85\x91-\x97\x98\xA0 \xFF\x80=256:\"1\")}", ""},
    {"<\xD0\xA3\xD1\x81\xD1\x82\xD1\x80\xD0\xBE\xD0\xB9\xD1\x81\xD1\x82\xD0\xB2\xD0\xB0>"
     "<\xD1\x91\xD1\x97\xD1\x85/></\xD0\xA3\xD1\x81\xD1\x82\xD1\x80\xD0\xBE\xD0\xB9\xD1\x81\xD1\x82\xD0\xB2\xD0\xB0>",
     "{E(\xD0\xA3\xD1\x81\xD1\x82\xD1\x80\xD0\xBE\xD0\xB9\xD1\x81\xD1\x82\xD0\xB2\xD0\xB0){E(\xD1\x91\xD1\x97\xD1\x85)}}", ""},
    // Below 128 the rules stay: no digit, "-", "." or DEL starts a name, DEL continues none.
    {"<a\x7F/>", "{}", "Некорретный символ в имени элемента"},
    {"<\x7F" "a/>", "{}", "Имя должно начинаться с буквы или \"_\""},
    {"<-a/>", "{}", "Имя должно начинаться с буквы или \"_\""},
    {"<a \x80" "b='1' \x7F/>", "{E(a \x80" "b=256:\"1\")}", "Ожидается \">\""},
};

TEST(XmlParser, EachInputYieldsItsNodesAndItsMessage) {
    for (const Case& c : kCases) {
        const Outcome got = ParseText(c.input);
        EXPECT_EQ(got.tree, c.tree) << c.input;
        EXPECT_EQ(got.error, c.error) << c.input;
    }
}

TEST(XmlParser, BlockBoundariesChangeNothing) {
    for (const Case& c : kCases) {
        const Outcome whole = ParseText(c.input);
        for (size_t block : {1, 2, 3, 5, 64}) {
            const Outcome blocks = ParseBlocks(c.input, block);
            EXPECT_EQ(blocks.tree, whole.tree) << c.input << " block " << block;
            EXPECT_EQ(blocks.error, whole.error) << c.input << " block " << block;
        }
    }
}

TEST(XmlParser, PreserveWhiteSpaceKeepsEveryTextRun) {
    const struct {
        const char* input;
        const char* tree;
    } cases[] = {
        {"", "{}"},
        {" \r\n", "{T(256:\" \\0D\\0A\")}"},
        // Every run, even the empty one before the first tag.
        {"<a></a>", "{T(256:\"\") E(a){T(256:\"\")}}"},
        {"<a> x </a>", "{T(256:\"\") E(a){T(256:\" x \")}}"},
        {" <a>\r\n\t<b/>\r\n</a>", "{T(256:\" \") E(a){T(256:\"\\0D\\0A\\09\") E(b) T(256:\"\\0D\\0A\")}}"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseText(c.input, true).tree, c.tree) << c.input;
        EXPECT_EQ(ParseBlocks(c.input, 2, true).tree, c.tree) << c.input;
    }
}

TEST(XmlParser, NulByteIsDataAndCountsAsBlank) {
    EXPECT_EQ(ParseText(std::string("<a>\0</a>", 8)).tree, "{E(a){}}");
    EXPECT_EQ(ParseText(std::string("<a>x\0y</a>", 10)).tree, "{E(a){T(256:\"x\\00y\")}}");
    EXPECT_EQ(ParseText(std::string("<a b='\0'/>", 10)).tree, "{E(a b=256:\"\\00\")}");
}

TEST(XmlParser, NamesMetBeforeAFailureStayInTheTable) {
    XmlRef<IXmlDocument> doc = NewXmlDocument({}, "1.0", {}, NewXmlNameTable());
    XmlRef<IXmlNameDictionary> table = doc->NameTableRef();
    EXPECT_NE(ErrorOf([&] { doc->LoadXmlText("<first><second attr='1'></third>"); }), "");
    TXmlNameTable& names = *ImplTable(table.get());
    EXPECT_EQ(names.NameCount(), 8);  // five standard names, then in the order met
    EXPECT_EQ(names.NameOfId(5), "first");
    EXPECT_EQ(names.NameOfId(6), "second");
    EXPECT_EQ(names.NameOfId(7), "attr");
}

TEST(XmlParser, ManyAttributesKeepFirstPlacesAndLastValues) {
    // Beyond a handful of attributes the lookup changes; the rule must not.
    constexpr int kCount = 100000;  // a scan per attribute would take minutes here
    std::string tag = "<e";
    for (int i = 0; i < kCount; ++i) tag += " a" + std::to_string(i) + "='" + std::to_string(i) + "'";
    tag += " a3='x' a99999='y' a20='z' a3='w'/>";
    XmlRef<IXmlDocument> doc = NewXmlDocument({}, "1.0", {}, NewXmlNameTable());
    doc->LoadXmlText(tag);
    XmlRef<IXmlElement> e = doc->DocumentElement();
    ASSERT_EQ(e->AttributeCount(), kCount);
    EXPECT_EQ(e->AttrNameAt(3), "a3");
    EXPECT_EQ(e->ReadAttr("a3", ""), "w");
    EXPECT_EQ(e->ReadAttr("a20", ""), "z");
    EXPECT_EQ(e->AttrNameAt(kCount - 1), "a99999");
    EXPECT_EQ(e->ReadAttr("a99999", ""), "y");
    EXPECT_EQ(e->ReadAttr("a12345", ""), "12345");
}

TEST(XmlParser, LongTokensAcrossBlocks) {
    // Names, values, text runs, comments and CDATA longer than several blocks of the source.
    const std::string name(300, 'n'), value(1000, 'v'), text(5000, 't');
    const std::string input = "<" + name + " " + name + "='" + value + "&amp;'>" + text + "&#65;" + text +
                              "<!--" + text + "-" + "--><![CDATA[" + text + "]" + "]]></" + name + ">";
    const Outcome whole = ParseText(input);
    EXPECT_EQ(whole.error, "");
    EXPECT_EQ(whole.tree, "{E(" + name + " " + name + "=256:\"" + value + "&\"){T(256:\"" + text + "A" +
                              text + "\") M\"" + text + "-\" C\"" + text + "]\"}}");
    EXPECT_EQ(ParseBlocks(input, 7).tree, whole.tree);
    EXPECT_EQ(ParseBlocks(input, 4096).tree, whole.tree);
}

TEST(XmlParser, StreamShorterThanItsSizeFailsWithTheReadError) {
    // A stream that claims more bytes than it delivers.
    class Liar final : public TByteStream {
    public:
        int64_t Size() override { return 13; }
        int64_t Position() override { return 0; }
        void Seek(int64_t) override {}
        size_t Read(void* buffer, size_t count) override {
            const size_t n = std::min(count, data_.size() - pos_);
            std::memcpy(buffer, data_.data() + pos_, n);
            pos_ += n;
            return n;
        }
        size_t Write(const void*, size_t) override { return 0; }

    private:
        std::string data_ = "<a>text</a>";  // 11 bytes of the 13 claimed
        size_t pos_ = 0;
    } stream;
    XmlRef<IXmlDocument> doc = NewXmlDocument();
    EXPECT_EQ(ErrorOf([&] { doc->LoadFromStream(stream); }), "Stream read error");
}

TEST(XmlParser, DeepNestingNeedsNoStack) {
    constexpr int kDepth = 100000;
    std::string text;
    for (int i = 0; i < kDepth; ++i) text += "<e a='1'>";
    text += "x";
    for (int i = 0; i < kDepth; ++i) text += "</e>";
    std::string error = "not run";
    int depth = 0;
    xmltest::OnSmallStack([&] {
        error = ErrorOf([&] {
            XmlRef<IXmlDocument> doc = NewXmlDocument();
            doc->LoadXmlText(text);
            TXmlNode* node = ImplNode(doc.get());
            while (node->Children() && node->Children()->Count() == 1 &&
                   node->Children()->Item(0)->NodeKind() == xnkElement) {
                node = node->Children()->Item(0);
                ++depth;
            }
            // The tree is released on this small stack too.
        });
    });
    EXPECT_EQ(error, "");
    EXPECT_EQ(depth, kDepth);

    // Unclosed, the same depth fails cleanly, keeping what it built.
    error = "not run";
    xmltest::OnSmallStack([&] {
        error = ErrorOf([&] {
            XmlRef<IXmlDocument> doc = NewXmlDocument();
            doc->LoadXmlText(text.substr(0, text.find('x') + 1));
        });
    });
    EXPECT_EQ(error, "Ожидается \"/\"");
}

}  // namespace
