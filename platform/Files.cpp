// The side-independent part of the file layer: ownership moves of the handle, the failure
// message, and the atomic replace of a file's content.
#include "platform/Files.h"

#include <algorithm>
#include <stdexcept>

namespace platform {

namespace {

[[noreturn]] void Fail(const char* what, const std::string& path, const FileError& error) {
    throw std::runtime_error(FileFailureText(what, path, error.message));
}

}  // namespace

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = kClosed; }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        other.handle_ = kClosed;
    }
    return *this;
}

size_t FolderPartLength(std::string_view path, bool slashSeparates) {
    size_t cut = path.size();
    for (; cut > 0; --cut) {
        const char c = path[cut - 1];
        if (c == '\\' || c == ':' || (slashSeparates && c == '/')) break;
    }
    return cut;
}

std::string FileFailureText(const std::string& what, const std::string& path, const std::string& reason) {
    return what + " \"" + FullPathName(path) + "\". " + reason;
}

void ReplaceFileContent(const std::string& path, const std::string& bytes) {
    const std::string temp = ReplacementFileName(path);
    FileError error;
    if (IsWriteProtected(path, &error)) Fail("Cannot create file", path, error);

    File file;
    if (!file.CreateLike(temp, path, &error)) Fail("Cannot create file", temp, error);
    bool written = true;
    for (size_t at = 0; written && at < bytes.size();) {
        size_t done = 0;
        const size_t piece = std::min<size_t>(bytes.size() - at, size_t{1} << 20);
        written = file.Write(bytes.data() + at, piece, &done, &error);
        if (written && done == 0) {
            error = NothingWrittenError();
            written = false;
        }
        at += done;
    }
    written = written && file.Flush(&error);
    FileError closeError;
    if (!file.Close(&closeError) && written) {
        error = closeError;
        written = false;
    }
    if (!written) {
        RemoveFile(temp);
        Fail("Cannot write file", temp, error);
    }
    if (!MoveFileReplacingDurably(temp, path, &error)) {
        RemoveFile(temp);
        Fail("Cannot replace file", path, error);
    }
}

}  // namespace platform
