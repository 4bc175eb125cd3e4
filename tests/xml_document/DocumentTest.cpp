// Documents: creation, the worked example written and read back to the same bytes, text and
// binary loads keyed on the signature, files with their errors, streams, clones.
#include <gtest/gtest.h>

#include <string>

#include "tests/xml_document/DocumentTestFolder.h"
#include "tests/xml/XmlTestSupport.h"
#include "xml/XmlStreams.h"

namespace {

using namespace xml;
using xmltest::Dump;
using xmltest::ErrorOf;

using XmlDocumentFiles = DocumentFolder;

// The settings file of the example: root XML, a host section, the driver's element.
const char kExample[] =
    "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n"
    "<XML>\r\n"
    "\t<Section1>\r\n"
    "\t\t<KRA_MCR_Serial COM_Number=\"1\" Baud=\"9600\" Bits=\"0\"/>\r\n"
    "\t</Section1>\r\n"
    "</XML>";

TEST_F(XmlDocumentFiles, NewDocumentWithoutRootIsEmptyAndSavesAnEmptyFile) {
    XmlRef<IXmlDocument> doc = NewXmlDocument();
    EXPECT_EQ(Dump(doc), "{}");
    EXPECT_EQ(doc->DocumentElement(), nullptr);
    doc->SaveToFile(At("empty.xml"));
    EXPECT_EQ(Read("empty.xml"), "");
}

TEST_F(XmlDocumentFiles, NewDocumentWithRootHoldsTheDeclarationAndTheRoot) {
    XmlRef<IXmlDocument> doc = NewXmlDocument("XML", "1.0");
    EXPECT_EQ(Dump(doc), "{P(xml)\"version=\\22" "1.0\\22 encoding=\\22windows-1251\\22\" E(XML)}");
    EXPECT_EQ(doc->DocumentElement()->NameString(), "XML");
    doc->SaveToFile(At("new.xml"));
    EXPECT_EQ(Read("new.xml"), "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<XML/>");

    // Another label is only a label: the bytes stay in the 8-bit code page.
    XmlRef<IXmlDocument> utf = NewXmlDocument("Корень", "1.0", "UTF-8");
    utf->DocumentElement()->WriteAttr("а", "я");
    EXPECT_EQ(utf->MarkupText(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Корень а=\"я\"/>");
}

TEST_F(XmlDocumentFiles, WorkedExampleReadsAndWritesBackToTheSameBytes) {
    XmlRef<IXmlDocument> doc = NewXmlDocument("XML", "1.0");
    XmlRef<IXmlElement> driver = doc->DocumentElement()->AppendChildElement("Section1")->AppendChildElement("KRA_MCR_Serial");
    driver->WriteIntAttr("COM_Number", 1);
    driver->WriteIntAttr("Baud", 9600);
    driver->WriteIntAttr("Bits", 0);
    EXPECT_EQ(doc->MarkupText(), kExample);
    doc->SaveToFile(At("settings.xml"));
    EXPECT_EQ(Read("settings.xml"), kExample);

    XmlRef<IXmlDocument> back = NewXmlDocument();
    back->LoadFromFile(At("settings.xml"));
    EXPECT_EQ(Dump(back),
              "{P(xml version=256:\"1.0\" encoding=256:\"windows-1251\")\"\" E(XML){E(Section1){"
              "E(KRA_MCR_Serial COM_Number=256:\"1\" Baud=256:\"9600\" Bits=256:\"0\")}}}");
    back->SaveToFile(At("again.xml"));
    EXPECT_EQ(Read("again.xml"), kExample);

    XmlRef<IXmlDocument> text = NewXmlDocument();
    text->LoadXmlText(kExample);
    EXPECT_EQ(text->MarkupText(), kExample);
    text->SetPreserveWhiteSpace(true);  // nodes already parsed keep their blanks-free shape
    EXPECT_EQ(text->MarkupText(),
              "<?xml version=\"1.0\" encoding=\"windows-1251\"?><XML><Section1>"
              "<KRA_MCR_Serial COM_Number=\"1\" Baud=\"9600\" Bits=\"0\"/></Section1></XML>");

    XmlRef<IXmlDocument> kept = NewXmlDocument();
    kept->SetPreserveWhiteSpace(true);
    kept->LoadXmlText(kExample);
    EXPECT_EQ(kept->MarkupText(), kExample);  // the blanks are text nodes now, written verbatim
}

TEST(XmlDocument, EachLoadReplacesTheContentAndKeepsTheNames) {
    XmlRef<IXmlDocument> doc = NewXmlDocument({}, "1.0", {}, NewXmlNameTable());
    doc->WriteAttr("docattr", "x");
    doc->LoadXmlText("<first/><!--c-->");
    EXPECT_EQ(Dump(doc), "{E(first) M\"c\"}");  // the document's own attributes are gone too
    doc->LoadXmlText("<second/>");
    EXPECT_EQ(Dump(doc), "{E(second)}");
    doc->LoadXmlText("");
    EXPECT_EQ(Dump(doc), "{}");
    TXmlNameTable& names = ImplNode(doc.get())->Table();
    EXPECT_EQ(names.NameOfId(5), "docattr");
    EXPECT_EQ(names.NameOfId(6), "first");
    EXPECT_EQ(names.NameOfId(7), "second");
}

TEST_F(XmlDocumentFiles, SignatureAloneIsTextInAFileAndBinaryInAString) {
    const std::string signature = "< binary-xml >";
    Write("sig.xml", signature);
    XmlRef<IXmlDocument> doc = NewXmlDocument();
    EXPECT_EQ(ErrorOf([&] { doc->LoadFromFile(At("sig.xml")); }), "Имя должно начинаться с буквы или \"_\"");
    EXPECT_EQ(ErrorOf([&] { doc->LoadXmlText(signature); }), "Ошибка чтения данных.");
}

TEST_F(XmlDocumentFiles, BinaryFilesAndStringsLoadByTheirSignature) {
    XmlRef<IXmlDocument> doc = NewXmlDocument("XML", "1.0");
    doc->DocumentElement()->AppendChildElement("Имя")->WriteFloatAttr("f", 1.5);
    for (uint32_t options : {0u, 1u}) {
        doc->SaveBinaryToFile(At("doc.bin"), options);
        XmlRef<IXmlDocument> back = NewXmlDocument();
        back->LoadFromFile(At("doc.bin"));
        EXPECT_EQ(Dump(back), Dump(doc));
        EXPECT_NE(back->NameTableRef(), DefaultNameTable());  // a binary load brings its own table
        XmlRef<IXmlDocument> fromText = NewXmlDocument();
        fromText->LoadXmlText(Read("doc.bin"));
        EXPECT_EQ(Dump(fromText), Dump(doc));
    }
}

TEST(XmlDocument, StreamsLoadTextOrBinaryFromTheirStart) {
    XmlRef<IXmlDocument> doc = NewXmlDocument();
    TMemoryStream shortText("<a/>");  // 14 bytes or fewer: always text
    doc->LoadFromStream(shortText);
    EXPECT_EQ(Dump(doc), "{E(a)}");

    TMemoryStream text("<root a='1'>text</root>");
    doc->LoadFromStream(text);
    EXPECT_EQ(Dump(doc), "{E(root a=256:\"1\"){T(256:\"text\")}}");

    TMemoryStream binary(doc->GetBinaryXml());
    XmlRef<IXmlDocument> back = NewXmlDocument();
    back->LoadFromStream(binary);
    EXPECT_EQ(Dump(back), Dump(doc));

    TMemoryStream out;
    doc->SaveToStream(out);
    EXPECT_EQ(out.Data(), "\r\n<root a=\"1\">text</root>");
}

TEST(XmlDocument, CreatedNodesUseTheDocumentTableAndStayOutsideTheTree) {
    XmlRef<IXmlNameDictionary> table = NewXmlNameTable();
    XmlRef<IXmlDocument> doc = NewXmlDocument({}, "1.0", {}, table);
    const XmlRef<IXmlNode> nodes[] = {
        doc->CreateElement("el"), doc->CreateText("t"), doc->CreateCDATASection("c"), doc->CreateComment("m"),
        doc->CreateProcessingInstruction("pi", "d"), doc->CreateElementById(3),
        doc->CreateProcessingInstructionById(4, "x"),
    };
    for (const auto& node : nodes) {
        EXPECT_EQ(node->Parent(), nullptr);
        EXPECT_EQ(node->NameTableRef(), table);
    }
    EXPECT_EQ(Dump(doc), "{}");
    EXPECT_EQ(nodes[5]->NameString(), "#document");
    for (const auto& node : nodes) doc->AppendChildNode(node);
    EXPECT_EQ(Dump(doc), "{E(el) T(256:\"t\") C\"c\" M\"m\" P(pi)\"d\" E(#document) P(xml)\"x\"}");
}

TEST(XmlDocument, DeepDocumentSurvivesEveryPathOnASmallStack) {
    constexpr int kDepth = 100000;
    std::string text;
    for (int i = 0; i < kDepth; ++i) text += "<e>";
    text += "x";
    for (int i = 0; i < kDepth; ++i) text += "</e>";
    std::string error = "not run";
    xmltest::OnSmallStack([&] {
        error = ErrorOf([&] {
            XmlRef<IXmlDocument> doc = NewXmlDocument({}, "1.0", {}, NewXmlNameTable());
            doc->SetPreserveWhiteSpace(true);  // the compact layout writes the input back as it was
            doc->LoadXmlText(text);
            TMemoryStream out;
            doc->SaveToStream(out);
            EXPECT_TRUE(out.Data() == text);
            XmlRef<IXmlDocument> copy = NewXmlDocument();
            copy->LoadXmlText(doc->GetBinaryXml());
            EXPECT_TRUE(copy->GetBinaryXml() == doc->GetBinaryXml());
        });
    });
    EXPECT_EQ(error, "");
}

TEST(XmlDocument, MissingResourceLeavesTheDocumentAsItWas) {
    XmlRef<IXmlDocument> doc = NewXmlDocument("XML", "1.0");
    const std::string before = Dump(doc);
    doc->LoadFromResource("XMLDATA", "NO_SUCH_RESOURCE");
    EXPECT_EQ(Dump(doc), before);
}

TEST(XmlDocument, DeepCloneSharesTheTableButNotTheFlag) {
    XmlRef<IXmlDocument> doc = NewXmlDocument("XML", "1.0");
    doc->SetPreserveWhiteSpace(true);
    doc->DocumentElement()->AppendTextNode(" t ");
    XmlRef<IXmlNode> copy = doc->Duplicate(true);
    XmlRef<IXmlDocument> clone(dynamic_cast<IXmlDocument*>(copy.get()));
    ASSERT_TRUE(clone);
    EXPECT_EQ(Dump(clone), Dump(doc));
    EXPECT_EQ(clone->NameTableRef(), doc->NameTableRef());
    EXPECT_FALSE(clone->GetPreserveWhiteSpace());
}

TEST_F(XmlDocumentFiles, FileErrorsNameTheFullPathAndChangeNothing) {
    XmlRef<IXmlDocument> doc = NewXmlDocument("XML", "1.0");
    const std::string before = Dump(doc);
    const std::string missing = At("missing.xml");
    const std::string open = ErrorOf([&] { doc->LoadFromFile(missing); });
    const std::string openPrefix = "Cannot open file \"" + platform::FullPathName(missing) + "\". ";
    EXPECT_EQ(open.substr(0, openPrefix.size()), openPrefix);
    EXPECT_GT(open.size(), openPrefix.size());  // the system's text follows
    EXPECT_EQ(Dump(doc), before);

    const std::string nowhere = At("no-such-folder/x.xml");
    const std::string create = ErrorOf([&] { doc->SaveToFile(nowhere); });
    const std::string createPrefix = "Cannot create file \"" + platform::FullPathName(nowhere) + "\". ";
    EXPECT_EQ(create.substr(0, createPrefix.size()), createPrefix);
    EXPECT_GT(create.size(), createPrefix.size());
    EXPECT_EQ(ErrorOf([&] { doc->SaveBinaryToFile(nowhere, 0); }).substr(0, createPrefix.size()), createPrefix);
}

TEST_F(XmlDocumentFiles, FailedLoadClosesTheFileAndFailedSaveKeepsTheOldOne) {
    Write("broken.xml", "<a>");
    XmlRef<IXmlDocument> doc = NewXmlDocument();
    EXPECT_EQ(ErrorOf([&] { doc->LoadFromFile(At("broken.xml")); }), "Ожидается \"/\"");
    EXPECT_EQ(Dump(doc), "{E(a){}}");  // what was read before the failure stays
    NewXmlDocument("XML", "1.0")->SaveToFile(At("broken.xml"));  // no handle of the load is left
    EXPECT_EQ(Read("broken.xml"), "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<XML/>");

    // A document the binary form cannot hold fails before the file is touched.
    XmlRef<IXmlDocument> bad = NewXmlDocument("XML", "1.0");
    ImplNode(bad->DocumentElement().get())
        ->ChildListObject()
        .AppendNew(MakeXml<TXmlDocument>(ImplNode(bad.get())->TableRef()));
    EXPECT_EQ(ErrorOf([&] { bad->SaveBinaryToFile(At("broken.xml"), 0); }),
              "Ошибка записи двоичного XML: некорректный тип узла");
    EXPECT_EQ(Read("broken.xml"), "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<XML/>");
}

}  // namespace
