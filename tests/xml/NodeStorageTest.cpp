// Child lists and attribute records keep their order, parents and references while their
// storage moves from the room inside the list to the heap and back to fewer items.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "xml/XmlInternal.h"

using namespace xml;

namespace {
// Built by appending: GCC 12 warns falsely about "literal" + string.
std::string AttrName(int i) {
    std::string s("a");
    s += std::to_string(i);
    return s;
}
}  // namespace

TEST(NodeStorage, ListOrderMatchesAModelThroughEveryStorageStep) {
    XmlRef<IXmlDocument> doc = NewXmlDocument();
    XmlRef<IXmlElement> e = doc->CreateElement("e");
    TXmlNode& owner = *ImplNode(e.get());
    TXmlNodeList& list = owner.ChildListObject();
    std::vector<TXmlNode*> model;
    std::vector<XmlRef<TXmlNode>> made;
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245 + 12345;
        return (seed >> 16) % n;
    };
    for (int step = 0; step < 400; ++step) {
        const auto count = static_cast<uint32_t>(model.size());
        if (count < 2 || next(3) != 0 || count > 12) {
            if (count > 12) {
                const uint32_t at = next(count);
                list.Delete(static_cast<int32_t>(at));
                EXPECT_EQ(model[at]->ParentNode(), nullptr);
                model.erase(model.begin() + at);
                continue;
            }
            made.push_back(MakeXml<TXmlElement>(owner.TableRef(), 5));
            const uint32_t at = next(count + 1);
            list.Insert(made.back(), static_cast<int32_t>(at));
            model.insert(model.begin() + at, made.back().get());
        } else {
            const uint32_t at = next(count);
            EXPECT_EQ(list.Remove(model[at]), static_cast<int32_t>(at));
            model.erase(model.begin() + at);
        }
        ASSERT_EQ(list.Count(), static_cast<int32_t>(model.size()));
        for (size_t i = 0; i < model.size(); ++i) {
            ASSERT_EQ(list.Item(static_cast<int32_t>(i)), model[i]) << step;
            ASSERT_EQ(model[i]->ParentNode(), &owner);
        }
    }
    // The list's references are the only ones left on the nodes it holds.
    made.clear();
    for (size_t i = 0; i < model.size(); ++i) EXPECT_EQ(list.Item(static_cast<int32_t>(i))->ParentNode(), &owner);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

TEST(NodeStorage, AttributesKeepTheirOrderAsTheirBlockGrows) {
    XmlRef<IXmlDocument> doc = NewXmlDocument();
    XmlRef<IXmlElement> e = doc->CreateElement("e");
    for (int i = 0; i < 40; ++i) e->WriteIntAttr(AttrName(i), i);
    e->DeleteAttr("a0");
    e->DeleteAttr("a17");
    e->WriteIntAttr("a5", 500);  // replaced in place
    ASSERT_EQ(e->AttributeCount(), 38);
    int position = 0;
    for (int i = 1; i < 40; ++i) {
        if (i == 17) continue;
        EXPECT_EQ(e->AttrNameAt(position), AttrName(i));
        EXPECT_EQ(e->ReadIntAttr(AttrName(i), -1), i == 5 ? 500 : i);
        ++position;
    }
    XmlRef<IXmlNode> copy = e->Duplicate(false);
    EXPECT_EQ(copy->MarkupText(), e->MarkupText());
}

namespace {
// Enough elements, attributes and texts to fill several pages of a load.
std::string ManyRecords(int count) {
    std::string text = "<?xml version=\"1.0\"?><list>";
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        text += "<item id=\"" + n + "\" name=\"a name long enough for the heap " + n + "\"><v>" + n +
                "</v><!-- note --><![CDATA[raw]]></item>";
    }
    return text + "</list>";
}

XmlRef<IXmlElement> ItemAt(const XmlRef<IXmlDocument>& doc, int position) {
    return doc->DocumentElement()->ChildList()->ItemAt(position)->ToElement();
}
}  // namespace

// Loads build on the document's pages; what a caller keeps of a loaded tree stays whole after
// the document reloads and goes, moves into another document and copies (the sanitizer build
// checks that no page goes early and none is left behind).
TEST(NodeStorage, LoadedNodesOutliveTheirDocumentAndItsPages) {
    const std::string text = ManyRecords(2000);
    XmlRef<IXmlDocument> source = NewXmlDocument();
    source->LoadXmlText(text);
    const std::string binary = source->GetBinaryXml();

    for (const char* form : {"text", "binary"}) {
        SCOPED_TRACE(form);
        XmlRef<IXmlDocument> doc = NewXmlDocument("", "1.0", "", NewXmlNameTable());
        doc->LoadXmlText(std::string(form) == "text" ? text : binary);
        XmlRef<IXmlElement> first = ItemAt(doc, 0);
        XmlRef<IXmlElement> last = ItemAt(doc, 1999);
        XmlRef<IXmlNodeCollection> middle = ItemAt(doc, 1000)->ChildList();
        EXPECT_TRUE(ImplNode(first.get())->OnPage());
        EXPECT_FALSE(ImplNode(doc->CreateElement("made").get())->OnPage());
        const std::string lastMarkup = last->MarkupText();

        doc->LoadXmlText("<other a=\"1\"/>");  // the first tree goes but for what is held
        EXPECT_EQ(first->Parent(), nullptr);
        EXPECT_EQ(first->ReadAttr("name", ""), "a name long enough for the heap 0");
        doc.reset();
        EXPECT_EQ(last->MarkupText(), lastMarkup);
        ASSERT_EQ(middle->ItemCount(), 3);
        EXPECT_EQ(middle->ItemAt(0)->ReadText(), "1000");
        EXPECT_EQ(middle->ItemAt(0)->Parent(), nullptr);  // its element went

        XmlRef<IXmlDocument> other = NewXmlDocument("root");  // another name table
        other->DocumentElement()->AppendChildNode(last);
        EXPECT_EQ(last->Parent()->NameString(), "root");
        EXPECT_EQ(last->ReadIntAttr("id", -1), 1999);
        XmlRef<IXmlNode> copy = first->Duplicate(true);
        first.reset();
        EXPECT_TRUE(ImplNode(copy.get())->OnPage());
        EXPECT_EQ(copy->ReadAttr("name", ""), "a name long enough for the heap 0");
        EXPECT_EQ(copy->ChildList()->ItemAt(0)->ReadText(), "0");
    }
}

// The tree keeps every kind of value in its own compact form: what goes in comes back out with
// its kind and payload, through copies, moves, a document's pages and the value's XML text.
TEST(NodeStorage, KeptValuesGiveBackWhatWasStored) {
    const std::vector<TaggedValue> values = {
        TaggedValue(), TaggedValue::Null(), TaggedValue::Int8(-128), TaggedValue::UInt8(255),
        TaggedValue::Int16(-32768), TaggedValue::UInt16(65535), TaggedValue::Int32(INT32_MIN),
        TaggedValue::UInt32(UINT32_MAX), TaggedValue::Int64(INT64_MIN), TaggedValue::Currency(-12345678),
        TaggedValue::Float32(1.5f), TaggedValue::Float64(-0.1), TaggedValue::DateTime(45000.25),
        TaggedValue::Boolean(true), TaggedValue::Boolean(false), TaggedValue::WideText(u"wide \u0416"),
        TaggedValue::Bytes({0, 1, 255}), TaggedValue(""), TaggedValue("x"), TaggedValue("8 bytes!"),
        TaggedValue("nine byte"), TaggedValue("fourteen bytes"), TaggedValue("fifteen bytes!!"),
        TaggedValue(std::string("with\0zero", 9)), TaggedValue(std::string(20000, 'w')),
    };
    XmlRef<IXmlDocument> doc = NewXmlDocument();
    TXmlArena& arena = static_cast<TXmlDocument*>(ImplNode(doc.get()))->Arena;
    XmlRef<IXmlElement> e = doc->CreateElement("e");
    XmlRef<IXmlNode> text = doc->CreateText("");
    for (const TaggedValue& value : values) {
        SCOPED_TRACE(ValueToXmlText(value));
        const TXmlValue kept = TXmlValue::Of(value);
        EXPECT_EQ(kept.KindCode(), value.KindCode());
        EXPECT_EQ(kept.ToTagged(), value);
        EXPECT_EQ(kept.IsText(), value.KindCode() == TaggedValue::vkText);
        EXPECT_EQ(ValueToXmlText(kept), ValueToXmlText(value));
        const auto asText = [](const auto& v) {
            try {
                return ValueAsText(v);
            } catch (const TXmlError& failure) {
                return std::string("error: ") + failure.what();
            }
        };
        EXPECT_EQ(asText(kept), asText(value));
        TXmlValue paged = kept.Copy(&arena);
        TXmlValue moved = std::move(paged);
        EXPECT_EQ(moved.ToTagged(), value);
        EXPECT_EQ(paged.KindCode(), TaggedValue::vkEmpty);
        e->WriteVarAttr("v", value);
        EXPECT_EQ(e->ReadVarAttr("v", TaggedValue::Int32(-1)), value);
        text->WriteValue(value);
        EXPECT_EQ(text->ReadValue(), value);
        EXPECT_EQ(text->ValueKind(), value.KindCode());
        if (kept.IsText()) {  // a load's text node keeps its text in its own slot on a page
            XmlRef<TXmlText> loaded = MakeXmlWithText<TXmlText>(&arena, ImplNode(doc.get())->TableRef(), kept.TextView());
            EXPECT_EQ(loaded->ReadValue(), value);
            EXPECT_EQ(loaded->Duplicate(false)->ReadValue(), value);
            EXPECT_EQ(TXmlValue::Of(loaded->ReadValue()).ToTagged(), value);
        }
    }
}
