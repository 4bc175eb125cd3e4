// Win32 only: resources of the program's own module, and files that other handles hold.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "platform/Files.h"
#include "tests/xml_document/DocumentTestFolder.h"
#include "tests/xml/XmlTestSupport.h"
#include "xml/XmlStreams.h"

namespace {

using namespace xml;
using xmltest::Dump;
using xmltest::ErrorOf;

using XmlDocumentWin32 = DocumentFolder;

TEST(XmlDocumentResources, TextAndBinaryResourcesLoadByTheirSignature) {
    XmlRef<IXmlDocument> doc = NewXmlDocument();
    doc->LoadFromResource("XMLDATA", "SETTINGS_TEXT");
    EXPECT_EQ(Dump(doc), "{P(xml version=256:\"1.0\" encoding=256:\"windows-1251\")\"\" E(XML){E(Res a=256:\"1\"){T(256:\"text\")}}}");

    XmlRef<IXmlDocument> byId = NewXmlDocument();
    byId->LoadFromResource(MAKEINTRESOURCEA(10) /* RT_RCDATA */, MAKEINTRESOURCEA(101));
    EXPECT_EQ(Dump(byId), Dump(doc));

    XmlRef<IXmlDocument> binary = NewXmlDocument();
    binary->LoadFromResource("XMLDATA", "SETTINGS_BINARY");
    EXPECT_EQ(binary->MarkupText(),
              "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<XML>\r\n\t<Ресурс n=\"42\">двоичный</Ресурс>\r\n</XML>");
    EXPECT_NE(binary->NameTableRef(), DefaultNameTable());
}

TEST(XmlDocumentResources, MissingOrEmptyResourceChangesNothing) {
    XmlRef<IXmlDocument> doc = NewXmlDocument("XML", "1.0");
    const std::string before = Dump(doc);
    doc->LoadFromResource("XMLDATA", "NO_SUCH_RESOURCE");
    doc->LoadFromResource("NO_SUCH_TYPE", "SETTINGS_TEXT");
    doc->LoadFromResource("XMLDATA", "EMPTY_ONE");
    EXPECT_EQ(Dump(doc), before);
}

TEST_F(XmlDocumentWin32, FilesHeldByAnotherHandleCannotBeLoadedOrSaved) {
    NewXmlDocument("XML", "1.0")->SaveToFile(At("held.xml"));
    platform::File other;
    ASSERT_TRUE(other.Open(At("held.xml"), platform::FileAccess::Read, platform::ShareRead | platform::ShareWrite,
                           platform::FileDisposition::OpenExisting));
    XmlRef<IXmlDocument> doc = NewXmlDocument();
    const std::string full = platform::FullPathName(At("held.xml"));
    const std::string openPrefix = "Cannot open file \"" + full + "\". ";
    const std::string open = ErrorOf([&] { doc->LoadFromFile(At("held.xml")); });
    EXPECT_EQ(open.substr(0, openPrefix.size()), openPrefix);
    const std::string createPrefix = "Cannot create file \"" + full + "\". ";
    const std::string create = ErrorOf([&] { doc->SaveToFile(At("held.xml")); });
    EXPECT_EQ(create.substr(0, createPrefix.size()), createPrefix);
    EXPECT_GT(create.size(), createPrefix.size());  // the system's reason follows
    other.Close();

    doc->LoadFromFile(At("held.xml"));
    EXPECT_EQ(doc->DocumentElement()->NameString(), "XML");
}

TEST_F(XmlDocumentWin32, NoOtherHandleOpensAFileWhileItIsWritten) {
    // The save holds the file without sharing; a stream over it shows the same from outside.
    TFileStream held(At("busy.xml"), TFileStream::CreateNew);
    platform::File other;
    platform::FileError error;
    EXPECT_FALSE(other.Open(At("busy.xml"), platform::FileAccess::Read, platform::ShareRead | platform::ShareWrite,
                            platform::FileDisposition::OpenExisting, &error));
    EXPECT_EQ(error.code, static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
}

}  // namespace
