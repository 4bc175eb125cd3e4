#include "settings/SettingsUnit.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>

#include "platform/Files.h"
#include "settings/SettingsForm.h"
#include "xml/XmlLib.h"
#include "xml/XmlStreams.h"

using xml::IXmlDocument;
using xml::IXmlElement;
using xml::IXmlNode;
using xml::XmlRef;

namespace {

const char DriverElementName[] = "KRA_MCR_Serial";
const char RootElementName[] = "XML";

std::atomic<void*> applicationHandle{nullptr};  // set by the start and stop, read by the dialog
std::atomic<bool> dialogOpen{false};

struct TFileRead {
    std::string bytes;
    bool complete = false;     // as many bytes as the file held when it was opened
    platform::FileError error; // why not, when it is not
    bool opened = false;
};

TFileRead ReadFileBytes(const std::string& path) {
    TFileRead read;
    platform::File file;
    if (!file.Open(path, platform::FileAccess::Read, platform::ShareRead, platform::FileDisposition::OpenExisting,
                   &read.error))
        return read;
    read.opened = true;
    uint64_t size = 0;
    if (!file.Size(size)) return read;
    char buffer[4096];
    while (read.bytes.size() < size) {
        size_t done = 0;
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(sizeof buffer, size - read.bytes.size()));
        if (!file.Read(buffer, piece, &done, &read.error) || done == 0) return read;
        read.bytes.append(buffer, done);
    }
    read.complete = true;
    return read;
}

// The root of a settings file, made where the file has none. A file that is empty gets the
// declaration too, as a new one; whatever a rootless file does hold (its declaration, comments)
// stays in front of the new root.
XmlRef<IXmlElement> ObtainRoot(const XmlRef<IXmlDocument>& document) {
    if (XmlRef<IXmlElement> root = document->DocumentElement()) return root;
    if (document->ChildList()->ItemCount() == 0) return document->NewDocument("1.0", "", RootElementName);
    return document->AppendChildElement(RootElementName);
}

XmlRef<IXmlNode> ObtainChildElement(const XmlRef<IXmlNode>& parent, const std::string& name) {
    if (XmlRef<IXmlNode> child = parent->FindChildElement(name)) return child;
    parent->AppendChildElement(name);
    return parent->FindChildElement(name);
}

}  // namespace

std::string ReadWholeFile(const std::string& path) {
    try {
        return ReadFileBytes(path).bytes;
    } catch (...) {
        return {};
    }
}

void LoadSettings(const std::string& SettingsFileName, const std::string& SettingsSection,
                  TReaderSettings& ReaderSettings) {
    TReaderSettings& settings = ReaderSettings;
    settings = TReaderSettings{1, 9600, 0};
    const std::string& fileName = SettingsFileName;
    if (fileName.empty() || !platform::PathExists(fileName)) return;

    // A file that is there but cannot be read (locked, no access) is a failure, not a file
    // without settings: the reader must not start on a port nobody chose.
    const TFileRead read = ReadFileBytes(fileName);
    if (!read.complete)
        throw std::runtime_error(
            platform::FileFailureText(read.opened ? "Cannot read file" : "Cannot open file", fileName, read.error.message));

    XmlRef<IXmlDocument> document = xml::NewXmlDocument("", "1.0");
    document->LoadXmlText(read.bytes);
    XmlRef<IXmlElement> root = document->DocumentElement();
    if (!root) return;
    XmlRef<IXmlNode> section = root->FindChildElement(SettingsSection);
    if (!section) return;
    XmlRef<IXmlNode> element = section->FindChildElement(DriverElementName);
    if (!element) return;
    settings.COM_Number = element->ReadIntAttr("COM_Number", 1);
    settings.Baud = element->ReadIntAttr("Baud", 9600);
    settings.Bits = element->ReadIntAttr("Bits", 0);
}

void SaveSettings(const std::string& SettingsFileName, const std::string& SettingsSection,
                  const TReaderSettings& ReaderSettings) {
    const std::string& fileName = SettingsFileName;
    if (fileName.empty())
        throw std::runtime_error(platform::FileFailureText("Cannot create file", "", "The settings file has no name"));
    XmlRef<IXmlDocument> document;
    if (platform::PathExists(fileName)) {
        document = xml::NewXmlDocument("", "1.0");
        document->LoadFromFile(fileName);
    } else {
        document = xml::NewXmlDocument(RootElementName, "1.0");
    }
    XmlRef<IXmlNode> section = ObtainChildElement(ObtainRoot(document), SettingsSection);
    XmlRef<IXmlNode> element = ObtainChildElement(section, DriverElementName);
    const TReaderSettings& settings = ReaderSettings;
    element->WriteIntAttr("COM_Number", settings.COM_Number);
    element->WriteIntAttr("Baud", settings.Baud);
    element->WriteIntAttr("Bits", settings.Bits);

    xml::TMemoryStream text;
    document->SaveToStream(text);
    platform::ReplaceFileContent(fileName, text.Data());
}

void SetApplicationHandle(void* appHandle) { applicationHandle = appHandle; }
void* ApplicationHandle() { return applicationHandle; }

bool RunSettingsDialog(int32_t& port, int32_t& baud, std::string& bitsText) {
    if (dialogOpen.exchange(true)) {
        BringSettingsFormToFront();
        return false;
    }
    struct Closed {
        ~Closed() { dialogOpen = false; }
    } closed;
    TSettingsForm form(port, baud, bitsText);
    if (!ShowSettingsForm(form)) return false;
    form.Confirm(port, baud, bitsText);
    return true;
}

void TellSaveFailure(const std::string& fileName, const std::string& reason) {
    ShowSaveFailure("Не удалось записать файл настроек\r\n" + platform::FullPathName(fileName) + "\r\n\r\n" + reason);
}
