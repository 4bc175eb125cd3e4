// The document's own operations: creation, loading from text, binary data, streams, files and
// resources, and saving as text or binary; and the factory NewXmlDocument.
#include <optional>
#include <string>

#include "platform/Resource.h"
#include "xml/XmlBinary.h"
#include "xml/XmlInternal.h"
#include "xml/XmlParser.h"
#include "xml/XmlStreams.h"

namespace xml {

namespace {

// Blocks of the stream source and of the binary stream reader and writers.
constexpr size_t kStreamBuffer = 65536;
constexpr int32_t kBuckets = 4096;

bool HasBinarySignature(std::string_view data) {
    return data.size() >= kBinarySignature.size() &&
           data.substr(0, kBinarySignature.size()) == kBinarySignature;
}

}  // namespace

XmlRef<IXmlDocument> NewXmlDocument(std::string_view rootName, std::string_view version,
                                    std::string_view encoding,
                                    const XmlRef<IXmlNameDictionary>& nameTable) {
    TXmlNameTable* table = nameTable ? ImplTable(nameTable.get()) : nullptr;
    const XmlRef<IXmlNameDictionary> shared = table ? nullptr : DefaultNameTable();
    if (!table) table = ImplTable(shared.get());
    XmlRef<TXmlDocument> document = MakeXml<TXmlDocument>(XmlRef<TXmlNameTable>(table));
    if (!rootName.empty()) document->NewDocument(version, encoding, rootName);
    return document;
}

XmlRef<IXmlElement> TXmlDocument::DocumentElement() {
    TXmlNodeList* children = Children();
    if (!children) return nullptr;
    for (int32_t i = 0; i < children->Count(); ++i) {
        TXmlNode* child = children->Item(i);
        if (child->NodeKind() == xnkElement) return static_cast<TXmlElement*>(child);
    }
    return nullptr;
}

std::string TXmlDocument::GetBinaryXml() {
    TStrXmlWriter writer(0, kStreamBuffer);
    Table().SaveBinXml(writer);
    SaveBinXml(writer);
    writer.FlushBuf();
    return std::move(writer.Result());
}

bool TXmlDocument::GetPreserveWhiteSpace() { return PreserveWhiteSpace; }

void TXmlDocument::SetPreserveWhiteSpace(bool preserve) { PreserveWhiteSpace = preserve; }

XmlRef<IXmlElement> TXmlDocument::NewDocumentById(std::string_view version, std::string_view encoding,
                                                  int32_t rootNameIndex) {
    ClearChildren();
    if (encoding.empty()) encoding = DefaultEncoding;
    std::string data = "version=\"";
    data.append(version).append("\" encoding=\"").append(encoding).append("\"");
    TXmlNodeList& children = ChildListObject();
    children.Insert(MakeXml<TXmlProcessingInstruction>(TableRef(), std::move(data), Table().XmlIndex()), 0);
    XmlRef<TXmlElement> root = MakeXml<TXmlElement>(TableRef(), rootNameIndex);
    children.Insert(root, 1);
    return root;
}

XmlRef<IXmlElement> TXmlDocument::NewDocument(std::string_view version, std::string_view encoding,
                                              std::string_view rootName) {
    return NewDocumentById(version, encoding, Table().IdOfName(rootName));
}

XmlRef<IXmlElement> TXmlDocument::CreateElementById(int32_t index) {
    return MakeXml<TXmlElement>(TableRef(), index);
}

XmlRef<IXmlElement> TXmlDocument::CreateElement(std::string_view name) {
    return CreateElementById(Table().IdOfName(name));
}

XmlRef<IXmlNode> TXmlDocument::CreateText(std::string text) {
    return MakeXml<TXmlText>(TableRef(), TaggedValue(std::move(text)));
}

XmlRef<IXmlNode> TXmlDocument::CreateCDATASection(std::string text) {
    return MakeXml<TXmlCDATASection>(TableRef(), std::move(text));
}

XmlRef<IXmlNode> TXmlDocument::CreateComment(std::string text) {
    return MakeXml<TXmlComment>(TableRef(), std::move(text));
}

XmlRef<IXmlNode> TXmlDocument::CreateProcessingInstruction(std::string_view target, std::string data) {
    return CreateProcessingInstructionById(Table().IdOfName(target), std::move(data));
}

XmlRef<IXmlNode> TXmlDocument::CreateProcessingInstructionById(int32_t targetIndex, std::string data) {
    return MakeXml<TXmlProcessingInstruction>(TableRef(), std::move(data), targetIndex);
}

void TXmlDocument::LoadXmlText(const std::string& text) {
    if (HasBinarySignature(text)) {
        LoadBinaryXml(text);
        return;
    }
    ClearChildren();
    ClearAttrs();
    TXmlStrSource source(text);
    ChildListObject().ParseXml(source, Table(), PreserveWhiteSpace);
}

void TXmlDocument::LoadBinaryXml(const std::string& data) {
    ClearChildren();
    ClearAttrs();
    std::optional<TStrXmlReader> reader;
    try {
        reader.emplace(data);
        // From now on the document has a table of its own, filled from the data.
        SetNameTable(MakeXml<TXmlNameTable>(kBuckets));
        Table().LoadBinXml(*reader);
        TXmlNode::LoadBinXml(*reader);
    } catch (const TXmlError& failure) {
        throw TXmlParseError(failure.what(), reader ? reader->Offset() : data.size(), 0, 0);
    }
}

void TXmlDocument::LoadFromStream(TByteStream& stream) {
    ClearChildren();
    ClearAttrs();
    if (stream.Size() > static_cast<int64_t>(kBinarySignature.size())) {
        char head[kBinarySignature.size()];
        stream.ReadBuffer(head, sizeof head);
        if (std::string_view(head, sizeof head) == kBinarySignature) {
            SetNameTable(MakeXml<TXmlNameTable>(kBuckets));
            std::optional<TStmXmlReader> reader;
            try {
                reader.emplace(stream, kStreamBuffer);
                Table().LoadBinXml(*reader);
                TXmlNode::LoadBinXml(*reader);
            } catch (const TXmlError& failure) {
                const int64_t size = stream.Size();
                throw TXmlParseError(failure.what(), reader ? reader->Offset() : static_cast<uint64_t>(size), 0, 0);
            }
            return;
        }
        stream.Seek(stream.Position() - static_cast<int64_t>(sizeof head));
    }
    TXmlStmSource source(stream, kStreamBuffer);
    ChildListObject().ParseXml(source, Table(), PreserveWhiteSpace);
}

void TXmlDocument::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName, TFileStream::OpenRead);  // before anything is removed
    LoadFromStream(file);
}

void TXmlDocument::LoadFromResource(const char* resourceType, const char* resourceName) {
    std::string bytes;
    if (!platform::LoadModuleResource(resourceType, resourceName, bytes) || bytes.empty()) return;
    LoadXmlText(bytes);
}

void TXmlDocument::SaveToStream(TByteStream& stream) {
    const std::string text = MarkupText();
    stream.WriteBuffer(text.data(), text.size());
}

// The files are written only once their whole content is at hand: a failure to render the
// document (a value without a text form, a node the binary form cannot hold) must not leave
// an emptied settings file behind.
void TXmlDocument::SaveToFile(const std::string& fileName) {
    const std::string text = MarkupText();
    TFileStream file(fileName, TFileStream::CreateNew);
    file.WriteBuffer(text.data(), text.size());
}

void TXmlDocument::SaveBinaryToStream(TByteStream& stream, uint32_t options) {
    TStmXmlWriter writer(stream, options, kStreamBuffer);
    Table().SaveBinXml(writer);
    SaveBinXml(writer);
    writer.Finish();
}

void TXmlDocument::SaveBinaryToFile(const std::string& fileName, uint32_t options) {
    TStrXmlWriter writer(options, kStreamBuffer);
    Table().SaveBinXml(writer);
    SaveBinXml(writer);
    writer.FlushBuf();
    TFileStream file(fileName, TFileStream::CreateNew);
    file.WriteBuffer(writer.Result().data(), writer.Result().size());
}

}  // namespace xml
