// POSIX side of the file layer: the nearest equivalents of the Win32 calls. Share modes are
// not enforced; attribute bits are made up from the file type and its write permission.
#include "platform/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <pwd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

void Fail(FileError* error, int code) {
    if (!error) return;
    error->code = static_cast<uint32_t>(code);
    error->message = SystemErrorText(code);
}

LocalTime ToLocal(const timespec& ts) {
    tm parts{};
    time_t seconds = ts.tv_sec;
    localtime_r(&seconds, &parts);
    LocalTime t;
    t.year = static_cast<uint16_t>(parts.tm_year + 1900);
    t.month = static_cast<uint16_t>(parts.tm_mon + 1);
    t.day = static_cast<uint16_t>(parts.tm_mday);
    t.hour = static_cast<uint16_t>(parts.tm_hour);
    t.minute = static_cast<uint16_t>(parts.tm_min);
    t.second = static_cast<uint16_t>(parts.tm_sec);
    t.millisecond = static_cast<uint16_t>(ts.tv_nsec / 1000000);
    return t;
}

}  // namespace

bool File::Open(const std::string& path, FileAccess access, uint32_t, FileDisposition disposition, FileError* error) {
    Close();
    int flags = O_CLOEXEC;
    switch (access) {
        case FileAccess::Read: flags |= O_RDONLY; break;
        case FileAccess::Write: flags |= O_WRONLY; break;
        case FileAccess::ReadWrite: flags |= O_RDWR; break;
    }
    switch (disposition) {
        case FileDisposition::OpenAlways: flags |= O_CREAT; break;
        case FileDisposition::OpenExisting: break;
        case FileDisposition::CreateAlways: flags |= O_CREAT | O_TRUNC; break;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        Fail(error, errno);
        return false;
    }
    struct stat st{};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {  // Win32 refuses to open a folder as a file
        ::close(fd);
        Fail(error, EISDIR);
        return false;
    }
    handle_ = fd;
    return true;
}

bool File::Close(FileError* error) {
    if (handle_ == kClosed) return true;
    const int result = ::close(static_cast<int>(handle_));
    handle_ = kClosed;
    if (result == 0) return true;
    Fail(error, errno);
    return false;
}

bool File::CreateLike(const std::string& path, const std::string& model, FileError* error) {
    struct stat old{};
    const bool modelled = ::stat(model.c_str(), &old) == 0;
    if (!Open(path, FileAccess::Write, ShareNone, FileDisposition::CreateAlways, error)) return false;
    if (modelled && ::fchmod(static_cast<int>(handle_), old.st_mode & 07777) != 0) {
        Fail(error, errno);
        Close();
        ::unlink(path.c_str());
        return false;
    }
    return true;
}

bool File::Flush(FileError* error) {
    if (IsOpen() && ::fsync(static_cast<int>(handle_)) == 0) return true;
    Fail(error, IsOpen() ? errno : EBADF);
    return false;
}

// One read or write system call, retried only when a signal cut it short.
template <typename Call>
bool Transfer(const File& file, Call call, size_t* done, FileError* error) {
    if (done) *done = 0;
    if (!file.IsOpen()) {
        Fail(error, EBADF);
        return false;
    }
    ssize_t n;
    do {
        n = call(static_cast<int>(file.NativeHandle()));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        Fail(error, errno);
        return false;
    }
    if (done) *done = static_cast<size_t>(n);
    return true;
}

bool File::Write(const void* data, size_t size, size_t* done, FileError* error) {
    return Transfer(*this, [&](int fd) { return ::write(fd, data, size); }, done, error);
}

bool File::Read(void* data, size_t size, size_t* done, FileError* error) {
    return Transfer(*this, [&](int fd) { return ::read(fd, data, size); }, done, error);
}

uint32_t File::SizeLow() const {
    uint64_t size;
    return Size(size) ? static_cast<uint32_t>(size) : 0xFFFFFFFFu;
}

bool File::Size(uint64_t& size) const {
    struct stat st{};
    if (!IsOpen() || ::fstat(static_cast<int>(handle_), &st) != 0) return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool File::SeekToEnd() { return IsOpen() && ::lseek(static_cast<int>(handle_), 0, SEEK_END) >= 0; }

bool File::Seek(uint64_t position) {
    return IsOpen() && ::lseek(static_cast<int>(handle_), static_cast<off_t>(position), SEEK_SET) >= 0;
}

bool File::Position(uint64_t& position) const {
    if (!IsOpen()) return false;
    off_t at = ::lseek(static_cast<int>(handle_), 0, SEEK_CUR);
    if (at < 0) return false;
    position = static_cast<uint64_t>(at);
    return true;
}

bool MoveFileReplacing(const std::string& from, const std::string& to, FileError* error) {
    struct stat st{};
    if (::stat(to.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {  // MoveFileExA replaces files only
        Fail(error, EISDIR);
        return false;
    }
    if (::rename(from.c_str(), to.c_str()) != 0) {
        Fail(error, errno);
        return false;
    }
    return true;
}

bool MoveFileReplacingDurably(const std::string& from, const std::string& to, FileError* error) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        Fail(error, errno);
        return false;
    }
    // The new name is durable only once the folder is.
    const size_t cut = FolderPartLength(to);
    const std::string folder = cut == 0 ? "." : to.substr(0, cut);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    return true;
}

bool IsWriteProtected(const std::string& path, FileError* error) {
    // A rename would replace a write-protected file too; callers refuse it as Win32 does.
    if (!PathExists(path) || ::access(path.c_str(), W_OK) == 0) return false;
    Fail(error, errno);
    return true;
}

FileError NothingWrittenError() { return {EIO, SystemErrorText(EIO)}; }

bool RemoveFile(const std::string& path, FileError* error) {
    if (::unlink(path.c_str()) != 0) {
        Fail(error, errno);
        return false;
    }
    return true;
}

bool PathExists(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0;
}

std::string FullPathName(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char* cwd = ::getcwd(nullptr, 0);
    if (!cwd) return path;
    std::string full = cwd;
    std::free(cwd);
    if (full.empty() || full.back() != '/') full += '/';
    return full + path;
}

LocalTime LocalNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return ToLocal(now);
}

std::vector<DirEntry> ListFolder(const std::string& pattern) {
    const size_t cut = FolderPartLength(pattern);
    const std::string folder = pattern.substr(0, cut), mask = pattern.substr(cut);
    std::vector<DirEntry> entries;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return entries;
    while (dirent* d = ::readdir(dir)) {
        const std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        if (::fnmatch(mask.c_str(), name.c_str(), FNM_CASEFOLD) != 0) continue;
        struct stat st{};
        if (::stat((folder + name).c_str(), &st) != 0) continue;  // gone meanwhile, or a dangling link
        DirEntry e;
        e.name = name;
        if (S_ISDIR(st.st_mode)) e.attributes |= AttrDirectory;
        else if (S_ISREG(st.st_mode)) e.attributes |= AttrArchive;
        if ((st.st_mode & 0222) == 0) e.attributes |= AttrReadOnly;
        if (name[0] == '.') e.attributes |= AttrHidden;
        e.lastWrite = ToLocal(st.st_mtim);
        entries.push_back(std::move(e));
    }
    ::closedir(dir);
    return entries;
}

std::string TimeSeparator() { return ":"; }

std::string UserName() {
    char buffer[4096];
    passwd pw{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &pw, buffer, sizeof buffer, &found) == 0 && found && found->pw_name)
        return found->pw_name;
    return {};
}

bool SlashSeparatesFolders() { return true; }

std::string SystemErrorText(uint32_t code) { return std::strerror(static_cast<int>(code)); }

}  // namespace platform
