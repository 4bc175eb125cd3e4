// Seekable byte streams for the documents: the abstract stream, one over a file, one in memory.
// ReadBuffer and WriteBuffer move exactly n bytes or throw TXmlError.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Files.h"
#include "xml/XmlLib.h"

namespace xml {

class TByteStream {
public:
    virtual ~TByteStream() = default;

    virtual int64_t Size() = 0;
    virtual int64_t Position() = 0;
    virtual void Seek(int64_t position) = 0;
    // Up to count bytes; the number moved, short only at the end or on a fault.
    virtual size_t Read(void* buffer, size_t count) = 0;
    virtual size_t Write(const void* buffer, size_t count) = 0;

    // Exactly count bytes, or the error "Stream read error" / "Stream write error".
    void ReadBuffer(void* buffer, size_t count);
    void WriteBuffer(const void* buffer, size_t count);
};

// A file open for the lifetime of the object. Opening failures throw the file layer's texts with
// the full path: "Cannot open file "<path>". <system text>" for reading, "Cannot create file
// "<path>". <system text>" for creating.
class TFileStream final : public TByteStream {
public:
    enum Mode {
        OpenRead,   // an existing file, read only; no other handle may have it open meanwhile
        CreateNew,  // created or emptied, read and write, no sharing
    };
    TFileStream(const std::string& path, Mode mode);

    int64_t Size() override;
    int64_t Position() override { return position_; }
    void Seek(int64_t position) override;
    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;

private:
    platform::File file_;
    int64_t position_ = 0;
};

// Bytes held in a string; writing past the end grows it.
class TMemoryStream final : public TByteStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::string data) : data_(std::move(data)) {}

    int64_t Size() override { return static_cast<int64_t>(data_.size()); }
    int64_t Position() override { return static_cast<int64_t>(position_); }
    void Seek(int64_t position) override;
    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;

    const std::string& Data() const { return data_; }

private:
    std::string data_;
    size_t position_ = 0;
};

}  // namespace xml
