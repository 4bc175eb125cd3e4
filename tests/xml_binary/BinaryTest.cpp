// The binary form: exact bytes, round trips of every value kind and node type, UTF-16 strings,
// and hostile data that must fail with a message instead of reading or reserving wildly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "tests/xml/XmlTestSupport.h"
#include "xml/XmlBinary.h"
#include "xml/XmlStreams.h"

namespace {

using namespace xml;
using xmltest::Dump;
using xmltest::ErrorOf;

const char kReadError[] = "Ошибка чтения данных.";

std::string Bytes(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, "%02X ", c);
        out += buf;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

const std::string kHeader = std::string("< binary-xml >") + Bytes({0, 0, 0, 0});

XmlRef<IXmlDocument> PrivateDocument() { return NewXmlDocument({}, "1.0", {}, NewXmlNameTable()); }

TEST(XmlBinary, CompactIntegersHaveTheirThreeForms) {
    const struct {
        int32_t value;
        const char* bytes;
    } cases[] = {
        {0, "00"},       {127, "7F"},          {128, "80 80"},          {300, "81 2C"},
        {32511, "FE FF"}, {32512, "FF 00 7F 00 00"}, {-1, "FF FF FF FF FF"},
        {INT32_MAX, "FF FF FF FF 7F"}, {INT32_MIN, "FF 00 00 00 80"},
    };
    for (const auto& c : cases) {
        TStrXmlWriter writer(0, 16);
        writer.WriteInteger(c.value);
        writer.FlushBuf();
        const std::string data = writer.Result();
        EXPECT_EQ(Hex(data.substr(18)), c.bytes) << c.value;
        TStrXmlReader reader(data);
        EXPECT_EQ(reader.ReadInteger(), c.value);
        EXPECT_EQ(ErrorOf([&] { reader.ReadByte(); }), kReadError);  // nothing more is there
    }
}

TEST(XmlBinary, EmptyDocumentIsTheSame103Bytes) {
    const std::string expected = Hex(kHeader) +
        " 05 05 23 74 65 78 74 0E 23 63 64 61 74 61 2D 73 65 63 74 69 6F 6E 08 23 63 6F 6D 6D 65 6E 74"
        " 09 23 64 6F 63 75 6D 65 6E 74 03 78 6D 6C 90 00 05 83 28 01 00 00 00 00 87 B6 01 02 00 00 00"
        " 8A C2 01 01 00 00 00 8C F1 01 04 00 00 00 8D 82 01 03 00 00 00 00 00";
    const std::string data = PrivateDocument()->GetBinaryXml();
    EXPECT_EQ(data.size(), 103u);
    EXPECT_EQ(Hex(data), expected);

    TMemoryStream stream;
    PrivateDocument()->SaveBinaryToStream(stream, 0);
    EXPECT_EQ(stream.Data(), data);
}

// A document holding one element with the value as an attribute, as text content and as a
// direct value, written and read back by every path.
TEST(XmlBinary, EveryValueKindRoundTrips) {
    const TaggedValue values[] = {
        TaggedValue(),
        TaggedValue::Null(),
        TaggedValue::Int8(-5),
        TaggedValue::UInt8(250),
        TaggedValue::Int16(-30000),
        TaggedValue::UInt16(65000),
        TaggedValue::Int32(-2000000000),
        TaggedValue::UInt32(4000000000u),
        TaggedValue::Int64(-9000000000000000000LL),
        TaggedValue::Float32(1.25f),
        TaggedValue::Float64(-0.1),
        TaggedValue::Currency(123456789),
        TaggedValue::DateTime(45356.5),
        TaggedValue::Boolean(true),
        TaggedValue::Boolean(false),
        TaggedValue::WideText(u"\u0416x"),
        TaggedValue::Text("8-bit \xC6"),
        TaggedValue::Text(""),
        TaggedValue::Bytes({0, 1, 255}),
        TaggedValue::Bytes({}),
    };
    for (const TaggedValue& value : values) {
        for (uint32_t options : {0u, 1u}) {
            XmlRef<IXmlDocument> doc = PrivateDocument();
            XmlRef<IXmlElement> e = doc->AppendChildElement("e");
            e->WriteVarAttr("v", value);
            e->AppendChildElement("d")->WriteValue(value);
            ImplNode(e.get())->ChildListObject().AppendNew(
                MakeXml<TXmlText>(ImplNode(doc.get())->TableRef(), value));
            const std::string before = Dump(doc);

            TMemoryStream stream;
            doc->SaveBinaryToStream(stream, options);
            XmlRef<IXmlDocument> back = NewXmlDocument();
            back->LoadBinaryXml(stream.Data());
            EXPECT_EQ(Dump(back), before) << value.KindCode() << " options " << options;
            TXmlElement& d = static_cast<TXmlElement&>(*ImplNode(back->DocumentElement().get())->Children()->Item(0));
            EXPECT_TRUE(d.DirectValue() == value) << value.KindCode();
            EXPECT_EQ(d.Children(), nullptr);  // a direct value comes back without a child list
        }
    }
}

TEST(XmlBinary, ValueCodesAndPayloadBytes) {
    const struct {
        TaggedValue value;
        const char* bytes;
    } cases[] = {
        {TaggedValue::Text("ab"), "81 00 02 61 62"},
        {TaggedValue::Int32(5), "03 05 00 00 00"},
        {TaggedValue::Boolean(true), "0B FF FF"},
        {TaggedValue::WideText(u"\u0416"), "08 01 16 04"},
        {TaggedValue::Bytes({7}), "A0 11 01 07"},
    };
    for (const auto& c : cases) {
        for (uint32_t options : {0u, 1u}) {  // values are written alike whatever the options
            TStrXmlWriter writer(options, 4);
            writer.WriteTaggedValue(c.value);
            writer.FlushBuf();
            EXPECT_EQ(Hex(writer.Result().substr(18)), c.bytes);
        }
    }
    const std::string badCode = kHeader + Bytes({0x0C});
    TStrXmlReader reader(badCode);  // reads in place
    TaggedValue v = TaggedValue::Int32(1);
    EXPECT_EQ(ErrorOf([&] { reader.ReadTaggedValue(v); }), "Ошибка чтения значения: некорректный тип.");
    EXPECT_TRUE(v.IsEmpty());  // cleared before the code was read
}

TEST(XmlBinary, WideOptionStoresNamesAndTextsAsUtf16) {
    XmlRef<IXmlDocument> doc = PrivateDocument();
    XmlRef<IXmlElement> e = doc->AppendChildElement("Ж");
    e->WriteAttr("a", "Ж");
    e->AppendCDATANode("cЖ");
    e->AppendCommentNode("mЖ");
    e->AppendInstruction("pi", "dЖ");
    e->AppendTextNode("tЖ");
    const std::string before = Dump(doc);

    TMemoryStream stream;
    doc->SaveBinaryToStream(stream, 1);
    const std::string& data = stream.Data();
    EXPECT_EQ(Hex(data.substr(14, 4)), "01 00 00 00");
    // "Ж" is U+0416 under windows-1251; whatever the active code page maps it to, as UTF-16 LE.
    const std::u16string zhe = platform::AnsiToWide("Ж");
    ASSERT_EQ(zhe.size(), 1u);
    const int lo = zhe[0] & 0xFF, hi = zhe[0] >> 8;
    EXPECT_NE(data.find(Bytes({0x01, lo, hi})), std::string::npos);        // the name
    EXPECT_NE(data.find(Bytes({0x02, 'c', 0, lo, hi})), std::string::npos);  // CDATA
    EXPECT_NE(data.find(Bytes({0x81, 0x00, 0x02, 't', static_cast<int>(0xC6)})), std::string::npos);  // code 256: 8-bit

    XmlRef<IXmlDocument> back = NewXmlDocument();
    back->LoadBinaryXml(data);
    EXPECT_EQ(Dump(back), before);
}

TEST(XmlBinary, ElementWithChildrenIsWrittenWithoutItsDirectValue) {
    XmlRef<IXmlDocument> doc = PrivateDocument();
    XmlRef<IXmlElement> e = doc->AppendChildElement("e");
    e->WriteText("hidden");
    ImplNode(e.get())->ChildListObject().AppendNew(MakeXml<TXmlComment>(ImplNode(doc.get())->TableRef(), "c"));
    XmlRef<IXmlDocument> back = NewXmlDocument();
    back->LoadBinaryXml(doc->GetBinaryXml());
    EXPECT_EQ(Dump(back), "{E(e){M\"c\"}}");
}

TEST(XmlBinary, DocumentNodeCannotBeAChildRecord) {
    XmlRef<IXmlDocument> doc = PrivateDocument();
    XmlRef<IXmlElement> e = doc->AppendChildElement("e");
    ImplNode(e.get())->ChildListObject().AppendNew(MakeXml<TXmlDocument>(ImplNode(doc.get())->TableRef()));
    EXPECT_EQ(ErrorOf([&] { doc->GetBinaryXml(); }), "Ошибка записи двоичного XML: некорректный тип узла");
    TMemoryStream stream;
    EXPECT_EQ(ErrorOf([&] { doc->SaveBinaryToStream(stream, 0); }),
              "Ошибка записи двоичного XML: некорректный тип узла");
}

TEST(XmlBinary, ShortDataFailsAndTrailingBytesAreIgnored) {
    XmlRef<IXmlDocument> doc = NewXmlDocument();
    EXPECT_EQ(ErrorOf([&] { doc->LoadBinaryXml(kHeader.substr(0, 17)); }), kReadError);

    XmlRef<IXmlDocument> src = PrivateDocument();
    src->AppendChildElement("e")->WriteIntAttr("i", 7);
    const std::string data = src->GetBinaryXml();
    doc->LoadBinaryXml(data + "trailing junk");
    EXPECT_EQ(Dump(doc), Dump(src));

    // Every cut short of the end fails with the read error.
    for (size_t n = 0; n < data.size(); ++n)
        EXPECT_EQ(ErrorOf([&] { NewXmlDocument()->LoadBinaryXml(data.substr(0, n)); }), kReadError) << n;
}

// The empty document's name table with one element record appended by the caller.
std::string WithContent(const std::string& content) {
    std::string data = PrivateDocument()->GetBinaryXml();
    data.resize(data.size() - 2);  // drop "no attributes, no children"
    return data + content;
}

TEST(XmlBinary, HostileDataFailsWithAMessage) {
    const std::string table = PrivateDocument()->GetBinaryXml().substr(18);
    const std::string names = table.substr(0, 45);  // N and the five names
    const struct {
        const char* what;
        std::string data;
        const char* error;
    } cases[] = {
        {"name count near 2^31", kHeader + Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x7F}), kReadError},
        {"negative name count", kHeader + Bytes({0xFF, 0xFE, 0xFF, 0xFF, 0xFF}), kReadError},
        {"string longer than the data", kHeader + Bytes({0x05, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}), kReadError},
        {"foreign standard names", kHeader + Bytes({0x05, 1, 'a', 1, 'b', 1, 'c', 1, 'd', 1, 'e', 1, 1, 0, 0, 0}),
         kReadError},
        {"no buckets", kHeader + names + Bytes({0x00, 0x00, 0, 0}), kReadError},
        {"2^30 buckets", kHeader + names + Bytes({0xFF, 0, 0, 0, 0x40, 0x00, 0, 0}), kReadError},
        {"more used buckets than buckets", kHeader + names + Bytes({0x01, 0x02}), kReadError},
        {"bucket number out of range", kHeader + names + Bytes({0x01, 0x01, 0x01, 0x01, 0, 0, 0, 0}), kReadError},
        {"name index out of range", kHeader + names + Bytes({0x01, 0x01, 0x00, 0x01, 5, 0, 0, 0}), kReadError},
        {"bucket length near 2^31", kHeader + names + Bytes({0x01, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}),
         kReadError},
        {"attribute count near 2^31", WithContent(Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x7F})), kReadError},
        {"child count near 2^31", WithContent(Bytes({0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F})), kReadError},
        {"element name index out of range", WithContent(Bytes({0x00, 0x01, 0x01, 0x05, 0x00, 0x00, 0x00})),
         kReadError},
        {"attribute name index out of range", WithContent(Bytes({0x01, 0x09, 0x00, 0x00})), kReadError},
        {"attribute without a name", WithContent(Bytes({0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00})), kReadError},
        {"byte array near 2^31", WithContent(Bytes({0x01, 0x00, 0xA0, 0x11, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F})),
         kReadError},
        {"wide string near 2^30", WithContent(Bytes({0x01, 0x00, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x3F})), kReadError},
        {"unknown value code", WithContent(Bytes({0x01, 0x00, 0x09})), "Ошибка чтения значения: некорректный тип."},
        {"unknown node type", WithContent(Bytes({0x00, 0x01, 0x09, 0x00})), "Ошибка чтения двоичного XML: некорректный тип узла"},
    };
    for (const auto& c : cases) {
        XmlRef<IXmlDocument> doc = NewXmlDocument();
        EXPECT_EQ(ErrorOf([&] { doc->LoadBinaryXml(c.data); }), c.error) << c.what;
        TMemoryStream stream(c.data);
        EXPECT_EQ(ErrorOf([&] { doc->LoadFromStream(stream); }), c.error) << c.what << " (stream)";
    }
}

TEST(XmlBinary, StreamAndStringReadersAgreeAcrossBufferRefills) {
    XmlRef<IXmlDocument> doc = PrivateDocument();
    XmlRef<IXmlElement> root = doc->AppendChildElement("root");
    for (int i = 0; i < 6000; ++i) {
        XmlRef<IXmlElement> e = root->AppendChildElement("item" + std::to_string(i % 50));
        e->WriteIntAttr("n", i);
        e->AppendTextNode(std::string(static_cast<size_t>(i % 97), 'x'));
    }
    const std::string data = doc->GetBinaryXml();
    ASSERT_GT(data.size(), 3 * 65536u);
    TMemoryStream stream(data);
    XmlRef<IXmlDocument> fromStream = NewXmlDocument();
    fromStream->LoadFromStream(stream);
    EXPECT_EQ(Dump(fromStream), Dump(doc));
    // Small writer buffers send large items straight to the stream; the bytes stay the same.
    TMemoryStream small;
    {
        TStmXmlWriter writer(small, 0, 7);
        ImplNode(doc.get())->Table().SaveBinXml(writer);
        ImplNode(doc.get())->SaveBinXml(writer);
        writer.Finish();
    }
    EXPECT_EQ(small.Data(), data);
}

TEST(XmlBinary, DeepNestingNeedsNoStack) {
    constexpr int kDepth = 100000;
    std::string error = "not run";
    xmltest::OnSmallStack([&] {
        error = ErrorOf([&] {
            std::string text;
            for (int i = 0; i < kDepth; ++i) text += "<e>";
            for (int i = 0; i < kDepth; ++i) text += "</e>";
            XmlRef<IXmlDocument> doc = PrivateDocument();
            doc->LoadXmlText(text);
            const std::string data = doc->GetBinaryXml();
            XmlRef<IXmlDocument> back = NewXmlDocument();
            back->LoadBinaryXml(data);
            EXPECT_EQ(back->GetBinaryXml(), data);
        });
    });
    EXPECT_EQ(error, "");
}

}  // namespace
