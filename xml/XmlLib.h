// XmlLib: the XML document library of the driver. A small DOM over 8-bit text (the active
// ANSI code page): interned names, six node kinds, typed attribute values, XML text in two
// layouts and a binary form. Everything is reference counted and reached through the
// interfaces below (namespace xml); hold objects in XmlRef<> and nothing needs to be freed
// by hand.
//
// Failures of every kind are thrown as one exception type, TXmlError (a std::runtime_error
// carrying the message text). The library takes no locks: use a document, and every document
// that shares its name table, from one thread at a time.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace xml {

// ---------------------------------------------------------------------------------------------
// Errors

// The library's one error type; what() is the message (Windows-1251 for the Russian texts).
class TXmlError : public std::runtime_error {
public:
    explicit TXmlError(const std::string& message) : std::runtime_error(message) {}
};

// A load of XML text or binary data that stopped: what() is the message as the reader raised
// it; the position tells where the input stopped. Line and column are 1-based and count bytes
// (a tab is one column; CR LF, LF and CR each end a line); both are 0 for binary data.
class TXmlParseError : public TXmlError {
public:
    TXmlParseError(const std::string& message, uint64_t offset, uint64_t line, uint64_t column)
        : TXmlError(message), offset_(offset), line_(line), column_(column) {}
    uint64_t Offset() const noexcept { return offset_; }  // bytes read before the stop
    uint64_t Line() const noexcept { return line_; }
    uint64_t Column() const noexcept { return column_; }

private:
    uint64_t offset_, line_, column_;
};

// ---------------------------------------------------------------------------------------------
// Counted references

class TXmlBase;

// Root of every interface. The count is intrusive and atomic; objects start at zero and are
// destroyed (iteratively, so deep trees never exhaust the stack) when the last XmlRef goes.
class IXmlBase {
public:
    // The object behind an interface reference (used to reach the concrete node or table).
    virtual TXmlBase* ImplObject() = 0;

    IXmlBase(const IXmlBase&) = delete;
    IXmlBase& operator=(const IXmlBase&) = delete;
    virtual ~IXmlBase() = default;

protected:
    IXmlBase() = default;

private:
    template <class T> friend class XmlRef;
    friend class TXmlBase;
    void AddRef() const noexcept { refCount_.fetch_add(1, std::memory_order_relaxed); }
    void Release() const noexcept {
        if (refCount_.fetch_sub(1, std::memory_order_acq_rel) == 1) DestroyObject(this);
    }
    static void DestroyObject(const IXmlBase* object) noexcept;  // XmlNodes.cpp
    mutable std::atomic<int32_t> refCount_{0};
    // Where the library's object lies on a page of its document's memory (0: on the heap). Kept
    // here, beside the count, where a 64-bit object has room to spare.
    uint32_t pageOffset_ = 0;
};

// A counted reference; none (null) is a valid value. Converts implicitly from a raw pointer
// (taking a new reference, which is safe with an intrusive count) and to references of base
// interfaces.
// Marks a pointer whose reference the caller has already counted: the XmlRef takes it over.
struct XmlAdoptRef {};

template <class T>
class XmlRef {
public:
    XmlRef() noexcept = default;
    XmlRef(std::nullptr_t) noexcept {}
    XmlRef(T* p) noexcept : p_(p) { if (p_) p_->AddRef(); }
    XmlRef(T* p, XmlAdoptRef) noexcept : p_(p) {}
    XmlRef(const XmlRef& o) noexcept : p_(o.p_) { if (p_) p_->AddRef(); }
    XmlRef(XmlRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    XmlRef(const XmlRef<U>& o) noexcept : p_(o.get()) { if (p_) p_->AddRef(); }
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    XmlRef(XmlRef<U>&& o) noexcept : p_(o.release()) {}
    ~XmlRef() { if (p_) p_->Release(); }

    XmlRef& operator=(XmlRef o) noexcept { std::swap(p_, o.p_); return *this; }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void reset() noexcept { XmlRef().swap(*this); }
    void swap(XmlRef& o) noexcept { std::swap(p_, o.p_); }
    // Gives up the reference without releasing it (for conversions between XmlRefs).
    T* release() noexcept { return std::exchange(p_, nullptr); }

    friend bool operator==(const XmlRef& a, const XmlRef& b) noexcept { return a.p_ == b.p_; }
    friend bool operator==(const XmlRef& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

private:
    T* p_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Values

// Days since 1899-12-30 00:00; the fraction is the time of day (proleptic Gregorian calendar).
using TDateTime = double;

// The library's variant value: a 16-bit kind code and a payload. Copied on assignment.
class TaggedValue {
    friend class TXmlValue;  // the tree's compact form of a value

public:
    enum Kind : uint16_t {
        vkEmpty = 0,
        vkNull = 1,
        vkInt16 = 2,
        vkInt32 = 3,
        vkFloat32 = 4,
        vkFloat64 = 5,
        vkCurrency = 6,   // amount × 10000 in a 64-bit integer
        vkDateTime = 7,   // TDateTime
        vkWideText = 8,   // UTF-16
        vkBoolean = 11,
        vkInt8 = 16,
        vkUInt8 = 17,
        vkUInt16 = 18,
        vkUInt32 = 19,
        vkInt64 = 20,
        vkText = 256,       // 8-bit text, the library's ordinary string
        vkByteArray = 0x2011,  // one-dimensional array of bytes (8209)
    };

    TaggedValue() noexcept = default;  // empty
    // A copy builds its payload in place: when that runs out of memory the copy fails cleanly
    // (GCC 12's own variant copy would destroy a payload it never made).
    TaggedValue(const TaggedValue& other) : kind_(other.kind_) { CopyPayload(other.payload_); }
    TaggedValue(TaggedValue&&) noexcept = default;
    TaggedValue& operator=(const TaggedValue& other) {
        if (this != &other) *this = TaggedValue(other);
        return *this;
    }
    TaggedValue& operator=(TaggedValue&&) noexcept = default;
    TaggedValue(std::string text) : payload_(std::move(text)), kind_(vkText) {}
    TaggedValue(const char* text) : payload_(std::string(text ? text : "")), kind_(vkText) {}
    TaggedValue(std::string_view text) : payload_(std::string(text)), kind_(vkText) {}

    static TaggedValue Null() { return TaggedValue(vkNull, std::monostate{}); }
    static TaggedValue Text(std::string text) { return TaggedValue(std::move(text)); }
    static TaggedValue WideText(std::u16string text) { return TaggedValue(vkWideText, std::move(text)); }
    static TaggedValue Int8(int8_t v) { return TaggedValue(vkInt8, int64_t{v}); }
    static TaggedValue UInt8(uint8_t v) { return TaggedValue(vkUInt8, int64_t{v}); }
    static TaggedValue Int16(int16_t v) { return TaggedValue(vkInt16, int64_t{v}); }
    static TaggedValue UInt16(uint16_t v) { return TaggedValue(vkUInt16, int64_t{v}); }
    static TaggedValue Int32(int32_t v) { return TaggedValue(vkInt32, int64_t{v}); }
    static TaggedValue UInt32(uint32_t v) { return TaggedValue(vkUInt32, int64_t{v}); }
    static TaggedValue Int64(int64_t v) { return TaggedValue(vkInt64, v); }
    static TaggedValue Float32(float v) { return TaggedValue(vkFloat32, double{v}); }
    static TaggedValue Float64(double v) { return TaggedValue(vkFloat64, v); }
    static TaggedValue Currency(int64_t scaledBy10000) { return TaggedValue(vkCurrency, scaledBy10000); }
    static TaggedValue DateTime(TDateTime v) { return TaggedValue(vkDateTime, v); }
    static TaggedValue Boolean(bool v) { return TaggedValue(vkBoolean, v); }
    static TaggedValue Bytes(std::vector<uint8_t> bytes) { return TaggedValue(vkByteArray, std::move(bytes)); }

    uint16_t KindCode() const noexcept { return kind_; }
    // Only kind 0 is empty: an empty text is not.
    bool IsEmpty() const noexcept { return kind_ == vkEmpty; }
    bool IsNull() const noexcept { return kind_ == vkNull; }
    void Clear() noexcept { kind_ = vkEmpty; payload_ = std::monostate{}; }

    // Payload access; each one fails with TXmlError when the kind does not hold that payload.
    int64_t IntPayload() const;                       // 2, 3, 6 (scaled), 16..20
    double FloatPayload() const;                      // 4, 5, 7
    bool BoolPayload() const;                         // 11
    const std::string& TextPayload() const;           // 256
    const std::u16string& WidePayload() const;        // 8
    const std::vector<uint8_t>& BytesPayload() const; // 8209

    // Same kind and same payload (no conversion; see SameValue for the general comparison).
    friend bool operator==(const TaggedValue& a, const TaggedValue& b) {
        return a.kind_ == b.kind_ && a.payload_ == b.payload_;
    }

    using Payload = std::variant<std::monostate, int64_t, double, bool, std::string, std::u16string,
                                 std::vector<uint8_t>>;
    const Payload& RawPayload() const noexcept { return payload_; }

private:
    TaggedValue(uint16_t kind, Payload payload) : payload_(std::move(payload)), kind_(kind) {}
    void CopyPayload(const Payload& from) {
        std::visit([this](const auto& x) { payload_.template emplace<std::decay_t<decltype(x)>>(x); }, from);
    }
    // The kind sits in the payload's tail padding: every attribute, text and element value is
    // 8 bytes smaller.
    [[no_unique_address]] Payload payload_;
    uint16_t kind_ = vkEmpty;
};

// The library's own XML forms: fixed texts, independent of the locale.
std::string ValueToXmlText(const TaggedValue& value);
std::string FloatToXmlText(double x);
double XmlTextToFloat(std::string_view text);
std::string DateTimeToXmlText(TDateTime d);          // "%.4d-%.2d-%.2dT%.2d-%.2d-%.2d"
TDateTime XmlTextToDateTime(std::string_view text);
std::string BytesToBase64(const void* bytes, int32_t count, int32_t lineLength);
std::string Base64ToBytes(std::string_view text);    // the bytes as an 8-bit string

// The general conversions between kinds (locale-dependent for text, like the OLE ones).
std::string ValueAsText(const TaggedValue& value);
int32_t ValueAsInt32(const TaggedValue& value);
bool ValueAsBoolean(const TaggedValue& value);
double ValueAsFloat(const TaggedValue& value);
TDateTime ValueAsDateTime(const TaggedValue& value);
bool SameValue(const TaggedValue& a, const TaggedValue& b);

// Calendar helpers; EncodeDateTime fails with TXmlError for an invalid date or time.
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int millisecond = 0);
struct TDateTimeParts { int year, month, day, hour, minute, second, millisecond; };
TDateTimeParts DecodeDateTime(TDateTime d);

// Markup characters " & < > replaced by their entities; everything else copied.
std::string EscapeXmlText(std::string_view text);
// Not empty; "_" or a letter first; then letters, digits, "-", ".", ":" or "_".
bool IsSimpleName(std::string_view text);

// ---------------------------------------------------------------------------------------------
// Interfaces

class IXmlNode;
class IXmlElement;
class IXmlDocument;
class TByteStream;  // xml/XmlStreams.h: TFileStream, TMemoryStream

// Name interning: a name's index is its position in the order names were first seen.
// A new table holds "#text", "#cdata-section", "#comment", "#document", "xml" at 0..4.
class IXmlNameDictionary : public virtual IXmlBase {
public:
    // Adds the name when it is new; the empty name gives -1 and adds nothing.
    virtual int32_t IdOfName(std::string_view name) = 0;
    // A negative index gives ""; an index at or beyond the name count fails with TXmlError.
    virtual std::string NameOfId(int32_t index) = 0;
};

// An ordered list of nodes: a node's child list, or a free-standing result list.
class IXmlNodeCollection : public virtual IXmlBase {
public:
    virtual int32_t ItemCount() = 0;
    // Fails with "Ошибка получения элемента списка: индекс выходит за пределы" out of range.
    virtual XmlRef<IXmlNode> ItemAt(int32_t position) = 0;
    virtual std::string MarkupText() = 0;
};

// Node kind codes (DOM node types).
enum XmlNodeKind : int32_t {
    xnkElement = 1,
    xnkText = 3,
    xnkCDATA = 4,
    xnkInstruction = 7,
    xnkComment = 8,
    xnkDocument = 9,
};

// Every node. By-name operations intern the name first (so even a read adds it to the table);
// the ById twins take a name index of the node's table.
class IXmlNode : public virtual IXmlBase {
public:
    virtual XmlRef<IXmlNameDictionary> NameTableRef() = 0;
    virtual std::string NameString() = 0;
    virtual int32_t NameId() = 0;
    virtual int32_t NodeKind() = 0;
    virtual std::string ReadText() = 0;
    virtual void WriteText(std::string text) = 0;
    virtual uint16_t ValueKind() = 0;
    virtual TaggedValue ReadValue() = 0;
    virtual void WriteValue(const TaggedValue& value) = 0;
    // The node as XML text: indented unless the node's document preserves white space.
    virtual std::string MarkupText() = 0;
    virtual XmlRef<IXmlNode> Duplicate(bool deep) = 0;
    virtual XmlRef<IXmlNode> Parent() = 0;
    virtual XmlRef<IXmlDocument> DocumentOf() = 0;
    virtual XmlRef<IXmlNodeCollection> ChildList() = 0;

    virtual void AppendChildNode(const XmlRef<IXmlNode>& node) = 0;
    virtual void InsertChildBefore(const XmlRef<IXmlNode>& node, const XmlRef<IXmlNode>& before) = 0;
    virtual void ReplaceChildNode(const XmlRef<IXmlNode>& newNode, const XmlRef<IXmlNode>& oldNode) = 0;
    virtual int32_t RemoveChildNode(const XmlRef<IXmlNode>& node) = 0;
    virtual XmlRef<IXmlElement> AppendChildElementById(int32_t index) = 0;
    virtual XmlRef<IXmlElement> AppendChildElement(std::string_view name) = 0;
    virtual XmlRef<IXmlNode> AppendTextNode(std::string text) = 0;
    virtual XmlRef<IXmlNode> AppendCDATANode(std::string text) = 0;
    virtual XmlRef<IXmlNode> AppendCommentNode(std::string text) = 0;
    virtual XmlRef<IXmlNode> AppendInstructionById(int32_t targetIndex, std::string data) = 0;
    virtual XmlRef<IXmlNode> AppendInstruction(std::string_view target, std::string data) = 0;
    virtual std::string ReadChildText(std::string_view name, std::string_view defaultText) = 0;
    virtual std::string ReadChildTextById(int32_t index, std::string_view defaultText) = 0;
    virtual void WriteChildText(std::string_view name, std::string text) = 0;
    virtual void WriteChildTextById(int32_t index, std::string text) = 0;
    // Fails with "Ошибка: не найден дочерний элемент "%s"." when no child has the name.
    virtual XmlRef<IXmlNode> RequireChildById(int32_t index) = 0;
    virtual XmlRef<IXmlNode> RequireChild(std::string_view name) = 0;
    virtual XmlRef<IXmlNode> ObtainChildById(int32_t index) = 0;
    virtual XmlRef<IXmlNode> ObtainChild(std::string_view name) = 0;
    virtual void ClearChildren() = 0;
    // Simple names only, else "Данная возможность не поддерживается библиотекой XML".
    virtual XmlRef<IXmlNodeCollection> FindChildElements(std::string_view name) = 0;
    virtual XmlRef<IXmlNode> FindChildElement(std::string_view name) = 0;
    virtual XmlRef<IXmlElement> FindChildElementByAttr(std::string_view elementName, std::string_view attrName,
                                                       const TaggedValue& value) = 0;

    virtual int32_t AttributeCount() = 0;
    // Positions at or beyond AttributeCount (or negative) fail with TXmlError.
    virtual int32_t AttrNameIdAt(int32_t position) = 0;
    virtual std::string AttrNameAt(int32_t position) = 0;
    virtual void DeleteAttr(std::string_view name) = 0;
    virtual void DeleteAttrById(int32_t index) = 0;
    virtual void ClearAttrs() = 0;
    virtual bool HasAttrById(int32_t index) = 0;
    virtual bool HasAttr(std::string_view name) = 0;
    virtual uint16_t AttrValueKindById(int32_t index) = 0;
    virtual uint16_t AttrValueKind(std::string_view name) = 0;
    virtual TaggedValue ReadVarAttrById(int32_t index, const TaggedValue& defaultValue) = 0;
    virtual TaggedValue ReadVarAttr(std::string_view name, const TaggedValue& defaultValue) = 0;
    virtual void WriteVarAttrById(int32_t index, const TaggedValue& value) = 0;
    virtual void WriteVarAttr(std::string_view name, const TaggedValue& value) = 0;
    virtual std::string RequireAttrById(int32_t index) = 0;
    virtual std::string RequireAttr(std::string_view name) = 0;
    virtual std::string ReadAttrById(int32_t index, std::string_view defaultText) = 0;
    virtual std::string ReadAttr(std::string_view name, std::string_view defaultText) = 0;
    virtual void WriteAttrById(int32_t index, std::string text) = 0;
    virtual void WriteAttr(std::string_view name, std::string text) = 0;
    virtual bool ReadBoolAttrById(int32_t index, bool defaultValue) = 0;
    virtual bool ReadBoolAttr(std::string_view name, bool defaultValue) = 0;
    virtual void WriteBoolAttrById(int32_t index, bool value) = 0;
    virtual void WriteBoolAttr(std::string_view name, bool value) = 0;
    virtual int32_t ReadIntAttrById(int32_t index, int32_t defaultValue) = 0;
    virtual int32_t ReadIntAttr(std::string_view name, int32_t defaultValue) = 0;
    virtual void WriteIntAttrById(int32_t index, int32_t value) = 0;
    virtual void WriteIntAttr(std::string_view name, int32_t value) = 0;
    virtual TDateTime ReadDateTimeAttrById(int32_t index, TDateTime defaultValue) = 0;
    virtual TDateTime ReadDateTimeAttr(std::string_view name, TDateTime defaultValue) = 0;
    virtual void WriteDateTimeAttrById(int32_t index, TDateTime value) = 0;
    virtual void WriteDateTimeAttr(std::string_view name, TDateTime value) = 0;
    virtual double ReadFloatAttrById(int32_t index, double defaultValue) = 0;
    virtual double ReadFloatAttr(std::string_view name, double defaultValue) = 0;
    virtual void WriteFloatAttrById(int32_t index, double value) = 0;
    virtual void WriteFloatAttr(std::string_view name, double value) = 0;
    virtual int32_t ReadHexAttr(std::string_view name, int32_t defaultValue) = 0;
    virtual int32_t ReadHexAttrById(int32_t index, int32_t defaultValue) = 0;
    virtual void WriteHexAttr(std::string_view name, int32_t value, int32_t digits) = 0;
    virtual void WriteHexAttrById(int32_t index, int32_t value, int32_t digits) = 0;
    virtual int32_t ReadChoiceAttr(std::string_view name, const std::vector<std::string>& allowed,
                                   int32_t defaultValue) = 0;
    virtual int32_t ReadChoiceAttrById(int32_t index, const std::vector<std::string>& allowed,
                                       int32_t defaultValue) = 0;
    virtual int32_t RequireChoiceAttr(std::string_view name, const std::vector<std::string>& allowed) = 0;
    virtual int32_t RequireChoiceAttrById(int32_t index, const std::vector<std::string>& allowed) = 0;
    // "" is the node's value, "@name" an attribute, any other path a child element's value.
    virtual TaggedValue ReadPathValue(std::string_view path) = 0;
    virtual void WritePathValue(std::string_view path, const TaggedValue& value) = 0;

    virtual XmlRef<IXmlElement> ToElement() = 0;
    virtual XmlRef<IXmlNode> ToText() = 0;
    virtual XmlRef<IXmlNode> ToCDATA() = 0;
    virtual XmlRef<IXmlNode> ToComment() = 0;
    virtual XmlRef<IXmlNode> ToInstruction() = 0;
};

class IXmlElement : public virtual IXmlNode {
public:
    // Removes the text and CDATA children and appends CDATA sections holding the text.
    virtual void ReplaceTextWithCDATA(std::string_view text) = 0;
    // Removes the text and CDATA children and appends one text node of base64.
    virtual void ReplaceTextWithBase64(const void* bytes, int32_t count, int32_t lineLength) = 0;
    // Base64ToBytes of ReadText.
    virtual std::string ReadBase64Text() = 0;
};

class IXmlDocument : public virtual IXmlNode {
public:
    virtual XmlRef<IXmlElement> DocumentElement() = 0;
    virtual std::string GetBinaryXml() = 0;
    virtual bool GetPreserveWhiteSpace() = 0;
    virtual void SetPreserveWhiteSpace(bool preserve) = 0;
    virtual XmlRef<IXmlElement> NewDocumentById(std::string_view version, std::string_view encoding,
                                                int32_t rootNameIndex) = 0;
    virtual XmlRef<IXmlElement> NewDocument(std::string_view version, std::string_view encoding,
                                            std::string_view rootName) = 0;
    virtual XmlRef<IXmlElement> CreateElementById(int32_t index) = 0;
    virtual XmlRef<IXmlElement> CreateElement(std::string_view name) = 0;
    virtual XmlRef<IXmlNode> CreateText(std::string text) = 0;
    virtual XmlRef<IXmlNode> CreateCDATASection(std::string text) = 0;
    virtual XmlRef<IXmlNode> CreateComment(std::string text) = 0;
    virtual XmlRef<IXmlNode> CreateProcessingInstruction(std::string_view target, std::string data) = 0;
    virtual XmlRef<IXmlNode> CreateProcessingInstructionById(int32_t targetIndex, std::string data) = 0;
    virtual void LoadXmlText(const std::string& text) = 0;
    virtual void LoadBinaryXml(const std::string& data) = 0;
    virtual void LoadFromStream(TByteStream& stream) = 0;
    virtual void LoadFromFile(const std::string& fileName) = 0;
    // Type and name as FindResourceA takes them (text, or an integer id cast to a pointer).
    virtual void LoadFromResource(const char* resourceType, const char* resourceName) = 0;
    virtual void SaveToStream(TByteStream& stream) = 0;
    virtual void SaveToFile(const std::string& fileName) = 0;
    virtual void SaveBinaryToStream(TByteStream& stream, uint32_t options) = 0;
    virtual void SaveBinaryToFile(const std::string& fileName, uint32_t options) = 0;
};

// ---------------------------------------------------------------------------------------------
// Source positions

// Where a parsed element lies in its text: byte offsets from the text's start, ends exclusive.
struct TXmlAttrSpan {
    int32_t NameId;
    uint64_t NameBegin, NameEnd;
    uint64_t ValueBegin, ValueEnd;  // between the quotes, references as written
};

struct TXmlElementSpan {
    static constexpr uint64_t kOpen = UINT64_MAX;  // an end not reached (the parse stopped)

    const TXmlBase* Node;
    uint64_t Begin;        // the "<" of the start tag
    uint64_t NameEnd;      // after the name
    uint64_t AttrsEnd;     // after the last attribute's closing quote; NameEnd without attributes
    uint64_t StartTagEnd;  // after the start tag's ">" or "/>"
    uint64_t EndTagBegin;  // the "<" of the end tag; StartTagEnd for "<a/>"
    uint64_t End;          // after the end tag's ">"; StartTagEnd for "<a/>"
    size_t FirstAttr, AttrCount;  // the element's attributes in TXmlPositions::Attrs, in source order

    bool SelfClosing() const noexcept { return End == StartTagEnd; }
};

// The spans a parse recorded: every element and each attribute occurrence in its tag (a name
// written twice appears twice). Recording is asked for per load; a load without it records
// nothing and costs nothing extra.
class TXmlPositions {
public:
    const std::vector<TXmlElementSpan>& Elements() const noexcept { return elements_; }
    const std::vector<TXmlAttrSpan>& Attrs() const noexcept { return attrs_; }
    // The span of an element of the parsed document; null for a node the parse did not make.
    const TXmlElementSpan* Find(IXmlNode* element) const;
    // The last occurrence of the attribute in the element's tag (the one whose value was kept).
    const TXmlAttrSpan* FindAttr(const TXmlElementSpan& element, int32_t nameId) const;
    void Clear();

private:
    friend class TXmlSource;
    std::vector<TXmlElementSpan> elements_;
    std::vector<TXmlAttrSpan> attrs_;
    std::vector<size_t> open_;  // elements whose end tag is due, innermost last
};

// LoadXmlText that records where the parsed elements lie in the text. A text that begins with
// the binary signature is loaded as binary and records nothing.
void LoadXmlTextWithPositions(const XmlRef<IXmlDocument>& document, const std::string& text,
                              TXmlPositions& positions);

// ---------------------------------------------------------------------------------------------
// Factories

// The table shared by every document made without its own (4096 buckets).
XmlRef<IXmlNameDictionary> DefaultNameTable();
// A new, private name table.
XmlRef<IXmlNameDictionary> NewXmlNameTable(int32_t bucketCount = 4096);

// A document on the given table (DefaultNameTable when none). With a root name it holds the
// declaration <?xml version="V" encoding="E"?> ("windows-1251" for an empty encoding) and
// the root element; with an empty root name it is empty.
XmlRef<IXmlDocument> NewXmlDocument(std::string_view rootName = {}, std::string_view version = "1.0",
                                    std::string_view encoding = {},
                                    const XmlRef<IXmlNameDictionary>& nameTable = nullptr);

}  // namespace xml
