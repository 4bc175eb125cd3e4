// The XML text parser's input: a source over a string (read in place) or over a byte stream
// (read in blocks), with one character of lookahead and the pooled token stack.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "xml/XmlChars.h"
#include "xml/XmlLib.h"

namespace xml {

class TByteStream;
class TXmlNameTable;
class TXmlNode;
class TXmlNodeList;
class TXmlElement;
class TXmlPositions;
class TXmlArena;

// Lines and columns of a stretch of input, counted from its first byte (line 1, column 1).
struct TXmlLineCount {
    uint64_t Line = 1, Column = 1;
    bool AfterCR = false;  // an LF right after a CR ends no further line
    void Add(const unsigned char* bytes, size_t count);
};

// A growable character buffer collecting one token; reset keeps its storage.
class TXmlToken {
public:
    TXmlToken() { text_.reserve(32); }
    void Reset() { text_.clear(); }
    void AddChar(char c) { text_.push_back(c); }
    void AddText(const char* data, size_t count) { text_.append(data, count); }
    const std::string& Text() const { return text_; }
    bool Empty() const { return text_.empty(); }

private:
    std::string text_;
};

class TXmlSource {
public:
    TXmlSource();
    virtual ~TXmlSource();
    TXmlSource(const TXmlSource&) = delete;
    TXmlSource& operator=(const TXmlSource&) = delete;

    // The current character; 0 once the input is exhausted (a 0 byte inside it is ordinary data).
    unsigned char CurChar = 0;

    bool IsEOF() const { return pos_ == end_ && remaining_ == 0; }
    // Advances by one character; false (CurChar 0) when the input is exhausted.
    bool Next() {
        if (end_ - pos_ > 1) {
            CurChar = *++pos_;
            return true;
        }
        return NextBlock();
    }

    // The token stack: tokens are pooled per depth and reused.
    void NewToken();
    void AddChar(char c) { current_->AddChar(c); }
    void AddText(const char* data, size_t count) { current_->AddText(data, count); }
    std::string AcceptToken();
    // Pops the current token without copying it; its text stays readable until the next NewToken.
    const std::string& DropToken();

    // The reading operations of the grammar; each fails with the library's error.
    void SkipBlanks() {
        if (CurChar > 0x20 || pos_ == end_) return;  // mostly nothing to skip
        SkipBlanksSlow();
    }
    int32_t ReadDecimal();
    int32_t ReadHex();
    char ReadCharRef();
    void ExpectChar(char c) {
        if (pos_ < end_ && CurChar == static_cast<unsigned char>(c)) {
            Next();
            return;
        }
        ExpectCharSlow(c);
    }
    void ExpectText(std::string_view text);
    std::string ReadQuoted(char quote);
    // The value between the quotes, references resolved: a view of the input when it holds
    // none, else of the token; valid until the next token or block.
    std::string_view ReadQuotedView(char quote);
    void ReadAttributes(TXmlNode& node, TXmlNameTable& table, TXmlArena* arena);
    std::string ReadUntil(std::string_view terminator);
    // The same without a copy: valid until the next token operation.
    std::string_view ReadUntilView(std::string_view terminator);

    // Appends the nodes of the content at the source to the list, up to the end of the input or an
    // end tag at this level (then CurChar is "/", the "<" consumed). Element content is parsed
    // with an explicit stack, so the depth of a document is bounded by memory, not by the thread's
    // stack.
    void ParseContent(TXmlNodeList& list, TXmlNameTable& table, bool preserveWhiteSpace);


    // Records the spans of the elements parsed from now on (none: nothing is recorded).
    void RecordPositions(TXmlPositions* positions) { positions_ = positions; }
    // Bytes of input before CurChar (all of them once the input is exhausted).
    uint64_t Offset() const { return total_ - remaining_ - static_cast<uint64_t>(end_ - pos_); }
    // Raises TXmlParseError with the message and the place where reading stopped.
    [[noreturn]] void RaiseStopped(const std::string& message);

protected:
    // The window of input at hand: CurChar is *pos_ while pos_ < end_.
    const unsigned char* pos_ = nullptr;
    const unsigned char* end_ = nullptr;
    // Bytes still to be fetched into the window (always 0 for an in-place string).
    uint64_t remaining_ = 0;
    // The size of the whole input.
    uint64_t total_ = 0;
    // Counts the lines of the first count bytes of the input; false when they cannot be read again.
    virtual bool CountLines(uint64_t count, TXmlLineCount& lines) = 0;
    // Fetches the next block into the window; called only while remaining_ > 0.
    virtual void FetchBlock() {}
    // The whole input's first byte when it lies in memory for the whole parse (a string source):
    // views into it stay valid to the end.
    const unsigned char* stableBegin_ = nullptr;

private:
    // The levels of a parse: the elements whose end tag is still due, and the nodes read that
    // wait for the end of their level to go into its list.
    struct TOpenElement {
        TXmlElement* Element;
        size_t First;  // where its children begin in Pending
    };
    struct TLevels {
        std::vector<TOpenElement> Open;  // innermost last
        std::vector<XmlRef<TXmlNode>> Pending;
        TXmlArena* Arena;
        // Whether the nodes are made on their lists' own table, and so linked as they are made.
        bool Linked;
        TXmlNode* TopOwner;
        // Moves Pending from first on into the list, in a block of their number.
        void Settle(TXmlNodeList& into, size_t first);
    };
    void ParseLevels(TXmlNameTable& table, bool preserveWhiteSpace, TLevels& levels);

    bool NextBlock();
    // Reads a name at CurChar (after checking it starts one); the view stays valid until the next
    // token operation.
    std::string_view ReadNameView() {
        const auto& classes = *classes_;
        if (pos_ < end_ && (classes[CurChar] & kNameStart)) {
            const unsigned char* p = pos_ + 1;
            while (p < end_ && (classes[*p] & kNameChar)) ++p;
            if (p < end_) {
                const std::string_view name(reinterpret_cast<const char*>(pos_), p - pos_);
                pos_ = p;
                CurChar = *p;
                return name;
            }
        }
        return ReadNameViewSlow();
    }
    std::string_view ReadNameViewSlow();
    void SkipBlanksSlow();
    int32_t InternName(TXmlNameTable& table, std::string_view name);
    [[noreturn]] void FailExpected(std::string_view what);
    void ExpectCharSlow(char c);
    // Whether a view lies in the input that stays in memory for the whole parse.
    bool IsStable(std::string_view text) const {
        const auto* p = reinterpret_cast<const unsigned char*>(text.data());
        return stableBegin_ && p >= stableBegin_ && p <= end_;
    }

    template <bool kRecord>
    void ReadAttributesOf(TXmlNameTable& table);
    void RecordAttr(int32_t nameId, uint64_t nameBegin, uint64_t nameEnd, uint64_t valueBegin);

    std::vector<std::unique_ptr<TXmlToken>> tokens_;
    // The attributes of the tag being read: name, and the value's place in attrText_.
    struct TAttrText {
        int32_t NameId;
        const char* Data;  // in the stable input, or nullptr: at Offset in attrText_
        size_t Offset, Length;
        std::string_view Text(const std::string& room) const {
            return Data ? std::string_view(Data, Length) : std::string_view(room).substr(Offset, Length);
        }
    };
    std::vector<TAttrText> attrs_;
    std::unordered_map<int32_t, size_t> attrPositions_;  // a tag with many attributes: by name
    std::string attrText_;
    // Recently interned names by a hash of their length and end bytes (-1: none).
    static constexpr unsigned kNameCacheBits = 8;
    static constexpr size_t kNameCache = size_t{1} << kNameCacheBits;
    std::array<int32_t, kNameCache> nameCache_;
    const std::array<uint8_t, 256>* classes_;
    int top_ = -1;
    TXmlToken* current_ = nullptr;
    TXmlPositions* positions_ = nullptr;
};

// Reads a string in place: the caller keeps the string alive and unchanged while parsing.
class TXmlStrSource final : public TXmlSource {
public:
    explicit TXmlStrSource(std::string_view text);

private:
    bool CountLines(uint64_t count, TXmlLineCount& lines) override;
    const unsigned char* begin_;
};

// Reads a byte stream in blocks of a fixed size, from its start to its size at creation.
class TXmlStmSource final : public TXmlSource {
public:
    TXmlStmSource(TByteStream& stream, size_t bufferSize);

private:
    void FetchBlock() override;
    // Reads the stream again from where the source began.
    bool CountLines(uint64_t count, TXmlLineCount& lines) override;

    TByteStream& stream_;
    int64_t origin_;
    std::unique_ptr<unsigned char[]> buffer_;
    size_t bufferSize_;
};

}  // namespace xml
