// The binary document form: readers and writers, and the binary load and save of the name
// table, of node content and of child lists.
#include "xml/XmlBinary.h"

#include <algorithm>
#include <vector>

#include "platform/CodePage.h"
#include "xml/XmlInternal.h"
#include "xml/XmlStreams.h"

namespace xml {

namespace {

const char kReadError[] = "Ошибка чтения данных.";

[[noreturn]] void FailRead() { RaiseXmlError(kReadError); }

void PutLE32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

uint32_t GetLE32(const unsigned char* p) {
    return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

}  // namespace

// ---- readers --------------------------------------------------------------------------------

int32_t TBinXmlReader::ReadLongInteger() {
    const uint8_t first = ReadByte();
    if (first < 0x80) return first;
    if (first == 0xFF) {
        unsigned char b[4];
        Read(b, 4);
        return static_cast<int32_t>(GetLE32(b));
    }
    return ((first & 0x7F) << 8) | ReadByte();
}

int32_t TBinXmlReader::CheckCount(int32_t count, size_t minItemSize) {
    if (count < 0 || static_cast<uint64_t>(count) * minItemSize > Remaining()) FailRead();
    return count;
}

std::string TBinXmlReader::ReadString() {
    const auto length = static_cast<size_t>(ReadCount(1));
    if (length <= static_cast<size_t>(end_ - pos_)) {  // in the window: one copy
        std::string text(reinterpret_cast<const char*>(pos_), length);
        pos_ += length;
        return text;
    }
    std::string text(length, '\0');
    Read(text.data(), text.size());
    return text;
}

std::u16string TBinXmlReader::ReadWideString() {
    const int32_t length = ReadCount(2);
    std::u16string text(static_cast<size_t>(length), u'\0');
    for (auto& unit : text) {
        unsigned char b[2];
        Read(b, 2);
        unit = static_cast<char16_t>(b[0] | (b[1] << 8));
    }
    return text;
}

std::string_view TBinXmlReader::ReadStringBeyond(size_t length, std::string& room) {
    room.assign(length, '\0');
    Read(room.data(), room.size());
    return room;
}

std::string_view TBinXmlReader::ReadXmlStringView(std::string& room) {
    if (Options & kBinaryWideStrings) {
        room = platform::WideToAnsi(ReadWideString());
        return room;
    }
    return ReadStringView(room);
}

std::string TBinXmlReader::ReadXmlString() {
    if (Options & kBinaryWideStrings) return platform::WideToAnsi(ReadWideString());
    return ReadString();
}

TStrXmlReader::TStrXmlReader(std::string_view data) {
    pos_ = reinterpret_cast<const unsigned char*>(data.data());
    end_ = pos_ + data.size();
    total_ = data.size();
    unsigned char header[18];
    Read(header, sizeof header);  // the signature is not compared: the caller has looked at it
    Options = GetLE32(header + 14);
}

void TStrXmlReader::ReadBeyond(unsigned char*, size_t) { FailRead(); }

TStmXmlReader::TStmXmlReader(TByteStream& stream, size_t bufferSize)
    : stream_(stream), bufferSize_(std::max<size_t>(bufferSize, 1)) {
    const int64_t left = stream.Size() - stream.Position();
    unfetched_ = left > 0 ? static_cast<uint64_t>(left) : 0;
    total_ = static_cast<uint64_t>(stream.Position()) + unfetched_;
    buffer_.reset(new unsigned char[static_cast<size_t>(std::min<uint64_t>(bufferSize_, std::max<uint64_t>(unfetched_, 1)))]);
    pos_ = end_ = buffer_.get();
    unsigned char options[4];
    Read(options, 4);
    Options = GetLE32(options);
}

void TStmXmlReader::ReadBeyond(unsigned char* buffer, size_t count) {
    if (count > Remaining()) FailRead();
    // Less than count is held here, or Read would not have come: min() only tells the compiler.
    const size_t held = std::min(count, static_cast<size_t>(end_ - pos_));
    if (held != 0) std::memcpy(buffer, pos_, held);
    const size_t direct = count - held;
    pos_ = end_ = buffer_.get();
    if (direct != 0) stream_.ReadBuffer(buffer + held, direct);
    unfetched_ -= direct;
    const size_t refill = static_cast<size_t>(std::min<uint64_t>(unfetched_, bufferSize_));
    if (refill != 0) stream_.ReadBuffer(buffer_.get(), refill);
    unfetched_ -= refill;
    end_ = pos_ + refill;
}

// ---- writers --------------------------------------------------------------------------------

TBinXmlWriter::TBinXmlWriter(uint32_t options, size_t bufferSize)
    : Options(options), buffer_(new unsigned char[std::max<size_t>(bufferSize, 1)]),
      bufferSize_(std::max<size_t>(bufferSize, 1)) {}

void TBinXmlWriter::WriteHeader() {
    unsigned char header[18];
    std::memcpy(header, kBinarySignature.data(), kBinarySignature.size());
    PutLE32(header + 14, Options);
    Write(header, sizeof header);
}

void TBinXmlWriter::WriteInteger(int32_t value) {
    unsigned char b[5];
    if (value >= 0 && value <= 127) {
        WriteByte(static_cast<uint8_t>(value));
    } else if (value >= 128 && value <= 32511) {
        b[0] = static_cast<unsigned char>(0x80 | (value >> 8));
        b[1] = static_cast<unsigned char>(value);
        Write(b, 2);
    } else {
        b[0] = 0xFF;
        PutLE32(b + 1, static_cast<uint32_t>(value));
        Write(b, 5);
    }
}

void TBinXmlWriter::WriteString(std::string_view text) {
    WriteInteger(static_cast<int32_t>(text.size()));
    Write(text.data(), text.size());
}

void TBinXmlWriter::WriteWideString(std::u16string_view text) {
    WriteInteger(static_cast<int32_t>(text.size()));
    for (char16_t unit : text) {
        const unsigned char b[2] = {static_cast<unsigned char>(unit),
                                    static_cast<unsigned char>(unit >> 8)};
        Write(b, 2);
    }
}

void TBinXmlWriter::WriteXmlString(std::string_view text) {
    if (Options & kBinaryWideStrings) WriteWideString(platform::AnsiToWide(text));
    else WriteString(text);
}

TStmXmlWriter::TStmXmlWriter(TByteStream& stream, uint32_t options, size_t bufferSize)
    : TBinXmlWriter(options, bufferSize), stream_(stream) {
    WriteHeader();
}

TStmXmlWriter::~TStmXmlWriter() {
    try {
        Finish();
    } catch (...) {
        // A save that failed already reports its own error.
    }
}

void TStmXmlWriter::Finish() {
    const size_t n = used_;
    used_ = 0;
    if (n != 0) stream_.WriteBuffer(buffer_.get(), n);
}

void TStmXmlWriter::WriteBeyond(const unsigned char* data, size_t count) {
    Finish();
    if (count != 0) stream_.WriteBuffer(data, count);
}

TStrXmlWriter::TStrXmlWriter(uint32_t options, size_t bufferSize)
    : TBinXmlWriter(options, bufferSize) {
    WriteHeader();
}

void TStrXmlWriter::FlushBuf() {
    result_.append(reinterpret_cast<const char*>(buffer_.get()), used_);
    used_ = 0;
}

void TStrXmlWriter::WriteBeyond(const unsigned char* data, size_t count) {
    // Appending lets the string grow geometrically; an exact grow per overflow would copy the
    // whole result again every 64 KB.
    FlushBuf();
    result_.append(reinterpret_cast<const char*>(data), count);
}

// ---- tagged values --------------------------------------------------------------------------

namespace {

// Room reserved up front for a count read from the data: the count is already checked against
// the bytes left, and past this a container grows as the items actually arrive.
constexpr int32_t kMaxReserve = 1 << 16;

template <size_t N>
void WriteLE(TBinXmlWriter& writer, uint64_t bits) {
    unsigned char b[N];
    for (size_t i = 0; i < N; ++i) b[i] = static_cast<unsigned char>(bits >> (8 * i));
    writer.Write(b, N);
}

template <size_t N>
uint64_t ReadLE(TBinXmlReader& reader) {
    unsigned char b[N];
    reader.Read(b, N);
    uint64_t bits = 0;
    for (size_t i = 0; i < N; ++i) bits |= uint64_t{b[i]} << (8 * i);
    return bits;
}

uint64_t DoubleBits(double x) {
    uint64_t bits;
    std::memcpy(&bits, &x, 8);
    return bits;
}

double BitsDouble(uint64_t bits) {
    double x;
    std::memcpy(&x, &bits, 8);
    return x;
}

}  // namespace

void TBinXmlWriter::WriteTaggedValue(const TaggedValue& value) {
    const uint16_t kind = value.KindCode();
    switch (kind) {
    case TaggedValue::vkEmpty:
    case TaggedValue::vkNull:
        WriteInteger(kind);
        return;
    case TaggedValue::vkInt8:
    case TaggedValue::vkUInt8:
        WriteInteger(kind);
        WriteLE<1>(*this, static_cast<uint64_t>(value.IntPayload()));
        return;
    case TaggedValue::vkInt16:
    case TaggedValue::vkUInt16:
        WriteInteger(kind);
        WriteLE<2>(*this, static_cast<uint64_t>(value.IntPayload()));
        return;
    case TaggedValue::vkInt32:
    case TaggedValue::vkUInt32:
        WriteInteger(kind);
        WriteLE<4>(*this, static_cast<uint64_t>(value.IntPayload()));
        return;
    case TaggedValue::vkInt64:
    case TaggedValue::vkCurrency:
        WriteInteger(kind);
        WriteLE<8>(*this, static_cast<uint64_t>(value.IntPayload()));
        return;
    case TaggedValue::vkFloat32: {
        const float f = static_cast<float>(value.FloatPayload());
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        WriteInteger(kind);
        WriteLE<4>(*this, bits);
        return;
    }
    case TaggedValue::vkFloat64:
    case TaggedValue::vkDateTime:
        WriteInteger(kind);
        WriteLE<8>(*this, DoubleBits(value.FloatPayload()));
        return;
    case TaggedValue::vkBoolean:  // a 16-bit boolean: true is all bits set
        WriteInteger(kind);
        WriteLE<2>(*this, value.BoolPayload() ? 0xFFFF : 0);
        return;
    case TaggedValue::vkWideText:
        WriteInteger(kind);
        WriteWideString(value.WidePayload());
        return;
    case TaggedValue::vkText:
        WriteInteger(kind);
        WriteString(value.TextPayload());
        return;
    case TaggedValue::vkByteArray: {
        const auto& bytes = value.BytesPayload();
        WriteInteger(kind);
        WriteInteger(static_cast<int32_t>(bytes.size()));
        Write(bytes.data(), bytes.size());
        return;
    }
    default:
        RaiseXmlError("Ошибка записи значения: некорректный тип.");
    }
}

void TBinXmlWriter::WriteXmlValue(const TXmlValue& value) {
    if (!value.IsText()) {
        WriteTaggedValue(value.ToTagged());
        return;
    }
    WriteInteger(TaggedValue::vkText);
    WriteString(value.TextView());
}

void TBinXmlReader::ReadXmlValue(TXmlValue& value, TXmlArena* arena) {
    std::string room;
    std::string_view text;
    if (ReadXmlValueOrText(value, text, room, arena)) value = TXmlValue::Text(text, arena);
}

bool TBinXmlReader::ReadOtherValue(TXmlValue& value, std::string_view& text, std::string& room, TXmlArena* arena) {
    const int32_t code = ReadInteger();
    if (code == TaggedValue::vkText) {
        text = ReadStringView(room);
        return true;
    }
    TaggedValue read;
    ReadValueOfKind(code, read);
    value = TXmlValue::Of(std::move(read), arena);
    return false;
}

void TBinXmlReader::ReadTaggedValue(TaggedValue& value) {
    value.Clear();
    ReadValueOfKind(ReadInteger(), value);
}

void TBinXmlReader::ReadValueOfKind(int32_t code, TaggedValue& value) {
    switch (code) {
    case TaggedValue::vkEmpty: return;
    case TaggedValue::vkNull: value = TaggedValue::Null(); return;
    case TaggedValue::vkInt8: value = TaggedValue::Int8(static_cast<int8_t>(ReadLE<1>(*this))); return;
    case TaggedValue::vkUInt8: value = TaggedValue::UInt8(static_cast<uint8_t>(ReadLE<1>(*this))); return;
    case TaggedValue::vkInt16: value = TaggedValue::Int16(static_cast<int16_t>(ReadLE<2>(*this))); return;
    case TaggedValue::vkUInt16: value = TaggedValue::UInt16(static_cast<uint16_t>(ReadLE<2>(*this))); return;
    case TaggedValue::vkInt32: value = TaggedValue::Int32(static_cast<int32_t>(ReadLE<4>(*this))); return;
    case TaggedValue::vkUInt32: value = TaggedValue::UInt32(static_cast<uint32_t>(ReadLE<4>(*this))); return;
    case TaggedValue::vkInt64: value = TaggedValue::Int64(static_cast<int64_t>(ReadLE<8>(*this))); return;
    case TaggedValue::vkCurrency: value = TaggedValue::Currency(static_cast<int64_t>(ReadLE<8>(*this))); return;
    case TaggedValue::vkFloat32: {
        const uint32_t bits = static_cast<uint32_t>(ReadLE<4>(*this));
        float f;
        std::memcpy(&f, &bits, 4);
        value = TaggedValue::Float32(f);
        return;
    }
    case TaggedValue::vkFloat64: value = TaggedValue::Float64(BitsDouble(ReadLE<8>(*this))); return;
    case TaggedValue::vkDateTime: value = TaggedValue::DateTime(BitsDouble(ReadLE<8>(*this))); return;
    case TaggedValue::vkBoolean: value = TaggedValue::Boolean(ReadLE<2>(*this) != 0); return;
    case TaggedValue::vkWideText: value = TaggedValue::WideText(ReadWideString()); return;
    case TaggedValue::vkText: value = TaggedValue::Text(ReadString()); return;
    case TaggedValue::vkByteArray: {
        std::vector<uint8_t> bytes(static_cast<size_t>(ReadCount(1)));
        Read(bytes.data(), bytes.size());
        value = TaggedValue::Bytes(std::move(bytes));
        return;
    }
    default:
        RaiseXmlError("Ошибка чтения значения: некорректный тип.");
    }
}

// ---- name table -----------------------------------------------------------------------------

namespace {

// More buckets than this are taken for damaged data rather than reserved (the library's own
// tables have 4096).
constexpr int32_t kMaxBuckets = 1 << 20;

const std::string_view kStandardNames[] = {"#text", "#cdata-section", "#comment", "#document", "xml"};

}  // namespace

void TXmlNameTable::SaveBinXml(TBinXmlWriter& writer) const {
    writer.WriteInteger(NameCount());
    for (const std::string& name : names_) writer.WriteXmlString(name);
    const int32_t bucketCount = BucketCount();
    writer.WriteInteger(bucketCount);
    int32_t used = 0;
    for (const auto& bucket : buckets_) used += bucket.empty() ? 0 : 1;
    writer.WriteInteger(used);
    for (int32_t b = 0; b < bucketCount; ++b) {
        const auto& bucket = buckets_[static_cast<size_t>(b)];
        if (bucket.empty()) continue;
        writer.WriteInteger(b);
        writer.WriteInteger(static_cast<int32_t>(bucket.size()));
        for (int32_t index : bucket) WriteLE<4>(writer, static_cast<uint32_t>(index));
    }
}

void TXmlNameTable::LoadBinXml(TBinXmlReader& reader) {
    const int32_t nameCount = reader.ReadCount(1);
    std::vector<std::string> names;
    names.reserve(static_cast<size_t>(std::min(nameCount, kMaxReserve)));
    for (int32_t i = 0; i < nameCount; ++i) names.push_back(reader.ReadXmlString());
    // The nodes rely on the standard names at 0..4; data without them is not ours.
    if (nameCount < 5) FailRead();
    for (int i = 0; i < 5; ++i) {
        if (names[static_cast<size_t>(i)] != kStandardNames[i]) FailRead();
    }
    const int32_t bucketCount = reader.ReadInteger();
    if (bucketCount < 1 || bucketCount > kMaxBuckets) FailRead();
    const int32_t used = reader.ReadCount(2);
    if (used > bucketCount) FailRead();
    ResetContent(std::move(names), bucketCount);
    for (int32_t m = 0; m < used; ++m) {
        const int32_t bucket = reader.ReadInteger();
        if (bucket < 0 || bucket >= bucketCount) FailRead();
        const int32_t length = reader.ReadCount(4);
        std::vector<int32_t> indexes(static_cast<size_t>(length));  // length * 4 bytes remain
        for (int32_t& index : indexes) {
            index = static_cast<int32_t>(ReadLE<4>(reader));
            if (index < 0 || index >= nameCount) FailRead();
        }
        SetBucket(bucket, std::move(indexes));
    }
}

// ---- node content and child records ---------------------------------------------------------
// Both directions walk the tree with an explicit stack: a document nested 100,000 deep must not
// exhaust the thread's stack.

namespace {

const char kBadNodeWrite[] = "Ошибка записи двоичного XML: некорректный тип узла";
const char kBadNodeRead[] = "Ошибка чтения двоичного XML: некорректный тип узла";

void WriteAttrs(TBinXmlWriter& writer, const TXmlNode& node) {
    const auto& attrs = node.Attrs();
    writer.WriteInteger(static_cast<int32_t>(attrs.size()));
    for (const TXmlAttrData& attr : attrs) {
        writer.WriteInteger(attr.NameId);
        writer.WriteXmlValue(attr.Value);
    }
}

int32_t ChildCount(const TXmlNode& node) { return node.Children() ? node.Children()->Count() : 0; }

// A node's attributes and child count, then, depth first, the record of everything below it.
void WriteContent(TBinXmlWriter& writer, const TXmlNode& top) {
    struct RecordVisitor {
        struct Level {};
        TBinXmlWriter& writer;
        bool Enter(const TXmlNode& node, Level* parent, Level&) {
            if (parent) {
                const int32_t kind = node.Kind();
                switch (kind) {
                case xnkElement: {
                    const auto& element = static_cast<const TXmlElement&>(node);
                    writer.WriteByte(xnkElement);
                    writer.WriteInteger(element.NameIndex());
                    if (element.HasChildNodes()) writer.WriteInteger(TaggedValue::vkEmpty);
                    else writer.WriteTaggedValue(element.DirectValue());
                    break;
                }
                case xnkText:
                    writer.WriteByte(xnkText);
                    writer.WriteXmlValue(static_cast<const TXmlText&>(node).Value);
                    return false;
                case xnkCDATA:
                case xnkComment:
                    writer.WriteByte(static_cast<uint8_t>(kind));
                    writer.WriteXmlString(static_cast<const TXmlCharacterData&>(node).Text.TextView());
                    return false;
                case xnkInstruction: {
                    const auto& instruction = static_cast<const TXmlProcessingInstruction&>(node);
                    writer.WriteByte(xnkInstruction);
                    writer.WriteInteger(instruction.TargetIndex());
                    writer.WriteXmlString(instruction.Data);
                    break;
                }
                default:
                    RaiseXmlError(kBadNodeWrite);
                }
            }
            // The top, elements and instructions carry content: attributes, then child records.
            WriteAttrs(writer, node);
            const int32_t children = ChildCount(node);
            writer.WriteInteger(children);
            return children > 0;
        }
        void Leave(const TXmlNode&, Level&, Level*) {}
    } visitor{writer};
    WalkTree(top, visitor);
}

// A name index of the data's own table; -1 (the empty name) only where the model allows it,
// for elements and instructions: an attribute always has a name.
int32_t ReadNameId(TBinXmlReader& reader, const TXmlNameTable& table, int32_t lowest = -1) {
    const int32_t id = reader.ReadInteger();
    if (id < lowest || id >= table.NameCount()) FailRead();
    return id;
}

void ReadAttrs(TBinXmlReader& reader, TXmlNode& node, TXmlArena* arena) {
    node.ClearAttrList();
    const int32_t count = reader.ReadCount(2);
    node.ReserveAttrs(std::min(count, kMaxReserve), arena);
    for (int32_t i = 0; i < count; ++i) {
        const int32_t nameId = ReadNameId(reader, node.Table(), 0);
        TXmlValue value;
        reader.ReadXmlValue(value, arena);
        node.AppendAttrUnchecked(nameId, std::move(value), arena);
    }
}

// Reads count child records into the list and, depth first, everything below them.
void ReadRecords(TBinXmlReader& reader, TXmlNodeList& top, int32_t count) {
    if (!top.Owner()) FailRead();
    const XmlRef<TXmlNameTable> table = top.Owner()->TableRef();
    TTableShares shares(*table);
    TXmlArena* const arena = ArenaOf(top);
    struct Frame {
        TXmlNodeList* list;
        int32_t left;
    };
    std::vector<Frame> stack{{&top, count}};
    std::string room;  // a string that does not lie in the reader's window at hand
    top.Clear();
    top.Reserve(std::min(count, kMaxReserve), arena);
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.left == 0) {
            stack.pop_back();
            continue;
        }
        --frame.left;
        TXmlNodeList& list = *frame.list;
        TXmlNode* withContent = nullptr;
        const uint8_t kind = reader.ReadByte();
        switch (kind) {
        case xnkElement: {
            XmlRef<TXmlElement> element = MakeXmlIn<TXmlElement>(arena, shares.Take(), ReadNameId(reader, *table));
            withContent = element.get();
            list.AppendNew(std::move(element), arena);
            if (!reader.SkipEmptyValue()) {
                TaggedValue direct;
                reader.ReadTaggedValue(direct);
                static_cast<TXmlElement*>(withContent)->SetDirectValue(std::move(direct));
            }
            break;
        }
        case xnkText: {
            std::string_view text;
            TXmlValue value;
            if (reader.ReadXmlValueOrText(value, text, room, arena))
                list.AppendNew(MakeXmlWithText<TXmlText>(arena, shares.Take(), text), arena);
            else
                list.AppendNew(MakeXmlIn<TXmlText>(arena, shares.Take(), std::move(value)), arena);
            break;
        }
        case xnkCDATA:
        case xnkComment: {
            const std::string_view text = reader.ReadXmlStringView(room);
            if (kind == xnkCDATA) list.AppendNew(MakeXmlWithText<TXmlCDATASection>(arena, shares.Take(), text), arena);
            else list.AppendNew(MakeXmlWithText<TXmlComment>(arena, shares.Take(), text), arena);
            break;
        }
        case xnkInstruction: {
            const int32_t targetId = ReadNameId(reader, *table);
            XmlRef<TXmlProcessingInstruction> instruction =
                MakeXmlIn<TXmlProcessingInstruction>(arena, shares.Take(), reader.ReadXmlString(), targetId);
            withContent = instruction.get();
            list.AppendNew(std::move(instruction), arena);
            break;
        }
        default:
            RaiseXmlError(kBadNodeRead);
        }
        if (!withContent) continue;
        ReadAttrs(reader, *withContent, arena);
        const int32_t children = reader.ReadCount(2);
        if (children > 0) {
            TXmlNodeList& childList = withContent->ChildListIn(arena);
            childList.Clear();
            childList.Reserve(std::min(children, kMaxReserve), arena);
            stack.push_back({&childList, children});  // invalidates frame
        }
    }
}

}  // namespace

void TXmlNode::SaveBinXml(TBinXmlWriter& writer) const { WriteContent(writer, *this); }

void TXmlNode::LoadBinXml(TBinXmlReader& reader) {
    TXmlDocument* document = DocumentNode();
    ReadAttrs(reader, *this, document ? &document->Arena : nullptr);
    const int32_t children = reader.ReadCount(2);
    if (children > 0) ChildListObject().LoadBinXml(reader, children);
}

void TXmlNodeList::LoadBinXml(TBinXmlReader& reader, int32_t count) {
    if (count < 0 || static_cast<uint64_t>(count) * 2 > reader.Remaining()) FailRead();
    ReadRecords(reader, *this, count);
}

}  // namespace xml
