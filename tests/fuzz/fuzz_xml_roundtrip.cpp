// Parse, save as text and as binary, load again, compare: what the library writes it must read
// back as the same tree.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzSupport.h"
#include "xml/XmlStreams.h"

using namespace fuzz;

namespace {

// Re-reading an instruction's text gains the blank the writer puts after the target; empty text
// runs at the very end of the document (before a stray end tag) write nothing and come back as
// nothing, and so does the content of an element that holds only empty text nodes ("<a/>");
// two text nodes side by side (around a skipped DOCTYPE) come back as one. Adjusts the first
// tree for all but the last, and tells about that.
bool PrepareForTextComparison(TXmlNode& root) {
    if (TXmlNodeList* top = root.Children()) {
        while (top->Count() > 0 && top->Item(top->Count() - 1)->NodeKind() == xnkText &&
               top->Item(top->Count() - 1)->ReadText().empty())
            top->Delete(top->Count() - 1);
    }
    std::vector<TXmlNode*> stack{&root};
    while (!stack.empty()) {
        TXmlNode* node = stack.back();
        stack.pop_back();
        if (node->NodeKind() == xnkInstruction) {
            auto* pi = static_cast<TXmlProcessingInstruction*>(node);
            if (!pi->Data.empty()) pi->Data.insert(0, 1, ' ');
        }
        TXmlNodeList* children = node->Children();
        if (!children) continue;
        bool onlyEmptyText = node->NodeKind() == xnkElement;
        for (int32_t i = 0; i < children->Count() && onlyEmptyText; ++i)
            onlyEmptyText = children->Item(i)->NodeKind() == xnkText && children->Item(i)->ReadText().empty();
        if (onlyEmptyText) children->Clear();
        for (int32_t i = 0; i < children->Count(); ++i) {
            if (i > 0 && children->Item(i)->NodeKind() == xnkText && children->Item(i - 1)->NodeKind() == xnkText)
                return false;
            stack.push_back(children->Item(i));
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (text.compare(0, 14, "< binary-xml >") == 0) return 0;
    const bool wideSafe = text.find('\x98') == std::string::npos;  // the one byte windows-1251 cannot map
    for (bool preserve : {false, true}) {
        XmlRef<IXmlDocument> doc = PrivateDocument(preserve);
        if (ErrorOf([&] { doc->LoadXmlText(text); }) != "ok") continue;
        const std::string binary = doc->GetBinaryXml();

        // Binary, both string options.
        XmlRef<IXmlDocument> fromBinary = PrivateDocument();
        fromBinary->LoadBinaryXml(binary);
        Check(fromBinary->GetBinaryXml() == binary, "binary round trip keeps the tree");
        TMemoryStream wide;
        doc->SaveBinaryToStream(wide, 1);
        XmlRef<IXmlDocument> fromWide = PrivateDocument();
        wide.Seek(0);
        fromWide->LoadFromStream(wide);
        if (wideSafe) Check(fromWide->GetBinaryXml() == binary, "UTF-16 round trip keeps the tree");

        // Text: the compact layout writes only what the tree holds.
        if (!preserve) continue;
        TMemoryStream out;
        doc->SaveToStream(out);
        XmlRef<IXmlDocument> again = PrivateDocument(true);
        out.Seek(0);
        const std::string result = ErrorOf([&] { again->LoadFromStream(out); });
        Check(result == "ok", "written text parses");
        if (PrepareForTextComparison(*ImplNode(doc.get())))
            Check(again->GetBinaryXml() == doc->GetBinaryXml(), "text round trip keeps the tree");
    }
    return 0;
}
