// Running out of memory anywhere in a load fails that load with std::bad_alloc; the half-built
// tree is released without needing memory, so nothing ends the process and nothing leaks
// (the sanitizer build checks the leaks).
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <string>

#include "tests/xml_alloc/FailingAllocator.h"
#include "xml/XmlLib.h"
#include "xml/XmlStreams.h"

namespace {

using namespace xml;

// A host's settings file: declaration, comments, several sections, the driver's element, text,
// a CDATA section, an instruction, character references and long texts (a stored picture, say:
// each one a block of its own).
std::string SettingsFile() {
    const std::string picture(20000, 'Q');
    std::string text =
        "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n"
        "<!-- host settings -->\r\n"
        "<XML>\r\n";
    for (int i = 0; i < 30; ++i) {  // enough to fill several node pages
        const std::string n = std::to_string(i);
        text += "\t<Section" + n + " Name=\"s" + n + "\" Enabled=\"1\">\r\n"
                "\t\t<Item Key=\"k" + n + "\" Value=\"&lt;" + n + "&gt;\"/>\r\n"
                "\t\t<Note>line one\r\nline two &#65;</Note>\r\n"
                "\t\t<![CDATA[raw <" + n + ">]]>\r\n"
                "\t\t<?host-pi data " + n + "?>\r\n"
                "\t\t<Picture>" + n + picture + "</Picture>\r\n"
                "\t</Section" + n + ">\r\n";
    }
    text += "\t<Devices>\r\n"
            "\t\t<KRA_MCR_Serial COM_Number=\"3\" Baud=\"9600\" Bits=\"24\"/>\r\n"
            "\t</Devices>\r\n"
            "</XML>\r\n";
    return text;
}

using Load = std::function<XmlRef<IXmlDocument>()>;

// Runs the load with the n-th allocation and all after it refused, for n = 0, 1, ... until a
// run needs no refusal; each refused run must end in std::bad_alloc (or the library's error),
// the full run must give the expected text.
void LoadsUnderEveryExhaustion(const Load& load, const std::string& expected) {
    int64_t n = 0;
    for (;; ++n) {
        std::string failure;
        XmlRef<IXmlDocument> document;
        alloctest::FailFrom fail(n);
        try {
            document = load();
        } catch (const std::bad_alloc&) {
            failure = "bad_alloc";
        } catch (const TXmlError&) {
            failure = "xml error";
        }
        fail.Stop();
        const bool refused = fail.Refused();
        const std::string markup = document ? document->MarkupText() : std::string();
        if (!refused) {
            EXPECT_EQ(failure, "") << "allocation " << n;
            EXPECT_EQ(markup, expected);
            break;
        }
        ASSERT_NE(failure, "") << "a load went on after allocation " << n << " was refused";
    }
    // The load did allocate: the refusals reached it (nodes and short texts come a page at a
    // time, long texts one by one).
    EXPECT_GT(n, 30);
}

TEST(MemoryExhaustion, EveryAllocationOfALoadMayFail) {
    const std::string text = SettingsFile();
    XmlRef<IXmlDocument> reference = NewXmlDocument("", "1.0");
    reference->LoadXmlText(text);
    const std::string expected = reference->MarkupText();
    const std::string binary = reference->GetBinaryXml();

    const struct {
        const char* name;
        Load load;
    } loads[] = {
        {"text", [&] {
             XmlRef<IXmlDocument> d = NewXmlDocument("", "1.0");
             d->LoadXmlText(text);
             return d;
         }},
        {"stream", [&] {
             XmlRef<IXmlDocument> d = NewXmlDocument("", "1.0");
             TMemoryStream stream;
             stream.Write(text.data(), text.size());
             stream.Seek(0);
             d->LoadFromStream(stream);
             return d;
         }},
        {"binary", [&] {
             XmlRef<IXmlDocument> d = NewXmlDocument("", "1.0");
             d->LoadBinaryXml(binary);
             return d;
         }},
        {"deep copy", [&] {
             return XmlRef<IXmlDocument>(reference->Duplicate(true)->DocumentOf());
         }},
    };
    for (const auto& l : loads) {
        SCOPED_TRACE(l.name);
        LoadsUnderEveryExhaustion(l.load, expected);
    }
}

}  // namespace
