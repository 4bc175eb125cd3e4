// The XML text parser: one pass, one character of lookahead, no backtracking over the input.
#include "xml/XmlParser.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "xml/XmlBinary.h"
#include "xml/XmlChars.h"
#include "xml/XmlInternal.h"
#include "xml/XmlStreams.h"

namespace xml {

namespace {

[[noreturn]] void Fail(const char* message) { RaiseXmlError(message); }

// The first "<" or "&" in [p, end), or end: the C library's scans run many bytes at a time.
const unsigned char* ScanText(const unsigned char* p, const unsigned char* end) {
    const auto* lt = static_cast<const unsigned char*>(std::memchr(p, '<', end - p));
    const unsigned char* stop = lt ? lt : end;
    const auto* amp = static_cast<const unsigned char*>(std::memchr(p, '&', stop - p));
    return amp ? amp : stop;
}

}  // namespace

// ---- source ---------------------------------------------------------------------------------

TXmlSource::TXmlSource() : classes_(&XmlCharClasses()) { nameCache_.fill(-1); }
TXmlSource::~TXmlSource() = default;

bool TXmlSource::NextBlock() {
    if (pos_ < end_) ++pos_;
    if (pos_ < end_) {
        CurChar = *pos_;
        return true;
    }
    if (remaining_ > 0) {
        FetchBlock();
        CurChar = *pos_;
        return true;
    }
    CurChar = 0;
    return false;
}

void TXmlSource::NewToken() {
    ++top_;
    if (top_ == static_cast<int>(tokens_.size())) tokens_.push_back(std::make_unique<TXmlToken>());
    current_ = tokens_[top_].get();
    current_->Reset();
}

const std::string& TXmlSource::DropToken() {
    const std::string& text = current_->Text();
    --top_;
    current_ = top_ >= 0 ? tokens_[top_].get() : nullptr;
    return text;
}

std::string TXmlSource::AcceptToken() { return DropToken(); }

void TXmlLineCount::Add(const unsigned char* bytes, size_t count) {
    for (const unsigned char* p = bytes; p != bytes + count; ++p) {
        if (*p == '\n') {
            if (!AfterCR) ++Line;
            Column = 1;
            AfterCR = false;
        } else if (*p == '\r') {
            ++Line;
            Column = 1;
            AfterCR = true;
        } else {
            ++Column;
            AfterCR = false;
        }
    }
}

void TXmlSource::RaiseStopped(const std::string& message) {
    const uint64_t offset = Offset();
    TXmlLineCount lines;
    if (!CountLines(offset, lines)) lines = TXmlLineCount{0, 0, false};
    throw TXmlParseError(message, offset, lines.Line, lines.Column);
}

void TXmlSource::RecordAttr(int32_t nameId, uint64_t nameBegin, uint64_t nameEnd, uint64_t valueBegin) {
    TXmlElementSpan& element = positions_->elements_.back();
    positions_->attrs_.push_back({nameId, nameBegin, nameEnd, valueBegin, Offset() - 1});
    ++element.AttrCount;
    element.AttrsEnd = Offset();
}

void TXmlSource::FailExpected(std::string_view what) {
    RaiseXmlError("Ожидается \"" + std::string(what) + "\"");
}

void TXmlSource::SkipBlanksSlow() {
    while (pos_ < end_ && CurChar <= 0x20) {
        const unsigned char* p = pos_ + 1;
        while (p < end_ && *p <= 0x20) ++p;
        if (p < end_) {
            pos_ = p;
            CurChar = *p;
            return;
        }
        pos_ = end_ - 1;
        NextBlock();
    }
}

int32_t TXmlSource::InternName(TXmlNameTable& table, std::string_view name) {
    // A document repeats a few names: the last index seen for a name of this length and these
    // bytes (first, middle, last) is checked first, against the table's own text of it.
    const size_t n = name.size();
    const auto byte = [name](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(name[i])); };
    const uint32_t key = (static_cast<uint32_t>(n) << 16) ^ (byte(0) << 8) ^ byte(n - 1) ^ (byte(n / 2) << 24);
    const size_t slot = (key * 0x9E3779B1u) >> (32 - kNameCacheBits);
    const int32_t cached = nameCache_[slot];
    if (cached >= 0 && cached < table.NameCount()) {
        const std::string& known = table.NameRef(cached);
        if (known.size() == n && SameBytes(known.data(), name.data(), n)) return cached;
    }
    const int32_t id = table.IdOfName(name);
    nameCache_[slot] = id;
    return id;
}

std::string_view TXmlSource::ReadNameViewSlow() {
    const auto& classes = *classes_;
    if (IsEOF() || !(classes[CurChar] & kNameStart)) Fail("Имя должно начинаться с буквы или \"_\"");
    const unsigned char* p = pos_ + 1;
    while (p < end_ && (classes[*p] & kNameChar)) ++p;
    if (p < end_) {
        std::string_view name(reinterpret_cast<const char*>(pos_), p - pos_);
        pos_ = p;
        CurChar = *p;
        return name;
    }
    // The name runs to the end of the block: collect it in a token across the refill.
    NewToken();
    AddText(reinterpret_cast<const char*>(pos_), end_ - pos_);
    pos_ = end_ - 1;
    while (NextBlock() && (classes[CurChar] & kNameChar)) {
        p = pos_ + 1;
        while (p < end_ && (classes[*p] & kNameChar)) ++p;
        AddText(reinterpret_cast<const char*>(pos_), p - pos_);
        if (p < end_) {
            pos_ = p;
            CurChar = *p;
            break;
        }
        pos_ = end_ - 1;
    }
    return DropToken();
}

int32_t TXmlSource::ReadDecimal() {
    // Wrapping arithmetic: only the low 8 bits of a reference matter, and they stay exact.
    uint32_t value = 0;
    bool any = false;
    while (!IsEOF() && CurChar >= '0' && CurChar <= '9') {
        value = value * 10 + (CurChar - '0');
        any = true;
        Next();
    }
    if (!any) Fail("Ожидается число");
    return static_cast<int32_t>(value);
}

int32_t TXmlSource::ReadHex() {
    uint32_t value = 0;
    bool any = false;
    for (; !IsEOF(); Next()) {
        const int digit = HexDigitValue(CurChar);
        if (digit < 0) break;
        value = value * 16 + static_cast<uint32_t>(digit);
        any = true;
    }
    if (!any) Fail("Ожидается шестнадцатеричное число");
    return static_cast<int32_t>(value);
}

char TXmlSource::ReadCharRef() {
    // The five named references, whole in the window with a byte after them, at once.
    const auto named = [this](const char* rest, size_t n, char c) {
        if (static_cast<size_t>(end_ - pos_) > n + 1 && SameBytes(reinterpret_cast<const char*>(pos_ + 1), rest, n)) {
            pos_ += n + 1;
            CurChar = *pos_;
            return c;
        }
        return '\0';
    };
    if (end_ - pos_ > 6) {
        char c = 0;
        switch (pos_[1]) {
        case 'a': c = pos_[2] == 'm' ? named("amp;", 4, '&') : named("apos;", 5, '\''); break;
        case 'l': c = named("lt;", 3, '<'); break;
        case 'g': c = named("gt;", 3, '>'); break;
        case 'q': c = named("quot;", 5, '"'); break;
        default: break;
        }
        if (c) return c;
    }
    if (!Next()) Fail("Ожидается \"#\" или имя упрамляющего символа");
    if (CurChar == '#') {
        if (!Next()) Fail("Ожидается число");
        int32_t code;
        if (CurChar == 'x') {
            Next();
            code = ReadHex();
        } else {
            code = ReadDecimal();
        }
        ExpectChar(';');
        return static_cast<char>(code & 0xFF);
    }
    const std::string_view name = ReadNameView();
    // Resolve before ExpectChar: reading on may refill the block the name lies in.
    int resolved = -1;
    if (name == "amp") resolved = '&';
    else if (name == "quot") resolved = '"';
    else if (name == "lt") resolved = '<';
    else if (name == "gt") resolved = '>';
    else if (name == "apos") resolved = '\'';
    ExpectChar(';');
    if (resolved < 0) Fail("Некорректное имя управляющего символа");
    return static_cast<char>(resolved);
}

void TXmlSource::ExpectCharSlow(char c) {
    if (!IsEOF() && CurChar == static_cast<unsigned char>(c)) {
        Next();
        return;
    }
    FailExpected(std::string_view(&c, 1));
}

void TXmlSource::ExpectText(std::string_view text) {
    // At once when the text and the character after it lie in the block (end tags, mostly).
    if (static_cast<size_t>(end_ - pos_) > text.size() &&
        SameBytes(reinterpret_cast<const char*>(pos_), text.data(), text.size())) {
        pos_ += text.size();
        CurChar = *pos_;
        return;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        if (IsEOF() || CurChar != static_cast<unsigned char>(text[i])) FailExpected(text.substr(i));
        Next();
    }
}

std::string TXmlSource::ReadQuoted(char quote) { return std::string(ReadQuotedView(quote)); }

std::string_view TXmlSource::ReadQuotedView(char quote) {
    const auto q = static_cast<unsigned char>(quote);
    Next();
    {
        // In place when the value has no references and its closing quote is not the block's
        // last byte (the view must outlive the step past it).
        const auto& classes = *classes_;
        const unsigned char* p = pos_;
        for (;;) {  // to the first quote, "&" or "<"; past the other quote
            while (p < end_ && !(classes[*p] & kValueStop)) ++p;
            if (p < end_ && *p != q && *p != '&' && *p != '<') {
                ++p;
                continue;
            }
            break;
        }
        if (end_ - p > 1 && *p == q) {
            const std::string_view value(reinterpret_cast<const char*>(pos_), p - pos_);
            pos_ = p + 1;
            CurChar = *pos_;
            return value;
        }
    }
    NewToken();
    while (!IsEOF() && CurChar != q) {
        const unsigned char* p = pos_;
        while (p < end_ && *p != q && *p != '&' && *p != '<') ++p;
        if (p > pos_) AddText(reinterpret_cast<const char*>(pos_), p - pos_);
        if (p < end_) {
            pos_ = p;
            CurChar = *p;
            if (CurChar == '&') AddChar(ReadCharRef());
            else if (CurChar == '<') Fail("Символ \"<\" не может использоваться в значениях атрибутов");
        } else {
            pos_ = end_ - 1;
            NextBlock();
        }
    }
    if (IsEOF()) FailExpected(std::string_view(&quote, 1));
    Next();
    return DropToken();
}

void TXmlSource::ReadAttributes(TXmlNode& node, TXmlNameTable& table, TXmlArena* arena) {
    // The attributes gather here and go onto the node at once, in a block of their size; a
    // failure in the tag still leaves the ones read so far on the node.
    attrs_.clear();
    attrText_.clear();
    const auto moveToNode = [&](TXmlArena* on) {
        node.AppendAttrTexts(attrs_.size(), on, [this](size_t i) {
            return std::pair<int32_t, std::string_view>(attrs_[i].NameId, attrs_[i].Text(attrText_));
        });
    };
    try {
        // Two copies, so that a parse that records nothing runs the loop without a trace of it.
        if (positions_ && node.NodeKind() == xnkElement) ReadAttributesOf<true>(table);
        else ReadAttributesOf<false>(table);
    } catch (...) {
        try {
            moveToNode(nullptr);
        } catch (...) {
        }
        throw;
    }
    if (!attrs_.empty()) moveToNode(arena);
}

template <bool kRecord>
void TXmlSource::ReadAttributesOf(TXmlNameTable& table) {
    std::vector<TAttrText>& attrs = attrs_;
    // A tag with a great many attributes (hostile input) must not cost a scan of all of them per
    // attribute: past a handful, the positions are looked up by name index.
    constexpr size_t kScanned = 16;
    std::unordered_map<int32_t, size_t>& positions = attrPositions_;
    bool indexed = false;
    SkipBlanks();
    const auto& classes = *classes_;
    while (!IsEOF() && (classes[CurChar] & kNameStart)) {
        [[maybe_unused]] const uint64_t nameBegin = kRecord ? Offset() : 0;
        const int32_t nameId = InternName(table, ReadNameView());
        [[maybe_unused]] const uint64_t nameEnd = kRecord ? Offset() : 0;
        SkipBlanks();
        ExpectChar('=');
        SkipBlanks();
        if (IsEOF()) Fail("Ожидается значение атрибута");
        if (CurChar != '\'' && CurChar != '"') Fail("Ожидается строковая константа");
        [[maybe_unused]] const uint64_t valueBegin = kRecord ? Offset() + 1 : 0;
        const std::string_view text = ReadQuotedView(static_cast<char>(CurChar));
        TAttrText value{nameId, text.data(), 0, text.size()};
        if (!IsStable(text)) {  // a value with references, or one a block refill would take away
            value.Data = nullptr;
            value.Offset = attrText_.size();
            attrText_.append(text);
        }
        if constexpr (kRecord) RecordAttr(nameId, nameBegin, nameEnd, valueBegin);
        const size_t count = attrs.size();
        if (count < kScanned) {
            // The first occurrence keeps its place, the last one's value.
            size_t i = 0;
            while (i < count && attrs[i].NameId != nameId) ++i;
            if (i < count) attrs[i] = value;
            else attrs.push_back(value);
        } else {
            if (!indexed) {
                positions.clear();
                for (size_t i = 0; i < count; ++i) positions.emplace(attrs[i].NameId, i);
                indexed = true;
            }
            const auto [it, added] = positions.emplace(nameId, count);
            if (added) attrs.push_back(value);
            else attrs[it->second] = value;
        }
        SkipBlanks();
    }
}

std::string TXmlSource::ReadUntil(std::string_view t) { return std::string(ReadUntilView(t)); }

std::string_view TXmlSource::ReadUntilView(std::string_view t) {
    NewToken();
    size_t matched = 0;
    while (!IsEOF()) {
        if (CurChar == static_cast<unsigned char>(t[matched])) {
            ++matched;
            Next();
            if (matched == t.size()) return DropToken();
        } else if (matched == 0) {
            // Copy the stretch up to the next possible start of the terminator at once.
            const auto* found = static_cast<const unsigned char*>(std::memchr(pos_ + 1, t[0], end_ - pos_ - 1));
            const unsigned char* p = found ? found : end_;
            AddText(reinterpret_cast<const char*>(pos_), p - pos_);
            if (p < end_) {
                pos_ = p;
                CurChar = *p;
            } else {
                pos_ = end_ - 1;
                NextBlock();
            }
        } else {
            // Keep the longest tail of the matched part that still begins the terminator.
            size_t keep = matched - 1;
            while (keep > 0 && t.substr(matched - keep, keep) != t.substr(0, keep)) --keep;
            AddText(t.data(), matched - keep);
            matched = keep;
        }
    }
    FailExpected(t);
}

// ---- content --------------------------------------------------------------------------------

void TXmlSource::TLevels::Settle(TXmlNodeList& into, size_t first) {
    if (Pending.size() > first) into.AppendNew(Pending.data() + first, Pending.data() + Pending.size(), Arena, Linked);
    Pending.resize(first);
}

void TXmlSource::ParseContent(TXmlNodeList& list, TXmlNameTable& table, bool preserveWhiteSpace) {
    // The nodes of a level gather until its end, then go into their list at once, in a block of
    // their number: no list grows step by step, leaving its smaller blocks behind on the
    // document's pages. A failure first puts what was read into the tree.
    TLevels levels{{}, {}, ArenaOf(list), list.Owner() && &list.Owner()->Table() == &table, list.Owner()};
    try {
        ParseLevels(table, preserveWhiteSpace, levels);
    } catch (...) {
        try {
            for (; !levels.Open.empty(); levels.Open.pop_back())
                levels.Settle(levels.Open.back().Element->ChildListIn(levels.Arena), levels.Open.back().First);
            levels.Settle(list, 0);
        } catch (...) {
            // out of memory: what still waits goes with the levels
        }
        throw;
    }
    levels.Settle(list, 0);
}

void TXmlSource::ParseLevels(TXmlNameTable& table, bool preserveWhiteSpace, TLevels& levels) {
    const auto& classes = *classes_;
    TTableShares shares(table);
    TXmlArena* const arena = levels.Arena;
    std::vector<TOpenElement>& open = levels.Open;
    std::vector<XmlRef<TXmlNode>>& pending = levels.Pending;
    const auto add = [&](XmlRef<TXmlNode> node) {
        if (levels.Linked) node->LinkParent(open.empty() ? levels.TopOwner : open.back().Element);
        pending.push_back(std::move(node));
    };

    for (;;) {
        if (IsEOF()) {
            if (open.empty()) return;
            FailExpected("/");  // the content of an element ran to the end of the input
        }

        // 1. Text run up to "<" or the end, references resolved.
        {
            // Blanks between tags, the commonest run of all, make no node: passed over at once.
            if (!preserveWhiteSpace && CurChar <= 0x20 && pos_ < end_) {
                const unsigned char* p = pos_ + 1;
                while (p < end_ && *p <= 0x20) ++p;
                if (p < end_ && *p == '<') {
                    pos_ = p;
                    CurChar = '<';
                }
            }
            std::string_view text;  // empty right before markup
            if (CurChar != '<' && !IsEOF()) {
                const unsigned char* p = ScanText(pos_, end_);
                if (p < end_ && *p == '<') {  // in one block without references: read in place
                    text = std::string_view(reinterpret_cast<const char*>(pos_), p - pos_);
                    pos_ = p;
                    CurChar = '<';
                } else {
                    NewToken();
                    while (!IsEOF() && CurChar != '<') {
                        p = ScanText(pos_, end_);
                        AddText(reinterpret_cast<const char*>(pos_), p - pos_);
                        if (p < end_) {
                            pos_ = p;
                            CurChar = *p;
                            if (CurChar == '&') AddChar(ReadCharRef());
                        } else {
                            pos_ = end_ - 1;
                            NextBlock();
                        }
                    }
                    text = DropToken();
                }
            }
            bool keep = preserveWhiteSpace;
            if (!keep) {
                for (unsigned char c : text) {
                    if (c > 0x20) {
                        keep = true;
                        break;
                    }
                }
            }
            if (keep) add(MakeXmlWithText<TXmlText>(arena, shares.Take(), text));
        }

        // 2. Markup.
        if (CurChar != '<' || IsEOF()) continue;
        if (!Next()) continue;  // a lone "<" at the end is dropped

        switch (CurChar) {
        case '/': {
            if (open.empty()) return;
            const TOpenElement top = open.back();
            const uint64_t endTagBegin = positions_ ? Offset() - 1 : 0;
            ExpectChar('/');
            ExpectText(table.NameRef(top.Element->NameId()));
            SkipBlanks();
            ExpectChar('>');
            levels.Settle(*top.Element->Children(), top.First);
            open.pop_back();
            if (positions_) {
                TXmlElementSpan& span = positions_->elements_[positions_->open_.back()];
                positions_->open_.pop_back();
                span.EndTagBegin = endTagBegin;
                span.End = Offset();
            }
            break;
        }
        case '?': {
            Next();
            const int32_t targetId = InternName(table, ReadNameView());
            XmlRef<TXmlProcessingInstruction> made =
                MakeXmlIn<TXmlProcessingInstruction>(arena, shares.Take(), std::string(), targetId);
            TXmlProcessingInstruction& instruction = *made;
            add(std::move(made));  // the list's reference is the one that lasts
            if (targetId == table.XmlIndex()) {
                ReadAttributes(instruction, table, arena);
                ExpectText("?>");
            } else {
                instruction.Data = ReadUntil("?>");
            }
            break;
        }
        case '!': {
            if (!Next()) continue;
            if (CurChar == '-') {
                ExpectText("--");
                add(MakeXmlWithText<TXmlComment>(arena, shares.Take(), ReadUntilView("-->")));
            } else if (CurChar == '[') {
                ExpectText("[CDATA[");
                add(MakeXmlWithText<TXmlCDATASection>(arena, shares.Take(), ReadUntilView("]]>")));
            } else {
                ExpectText("DOCTYPE");
                ReadUntil(">");  // the internal subset is not recognised
            }
            break;
        }
        default: {
            const uint64_t begin = positions_ ? Offset() - 1 : 0;
            const int32_t nameId = InternName(table, ReadNameView());
            if (IsEOF()) Fail("Не завершено определение элемента");
            if (!(classes[CurChar] & kBlank) && CurChar != '/' && CurChar != '>')
                Fail("Некорретный символ в имени элемента");
            XmlRef<TXmlElement> made = MakeXmlIn<TXmlElement>(arena, shares.Take(), nameId);
            TXmlElement& element = *made;
            add(std::move(made));  // kept before its attributes and content are read
            if (positions_) {
                const uint64_t o = TXmlElementSpan::kOpen;
                positions_->elements_.push_back(
                    {&element, begin, Offset(), Offset(), o, o, o, positions_->attrs_.size(), 0});
            }
            ReadAttributes(element, table, arena);
            if (CurChar == '/') {
                ExpectText("/>");
                if (positions_) {
                    TXmlElementSpan& span = positions_->elements_.back();
                    span.StartTagEnd = span.EndTagBegin = span.End = Offset();
                }
            } else {
                ExpectChar('>');
                if (positions_) {
                    positions_->elements_.back().StartTagEnd = Offset();
                    positions_->open_.push_back(positions_->elements_.size() - 1);
                }
                element.ChildListIn(arena);
                open.push_back({&element, pending.size()});
            }
            break;
        }
        }
    }
}

// ---- string and stream sources --------------------------------------------------------------

TXmlStrSource::TXmlStrSource(std::string_view text) {
    pos_ = begin_ = stableBegin_ = reinterpret_cast<const unsigned char*>(text.data());
    end_ = pos_ + text.size();
    total_ = text.size();
    CurChar = text.empty() ? 0 : *pos_;
}

bool TXmlStrSource::CountLines(uint64_t count, TXmlLineCount& lines) {
    lines.Add(begin_, static_cast<size_t>(count));
    return true;
}

TXmlStmSource::TXmlStmSource(TByteStream& stream, size_t bufferSize)
    : stream_(stream), origin_(stream.Position()), bufferSize_(bufferSize == 0 ? 1 : bufferSize) {
    const int64_t size = stream.Size();
    remaining_ = total_ = size > 0 ? static_cast<uint64_t>(size) : 0;
    buffer_.reset(new unsigned char[std::min<uint64_t>(bufferSize_, std::max<uint64_t>(remaining_, 1))]);
    if (remaining_ > 0) {
        FetchBlock();
        CurChar = *pos_;
    }
}

void TXmlStmSource::FetchBlock() {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(remaining_, bufferSize_));
    stream_.ReadBuffer(buffer_.get(), n);
    remaining_ -= n;
    pos_ = buffer_.get();
    end_ = pos_ + n;
}

bool TXmlStmSource::CountLines(uint64_t count, TXmlLineCount& lines) {
    // Only a failed parse comes here: the blocks already read are read once more rather than
    // every parse counting its lines as it goes.
    try {
        const int64_t resume = stream_.Position();
        stream_.Seek(origin_);
        std::unique_ptr<unsigned char[]> block(new unsigned char[bufferSize_]);
        while (count > 0) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(count, bufferSize_));
            stream_.ReadBuffer(block.get(), n);
            lines.Add(block.get(), n);
            count -= n;
        }
        stream_.Seek(resume);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TXmlNodeList::ParseXml(TXmlSource& source, TXmlNameTable& table, bool preserveWhiteSpace) {
    try {
        source.ParseContent(*this, table, preserveWhiteSpace);
    } catch (const TXmlParseError&) {
        throw;
    } catch (const TXmlError& failure) {
        source.RaiseStopped(failure.what());
    }
}

// ---- positions ------------------------------------------------------------------------------

const TXmlElementSpan* TXmlPositions::Find(IXmlNode* element) const {
    if (!element) return nullptr;
    const TXmlBase* node = element->ImplObject();
    for (const TXmlElementSpan& span : elements_)
        if (span.Node == node) return &span;
    return nullptr;
}

const TXmlAttrSpan* TXmlPositions::FindAttr(const TXmlElementSpan& element, int32_t nameId) const {
    for (size_t i = element.AttrCount; i > 0; --i) {
        const TXmlAttrSpan& attr = attrs_[element.FirstAttr + i - 1];
        if (attr.NameId == nameId) return &attr;
    }
    return nullptr;
}

void TXmlPositions::Clear() {
    elements_.clear();
    attrs_.clear();
    open_.clear();
}

void LoadXmlTextWithPositions(const XmlRef<IXmlDocument>& document, const std::string& text,
                              TXmlPositions& positions) {
    positions.Clear();
    TXmlDocument* impl = dynamic_cast<TXmlDocument*>(document->ImplObject());
    if (!impl || text.compare(0, kBinarySignature.size(), kBinarySignature) == 0) {
        document->LoadXmlText(text);
        return;
    }
    impl->ClearChildren();
    impl->ClearAttrs();
    TXmlStrSource source(text);
    source.RecordPositions(&positions);
    impl->ChildListObject().ParseXml(source, impl->Table(), impl->PreserveWhiteSpace);
}

}  // namespace xml
