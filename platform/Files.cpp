// The side-independent part of the file handle: ownership moves, the handle closes with its owner.
#include "platform/Files.h"

namespace platform {

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
