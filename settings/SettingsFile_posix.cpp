#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/Files.h"
#include "settings/SettingsFile.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& path, int code) {
    throw std::runtime_error(std::string(what) + " \"" + platform::FullPathName(path) + "\". " + std::strerror(code));
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void ReplaceFileContent(const std::string& path, const std::string& bytes) {
    const std::string temp = ReplacementFileName(path);
    struct stat old{};
    const bool exists = ::stat(path.c_str(), &old) == 0;
    // A rename would replace a write-protected file too; refuse as Win32 does for read-only ones.
    if (exists && ::access(path.c_str(), W_OK) != 0) Fail("Cannot create file", path, errno);

    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) Fail("Cannot create file", temp, errno);
    int code = 0;
    if (exists && ::fchmod(fd, old.st_mode & 07777) != 0) code = errno;
    for (size_t written = 0; code == 0 && written < bytes.size();) {
        const ssize_t done = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) code = done < 0 ? errno : EIO;
        else written += static_cast<size_t>(done);
    }
    if (code == 0 && ::fsync(fd) != 0) code = errno;
    if (::close(fd) != 0 && code == 0) code = errno;
    if (code != 0) {
        ::unlink(temp.c_str());
        Fail("Cannot write file", temp, code);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        code = errno;
        ::unlink(temp.c_str());
        Fail("Cannot replace file", path, code);
    }
    // The new name is durable only once the folder is.
    const int folder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}
