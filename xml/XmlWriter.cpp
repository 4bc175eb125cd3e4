// XML text of nodes: escaping, and the two layouts (indented with CR LF and tabs, or written
// as the tree stands). The tree is walked with an explicit stack and the indentation depth
// travels with it, so deep trees and concurrent serializations are both safe.
#include <array>
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

bool HasLineBreak(const std::string& out, size_t from) {
    const char* p = out.data() + from;
    const size_t n = out.size() - from;
    return std::memchr(p, '\n', n) != nullptr || std::memchr(p, '\r', n) != nullptr;
}

void AppendCDATA(std::string& out, std::string_view t) {
    // A section never holds "]]>": the text is cut after the first "]" of each occurrence.
    for (size_t q; (q = t.find("]]>")) != std::string_view::npos; t.remove_prefix(q + 1)) {
        out += "<![CDATA[";
        out.append(t.data(), q + 1);
        out += "]]>";
    }
    out += "<![CDATA[";
    out += t;
    out += "]]>";
}

void AppendEscapedValue(std::string& out, const TaggedValue& value) {
    if (value.KindCode() == TaggedValue::vkText) {
        AppendEscaped(out, value.TextPayload());
    } else if (!value.IsEmpty()) {
        std::string text;
        AppendValueXmlText(text, value);
        AppendEscaped(out, text);
    }
}

class MarkupWriter {
public:
    explicit MarkupWriter(std::string& out) : out_(out) {}

    void Write(TXmlNode& top) {
        bool topBreak = false;
        WriteItem(top, top.PreservesWhiteSpace(), 0, topBreak);
        while (!frames_.empty()) {
            Frame& f = frames_.back();
            if (f.next < f.list->Count()) {
                TXmlNode& item = *f.list->Item(f.next++);
                // WriteItem may push a frame, so the flag is taken by value and stored back.
                bool contentBreak = f.contentBreak;
                const bool compact = f.compact;
                const int32_t depth = f.element ? f.depth + 1 : f.depth;
                const size_t level = frames_.size();
                WriteItem(item, compact, depth, contentBreak);
                frames_[level - 1].contentBreak = contentBreak;
                continue;
            }
            const Frame done = f;
            frames_.pop_back();
            if (done.element) Close(*done.element, done.compact, done.depth, done.contentStart, done.contentBreak);
            if (!frames_.empty()) frames_.back().contentBreak |= done.contentBreak;
        }
    }

private:
    struct Frame {
        TXmlNodeList* list;
        int32_t next;
        TXmlElement* element;  // none for a document's children
        int32_t depth;         // the element's own depth (or the items' depth for a document)
        bool compact;
        size_t contentStart;
        bool contentBreak;
    };

    void Note(size_t from, bool& brk) {
        if (!brk) brk = HasLineBreak(out_, from);
    }

    void WriteAttrs(TXmlNode& node, bool& brk) {
        const TXmlNameTable& table = node.Table();
        const size_t from = out_.size();
        for (const TXmlAttrData& a : node.Attrs()) {
            out_ += ' ';
            out_ += table.NameRef(a.NameId);
            out_ += "=\"";
            AppendEscapedValue(out_, a.Value);
            out_ += '"';
        }
        Note(from, brk);
    }

    // Writes one node; an element or document with children pushes a frame instead of
    // finishing. brk collects whether the enclosing content holds a line break.
    void WriteItem(TXmlNode& node, bool compact, int32_t depth, bool& brk) {
        const size_t from = out_.size();
        switch (node.NodeKind()) {
        case xnkElement: {
            auto& element = static_cast<TXmlElement&>(node);
            if (!compact) {
                if (depth > kMaxIndentDepth) RaiseXmlError("Слишком большая глубина вложенности элементов");
                out_ += "\r\n";
                out_.append(static_cast<size_t>(depth), '\t');
                brk = true;
            }
            out_ += '<';
            out_ += node.Table().NameRef(element.NameId());
            WriteAttrs(node, brk);
            out_ += '>';
            if (node.HasChildNodes()) {
                frames_.push_back({node.Children(), 0, &element, depth, compact, out_.size(), false});
                return;
            }
            const size_t contentStart = out_.size();
            AppendEscapedValue(out_, element.DirectValue);
            const bool contentBreak = HasLineBreak(out_, contentStart);
            Close(element, compact, depth, contentStart, contentBreak);
            brk = brk || contentBreak;
            return;
        }
        case xnkText:
            AppendEscapedValue(out_, static_cast<TXmlText&>(node).Value);
            break;
        case xnkCDATA:
            AppendCDATA(out_, static_cast<TXmlCDATASection&>(node).Text);
            break;
        case xnkComment:
            out_ += "<!--";
            out_ += static_cast<TXmlComment&>(node).Text;
            out_ += "-->";
            break;
        case xnkInstruction: {
            auto& pi = static_cast<TXmlProcessingInstruction&>(node);
            out_ += "<?";
            out_ += node.Table().NameRef(pi.NameId());
            if (!pi.Data.empty()) {
                out_ += ' ';
                out_ += pi.Data;
            } else {
                bool ignored = true;  // attribute text is scanned below with the rest
                WriteAttrs(node, ignored);
            }
            out_ += "?>";
            break;
        }
        case xnkDocument:
            if (node.HasChildNodes())
                frames_.push_back({node.Children(), 0, nullptr, depth,
                                   static_cast<TXmlDocument&>(node).PreserveWhiteSpace, out_.size(), false});
            return;
        default:
            break;
        }
        Note(from, brk);
    }

    void Close(TXmlElement& element, bool compact, int32_t depth, size_t contentStart, bool contentBreak) {
        if (out_.size() == contentStart) {  // no content: "<e/>"
            out_.back() = '/';
            out_ += '>';
            return;
        }
        if (!compact && contentBreak) {
            const size_t n = out_.size();
            const bool endsWithCRLF = n - contentStart >= 2 && out_[n - 2] == '\r' && out_[n - 1] == '\n';
            if (!endsWithCRLF) out_ += "\r\n";
            out_.append(static_cast<size_t>(depth), '\t');
        }
        out_ += "</";
        out_ += element.Table().NameRef(element.NameId());
        out_ += '>';
    }

    std::string& out_;
    std::vector<Frame> frames_;
};

}  // namespace

void AppendEscaped(std::string& out, std::string_view text) {
    const char* run = text.data();
    const char* end = run + text.size();
    for (const char* p = run; p < end; ++p) {
        if (!kMarkupChar[static_cast<unsigned char>(*p)]) continue;
        out.append(run, static_cast<size_t>(p - run));
        switch (*p) {
        case '"': out += "&quot;"; break;
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        default: out += "&gt;"; break;
        }
        run = p + 1;
    }
    out.append(run, static_cast<size_t>(end - run));
}

std::string EscapeXmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendEscaped(out, text);
    return out;
}

void AppendMarkup(std::string& out, TXmlNode& node) { MarkupWriter(out).Write(node); }

void AppendListMarkup(std::string& out, TXmlNodeList& list) {
    for (int32_t i = 0; i < list.Count(); ++i) AppendMarkup(out, *list.Item(i));
}

std::string TXmlNodeList::MarkupText() {
    std::string out;
    AppendListMarkup(out, *this);
    return out;
}

std::string TXmlElement::MarkupText() {
    std::string out;
    AppendMarkup(out, *this);
    return out;
}

std::string TXmlText::MarkupText() {
    std::string out;
    AppendMarkup(out, *this);
    return out;
}

std::string TXmlCDATASection::MarkupText() {
    std::string out;
    AppendCDATA(out, Text);
    return out;
}

std::string TXmlComment::MarkupText() { return "<!--" + Text + "-->"; }

std::string TXmlProcessingInstruction::MarkupText() {
    std::string out;
    AppendMarkup(out, *this);
    return out;
}

std::string TXmlDocument::MarkupText() {
    std::string out;
    AppendMarkup(out, *this);
    return out;
}

}  // namespace xml
