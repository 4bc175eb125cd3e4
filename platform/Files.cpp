// The side-independent part of the file layer: ownership moves of the handle, which closes with
// its owner, and the error reason built on the system's text.
#include "platform/Files.h"

namespace platform {

std::string SystemErrorReason(uint32_t code) {
    std::string text = SystemErrorText(code);
    while (!text.empty() && (text.back() == '.' || static_cast<unsigned char>(text.back()) <= ' ')) text.pop_back();
    return text + " (error " + std::to_string(code) + ")";
}

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

}  // namespace platform
