// Readers and writers of the binary document form: the header, compact integers, strings in
// 8-bit or UTF-16, and tagged values. Data from outside is never trusted: every count is checked
// against the bytes that remain before anything is reserved for it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "xml/XmlLib.h"

namespace xml {

class TByteStream;
class TXmlArena;
class TXmlValue;

// "< binary-xml >": the first 14 bytes of every binary document.
inline constexpr std::string_view kBinarySignature("< binary-xml >", 14);
// Bit 0 of the options word: names and texts are stored as UTF-16.
inline constexpr uint32_t kBinaryWideStrings = 1;

class TBinXmlReader {
public:
    virtual ~TBinXmlReader() = default;
    TBinXmlReader(const TBinXmlReader&) = delete;
    TBinXmlReader& operator=(const TBinXmlReader&) = delete;

    uint32_t Options = 0;

    // Exactly count bytes, or the error "Ошибка чтения данных.".
    void Read(void* buffer, size_t count) {
        if (count <= static_cast<size_t>(end_ - pos_)) {
            if (count != 0) std::memcpy(buffer, pos_, count);
            pos_ += count;
        } else {
            ReadBeyond(static_cast<unsigned char*>(buffer), count);
        }
    }
    uint8_t ReadByte() {
        if (pos_ < end_) return *pos_++;
        uint8_t b;
        ReadBeyond(&b, 1);
        return b;
    }
    // One byte below 0x80 is the whole integer (names, kinds and most counts): read in line.
    int32_t ReadInteger() {
        if (pos_ < end_ && *pos_ < 0x80) return *pos_++;
        return ReadLongInteger();
    }
    std::string ReadString();
    std::u16string ReadWideString();
    std::string ReadXmlString();
    // A string without a copy when it lies in the window at hand, else read into room; the view
    // lasts until the next read.
    std::string_view ReadStringView(std::string& room) {
        const auto length = static_cast<size_t>(ReadCount(1));
        if (length <= static_cast<size_t>(end_ - pos_)) {
            const std::string_view text(reinterpret_cast<const char*>(pos_), length);
            pos_ += length;
            return text;
        }
        return ReadStringBeyond(length, room);
    }
    // An empty value (kind 0, the commonest one of an element) passed over; false for any other.
    bool SkipEmptyValue() {
        if (pos_ < end_ && *pos_ == 0) {
            ++pos_;
            return true;
        }
        return false;
    }
    void ReadTaggedValue(TaggedValue& value);
    // The same into the tree's form, text straight onto the arena's pages.
    void ReadXmlValue(TXmlValue& value, TXmlArena* arena);
    // A text value as a view (true; see ReadStringView), any other kind into value (false).
    bool ReadXmlValueOrText(TXmlValue& value, std::string_view& text, std::string& room, TXmlArena* arena) {
        // The kind of text, 256, is the two bytes 81 00.
        if (end_ - pos_ >= 2 && pos_[0] == 0x81 && pos_[1] == 0) {
            pos_ += 2;
            text = ReadStringView(room);
            return true;
        }
        return ReadOtherValue(value, text, room, arena);
    }
    // A ReadXmlString without a copy where it can.
    std::string_view ReadXmlStringView(std::string& room);

    // Bytes not yet delivered: what a count read from the data can at most stand for.
    uint64_t Remaining() const { return static_cast<uint64_t>(end_ - pos_) + unfetched_; }
    // Bytes of the data before the next one to be read (the signature included).
    uint64_t Offset() const { return total_ - Remaining(); }
    // A count read from the data, checked to be at least 0 and to leave room for its items of at
    // least minItemSize bytes each.
    int32_t ReadCount(size_t minItemSize) {
        const int32_t count = ReadInteger();
        // Within the window is within the data (a negative count wraps far beyond it).
        if (static_cast<uint64_t>(count) * minItemSize <= static_cast<uint64_t>(end_ - pos_)) return count;
        return CheckCount(count, minItemSize);
    }

protected:
    TBinXmlReader() = default;
    // Delivers a read the window at hand cannot satisfy on its own.
    virtual void ReadBeyond(unsigned char* buffer, size_t count) = 0;
    int32_t ReadLongInteger();
    int32_t CheckCount(int32_t count, size_t minItemSize);
    void ReadValueOfKind(int32_t code, TaggedValue& value);  // the value after its kind code
    std::string_view ReadStringBeyond(size_t length, std::string& room);
    bool ReadOtherValue(TXmlValue& value, std::string_view& text, std::string& room, TXmlArena* arena);

    const unsigned char* pos_ = nullptr;
    const unsigned char* end_ = nullptr;
    uint64_t unfetched_ = 0;  // bytes of the source not yet in the window
    uint64_t total_ = 0;      // the size of the data, signature included
};

// Reads a string in place (the caller keeps it alive); skips the signature, reads the options.
class TStrXmlReader final : public TBinXmlReader {
public:
    explicit TStrXmlReader(std::string_view data);

private:
    void ReadBeyond(unsigned char* buffer, size_t count) override;
};

// Reads a stream through a buffer from its position on (the signature already read), then the
// options word.
class TStmXmlReader final : public TBinXmlReader {
public:
    TStmXmlReader(TByteStream& stream, size_t bufferSize);

private:
    void ReadBeyond(unsigned char* buffer, size_t count) override;

    TByteStream& stream_;
    std::unique_ptr<unsigned char[]> buffer_;
    size_t bufferSize_;
};

class TBinXmlWriter {
public:
    virtual ~TBinXmlWriter() = default;
    TBinXmlWriter(const TBinXmlWriter&) = delete;
    TBinXmlWriter& operator=(const TBinXmlWriter&) = delete;

    const uint32_t Options;

    void Write(const void* data, size_t count) {
        if (count <= bufferSize_ - used_) {
            if (count != 0) std::memcpy(buffer_.get() + used_, data, count);
            used_ += count;
        } else {
            WriteBeyond(static_cast<const unsigned char*>(data), count);
        }
    }
    void WriteByte(uint8_t b) { Write(&b, 1); }
    void WriteInteger(int32_t value);
    void WriteString(std::string_view text);
    void WriteWideString(std::u16string_view text);
    void WriteXmlString(std::string_view text);
    void WriteTaggedValue(const TaggedValue& value);
    void WriteXmlValue(const TXmlValue& value);

protected:
    TBinXmlWriter(uint32_t options, size_t bufferSize);
    // Takes a write that does not fit the free space of the buffer.
    virtual void WriteBeyond(const unsigned char* data, size_t count) = 0;
    void WriteHeader();

    std::unique_ptr<unsigned char[]> buffer_;
    size_t bufferSize_;
    size_t used_ = 0;
};

// Writes to a stream through a buffer, beginning with the header. Finish writes out the buffer
// and reports a failure; a writer destroyed without Finish (a save that failed) still tries.
class TStmXmlWriter final : public TBinXmlWriter {
public:
    TStmXmlWriter(TByteStream& stream, uint32_t options, size_t bufferSize);
    ~TStmXmlWriter() override;
    void Finish();

private:
    void WriteBeyond(const unsigned char* data, size_t count) override;

    TByteStream& stream_;
};

// Builds the binary form in a string; the result is complete after FlushBuf.
class TStrXmlWriter final : public TBinXmlWriter {
public:
    TStrXmlWriter(uint32_t options, size_t bufferSize);
    void FlushBuf();
    std::string& Result() { return result_; }

private:
    void WriteBeyond(const unsigned char* data, size_t count) override;

    std::string result_;
};

}  // namespace xml
