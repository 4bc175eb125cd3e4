// The reader settings in the host's XML file: what a load takes from it, what a save leaves in it.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <filesystem>
#include <string>

#include "platform/Files.h"
#include "settings/SettingsUnit.h"
#include "tests/support/TempFolder.h"
#include "xml/XmlLib.h"

namespace fs = std::filesystem;

namespace {

const std::string Declaration = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>";

// The file a save makes where there was none, with the given driver element line.
std::string NewFile(const std::string& section, const std::string& element) {
    return Declaration + "\r\n<XML>\r\n\t<" + section + ">\r\n\t\t" + element + "\r\n\t</" + section + ">\r\n</XML>";
}

class SettingsStore : public ::testing::Test {
protected:
    TempFolder temp;
    fs::path folder = temp.Path(), file = folder / "host.xml";
    // What the driver keeps and hands to the store.
    std::string SettingsFileName, SettingsSection;
    TReaderSettings ReaderSettings;

    void LoadSettings() { ::LoadSettings(SettingsFileName, SettingsSection, ReaderSettings); }

    void SetUp() override {
        SettingsFileName = file.string();
        SettingsSection = "Devices";
        ReaderSettings = TReaderSettings{77, 77, 77};
    }

    void Save(int32_t port, int32_t baud, int32_t bits) {
        ReaderSettings = TReaderSettings{port, baud, bits};
        ::SaveSettings(SettingsFileName, SettingsSection, ReaderSettings);
    }
    void ExpectSettings(int32_t port, int32_t baud, int32_t bits) {
        EXPECT_EQ(ReaderSettings.COM_Number, port);
        EXPECT_EQ(ReaderSettings.Baud, baud);
        EXPECT_EQ(ReaderSettings.Bits, bits);
    }
};

TEST_F(SettingsStore, NoFileGivesDefaultsAndASaveWritesTheSixLineFile) {
    LoadSettings();
    ExpectSettings(1, 9600, 0);
    EXPECT_FALSE(fs::exists(file));  // a load never creates the file

    Save(3, 9600, 24);
    EXPECT_EQ(ReadBytes(file), NewFile("Devices", "<KRA_MCR_Serial COM_Number=\"3\" Baud=\"9600\" Bits=\"24\"/>"));
    EXPECT_FALSE(fs::exists(platform::ReplacementFileName(file.string())));
    LoadSettings();
    ExpectSettings(3, 9600, 24);
}

TEST_F(SettingsStore, LoadTakesWhatTheFileHoldsAndDefaultsTheRest) {
    const struct {
        const char* name;
        std::string text;
        int32_t port, baud, bits;
    } cases[] = {
        {"only Baud", "<XML><Devices><KRA_MCR_Serial Baud=\"19200\"/></Devices></XML>", 1, 19200, 0},
        {"all three, any order", "<R><Devices><KRA_MCR_Serial Bits=\"40\" COM_Number=\"7\" Baud=\"115200\"/></Devices></R>",
         7, 115200, 40},
        {"first of two elements",
         "<XML><Devices><KRA_MCR_Serial COM_Number=\"4\"/><KRA_MCR_Serial COM_Number=\"5\"/></Devices></XML>", 4, 9600, 0},
        {"first of two sections",
         "<XML><Devices><KRA_MCR_Serial COM_Number=\"4\"/></Devices><Devices><KRA_MCR_Serial COM_Number=\"5\"/></Devices></XML>",
         4, 9600, 0},
        {"section differs in case", "<XML><devices><KRA_MCR_Serial COM_Number=\"4\"/></devices></XML>", 1, 9600, 0},
        {"element nested deeper", "<XML><Other><Devices><KRA_MCR_Serial COM_Number=\"4\"/></Devices></Other></XML>", 1, 9600,
         0},
        {"no driver element", "<XML><Devices><Printer Port=\"2\"/></Devices></XML>", 1, 9600, 0},
        {"empty file", "", 1, 9600, 0},
        {"declaration and comment only", Declaration + "\r\n<!-- host settings -->", 1, 9600, 0},
    };
    for (const auto& c : cases) {
        WriteBytes(file, c.text);
        ReaderSettings = TReaderSettings{77, 77, 77};
        LoadSettings();
        SCOPED_TRACE(c.name);
        ExpectSettings(c.port, c.baud, c.bits);
    }
}

TEST_F(SettingsStore, ValueThatIsNotANumberFailsTheLoadAfterTheValuesReadBeforeIt) {
    WriteBytes(file, "<XML><Devices><KRA_MCR_Serial COM_Number=\"x\" Baud=\"19200\" Bits=\"8\"/></Devices></XML>");
    EXPECT_THROW(LoadSettings(), xml::TXmlError);
    ExpectSettings(1, 9600, 0);

    WriteBytes(file, "<XML><Devices><KRA_MCR_Serial COM_Number=\"5\" Baud=\"x\" Bits=\"8\"/></Devices></XML>");
    EXPECT_THROW(LoadSettings(), xml::TXmlError);
    ExpectSettings(5, 9600, 0);
}

TEST_F(SettingsStore, FileThatDoesNotParseFailsBothWaysAndStaysUntouched) {
    const std::string broken = "<XML><Devices><KRA_MCR_Serial COM_Number=\"5\"/></Devices>";
    WriteBytes(file, broken);
    EXPECT_THROW(LoadSettings(), xml::TXmlError);
    ExpectSettings(1, 9600, 0);
    EXPECT_THROW(Save(2, 9600, 0), xml::TXmlError);
    EXPECT_EQ(ReadBytes(file), broken);
}

TEST_F(SettingsStore, SectionNameThatIsNotASimpleName) {
    SettingsSection = "Host/Devices";
    LoadSettings();  // no file: nothing to look into
    ExpectSettings(1, 9600, 0);
    EXPECT_THROW(Save(2, 9600, 0), xml::TXmlError);
    EXPECT_FALSE(fs::exists(file));

    WriteBytes(file, "<XML/>");
    EXPECT_THROW(LoadSettings(), xml::TXmlError);
    EXPECT_THROW(Save(2, 9600, 0), xml::TXmlError);
    EXPECT_EQ(ReadBytes(file), "<XML/>");
}

TEST_F(SettingsStore, BinaryFileIsRead) {
    auto document = xml::NewXmlDocument("Host", "1.0");
    auto element = document->DocumentElement()->AppendChildElement("Devices")->AppendChildElement("KRA_MCR_Serial");
    element->WriteIntAttr("COM_Number", 6);
    element->WriteIntAttr("Baud", 57600);
    element->WriteIntAttr("Bits", 16);
    WriteBytes(file, document->GetBinaryXml());
    LoadSettings();
    ExpectSettings(6, 57600, 16);
}

TEST_F(SettingsStore, SaveKeepsTheHostsContentInOrderAndUpdatesTheFirstElementOnly) {
    WriteBytes(file,
        "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<Host>  <Window Left=\"10\" Top=\"20\"/>\n"
        "<!-- readers --><Devices><Printer Port=\"LPT1\">on</Printer>"
        "<KRA_MCR_Serial Baud=\"19200\" Extra=\"kept\"/><KRA_MCR_Serial COM_Number=\"9\"/></Devices>"
        "<Users><User Name=\"Иван\"/></Users></Host>");
    Save(3, 38400, 8);
    EXPECT_EQ(ReadBytes(file), Declaration +
                               "\r\n<Host>"
                               "\r\n\t<Window Left=\"10\" Top=\"20\"/>"
                               "<!-- readers -->"
                               "\r\n\t<Devices>"
                               "\r\n\t\t<Printer Port=\"LPT1\">on</Printer>"
                               "\r\n\t\t<KRA_MCR_Serial Baud=\"38400\" Extra=\"kept\" COM_Number=\"3\" Bits=\"8\"/>"
                               "\r\n\t\t<KRA_MCR_Serial COM_Number=\"9\"/>"
                               "\r\n\t</Devices>"
                               "\r\n\t<Users>"
                               "\r\n\t\t<User Name=\"Иван\"/>"
                               "\r\n\t</Users>"
                               "\r\n</Host>");
}

TEST_F(SettingsStore, SaveAppendsASectionWithTheExactName) {
    WriteBytes(file, "<XML><devices><KRA_MCR_Serial COM_Number=\"4\"/></devices></XML>");
    Save(2, 9600, 0);
    EXPECT_EQ(ReadBytes(file), "\r\n<XML>\r\n\t<devices>\r\n\t\t<KRA_MCR_Serial COM_Number=\"4\"/>\r\n\t</devices>"
                           "\r\n\t<Devices>\r\n\t\t<KRA_MCR_Serial COM_Number=\"2\" Baud=\"9600\" Bits=\"0\"/>\r\n\t</Devices>"
                           "\r\n</XML>");
}

TEST_F(SettingsStore, FileWithoutRootGetsOneAndKeepsWhatItHeld) {
    WriteBytes(file, "");
    Save(3, 9600, 24);
    EXPECT_EQ(ReadBytes(file), NewFile("Devices", "<KRA_MCR_Serial COM_Number=\"3\" Baud=\"9600\" Bits=\"24\"/>"));

    WriteBytes(file, Declaration + "\r\n<!-- kept -->");
    Save(3, 9600, 24);
    EXPECT_EQ(ReadBytes(file), Declaration + "<!-- kept -->\r\n<XML>\r\n\t<Devices>\r\n\t\t"
                                         "<KRA_MCR_Serial COM_Number=\"3\" Baud=\"9600\" Bits=\"24\"/>\r\n\t</Devices>\r\n</XML>");
}

TEST_F(SettingsStore, BinaryFileIsSavedAsTextWithItsContent) {
    auto document = xml::NewXmlDocument("Host", "1.0");
    document->DocumentElement()->AppendChildElement("Window")->WriteIntAttr("Left", 10);
    WriteBytes(file, document->GetBinaryXml());
    Save(4, 9600, 0);
    EXPECT_EQ(ReadBytes(file), Declaration + "\r\n<Host>\r\n\t<Window Left=\"10\"/>\r\n\t<Devices>\r\n\t\t"
                                         "<KRA_MCR_Serial COM_Number=\"4\" Baud=\"9600\" Bits=\"0\"/>\r\n\t</Devices>\r\n</Host>");
}

TEST_F(SettingsStore, FailedWriteLeavesTheFileAsItWas) {
    const std::string before = "<XML><Devices><KRA_MCR_Serial COM_Number=\"4\"/></Devices></XML>";
    WriteBytes(file, before);
    fs::create_directory(platform::ReplacementFileName(file.string()));  // the new file cannot be made
    EXPECT_THROW(Save(2, 9600, 0), std::exception);
    EXPECT_EQ(ReadBytes(file), before);
    fs::remove(platform::ReplacementFileName(file.string()));

    WriteBytes(platform::ReplacementFileName(file.string()), "left over from an interrupted save");
    Save(2, 9600, 0);
    EXPECT_NE(ReadBytes(file).find("COM_Number=\"2\""), std::string::npos);
    EXPECT_FALSE(fs::exists(platform::ReplacementFileName(file.string())));
}

TEST_F(SettingsStore, MissingFolderFailsTheSave) {
    SettingsFileName = (folder / "no-such-folder" / "host.xml").string();
    EXPECT_THROW(Save(2, 9600, 0), std::exception);
    SettingsFileName.clear();
    EXPECT_THROW(Save(2, 9600, 0), std::exception);
}

#ifdef _WIN32
// Only Win32 has share modes: a file the host holds open without sharing cannot be read.
TEST_F(SettingsStore, LockedFileFailsBothWaysAndStaysUntouched) {
    const std::string before = "<XML><Devices><KRA_MCR_Serial COM_Number=\"4\"/></Devices></XML>";
    WriteBytes(file, before);
    platform::File lock;
    ASSERT_TRUE(lock.Open(file.string(), platform::FileAccess::ReadWrite, platform::ShareNone,
                          platform::FileDisposition::OpenExisting));
    EXPECT_THROW(LoadSettings(), std::exception);  // not the defaults: nobody chose COM1
    EXPECT_EQ(ReadWholeFile(file.string()), "");
    EXPECT_THROW(Save(2, 9600, 0), std::exception);
    lock.Close();
    EXPECT_EQ(ReadBytes(file), before);
}

TEST_F(SettingsStore, ReplacedFileKeepsItsHiddenAttribute) {
    WriteBytes(file, "<XML/>");
    ASSERT_TRUE(SetFileAttributesA(file.string().c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    Save(2, 9600, 0);
    EXPECT_NE(ReadBytes(file).find("COM_Number=\"2\""), std::string::npos);
    EXPECT_TRUE(GetFileAttributesA(file.string().c_str()) & FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(SettingsStore, ReadOnlyFileFailsTheSaveAndStaysUntouched) {
    WriteBytes(file, "<XML/>");
    ASSERT_TRUE(SetFileAttributesA(file.string().c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_THROW(Save(2, 9600, 0), std::exception);
    SetFileAttributesA(file.string().c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadBytes(file), "<XML/>");
    EXPECT_FALSE(fs::exists(platform::ReplacementFileName(file.string())));
}
#endif

TEST_F(SettingsStore, ReadWholeFileGivesTheBytesAsTheyAre) {
    EXPECT_EQ(ReadWholeFile((folder / "missing.xml").string()), "");
    std::string bytes;
    for (int i = 0; i < 10000; ++i) bytes.push_back(static_cast<char>(i * 7));  // NULs, CR, LF, 0xFF ...
    WriteBytes(file, bytes);
    EXPECT_EQ(ReadWholeFile(file.string()), bytes);
}

}  // namespace
