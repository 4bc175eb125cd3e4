// The reader settings in the host's XML file: what a load takes from it, what a save leaves in it.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>
#include <string>

#include "platform/CodePage.h"
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

    void LoadSettings(const SettingsNoteSink& note = nullptr) {
        ::LoadSettings(SettingsFileName, SettingsSection, ReaderSettings, note);
    }

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

TEST_F(SettingsStore, AFileOfAThousandCharactersIsSavedAndLoaded) {
    // Far past the plain path limit of Windows (260): the system's long form carries it.
    std::string dir = temp.Dir();
    while (dir.size() < 1000) dir += std::string(60, 'd') + char(fs::path::preferred_separator);
    ASSERT_TRUE(platform::CreateDirectories(dir));
    SettingsFileName = dir + "host.xml";
    Save(3, 19200, 8);
    ReaderSettings = TReaderSettings{77, 77, 77};
    std::vector<std::string> notes;
    LoadSettings([&notes](const std::string& line) { notes.push_back(line); });
    ExpectSettings(3, 19200, 8);
    EXPECT_EQ(notes, (std::vector<std::string>{"      Settings: file " + platform::FullPathName(SettingsFileName) +
                                               ", section Devices"}));
    Save(4, 9600, 0);  // the replace too: its new file lies beside the old one
    LoadSettings();
    ExpectSettings(4, 9600, 0);
}

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
    const std::string host =
        "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<Host>  <Window Left=\"10\" Top=\"20\"/>\n"
        "<!-- readers --><Devices><Printer Port=\"LPT1\">on</Printer>"
        "<KRA_MCR_Serial Baud=\"@\" Extra=\"kept\"@/><KRA_MCR_Serial COM_Number=\"9\"/></Devices>"
        "<Users><User Name=\"Иван\"/></Users></Host>";
    auto with = [&](const std::string& baud, const std::string& added) {
        std::string text = host;
        text.replace(text.find('@'), 1, baud);
        text.replace(text.find('@'), 1, added);
        return text;
    };
    WriteBytes(file, with("19200", ""));
    Save(3, 38400, 8);
    EXPECT_EQ(ReadBytes(file), with("38400", " COM_Number=\"3\" Bits=\"8\""));
}

TEST_F(SettingsStore, SaveAppendsASectionWithTheExactName) {
    WriteBytes(file, "<XML><devices><KRA_MCR_Serial COM_Number=\"4\"/></devices></XML>");
    Save(2, 9600, 0);
    EXPECT_EQ(ReadBytes(file), "<XML><devices><KRA_MCR_Serial COM_Number=\"4\"/></devices>"
                           "<Devices><KRA_MCR_Serial COM_Number=\"2\" Baud=\"9600\" Bits=\"0\"/></Devices></XML>");
}

TEST_F(SettingsStore, FileWithoutRootGetsOneAndKeepsWhatItHeld) {
    for (const char* nothing : {"", " \r\n\t"}) {
        WriteBytes(file, nothing);
        Save(3, 9600, 24);
        EXPECT_EQ(ReadBytes(file), NewFile("Devices", "<KRA_MCR_Serial COM_Number=\"3\" Baud=\"9600\" Bits=\"24\"/>"));
    }
    WriteBytes(file, Declaration + "\n<!-- kept -->");
    Save(3, 9600, 24);
    EXPECT_EQ(ReadBytes(file), Declaration + "\n<!-- kept -->\n<XML>\n\t<Devices>\n\t\t"
                                         "<KRA_MCR_Serial COM_Number=\"3\" Baud=\"9600\" Bits=\"24\"/>\n\t</Devices>\n</XML>");
}

// A host file rich in what a rewrite would lose, around the place of the host's section.
std::string HostFile(const std::string& nl, const std::string& section) {
    return Declaration + nl + "<!DOCTYPE Host [<!ENTITY e 'v'>]>" + nl + "<!-- host settings -->" + nl + "<Host>" + nl +
           "\t<Note>line one" + nl + "line two" + nl + "</Note>" + nl +
           "\t<Csv Separator=\";\">\t</Csv>" + nl +
           "\t<Name>&#8364;&#x1F600; &amp; &#233; &lt;</Name>" + nl +
           section +
           "</Host>" + nl + "<!-- after the root -->" + nl + "tail text</Stray><After/>" + nl;
}

TEST_F(SettingsStore, SaveChangesNoByteOfTheHostsOwn) {
    const std::string element = "<KRA_MCR_Serial COM_Number=\"3\" Baud=\"19200\" Bits=\"24\"/>";
    for (const std::string nl : {"\r\n", "\n"}) {
        const std::string printer = "\t\t<Printer Port=\"LPT1\"/>" + nl;
        const struct {
            const char* name;
            std::string before, after;
        } cases[] = {
            {"values replaced in place",
             "\t<Devices>" + nl + printer + "\t\t<KRA_MCR_Serial  COM_Number = '1' Baud=\"9600\"\tBits=\"0\" />" + nl + "\t</Devices>" + nl,
             "\t<Devices>" + nl + printer + "\t\t<KRA_MCR_Serial  COM_Number = '3' Baud=\"19200\"\tBits=\"24\" />" + nl + "\t</Devices>" + nl},
            {"missing attributes after the others",
             "\t<Devices>" + nl + "\t\t<KRA_MCR_Serial Baud=\"9600\" Extra=\"x\"></KRA_MCR_Serial>" + nl + "\t</Devices>" + nl,
             "\t<Devices>" + nl + "\t\t<KRA_MCR_Serial Baud=\"19200\" Extra=\"x\" COM_Number=\"3\" Bits=\"24\"></KRA_MCR_Serial>" + nl + "\t</Devices>" + nl},
            {"element added after its neighbour",
             "\t<Devices>" + nl + printer + "\t</Devices>" + nl,
             "\t<Devices>" + nl + printer + "\t\t" + element + nl + "\t</Devices>" + nl},
            {"element added to an empty section",
             "\t<Devices/>" + nl,
             "\t<Devices>" + nl + "\t\t" + element + nl + "\t</Devices>" + nl},
            {"section added after the last element",
             "",
             "\t<Devices>" + nl + "\t\t" + element + nl + "\t</Devices>" + nl},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (nl == "\n" ? ", LF" : ", CR LF"));
            WriteBytes(file, HostFile(nl, c.before));
            Save(3, 19200, 24);
            EXPECT_EQ(ReadBytes(file), HostFile(nl, c.after));
            Save(3, 19200, 24);
            EXPECT_EQ(ReadBytes(file), HostFile(nl, c.after));  // a second save changes nothing
            LoadSettings();
            ExpectSettings(3, 19200, 24);
        }
    }
}

TEST_F(SettingsStore, AddedElementsFollowTheLayoutAround) {
    const std::string element = "<KRA_MCR_Serial COM_Number=\"2\" Baud=\"9600\" Bits=\"0\"/>";
    const struct {
        const char* name;
        std::string before, after;
    } cases[] = {
        {"one line", "<XML><Devices/></XML>", "<XML><Devices>" + element + "</Devices></XML>"},
        {"one line, section missing", "<XML><A/></XML>", "<XML><A/><Devices>" + element + "</Devices></XML>"},
        {"two-space indents", "<Host>\n  <A>\n    <B/>\n  </A>\n</Host>",
         "<Host>\n  <A>\n    <B/>\n  </A>\n  <Devices>\n    " + element + "\n  </Devices>\n</Host>"},
        {"end tag on the last child's line", "<Host>\n\t<A/></Host>",
         "<Host>\n\t<A/>\n\t<Devices>\n\t\t" + element + "\n\t</Devices></Host>"},
        {"empty root on lines of its own", "<Host>\r\n</Host>",
         "<Host>\r\n\t<Devices>\r\n\t\t" + element + "\r\n\t</Devices>\r\n</Host>"},
        {"empty root on one line", "<?xml version=\"1.0\"?>\r\n<Host></Host>",
         "<?xml version=\"1.0\"?>\r\n<Host>\r\n\t<Devices>\r\n\t\t" + element + "\r\n\t</Devices>\r\n</Host>"},
        {"self-closing root", "<Host a=\"1\" />\n",
         "<Host a=\"1\" >\n\t<Devices>\n\t\t" + element + "\n\t</Devices>\n</Host>\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(file, c.before);
        Save(2, 9600, 0);
        EXPECT_EQ(ReadBytes(file), c.after);
        Save(2, 9600, 0);
        EXPECT_EQ(ReadBytes(file), c.after);
    }
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

TEST_F(SettingsStore, LoadSaysWhyDefaultsStandAndWhatItDoesNotKnow) {
    const std::string path = platform::FullPathName(file.string());
    auto element = [](const std::string& attrs) {
        return "<Host>\r\n\t<Devices>\r\n\t\t<KRA_MCR_Serial " + attrs + "/>\r\n\t</Devices>\r\n</Host>";
    };
    auto missing = [&](const std::string& name, const std::string& value) {
        return "no attribute " + name + " in KRA_MCR_Serial of section Devices in " + path + ", default " + value + " used";
    };
    auto outside = [](const std::string& attr, const std::string& offered) {
        return "warning: " + attr + " is not a value the dialog offers (" + offered + "), taken as it is";
    };
    const struct {
        const char* name;
        std::optional<std::string> text;  // none: no file
        std::vector<std::string> notes;   // after the line naming the file and section
        int32_t port, baud, bits;
    } cases[] = {
        {"no file", std::nullopt, {"no file " + path + ", defaults used"}, 1, 9600, 0},
        {"no root", Declaration + "<!-- nothing else -->", {"no root element in " + path + ", defaults used"}, 1, 9600, 0},
        {"no section", "<Host><devices/><Other/></Host>",
         {"no section Devices under the root Host of " + path + ", defaults used"}, 1, 9600, 0},
        {"no driver element", "<Host><Devices><KRA_MCR_Seral COM_Number=\"3\"/></Devices></Host>",
         {"no KRA_MCR_Serial element in section Devices of " + path + ", defaults used"}, 1, 9600, 0},
        {"a typo and the defaults it leaves", element("COM_Numbr=\"3\" Baud=\"19200\""),
         {"unknown attribute COM_Numbr ignored", missing("COM_Number", "1"), missing("Bits", "0")}, 1, 19200, 0},
        {"no attributes", element(""), {missing("COM_Number", "1"), missing("Baud", "9600"), missing("Bits", "0")}, 1, 9600, 0},
        {"values the dialog does not offer", element("COM_Number=\"0\" Baud=\"5000\" Bits=\"33\""),
         {outside("COM_Number=0", "ports 1 to 255"), outside("Baud=5000", "its 15 baud rates"), outside("Bits=33", "bits 0 to 32")},
         0, 5000, 33},
        {"more values the dialog does not offer", element("COM_Number=\"256\" Baud=\"9601\" Bits=\"-1\""),
         {outside("COM_Number=256", "ports 1 to 255"), outside("Baud=9601", "its 15 baud rates"), outside("Bits=-1", "bits 0 to 32")},
         256, 9601, -1},
        {"the edges of the dialog's ranges", element("COM_Number=\"255\" Baud=\"110\" Bits=\"32\""), {}, 255, 110, 32},
        {"the other edges", element("Bits=\"0\" Baud=\"256000\" COM_Number=\"1\""), {}, 1, 256000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(file);
        if (c.text) WriteBytes(file, *c.text);
        std::vector<std::string> lines;
        LoadSettings([&](const std::string& line) { lines.push_back(line); });
        std::vector<std::string> expected{"      Settings: file " + path + ", section Devices"};
        for (const std::string& note : c.notes) expected.push_back("      Settings: " + note);
        EXPECT_EQ(lines, expected);
        ExpectSettings(c.port, c.baud, c.bits);
    }
}

TEST_F(SettingsStore, FailuresNameTheFileAndWhereInIt) {
    const std::string path = platform::FullPathName(file.string());
    auto failure = [](const std::function<void()>& fn) {
        try {
            fn();
        } catch (const xml::TXmlError& e) {
            return std::string(e.what());
        }
        return std::string("no TXmlError");
    };
    WriteBytes(file, "<Host>\r\n\t<Devices>\r\n\t\t<KRA_MCR_Serial COM_Number=3/>");
    const std::string broken = "Ожидается строковая константа (" + path + ", line 3, column 30)";
    EXPECT_EQ(failure([&] { LoadSettings(); }), broken);
    EXPECT_EQ(failure([&] { Save(2, 9600, 0); }), broken);

    WriteBytes(file, std::string("< binary-xml >") + std::string(4, '\0') + "\x7F" + "ab");
    EXPECT_EQ(failure([&] { LoadSettings(); }), "Ошибка чтения данных. (" + path + ", byte 19)");

    const std::string notANumber = failure([] { xml::ValueAsInt32(xml::TaggedValue("fast")); });
    WriteBytes(file, "<Host><Devices><KRA_MCR_Serial COM_Number=\"2\" Baud=\"fast\"/></Devices></Host>");
    EXPECT_EQ(failure([&] { LoadSettings(); }), notANumber + " (" + path + ": Baud=\"fast\")");
    ExpectSettings(2, 9600, 0);
}

// "Устройства" as the host passes it (Windows-1251) and as a UTF-8 file spells it.
const std::string Section1251 = "\xD3\xF1\xF2\xF0\xEE\xE9\xF1\xF2\xE2\xE0";
const std::string SectionUtf8 = "\xD0\xA3\xD1\x81\xD1\x82\xD1\x80\xD0\xBE\xD0\xB9\xD1\x81\xD1\x82\xD0\xB2\xD0\xB0";
const std::string Utf8Mark = "\xEF\xBB\xBF";
// A Windows-1251 text (a literal of this file) in UTF-8.
std::string Utf8(const std::string& text) { return platform::Windows1251ToUtf8(text); }

TEST(CodePage1251, ConvertsToAndFromUtf8) {
    EXPECT_EQ(platform::Windows1251ToUtf8(Section1251), SectionUtf8);
    EXPECT_EQ(platform::Windows1251ToUtf8("Ёёїх\x98" "A"), "\xD0\x81\xD1\x91\xD1\x97\xD1\x85?A");  // 0x98 has no character
    EXPECT_EQ(platform::Utf8ToWindows1251(SectionUtf8), Section1251);
    // Characters without a byte, and broken sequences, become "?" each.
    EXPECT_EQ(platform::Utf8ToWindows1251("\xE2\x82\xAC\xE4\xB8\xAD\xF0\x9F\x98\x80\xD0 \x80\xC0\xAF"), "\x88??? ???");
}

TEST_F(SettingsStore, SaveSpellsTheSectionInTheFilesOwnEncoding) {
    const std::string element = "<KRA_MCR_Serial COM_Number=\"5\" Baud=\"19200\" Bits=\"8\"/>";
    const std::string utf8Declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    // The host's own elements, with UTF-8 bytes that are no letters in Windows-1251 (0x85, 0x91, 0x97).
    const std::string hostsOwn = Utf8("<Настройки>\r\n\t<Окно_ёїх Лево=\"10\"/>\r\n");
    const std::string root = Utf8("</Настройки>");
    const struct {
        const char* name;
        std::string section, before, after;
    } cases[] = {
        {"UTF-8 declared, section missing: added in UTF-8", Section1251, utf8Declaration + "\r\n" + hostsOwn + root,
         utf8Declaration + "\r\n" + hostsOwn + "\t<" + SectionUtf8 + ">\r\n\t\t" + element + "\r\n\t</" + SectionUtf8 +
             ">\r\n" + root},
        {"UTF-8 declared, section present: only the values change", Section1251,
         utf8Declaration + "<R><" + SectionUtf8 + "><KRA_MCR_Serial COM_Number=\"1\" Baud=\"9600\" Bits=\"0\"/></" +
             SectionUtf8 + "></R>",
         utf8Declaration + "<R><" + SectionUtf8 + ">" + element + "</" + SectionUtf8 + "></R>"},
        {"byte-order mark, no declaration", Section1251, Utf8Mark + "<R><" + SectionUtf8 + "/></R>",
         Utf8Mark + "<R><" + SectionUtf8 + ">" + element + "</" + SectionUtf8 + "></R>"},
        {"utf8 in another case, single quotes", Section1251, "<?xml version='1.0' encoding = 'Utf8'?><R></R>",
         "<?xml version='1.0' encoding = 'Utf8'?><R><" + SectionUtf8 + ">" + element + "</" + SectionUtf8 + "></R>"},
        {"windows-1251 declared: as the host gives it", Section1251, Declaration + "<R></R>",
         Declaration + "<R><" + Section1251 + ">" + element + "</" + Section1251 + "></R>"},
        {"nothing declared, no mark: as the host gives it", Section1251, "<R></R>",
         "<R>\r\n\t<" + Section1251 + ">\r\n\t\t" + element + "\r\n\t</" + Section1251 + ">\r\n</R>"},
        {"another encoding, a section name in ASCII", "Devices", "<?xml version=\"1.0\" encoding=\"KOI8-R\"?><R></R>",
         "<?xml version=\"1.0\" encoding=\"KOI8-R\"?><R><Devices>" + element + "</Devices></R>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SettingsSection = c.section;
        WriteBytes(file, c.before);
        Save(5, 19200, 8);
        EXPECT_EQ(ReadBytes(file), c.after);
        ReaderSettings = TReaderSettings{77, 77, 77};
        LoadSettings();
        ExpectSettings(5, 19200, 8);
    }
}

TEST_F(SettingsStore, AnotherEncodingRefusesANameItCannotWrite) {
    SettingsSection = Section1251;
    for (const std::string before : {"<?xml version=\"1.0\" encoding=\"KOI8-R\"?>\r\n<R/>",
                                     "<?xml version=\"1.0\" encoding=\"ISO-8859-5\"?>\r\n<R><Devices/></R>",
                                     "<?xml version=\"1.0\" encoding=\"KOI8-R\"?>\r\n"}) {
        SCOPED_TRACE(before);
        WriteBytes(file, before);
        try {
            Save(5, 19200, 8);
            ADD_FAILURE() << "saved";
        } catch (const std::exception& e) {
            const std::string encoding = before.substr(30, before.find('"', 30) - 30);
            EXPECT_EQ(std::string(e.what()), "The file declares the encoding \"" + encoding +
                                                 "\", in which the driver cannot write the section name " + Section1251 +
                                                 ". Add the section to the file, or keep the file in UTF-8 or "
                                                 "windows-1251, then save again. The file was left as it was.");
        }
        EXPECT_EQ(ReadBytes(file), before);
    }
}

TEST_F(SettingsStore, Utf8FileLoadsItsSectionAndReportsItsNamesInWindows1251) {
    SettingsSection = Section1251;
    WriteBytes(file, Utf8Mark + Utf8("<Настройки><Окно_ёїх/><Устройства><KRA_MCR_Serial COM_Number=\"7\" "
                                     "Baud=\"57600\" Bits=\"16\" Порт=\"1\"/></Устройства></Настройки>"));
    std::vector<std::string> lines;
    LoadSettings([&](const std::string& line) { lines.push_back(line); });
    ExpectSettings(7, 57600, 16);
    EXPECT_EQ(lines.back(), "      Settings: unknown attribute Порт ignored");

    WriteBytes(file, "<?xml version=\"1.0\" encoding=\"utf-8\"?>" + Utf8("<Настройки/>"));
    LoadSettings([&](const std::string& line) { lines.push_back(line); });
    EXPECT_EQ(lines.back(), "      Settings: no section Устройства under the root Настройки of " +
                                platform::FullPathName(file.string()) + ", defaults used");
}

TEST_F(SettingsStore, SaveThatWouldNotBeReadPutsTheFileBack) {
    // An end tag before the root ends the load there: a root added after everything is never read.
    const struct {
        std::string before, place;
    } cases[] = {
        {Declaration + "</XML><XML><Devices><KRA_MCR_Serial COM_Number=\"1\" Baud=\"9600\" Bits=\"0\"/></Devices></XML>",
         "line 1, column 46"},
        {Declaration + "\r\n<!-- </not this> -->\r\n  </Host>\r\n<Host/>\r\n", "line 3, column 3"},
    };
    // The defaults too: a file the next start does not read gives them as well, and proves nothing.
    const TReaderSettings saved[] = {{5, 19200, 8}, {1, 9600, 0}};
    for (const auto& c : cases)
    for (const auto& v : saved) {
        SCOPED_TRACE(c.before + " saving COM" + std::to_string(v.COM_Number));
        WriteBytes(file, c.before);
        try {
            Save(v.COM_Number, v.Baud, v.Bits);
            ADD_FAILURE() << "saved";
        } catch (const std::exception& e) {
            EXPECT_EQ(std::string(e.what()),
                      "For this driver the file ends at " + c.place +
                          ", at an end tag that closes no element: the section can only be added after that place, "
                          "where the next start would not read it. Repair the file there (remove the stray end tag or "
                          "add its start tag), then save again. The file was put back as it was.");
        }
        EXPECT_EQ(ReadBytes(file), c.before);
        EXPECT_FALSE(fs::exists(platform::ReplacementFileName(file.string())));
        LoadSettings();
        ExpectSettings(1, 9600, 0);
    }
}

TEST_F(SettingsStore, ReadWholeFileGivesTheBytesAsTheyAre) {
    EXPECT_EQ(ReadWholeFile((folder / "missing.xml").string()), "");
    std::string bytes;
    for (int i = 0; i < 10000; ++i) bytes.push_back(static_cast<char>(i * 7));  // NULs, CR, LF, 0xFF ...
    WriteBytes(file, bytes);
    EXPECT_EQ(ReadWholeFile(file.string()), bytes);
}

}  // namespace
