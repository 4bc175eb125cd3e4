// Win32 side of the file layer: the system calls as they are. Paths come in the ANSI code page
// and go to the system's wide-character calls, in the long form where the plain one is too long.
#include "platform/Files.h"

#include <windows.h>

namespace platform {

namespace {

// Below this length every call takes a plain path (CreateDirectory's limit, the lowest of all).
constexpr size_t kPlainPathLimit = MAX_PATH - 12;

std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(n > 0 ? n : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), &wide[0], n);
    return wide;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), &narrow[0], n, nullptr, nullptr);
    return narrow;
}

// The absolute form (GetFullPathNameW, any length); empty when the system cannot make one.
std::wstring FullWide(const std::wstring& path) {
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    for (int tries = 0; size > 0 && tries < 3; ++tries) {
        std::wstring full(size, L'\0');
        const DWORD n = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
        if (n == 0) break;
        if (n < size) {
            full.resize(n);
            return full;
        }
        size = n;  // the current folder changed meanwhile
    }
    return {};
}

// The name the system is given for path: the path itself while its full form is short, else
// the full form as a long path (\\?\C:\..., \\?\UNC\server\share\...), which no length limit applies to.
std::wstring SystemPath(const std::string& path) {
    std::wstring wide = Widen(path);
    if (wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\\\.\\", 0) == 0) return wide;  // long form, device
    const std::wstring full = FullWide(wide);  // a short relative path is long under a long current folder
    if (full.empty() || full.size() < kPlainPathLimit) return wide;
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

HANDLE H(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

void Fail(FileError* error, DWORD code) {
    if (!error) return;
    error->code = code;
    error->message = SystemErrorText(code);
}

void FailLast(FileError* error) { Fail(error, GetLastError()); }

// Keeps the handle CreateFileA gave, or tells why there is none.
bool Kept(HANDLE h, intptr_t& handle, FileError* error) {
    if (h == INVALID_HANDLE_VALUE) {
        FailLast(error);
        return false;
    }
    handle = reinterpret_cast<intptr_t>(h);
    return true;
}

LocalTime FromSystemTime(const SYSTEMTIME& st) {
    LocalTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    t.millisecond = st.wMilliseconds;
    return t;
}

}  // namespace

bool File::Open(const std::string& path, FileAccess access, uint32_t share, FileDisposition disposition,
                FileError* error) {
    Close();
    DWORD desired = 0;
    switch (access) {
        case FileAccess::Read: desired = GENERIC_READ; break;
        case FileAccess::Write: desired = GENERIC_WRITE; break;
        case FileAccess::ReadWrite: desired = GENERIC_READ | GENERIC_WRITE; break;
    }
    DWORD how = OPEN_EXISTING;
    switch (disposition) {
        case FileDisposition::OpenAlways: how = OPEN_ALWAYS; break;
        case FileDisposition::OpenExisting: how = OPEN_EXISTING; break;
        case FileDisposition::CreateAlways: how = CREATE_ALWAYS; break;
    }
    DWORD shareMode = 0;
    if (share & ShareRead) shareMode |= FILE_SHARE_READ;
    if (share & ShareWrite) shareMode |= FILE_SHARE_WRITE;
    if (share & ShareDelete) shareMode |= FILE_SHARE_DELETE;
    return Kept(CreateFileW(SystemPath(path).c_str(), desired, shareMode, nullptr, how, FILE_ATTRIBUTE_ARCHIVE, nullptr),
                handle_, error);
}

bool File::Close(FileError* error) {
    if (handle_ == kClosed) return true;
    const BOOL ok = CloseHandle(H(handle_));
    handle_ = kClosed;
    if (!ok) FailLast(error);
    return ok;
}

bool File::CreateLike(const std::string& path, const std::string& model, FileError* error) {
    Close();
    const std::wstring target = SystemPath(path);
    const DWORD old = GetFileAttributesW(SystemPath(model).c_str());
    DWORD attributes = old == INVALID_FILE_ATTRIBUTES
                           ? 0
                           : old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
    DeleteFileW(target.c_str());  // a leftover of an interrupted write, whatever its attributes
    return Kept(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr), handle_, error);
}

bool File::Flush(FileError* error) {
    if (IsOpen() && FlushFileBuffers(H(handle_))) return true;
    if (IsOpen()) FailLast(error);
    else Fail(error, ERROR_INVALID_HANDLE);
    return false;
}

bool File::Write(const void* data, size_t size, size_t* done, FileError* error) {
    DWORD n = 0;
    BOOL ok = IsOpen() && WriteFile(H(handle_), data, static_cast<DWORD>(size), &n, nullptr);
    if (done) *done = n;
    if (!ok) FailLast(error);
    return ok;
}

bool File::Read(void* data, size_t size, size_t* done, FileError* error) {
    DWORD n = 0;
    BOOL ok = IsOpen() && ReadFile(H(handle_), data, static_cast<DWORD>(size), &n, nullptr);
    if (done) *done = n;
    if (!ok) FailLast(error);
    return ok;
}

uint32_t File::SizeLow() const { return IsOpen() ? GetFileSize(H(handle_), nullptr) : INVALID_FILE_SIZE; }

bool File::Size(uint64_t& size) const {
    LARGE_INTEGER s;
    if (!IsOpen() || !GetFileSizeEx(H(handle_), &s)) return false;
    size = static_cast<uint64_t>(s.QuadPart);
    return true;
}

bool File::SeekToEnd() {
    LARGE_INTEGER zero{};
    return IsOpen() && SetFilePointerEx(H(handle_), zero, nullptr, FILE_END);
}

bool File::Seek(uint64_t position) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(position);
    return IsOpen() && SetFilePointerEx(H(handle_), to, nullptr, FILE_BEGIN);
}

bool File::Position(uint64_t& position) const {
    LARGE_INTEGER zero{}, at{};
    if (!IsOpen() || !SetFilePointerEx(H(handle_), zero, &at, FILE_CURRENT)) return false;
    position = static_cast<uint64_t>(at.QuadPart);
    return true;
}

bool MoveFileReplacing(const std::string& from, const std::string& to, FileError* error) {
    if (MoveFileExW(SystemPath(from).c_str(), SystemPath(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    FailLast(error);
    return false;
}

bool MoveFileReplacingDurably(const std::string& from, const std::string& to, FileError* error) {
    if (MoveFileExW(SystemPath(from).c_str(), SystemPath(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    FailLast(error);
    return false;
}

bool IsWriteProtected(const std::string& path, FileError* error) {
    const DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return false;
    Fail(error, ERROR_ACCESS_DENIED);  // what the system would answer to the replace
    return true;
}

FileError NothingWrittenError() { return {ERROR_WRITE_FAULT, SystemErrorText(ERROR_WRITE_FAULT)}; }

bool SlashSeparatesFolders() { return false; }

bool RemoveFile(const std::string& path, FileError* error) {
    if (DeleteFileW(SystemPath(path).c_str())) return true;
    FailLast(error);
    return false;
}

bool PathExists(const std::string& path) {
    return GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool CreateDirectories(const std::string& path, FileError* error) {
    // Every folder along the path, from the top: those that exist, and the roots that are no
    // folder to make ("C:", "\\server\share"), fail harmlessly. What counts is the end.
    DWORD failure = ERROR_PATH_NOT_FOUND;
    for (size_t end = 1; end <= path.size(); ++end) {
        if (end < path.size() && path[end] != '\\' && path[end] != '/') continue;
        if (path[end - 1] == '\\' || path[end - 1] == '/') continue;
        if (!CreateDirectoryW(SystemPath(path.substr(0, end)).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            failure = GetLastError();
    }
    const DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
    Fail(error, attributes == INVALID_FILE_ATTRIBUTES ? failure : ERROR_ALREADY_EXISTS);
    return false;
}

std::string FullPathName(const std::string& path) {
    const std::wstring full = FullWide(Widen(path));
    return full.empty() ? path : Narrow(full);
}

LocalTime LocalNow() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return FromSystemTime(st);
}

std::vector<DirEntry> ListFolder(const std::string& pattern) {
    std::vector<DirEntry> entries;
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW(SystemPath(pattern).c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return entries;
    do {
        const std::string name = Narrow(fd.cFileName);
        if (name == "." || name == "..") continue;
        DirEntry e;
        e.name = name;
        e.attributes = fd.dwFileAttributes;
        FILETIME local;
        SYSTEMTIME st;
        if (FileTimeToLocalFileTime(&fd.ftLastWriteTime, &local) && FileTimeToSystemTime(&local, &st))
            e.lastWrite = FromSystemTime(st);
        entries.push_back(std::move(e));
    } while (FindNextFileW(find, &fd));
    FindClose(find);
    return entries;
}

std::string TimeSeparator() {
    char buffer[16];
    int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, buffer, sizeof buffer);
    if (n <= 1) return ":";
    return std::string(buffer, n - 1);
}

std::string UserName() {
    char buffer[512];
    DWORD size = sizeof buffer;
    if (!GetUserNameA(buffer, &size) || size == 0) return {};
    return std::string(buffer, size - 1);  // the count includes the terminating NUL
}

std::string SystemErrorText(uint32_t code) {
    char* text = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message;
    if (text) {
        while (n > 0 && static_cast<unsigned char>(text[n - 1]) <= ' ') --n;
        message.assign(text, n);
        LocalFree(text);
    }
    return message.empty() ? "Error " + std::to_string(code) : message;
}

}  // namespace platform
