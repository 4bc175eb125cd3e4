// Where a parse stopped (offset, line, column) and where the parsed elements lie in the text.
#include <gtest/gtest.h>

#include <string>

#include "tests/xml/XmlTestSupport.h"
#include "xml/XmlParser.h"
#include "xml/XmlStreams.h"

namespace {

using namespace xml;

struct Stop {
    std::string message;
    uint64_t offset = 0, line = 0, column = 0;
};

Stop StopOf(const std::function<void()>& load) {
    try {
        load();
    } catch (const TXmlParseError& e) {
        return {e.what(), e.Offset(), e.Line(), e.Column()};
    }
    return {"no TXmlParseError", 0, 0, 0};
}

Stop StopOfText(const std::string& text) {
    XmlRef<IXmlDocument> doc = NewXmlDocument();
    return StopOf([&] { doc->LoadXmlText(text); });
}

Stop StopOfBlocks(const std::string& text, size_t block) {
    XmlRef<IXmlDocument> doc = NewXmlDocument();
    TMemoryStream stream(text);
    TXmlNode& node = *ImplNode(doc.get());
    return StopOf([&] {
        TXmlStmSource source(stream, block);
        node.ChildListObject().ParseXml(source, node.Table(), false);
    });
}

const struct {
    const char* name;
    std::string text;
    const char* message;
    uint64_t offset, line, column;
} kStops[] = {
    {"first line", "<a b=1/>", "Ожидается строковая константа", 5, 1, 6},
    {"after CR LF", "<r>\r\n<a b=1/>", "Ожидается строковая константа", 10, 2, 6},
    {"after LF only", "<r>\n<a b=1/>", "Ожидается строковая константа", 9, 2, 6},
    {"after a lone CR", "<r>\r<a b=1/>", "Ожидается строковая константа", 9, 2, 6},
    {"after a tab", "<r>\n\t<a b=1/>", "Ожидается строковая константа", 10, 2, 7},
    {"mixed line ends", "<r>\r\n\r\n\n<x>\t\t</y>", "Ожидается \"x\"", 15, 4, 8},
    {"end of input", "<a>\r\ntext", "Ожидается \"/\"", 9, 2, 5},
    {"line break inside a value", "<a b=\"1\r\n2\" c>", "Ожидается \"=\"", 13, 2, 5},
};

TEST(XmlParsePositions, FailedParseTellsWhereItStopped) {
    for (const auto& c : kStops) {
        SCOPED_TRACE(c.name);
        const Stop stop = StopOfText(c.text);
        EXPECT_EQ(stop.message, c.message);
        EXPECT_EQ(stop.offset, c.offset);
        EXPECT_EQ(stop.line, c.line);
        EXPECT_EQ(stop.column, c.column);
        // A stream read in blocks of 1 and 3 bytes puts a boundary at every place of the input.
        for (size_t block : {1, 3, 65536}) {
            const Stop s = StopOfBlocks(c.text, block);
            EXPECT_EQ(s.message, c.message) << "block " << block;
            EXPECT_EQ(s.offset, c.offset) << "block " << block;
            EXPECT_EQ(s.line, c.line) << "block " << block;
            EXPECT_EQ(s.column, c.column) << "block " << block;
        }
    }
}

TEST(XmlParsePositions, StreamCountsLinesOfTheBlocksBeforeTheStop) {
    // 70,000 bytes of lines: the error lies in the document's second 64 KB block, with a CR LF
    // split across the boundary.
    std::string text = "<r>";
    uint64_t lines = 1;
    for (; text.size() + 8 <= 65535; ++lines) text += "\r\n\t<e/>";
    text.resize(65535, ' ');
    text += "\r\n";
    ++lines;
    text += "  <bad a=1/>";
    const uint64_t offset = text.size() - 3;
    text += "</r>";
    ASSERT_EQ(text.substr(65530, 8).find("\r\n"), 5u);  // CR at 65535, LF at 65536

    XmlRef<IXmlDocument> doc = NewXmlDocument();
    TMemoryStream stream(text);
    const Stop fromStream = StopOf([&] { doc->LoadFromStream(stream); });
    const Stop fromText = StopOfText(text);
    for (const Stop& s : {fromStream, fromText}) {
        EXPECT_EQ(s.message, "Ожидается строковая константа");
        EXPECT_EQ(s.offset, offset);
        EXPECT_EQ(s.line, lines);
        EXPECT_EQ(s.column, 10u);
    }
}

TEST(XmlParsePositions, BinaryDataTellsTheOffsetOnly) {
    // The signature, the options word, then a name count of 127 with two bytes left.
    const std::string data = std::string("< binary-xml >") + std::string(4, '\0') + "\x7F" + "ab";
    XmlRef<IXmlDocument> doc = NewXmlDocument();
    TMemoryStream stream(data);
    const Stop fromText = StopOf([&] { doc->LoadXmlText(data); });
    const Stop fromStream = StopOf([&] { doc->LoadFromStream(stream); });
    for (const Stop& s : {fromText, fromStream}) {
        EXPECT_EQ(s.message, "Ошибка чтения данных.");
        EXPECT_EQ(s.offset, 19u);
        EXPECT_EQ(s.line, 0u);
        EXPECT_EQ(s.column, 0u);
    }
    // A header cut short stops at the end of the data.
    EXPECT_EQ(StopOf([&] { doc->LoadXmlText(data.substr(0, 16)); }).offset, 16u);
}

TEST(XmlParsePositions, ParseErrorIsStillTheLibrarysError) {
    XmlRef<IXmlDocument> doc = NewXmlDocument();
    EXPECT_THROW(doc->LoadXmlText("<a"), TXmlError);
    EXPECT_EQ(xmltest::ErrorOf([&] { doc->LoadXmlText("<a"); }), "Не завершено определение элемента");
}

// The text a span covers.
std::string Cut(const std::string& text, uint64_t begin, uint64_t end) {
    return text.substr(static_cast<size_t>(begin), static_cast<size_t>(end - begin));
}

TEST(XmlParsePositions, ElementsAttributesAndValuesAreFoundInTheText) {
    const std::string text =
        "<?xml version=\"1.0\"?>\r\n<!DOCTYPE r [<!ENTITY e 'v'>]>\r\n"
        "<r a=\"1\" b = 'x&amp;y'>\r\n\t<e/>\r\n\t<f  c=\"\" c=\"2\"  ></f >text<g/></r>tail";
    XmlRef<IXmlDocument> doc = NewXmlDocument();
    TXmlPositions positions;
    LoadXmlTextWithPositions(doc, text, positions);

    XmlRef<IXmlElement> r = doc->DocumentElement();
    const TXmlElementSpan* rs = positions.Find(r.get());
    ASSERT_NE(rs, nullptr);
    EXPECT_EQ(Cut(text, rs->Begin, rs->NameEnd), "<r");
    EXPECT_EQ(Cut(text, rs->Begin, rs->StartTagEnd), "<r a=\"1\" b = 'x&amp;y'>");
    EXPECT_EQ(Cut(text, rs->AttrsEnd, rs->StartTagEnd), ">");
    EXPECT_EQ(Cut(text, rs->EndTagBegin, rs->End), "</r>");
    EXPECT_EQ(Cut(text, rs->End, text.size()), "tail");
    EXPECT_FALSE(rs->SelfClosing());
    ASSERT_EQ(rs->AttrCount, 2u);
    const TXmlAttrSpan& b = positions.Attrs()[rs->FirstAttr + 1];
    EXPECT_EQ(Cut(text, b.NameBegin, b.NameEnd), "b");
    EXPECT_EQ(Cut(text, b.ValueBegin, b.ValueEnd), "x&amp;y");  // as written, not resolved

    const TXmlElementSpan* es = positions.Find(r->FindChildElement("e").get());
    ASSERT_NE(es, nullptr);
    EXPECT_TRUE(es->SelfClosing());
    EXPECT_EQ(Cut(text, es->Begin, es->End), "<e/>");
    EXPECT_EQ(es->AttrsEnd, es->NameEnd);

    XmlRef<IXmlNode> f = r->FindChildElement("f");
    const TXmlElementSpan* fs = positions.Find(f.get());
    ASSERT_NE(fs, nullptr);
    EXPECT_EQ(Cut(text, fs->Begin, fs->End), "<f  c=\"\" c=\"2\"  ></f >");
    EXPECT_EQ(Cut(text, fs->StartTagEnd, fs->EndTagBegin), "");
    EXPECT_EQ(Cut(text, fs->AttrsEnd, fs->StartTagEnd), "  >");
    EXPECT_EQ(fs->AttrCount, 2u);  // each occurrence
    const TXmlAttrSpan* c = positions.FindAttr(*fs, doc->NameTableRef()->IdOfName("c"));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(Cut(text, c->ValueBegin, c->ValueEnd), "2");  // the occurrence whose value was kept
    EXPECT_EQ(positions.FindAttr(*fs, doc->NameTableRef()->IdOfName("zz")), nullptr);
    EXPECT_EQ(positions.Elements().size(), 4u);

    // A plain load records nothing and gives the same tree.
    XmlRef<IXmlDocument> plain = NewXmlDocument();
    plain->LoadXmlText(text);
    EXPECT_EQ(xmltest::Dump(plain), xmltest::Dump(doc));
    EXPECT_EQ(positions.Find(plain->DocumentElement().get()), nullptr);
}

TEST(XmlParsePositions, StoppedParseKeepsTheSpansItReached) {
    const std::string text = "<r><a x=\"1\"/><b>";
    XmlRef<IXmlDocument> doc = NewXmlDocument();
    TXmlPositions positions;
    EXPECT_THROW(LoadXmlTextWithPositions(doc, text, positions), TXmlParseError);
    ASSERT_EQ(positions.Elements().size(), 3u);
    EXPECT_EQ(positions.Elements()[0].End, TXmlElementSpan::kOpen);
    EXPECT_EQ(Cut(text, positions.Elements()[1].Begin, positions.Elements()[1].End), "<a x=\"1\"/>");

    // Binary data has no text positions.
    XmlRef<IXmlDocument> source = NewXmlDocument("Host");
    LoadXmlTextWithPositions(doc, source->GetBinaryXml(), positions);
    EXPECT_TRUE(positions.Elements().empty());
    EXPECT_TRUE(doc->DocumentElement());
}

}  // namespace
