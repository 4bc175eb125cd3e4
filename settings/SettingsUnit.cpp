#include "settings/SettingsUnit.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <stdexcept>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Files.h"
#include "settings/SettingsForm.h"
#include "xml/XmlBinary.h"
#include "xml/XmlLib.h"
#include "xml/XmlStreams.h"

using xml::IXmlDocument;
using xml::IXmlElement;
using xml::IXmlNode;
using xml::XmlRef;

namespace {

const char DriverElementName[] = "KRA_MCR_Serial";
const char RootElementName[] = "XML";

std::atomic<void*> applicationHandle{nullptr};  // set by the start and stop, read by the dialog
std::atomic<bool> dialogOpen{false};

struct TFileRead {
    std::string bytes;
    bool complete = false;     // as many bytes as the file held when it was opened
    platform::FileError error; // why not, when it is not
    bool opened = false;
};

TFileRead ReadFileBytes(const std::string& path) {
    TFileRead read;
    platform::File file;
    if (!file.Open(path, platform::FileAccess::Read, platform::ShareRead, platform::FileDisposition::OpenExisting,
                   &read.error))
        return read;
    read.opened = true;
    uint64_t size = 0;
    if (!file.Size(size)) return read;
    char buffer[4096];
    while (read.bytes.size() < size) {
        size_t done = 0;
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(sizeof buffer, size - read.bytes.size()));
        if (!file.Read(buffer, piece, &done, &read.error) || done == 0) return read;
        read.bytes.append(buffer, done);
    }
    read.complete = true;
    return read;
}

// The root of a settings file, made where the file has none. A file that is empty gets the
// declaration too, as a new one; whatever a rootless file does hold (its declaration, comments)
// stays in front of the new root.
XmlRef<IXmlElement> ObtainRoot(const XmlRef<IXmlDocument>& document) {
    if (XmlRef<IXmlElement> root = document->DocumentElement()) return root;
    if (document->ChildList()->ItemCount() == 0) return document->NewDocument("1.0", "", RootElementName);
    return document->AppendChildElement(RootElementName);
}

XmlRef<IXmlNode> ObtainChildElement(const XmlRef<IXmlNode>& parent, const std::string& name) {
    if (XmlRef<IXmlNode> child = parent->FindChildElement(name)) return child;
    parent->AppendChildElement(name);
    return parent->FindChildElement(name);
}

const char* const AttrNames[3] = {"COM_Number", "Baud", "Bits"};

void WriteSettingsAttrs(const XmlRef<IXmlNode>& element, const TReaderSettings& settings) {
    element->WriteIntAttr(AttrNames[0], settings.COM_Number);
    element->WriteIntAttr(AttrNames[1], settings.Baud);
    element->WriteIntAttr(AttrNames[2], settings.Bits);
}

// The settings written into a whole new document: the six-line file, or a binary file's
// content rewritten as text.
std::string RewrittenText(const XmlRef<IXmlDocument>& document, const std::string& section,
                          const TReaderSettings& settings) {
    XmlRef<IXmlNode> sectionNode = ObtainChildElement(ObtainRoot(document), section);
    WriteSettingsAttrs(ObtainChildElement(sectionNode, DriverElementName), settings);
    return document->MarkupText();
}

// Edits a host's text in place: the host's bytes stay as they are, the driver's values and any
// element it has to add are spliced in, laid out like what surrounds them.
class TTextEditor {
public:
    TTextEditor(const std::string& text, const xml::TXmlPositions& positions) : text_(text), positions_(positions) {
        const size_t lf = text.find('\n');
        if (lf != std::string::npos) lineBreak_ = lf > 0 && text[lf - 1] == '\r' ? "\r\n" : "\n";
        else if (text.find('\r') != std::string::npos) lineBreak_ = "\r";
        indentUnit_ = FindIndentUnit();
    }

    void Replace(uint64_t begin, uint64_t end, std::string with) {
        edits_.push_back({static_cast<size_t>(begin), static_cast<size_t>(end), std::move(with)});
    }

    // Sets the three values in the driver's existing element: each present value is replaced
    // where it stands (the last occurrence, the one a load reads), missing ones follow the others.
    void SetValues(const XmlRef<IXmlNode>& element, const TReaderSettings& settings) {
        const xml::TXmlElementSpan& span = SpanOf(element);
        const int32_t values[3] = {settings.COM_Number, settings.Baud, settings.Bits};
        std::string appended;
        for (int i = 0; i < 3; ++i) {
            const int32_t id = element->NameTableRef()->IdOfName(AttrNames[i]);
            if (const xml::TXmlAttrSpan* attr = positions_.FindAttr(span, id))
                Replace(attr->ValueBegin, attr->ValueEnd, std::to_string(values[i]));
            else
                appended += std::string(" ") + AttrNames[i] + "=\"" + std::to_string(values[i]) + "\"";
        }
        if (!appended.empty()) Replace(span.AttrsEnd, span.AttrsEnd, appended);
    }

    // Adds a new last child element to parent. The lines of child (split at "\n") are its start
    // tag, its content one level deeper and its end tag; in a compact layout they are joined.
    void AppendChild(const XmlRef<IXmlNode>& parent, const std::vector<std::string>& child) {
        const xml::TXmlElementSpan& span = SpanOf(parent);
        const std::optional<std::string> parentIndent = LineIndent(span.Begin);
        const xml::TXmlElementSpan* last = LastChildElement(parent);
        std::optional<std::string> childIndent = last ? LineIndent(last->Begin) : std::nullopt;
        // A parent on a line of its own whose children are not on the same line as it.
        const bool indented = last ? childIndent.has_value() : parentIndent.has_value();
        if (indented && !childIndent) childIndent = *parentIndent + indentUnit_;

        if (span.SelfClosing()) {
            std::string inner = indented ? lineBreak_ + *childIndent + Lines(child, *childIndent) + lineBreak_ + *parentIndent
                                         : Lines(child, std::nullopt);
            Replace(span.StartTagEnd - 2, span.StartTagEnd, ">" + inner + "</" + parent->NameString() + ">");
            return;
        }
        if (indented && LineIndent(span.EndTagBegin)) {
            // The end tag has a line of its own: the new child comes on its own line before it.
            const uint64_t lineStart = span.EndTagBegin - LineIndent(span.EndTagBegin)->size();
            Replace(lineStart, lineStart, *childIndent + Lines(child, *childIndent) + lineBreak_);
        } else if (indented && last) {
            Replace(span.EndTagBegin, span.EndTagBegin, lineBreak_ + *childIndent + Lines(child, *childIndent));
        } else if (indented) {
            Replace(span.EndTagBegin, span.EndTagBegin,
                    lineBreak_ + *childIndent + Lines(child, *childIndent) + lineBreak_ + *parentIndent);
        } else {
            Replace(span.EndTagBegin, span.EndTagBegin, Lines(child, std::nullopt));
        }
    }

    // A root for a file that has none, after everything it holds.
    void AppendRoot(const std::vector<std::string>& root) {
        Replace(text_.size(), text_.size(), lineBreak_ + Lines(root, std::string()));
    }

    std::string Result() const {
        std::vector<TEdit> edits = edits_;
        std::stable_sort(edits.begin(), edits.end(), [](const TEdit& a, const TEdit& b) { return a.begin > b.begin; });
        std::string result = text_;
        for (const TEdit& e : edits) result.replace(e.begin, e.end - e.begin, e.with);
        return result;
    }

    // The lines of a new element holding the driver's element: as a section, or as a root
    // holding a section.
    static std::vector<std::string> DriverElement(const TReaderSettings& s) {
        return {std::string("<") + DriverElementName + " COM_Number=\"" + std::to_string(s.COM_Number) +
                "\" Baud=\"" + std::to_string(s.Baud) + "\" Bits=\"" + std::to_string(s.Bits) + "\"/>"};
    }
    static std::vector<std::string> Wrapped(const std::string& name, const std::vector<std::string>& inner) {
        std::vector<std::string> lines{"<" + name + ">"};
        for (const std::string& line : inner) lines.push_back("\t" + line);
        lines.push_back("</" + name + ">");
        return lines;
    }

private:
    struct TEdit {
        size_t begin, end;
        std::string with;
    };

    const xml::TXmlElementSpan& SpanOf(const XmlRef<IXmlNode>& element) const {
        const xml::TXmlElementSpan* span = positions_.Find(element.get());
        if (!span) throw std::logic_error("settings element without a place in the file");
        return *span;
    }

    const xml::TXmlElementSpan* LastChildElement(const XmlRef<IXmlNode>& parent) const {
        XmlRef<xml::IXmlNodeCollection> children = parent->ChildList();
        for (int32_t i = children->ItemCount(); i > 0; --i) {
            XmlRef<IXmlNode> child = children->ItemAt(i - 1);
            if (child->NodeKind() == xml::xnkElement) return positions_.Find(child.get());
        }
        return nullptr;
    }

    // The blanks and tabs in front of offset when only they stand between it and the start of
    // its line (or of the file); none when something else does.
    std::optional<std::string> LineIndent(uint64_t offset) const {
        size_t start = static_cast<size_t>(offset);
        while (start > 0 && (text_[start - 1] == ' ' || text_[start - 1] == '\t')) --start;
        if (start > 0 && text_[start - 1] != '\n' && text_[start - 1] != '\r') return std::nullopt;
        return text_.substr(start, static_cast<size_t>(offset) - start);
    }

    // The step by which the file indents a child on its own line against its parent; a tab
    // when no element shows one.
    std::string FindIndentUnit() const {
        const std::vector<xml::TXmlElementSpan>& elements = positions_.Elements();
        std::vector<const xml::TXmlElementSpan*> open;  // the ancestors of the element at hand
        for (const xml::TXmlElementSpan& span : elements) {
            while (!open.empty() && open.back()->End <= span.Begin) open.pop_back();
            if (!open.empty()) {
                const auto outer = LineIndent(open.back()->Begin), inner = LineIndent(span.Begin);
                if (outer && inner && inner->size() > outer->size() && inner->compare(0, outer->size(), *outer) == 0)
                    return inner->substr(outer->size());
            }
            open.push_back(&span);
        }
        return "\t";
    }

    // The lines joined with the file's line break, each after the first indented by indent and
    // by the file's unit for each leading tab; run together when there is no indent.
    std::string Lines(const std::vector<std::string>& lines, const std::optional<std::string>& indent) const {
        std::string out;
        for (size_t i = 0; i < lines.size(); ++i) {
            size_t depth = 0;
            while (depth < lines[i].size() && lines[i][depth] == '\t') ++depth;
            if (indent && i > 0) {
                out += lineBreak_ + *indent;
                for (size_t d = 0; d < depth; ++d) out += indentUnit_;
            }
            out += lines[i].substr(depth);
        }
        return out;
    }

    const std::string& text_;
    const xml::TXmlPositions& positions_;
    std::string lineBreak_ = "\r\n";
    std::string indentUnit_;
    std::vector<TEdit> edits_;
};

// Runs a load of the file at path; a failed parse gets the place where it stopped.
template <class Load>
void WithPlaceOfStop(const std::string& path, Load load) {
    try {
        load();
    } catch (const xml::TXmlParseError& stop) {
        const std::string place = stop.Line() > 0 ? ", line " + std::to_string(stop.Line()) + ", column " +
                                                        std::to_string(stop.Column())
                                                  : ", byte " + std::to_string(stop.Offset());
        throw ESettingsError(TSettingsFailure::Syntax, std::string(stop.what()) + " (" + path + place + ")");
    }
}

// How a file spells the names the driver looks for and writes: as the host gives them
// (windows-1251, or no encoding declared and no byte-order mark), in UTF-8, or in another encoding
// the driver cannot write.
struct TNameSpelling {
    enum TKind { AsGiven, Utf8, Foreign } Kind = AsGiven;
    std::string Encoding;  // as the file declares it

    std::string Spelled(const std::string& name) const { return Kind == Utf8 ? platform::Windows1251ToUtf8(name) : name; }
    // A text of the file as the driver reports it (in Windows-1251).
    std::string Reported(const std::string& text) const {
        return Kind == Utf8 ? platform::Utf8ToWindows1251(text) : text;
    }
};

const char Utf8Mark[] = "\xEF\xBB\xBF";

bool IsBlankByte(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

TNameSpelling NameSpellingOf(std::string_view text) {
    if (text.substr(0, 3) == Utf8Mark) return {TNameSpelling::Utf8, "UTF-8"};
    if (text.substr(0, 5) != "<?xml" || text.size() < 6 || !IsBlankByte(text[5])) return {};
    const std::string_view declaration = text.substr(0, text.find("?>"));
    size_t at = 5;
    for (;;) {
        at = declaration.find("encoding", at);
        if (at == std::string_view::npos) return {};
        if (IsBlankByte(declaration[at - 1])) break;
        ++at;
    }
    at += 8;
    while (at < declaration.size() && IsBlankByte(declaration[at])) ++at;
    if (at >= declaration.size() || declaration[at] != '=') return {};
    ++at;
    while (at < declaration.size() && IsBlankByte(declaration[at])) ++at;
    if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\'')) return {};
    const size_t end = declaration.find(declaration[at], at + 1);
    if (end == std::string_view::npos) return {};
    std::string encoding(declaration.substr(at + 1, end - at - 1)), lower = encoding;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (lower == "utf-8" || lower == "utf8") return {TNameSpelling::Utf8, encoding};
    if (lower == "windows-1251" || lower == "cp1251") return {TNameSpelling::AsGiven, encoding};
    return {TNameSpelling::Foreign, encoding};
}

bool HasByteAbove127(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) > 127; });
}

// Where a load of text stops before the end without an error: at an end tag outside every
// element, where the parser quietly ends the document. Nothing when it reads to the end.
std::optional<size_t> QuietStopOf(const std::string& text) {
    XmlRef<IXmlDocument> document = xml::NewXmlDocument("", "1.0");
    xml::TXmlPositions positions;
    try {
        xml::LoadXmlTextWithPositions(document, text, positions);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    size_t at = 0;  // after the last element outside every other
    for (const xml::TXmlElementSpan& span : positions.Elements())
        if (span.Begin >= at && span.End != xml::TXmlElementSpan::kOpen) at = static_cast<size_t>(span.End);
    // Past it come only comments, instructions, CDATA, a DOCTYPE and text, until the stop.
    while ((at = text.find('<', at)) != std::string::npos) {
        if (text.compare(at, 2, "</") == 0) return at;
        const bool comment = text.compare(at, 4, "<!--") == 0, cdata = text.compare(at, 9, "<![CDATA[") == 0;
        const std::string close = comment ? "-->" : cdata ? "]]>" : text.compare(at, 2, "<?") == 0 ? "?>" : ">";
        const size_t end = text.find(close, at + (comment ? 4 : cdata ? 9 : 2));
        if (end == std::string::npos) return std::nullopt;
        at = end + close.size();
    }
    return std::nullopt;
}

// "line L, column C" of a byte offset (CR, LF and CR LF each end a line).
std::string LineAndColumn(const std::string& text, size_t offset) {
    size_t line = 1, column = 1;
    for (size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\r' || (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))) {
            ++line;
            column = 1;
        } else if (text[i] != '\n') {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// Why the file just written does not give the values saved when the next start reads it, in
// words for the operator; empty when it does give them.
std::string ReadBackProblem(const std::string& fileName, const std::string& section, const TReaderSettings& saved,
                            const std::string& written) {
    TReaderSettings back;
    std::string lastNote;
    bool fromFile = false;  // values equal to the defaults prove nothing unless the file gave them
    try {
        fromFile = LoadSettings(fileName, section, back, [&](const std::string& line) { lastNote = line; });
    } catch (const std::exception& failure) {
        return std::string("Read back as the next start reads it, the saved file does not load: ") + failure.what() +
               ".";
    }
    if (fromFile && back.COM_Number == saved.COM_Number && back.Baud == saved.Baud && back.Bits == saved.Bits)
        return {};
    if (const std::optional<size_t> stop = QuietStopOf(written))
        return "For this driver the file ends at " + LineAndColumn(written, *stop) +
               ", at an end tag that closes no element: the section can only be added after that place, where the "
               "next start would not read it. Repair the file there (remove the stray end tag or add its start tag), "
               "then save again.";
    const size_t from = lastNote.find_first_not_of(' ');
    return "Read back as the next start reads it, the saved file gives COM_Number=" + std::to_string(back.COM_Number) +
           ", Baud=" + std::to_string(back.Baud) + ", Bits=" + std::to_string(back.Bits) + " instead of " +
           std::to_string(saved.COM_Number) + ", " + std::to_string(saved.Baud) + ", " + std::to_string(saved.Bits) +
           (from == std::string::npos ? std::string() : " (" + lastNote.substr(from) + ")") + ".";
}

}  // namespace

std::string SettingsFileText(const std::optional<std::string>& existing, const std::string& section,
                             const TReaderSettings& settings) {
    if (!existing || existing->compare(0, xml::kBinarySignature.size(), xml::kBinarySignature) == 0) {
        XmlRef<IXmlDocument> document = xml::NewXmlDocument(existing ? "" : RootElementName, "1.0");
        if (existing) document->LoadXmlText(*existing);
        return RewrittenText(document, section, settings);
    }
    XmlRef<IXmlDocument> document = xml::NewXmlDocument("", "1.0");
    xml::TXmlPositions positions;
    xml::LoadXmlTextWithPositions(document, *existing, positions);
    XmlRef<IXmlElement> root = document->DocumentElement();
    if (!root && document->ChildList()->ItemCount() == 0) {
        // Nothing but blanks: the file is made afresh.
        document = xml::NewXmlDocument(RootElementName, "1.0");
        return RewrittenText(document, section, settings);
    }
    TTextEditor editor(*existing, positions);
    const auto element = TTextEditor::DriverElement(settings);
    const TNameSpelling spelling = NameSpellingOf(*existing);
    const std::string sectionName = spelling.Spelled(section);
    // A section name that is no name fails first.
    XmlRef<IXmlNode> sectionNode = (root ? XmlRef<IXmlNode>(root) : XmlRef<IXmlNode>(document))->FindChildElement(sectionName);
    if (!root || !sectionNode) {
        if (spelling.Kind == TNameSpelling::Foreign && HasByteAbove127(section))
            throw std::runtime_error("The file declares the encoding \"" + spelling.Encoding +
                                     "\", in which the driver cannot write the section name " + section +
                                     ". Add the section to the file, or keep the file in UTF-8 or windows-1251, "
                                     "then save again. The file was left as it was.");
    }
    if (!root) {
        editor.AppendRoot(TTextEditor::Wrapped(RootElementName, TTextEditor::Wrapped(sectionName, element)));
        return editor.Result();
    }
    if (!sectionNode) {
        editor.AppendChild(root, TTextEditor::Wrapped(sectionName, element));
    } else if (XmlRef<IXmlNode> driver = sectionNode->FindChildElement(DriverElementName)) {
        editor.SetValues(driver, settings);
    } else {
        editor.AppendChild(sectionNode, element);
    }
    return editor.Result();
}

std::string ReadWholeFile(const std::string& path) {
    try {
        return ReadFileBytes(path).bytes;
    } catch (...) {
        return {};
    }
}

bool LoadSettings(const std::string& SettingsFileName, const std::string& SettingsSection,
                  TReaderSettings& ReaderSettings, const SettingsNoteSink& note) {
    TReaderSettings& settings = ReaderSettings;
    settings = TReaderSettings{1, 9600, 0};
    const std::string& fileName = SettingsFileName;
    const std::string& sectionName = SettingsSection;
    const std::string path = fileName.empty() ? std::string() : platform::FullPathName(fileName);
    auto say = [&](const std::string& line) {
        if (note) note("      Settings: " + line);
    };
    say("file " + path + ", section " + sectionName);
    if (fileName.empty() || !platform::PathExists(fileName)) {
        say("no file " + path + ", defaults used");
        return false;
    }

    // A file that is there but cannot be read (locked, no access) is a failure, not a file
    // without settings: the reader must not start on a port nobody chose.
    const TFileRead read = ReadFileBytes(fileName);
    if (!read.complete)
        throw ESettingsError(TSettingsFailure::File,
                             platform::FileFailureText(read.opened ? "Cannot read file" : "Cannot open file", fileName,
                                                       read.error.message),
                             read.error.code);

    XmlRef<IXmlDocument> document = xml::NewXmlDocument("", "1.0");
    WithPlaceOfStop(path, [&] { document->LoadXmlText(read.bytes); });
    XmlRef<IXmlElement> root = document->DocumentElement();
    if (!root) {
        say("no root element in " + path + ", defaults used");
        return false;
    }
    const TNameSpelling spelling = NameSpellingOf(read.bytes);
    XmlRef<IXmlNode> section = root->FindChildElement(spelling.Spelled(sectionName));
    if (!section) {
        say("no section " + sectionName + " under the root " + spelling.Reported(root->NameString()) + " of " + path +
            ", defaults used");
        return false;
    }
    XmlRef<IXmlNode> element = section->FindChildElement(DriverElementName);
    if (!element) {
        say(std::string("no ") + DriverElementName + " element in section " + sectionName + " of " + path +
            ", defaults used");
        return false;
    }
    for (int32_t i = 0; i < element->AttributeCount(); ++i) {
        const std::string name = element->AttrNameAt(i);
        if (std::find(std::begin(AttrNames), std::end(AttrNames), name) == std::end(AttrNames))
            say("unknown attribute " + spelling.Reported(name) + " ignored");
    }
    int32_t* const fields[3] = {&settings.COM_Number, &settings.Baud, &settings.Bits};
    bool allFromFile = true;
    for (int i = 0; i < 3; ++i) {
        const char* name = AttrNames[i];
        if (!element->HasAttr(name)) {
            say(std::string("no attribute ") + name + " in " + DriverElementName + " of section " + sectionName +
                " in " + path + ", default " + std::to_string(*fields[i]) + " used");
            allFromFile = false;
            continue;
        }
        try {
            *fields[i] = element->ReadIntAttr(name, *fields[i]);
        } catch (const xml::TXmlError& failure) {
            throw ESettingsError(TSettingsFailure::Value, std::string(failure.what()) + " (" + path + ": " + name + "=\"" +
                                 spelling.Reported(xml::ValueAsText(element->ReadVarAttr(name, xml::TaggedValue()))) +
                                 "\")");
        }
        const int32_t v = *fields[i];
        const bool offered = i == 0   ? v >= 1 && v <= 255
                             : i == 1 ? std::find(BaudRates.begin(), BaudRates.end(), v) != BaudRates.end()
                                      : v >= 0 && v <= 32;
        if (!offered)
            say(std::string("warning: ") + name + "=" + std::to_string(v) + " is not a value the dialog offers (" +
                (i == 0 ? "ports 1 to 255" : i == 1 ? "its 15 baud rates" : "bits 0 to 32") + "), taken as it is");
    }
    return allFromFile;
}

void SaveSettings(const std::string& SettingsFileName, const std::string& SettingsSection,
                  const TReaderSettings& ReaderSettings) {
    const std::string& fileName = SettingsFileName;
    if (fileName.empty())
        throw std::runtime_error(platform::FileFailureText("Cannot create file", "", "The settings file has no name"));
    std::optional<std::string> existing;
    if (platform::PathExists(fileName)) {
        // Read as a document load reads it: no other handle may write it meanwhile.
        xml::TFileStream file(fileName, xml::TFileStream::OpenRead);
        existing.emplace(static_cast<size_t>(file.Size()), '\0');
        file.ReadBuffer(existing->data(), existing->size());
    }
    std::string text;
    WithPlaceOfStop(platform::FullPathName(fileName),
                    [&] { text = SettingsFileText(existing, SettingsSection, ReaderSettings); });
    platform::ReplaceFileContent(fileName, text);

    // A save counts only when the next start reads the values saved; otherwise the host's own
    // bytes go back, in one step again.
    const std::string problem = ReadBackProblem(fileName, SettingsSection, ReaderSettings, text);
    if (problem.empty()) return;
    try {
        if (existing) {
            platform::ReplaceFileContent(fileName, *existing);
        } else {
            platform::FileError error;
            if (!platform::RemoveFile(fileName, &error)) throw std::runtime_error(error.message);
        }
    } catch (const std::exception& failure) {
        throw std::runtime_error(problem + " The file could not be put back as it was: " + failure.what());
    }
    throw std::runtime_error(problem + " The file was put back as it was.");
}

void SetApplicationHandle(void* appHandle) { applicationHandle = appHandle; }
void* ApplicationHandle() { return applicationHandle; }

bool RunSettingsDialog(int32_t& port, int32_t& baud, std::string& bitsText) {
    if (dialogOpen.exchange(true)) {
        BringSettingsFormToFront();
        return false;
    }
    struct Closed {
        ~Closed() { dialogOpen = false; }
    } closed;
    TSettingsForm form(port, baud, bitsText);
    if (!ShowSettingsForm(form)) return false;
    form.Confirm(port, baud, bitsText);
    return true;
}

void TellSaveFailure(const std::string& fileName, const std::string& reason) {
    ShowSaveFailure("Не удалось записать файл настроек\r\n" + platform::FullPathName(fileName) + "\r\n\r\n" + reason);
}
