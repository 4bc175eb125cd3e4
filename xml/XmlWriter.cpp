// XML text of nodes: escaping, and the two layouts (indented with CR LF and tabs, or written
// as the tree stands). The tree is walked with an explicit stack and the indentation depth
// travels with it, so deep trees and concurrent serializations are both safe.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "xml/XmlInternal.h"

namespace xml {

namespace {

// The indented layout repeats the depth in tabs on every line, so its size grows with the
// square of the depth; deeper trees than this are written only in the compact layout.
constexpr int32_t kMaxIndentDepth = 4096;

const std::array<bool, 256> kMarkupChar = [] {
    std::array<bool, 256> t{};
    t['"'] = t['&'] = t['<'] = t['>'] = true;
    return t;
}();

// Hands text to put(data, count) in runs: plain runs as they stand, each markup character
// " & < > as its entity.
template <class Put>
void ForEachEscapedRun(std::string_view text, Put&& put) {
    const char* run = text.data();
    const char* end = run + text.size();
    for (const char* p = run; p < end; ++p) {
        if (!kMarkupChar[static_cast<unsigned char>(*p)]) continue;
        put(run, static_cast<size_t>(p - run));
        switch (*p) {
        case '"': put("&quot;", 6); break;
        case '&': put("&amp;", 5); break;
        case '<': put("&lt;", 4); break;
        default: put("&gt;", 4); break;
        }
        run = p + 1;
    }
    put(run, static_cast<size_t>(end - run));
}

// The output text, written into blocks of fixed size (recycled by the allocator, so they
// stay cheap) and joined into the result string, sized once, at the end.
class Sink {
public:
    explicit Sink(std::string& s) : s_(s), base_(s.size()) {}
    Sink(const Sink&) = delete;
    Sink& operator=(const Sink&) = delete;

    size_t Size() const { return base_ + Written(); }
    char At(size_t i) const {
        i -= base_;
        return blocks_[i / kBlock][i % kBlock];
    }
    // Room for n <= kRoom bytes at the returned pointer; Commit counts those written.
    static constexpr size_t kRoom = 64;
    char* Room(size_t n) {
        inScratch_ = static_cast<size_t>(end_ - pos_) < n;
        return inScratch_ ? scratch_ : pos_;
    }
    void Commit(size_t n) {
        if (inScratch_) Put(scratch_, n);
        else pos_ += n;
    }
    void Put(char c) {
        if (pos_ == end_) NextBlock();
        *pos_++ = c;
    }
    void Put(const char* data, size_t n) {
        while (n > 0) {
            if (pos_ == end_) NextBlock();
            const size_t k = std::min(n, static_cast<size_t>(end_ - pos_));
            std::memcpy(pos_, data, k);
            pos_ += k;
            data += k;
            n -= k;
        }
    }
    void Put(std::string_view t) { Put(t.data(), t.size()); }
    void Repeat(char c, size_t n) {
        while (n > 0) {
            if (pos_ == end_) NextBlock();
            const size_t k = std::min(n, static_cast<size_t>(end_ - pos_));
            std::memset(pos_, c, k);
            pos_ += k;
            n -= k;
        }
    }
    // Replaces the last byte written.
    void Back(char c) { pos_[-1] = c; }
    bool HasLineBreak(size_t from) const {
        for (size_t i = from - base_, n = Written(); i < n;) {
            const char* block = blocks_[i / kBlock].get();
            const size_t offset = i % kBlock;
            const size_t k = std::min(kBlock - offset, n - i);
            if (std::memchr(block + offset, '\n', k) || std::memchr(block + offset, '\r', k)) return true;
            i += k;
        }
        return false;
    }

    void Escaped(std::string_view text) {
        ForEachEscapedRun(text, [this](const char* data, size_t n) { Put(data, n); });
    }

    void EscapedValue(const TaggedValue& value) {
        TValueTextRoom room;
        Escaped(ValueXmlText(value, room));
    }
    void EscapedValue(const TXmlValue& value) {
        TValueTextRoom room;
        Escaped(ValueXmlText(value, room));
    }

    void CDATA(std::string_view t) {
        // A section never holds "]]>": the text is cut after the first "]" of each occurrence.
        for (size_t q; (q = t.find("]]>")) != std::string_view::npos; t.remove_prefix(q + 1)) {
            Put("<![CDATA[", 9);
            Put(t.data(), q + 1);
            Put("]]>", 3);
        }
        Put("<![CDATA[", 9);
        Put(t);
        Put("]]>", 3);
    }

private:
    static constexpr size_t kBlock = 65536 - 64;  // below the allocator's mapping threshold

    size_t Written() const {
        return blocks_.empty() ? 0 : (blocks_.size() - 1) * kBlock + static_cast<size_t>(pos_ - blocks_.back().get());
    }
    // Every block but the last is full, so a position maps to its block by division.
    void NextBlock() {
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlock));
        pos_ = blocks_.back().get();
        end_ = pos_ + kBlock;
    }
public:
    // Appends everything written to the result string.
    void Finish() {
        const size_t n = Written();
        // Capacity rounded up as the string's own growth would: glibc then keeps serving repeated
        // large outputs from memory it already has instead of fresh pages.
        s_.reserve(std::bit_ceil(base_ + n));
        for (size_t i = 0; i < blocks_.size(); ++i)
            s_.append(blocks_[i].get(), i + 1 < blocks_.size() ? kBlock : n - i * kBlock);
        blocks_.clear();
        pos_ = end_ = nullptr;
    }

private:
    std::string& s_;
    size_t base_;
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* pos_ = nullptr;
    char* end_ = nullptr;
    bool inScratch_ = false;
    char scratch_[kRoom];
};

class MarkupWriter {
public:
    explicit MarkupWriter(std::string& out) : out_(out) {}

    // What the walk keeps per element (or document) whose children are being written.
    struct Level {
        TXmlElement* element;  // none for a document's children
        int32_t depth;         // the element's own depth (or the items' depth for a document)
        bool compact;
        size_t contentStart;
        bool contentBreak;
    };

    void Write(TXmlNode& top) {
        WalkTree(top, *this);
        out_.Finish();
    }

    bool Enter(TXmlNode& node, Level* parent, Level& level) {
        if (!parent) {
            bool topBreak = false;
            return WriteItem(node, node.PreservesWhiteSpace(), 0, topBreak, level);
        }
        const int32_t depth = parent->element ? parent->depth + 1 : parent->depth;
        return WriteItem(node, parent->compact, depth, parent->contentBreak, level);
    }

    void Leave(TXmlNode&, Level& level, Level* parent) {
        if (level.element) Close(*level.element, level.compact, level.depth, level.contentStart, level.contentBreak);
        if (parent) parent->contentBreak |= level.contentBreak;
    }

private:
    void Note(size_t from, bool& brk) {
        if (!brk) brk = out_.HasLineBreak(from);
    }

    void WriteAttrs(TXmlNode& node, bool& brk) {
        const TXmlNameTable& table = node.Table();
        const size_t from = out_.Size();
        for (const TXmlAttrData& a : node.Attrs()) {
            const std::string& name = table.NameRef(a.NameId);
            if (name.size() + 3 <= Sink::kRoom) {
                char* p = out_.Room(name.size() + 3);
                p[0] = ' ';
                std::memcpy(p + 1, name.data(), name.size());
                p[name.size() + 1] = '=';
                p[name.size() + 2] = '"';
                out_.Commit(name.size() + 3);
            } else {
                out_.Put(' ');
                out_.Put(name);
                out_.Put("=\"", 2);
            }
            out_.EscapedValue(a.Value);
            out_.Put('"');
        }
        Note(from, brk);
    }

    // Writes one node; an element or document with children fills the level and returns true
    // instead of finishing. brk collects whether the enclosing content holds a line break.
    bool WriteItem(TXmlNode& node, bool compact, int32_t depth, bool& brk, Level& level) {
        const size_t from = out_.Size();
        switch (node.Kind()) {
        case xnkElement: {
            auto& element = static_cast<TXmlElement&>(node);
            if (!compact) {
                if (depth > kMaxIndentDepth) RaiseXmlError("Слишком большая глубина вложенности элементов");
                out_.Put("\r\n", 2);
                out_.Repeat('\t', static_cast<size_t>(depth));
                brk = true;
            }
            out_.Put('<');
            out_.Put(node.Table().NameRef(element.NameIndex()));
            WriteAttrs(node, brk);
            out_.Put('>');
            if (node.HasChildNodes()) {
                level = {&element, depth, compact, out_.Size(), false};
                return true;
            }
            const size_t contentStart = out_.Size();
            out_.EscapedValue(element.DirectValue());
            const bool contentBreak = out_.Size() != contentStart && out_.HasLineBreak(contentStart);
            Close(element, compact, depth, contentStart, contentBreak);
            brk = brk || contentBreak;
            return false;
        }
        case xnkText:
            out_.EscapedValue(static_cast<TXmlText&>(node).Value);
            break;
        case xnkCDATA:
            out_.CDATA(static_cast<TXmlCDATASection&>(node).Text.TextView());
            break;
        case xnkComment:
            out_.Put("<!--", 4);
            out_.Put(static_cast<TXmlComment&>(node).Text.TextView());
            out_.Put("-->", 3);
            break;
        case xnkInstruction: {
            auto& pi = static_cast<TXmlProcessingInstruction&>(node);
            out_.Put("<?", 2);
            out_.Put(node.Table().NameRef(pi.TargetIndex()));
            if (!pi.Data.empty()) {
                out_.Put(' ');
                out_.Put(pi.Data);
            } else {
                bool ignored = true;  // attribute text is scanned below with the rest
                WriteAttrs(node, ignored);
            }
            out_.Put("?>", 2);
            break;
        }
        case xnkDocument:
            if (!node.HasChildNodes()) return false;
            level = {nullptr, depth, static_cast<TXmlDocument&>(node).PreserveWhiteSpace, out_.Size(), false};
            return true;
        default:
            break;
        }
        Note(from, brk);
        return false;
    }

    void Close(TXmlElement& element, bool compact, int32_t depth, size_t contentStart, bool contentBreak) {
        if (out_.Size() == contentStart) {  // no content: "<e/>"
            out_.Back('/');
            out_.Put('>');
            return;
        }
        if (!compact && contentBreak) {
            const size_t n = out_.Size();
            const bool endsWithCRLF = n - contentStart >= 2 && out_.At(n - 2) == '\r' && out_.At(n - 1) == '\n';
            if (!endsWithCRLF) out_.Put("\r\n", 2);
            out_.Repeat('\t', static_cast<size_t>(depth));
        }
        out_.Put("</", 2);
        out_.Put(element.Table().NameRef(element.NameIndex()));
        out_.Put('>');
    }

    Sink out_;
};

}  // namespace

void AppendEscaped(std::string& out, std::string_view text) {
    ForEachEscapedRun(text, [&out](const char* data, size_t n) { out.append(data, n); });
}

std::string EscapeXmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendEscaped(out, text);
    return out;
}

void AppendMarkup(std::string& out, TXmlNode& node) {
    const size_t mark = out.size();
    try {
        MarkupWriter(out).Write(node);
    } catch (...) {
        out.resize(mark);  // no partial text
        throw;
    }
}

void AppendListMarkup(std::string& out, TXmlNodeList& list) {
    for (int32_t i = 0; i < list.Count(); ++i) AppendMarkup(out, *list.Item(i));
}

std::string TXmlNodeList::MarkupText() {
    std::string out;
    AppendListMarkup(out, *this);
    return out;
}

std::string TXmlNode::MarkupText() {
    std::string out;
    AppendMarkup(out, *this);
    return out;
}

}  // namespace xml
