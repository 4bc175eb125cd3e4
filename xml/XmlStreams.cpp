#include "xml/XmlStreams.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "xml/XmlInternal.h"

namespace xml {

void TByteStream::ReadBuffer(void* buffer, size_t count) {
    if (count != 0 && Read(buffer, count) != count) RaiseXmlError("Stream read error");
}

void TByteStream::WriteBuffer(const void* buffer, size_t count) {
    if (count != 0 && Write(buffer, count) != count) RaiseXmlError("Stream write error");
}

TFileStream::TFileStream(const std::string& path, Mode mode) {
    platform::FileError error;
    const bool ok = mode == OpenRead
        ? file_.Open(path, platform::FileAccess::Read, platform::ShareNone,
                     platform::FileDisposition::OpenExisting, &error)
        : file_.Open(path, platform::FileAccess::ReadWrite, platform::ShareNone,
                     platform::FileDisposition::CreateAlways, &error);
    if (!ok) {
        RaiseXmlError(platform::FileFailureText(mode == OpenRead ? "Cannot open file" : "Cannot create file", path,
                                                error.message));
    }
}

int64_t TFileStream::Size() {
    uint64_t size = 0;
    if (!file_.Size(size)) return 0;
    return static_cast<int64_t>(size);
}

void TFileStream::Seek(int64_t position) {
    if (position < 0) position = 0;
    if (file_.Seek(static_cast<uint64_t>(position))) position_ = position;
}

size_t TFileStream::Read(void* buffer, size_t count) {
    // One system call may move less than asked: keep asking until done or dry.
    size_t total = 0;
    auto* bytes = static_cast<char*>(buffer);
    while (total < count) {
        size_t done = 0;
        if (!file_.Read(bytes + total, std::min<size_t>(count - total, 1u << 30), &done) || done == 0)
            break;
        total += done;
    }
    position_ += static_cast<int64_t>(total);
    return total;
}

size_t TFileStream::Write(const void* buffer, size_t count) {
    size_t total = 0;
    const auto* bytes = static_cast<const char*>(buffer);
    while (total < count) {
        size_t done = 0;
        if (!file_.Write(bytes + total, std::min<size_t>(count - total, 1u << 30), &done) || done == 0)
            break;
        total += done;
    }
    position_ += static_cast<int64_t>(total);
    return total;
}

void TMemoryStream::Seek(int64_t position) {
    if (position < 0) position = 0;
    position_ = static_cast<size_t>(
        std::min<uint64_t>(static_cast<uint64_t>(position), std::numeric_limits<size_t>::max()));
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
    if (position_ >= data_.size()) return 0;
    const size_t n = std::min(count, data_.size() - position_);
    std::memcpy(buffer, data_.data() + position_, n);
    position_ += n;
    return n;
}

size_t TMemoryStream::Write(const void* buffer, size_t count) {
    if (count == 0) return 0;
    if (position_ > data_.size()) data_.resize(position_);
    const size_t overlap = std::min(count, data_.size() - position_);
    data_.replace(position_, overlap, static_cast<const char*>(buffer), count);
    position_ += count;
    return count;
}

}  // namespace xml
