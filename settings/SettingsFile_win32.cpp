#include <windows.h>

#include <algorithm>
#include <stdexcept>

#include "platform/Files.h"
#include "settings/SettingsFile.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& path, DWORD code) {
    throw std::runtime_error(std::string(what) + " \"" + platform::FullPathName(path) + "\". " + platform::SystemErrorText(code));
}

}  // namespace

void ReplaceFileContent(const std::string& path, const std::string& bytes) {
    const std::string temp = ReplacementFileName(path);
    const DWORD old = GetFileAttributesA(path.c_str());
    DWORD attributes = old == INVALID_FILE_ATTRIBUTES
                           ? 0
                           : old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
    // The system refuses to replace a read-only file; say so before anything is written.
    if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY)) Fail("Cannot create file", path, ERROR_ACCESS_DENIED);

    DeleteFileA(temp.c_str());  // a leftover of an interrupted save
    HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
    if (file == INVALID_HANDLE_VALUE) Fail("Cannot create file", temp, GetLastError());
    size_t written = 0;
    DWORD code = ERROR_SUCCESS;
    while (written < bytes.size()) {
        DWORD done = 0;
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(bytes.size() - written, 1u << 20));
        if (!WriteFile(file, bytes.data() + written, piece, &done, nullptr) || done == 0) {
            code = GetLastError();
            if (code == ERROR_SUCCESS) code = ERROR_WRITE_FAULT;
            break;
        }
        written += done;
    }
    if (code == ERROR_SUCCESS && !FlushFileBuffers(file)) code = GetLastError();
    CloseHandle(file);
    if (code != ERROR_SUCCESS) {
        DeleteFileA(temp.c_str());
        Fail("Cannot write file", temp, code);
    }
    if (!MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        code = GetLastError();
        DeleteFileA(temp.c_str());
        Fail("Cannot replace file", path, code);
    }
}
