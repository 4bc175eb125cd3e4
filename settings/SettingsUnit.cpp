#include "settings/SettingsUnit.h"

#include <algorithm>
#include <stdexcept>

#include "driver/Main.h"
#include "platform/Files.h"
#include "settings/SettingsForm.h"

namespace {

void* applicationHandle = nullptr;

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

}  // namespace

std::string ReadWholeFile(const std::string& path) {
    try {
        return ReadFileBytes(path).bytes;
    } catch (...) {
        return {};
    }
}

// The XML store comes with the XML library; until then the driver runs on the defaults.
void LoadSettings() { DriverState.ReaderSettings = TReaderSettings{1, 9600, 0}; }
void SaveSettings() {}

void SetApplicationHandle(void* appHandle) { applicationHandle = appHandle; }
void* ApplicationHandle() { return applicationHandle; }

bool RunSettingsDialog(int32_t& port, int32_t& baud, std::string& bitsText) {
    TSettingsForm form(port, baud, bitsText);
    if (!ShowSettingsForm(form)) return false;
    form.Confirm(port, baud, bitsText);
    return true;
}
