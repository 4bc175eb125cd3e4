// XML text from outside: LoadXmlText in both white-space modes must end in a tree or a message,
// and the stream source, whatever its block size, must agree with the string source.
#include <cstdint>
#include <string>

#include "tests/fuzz/FuzzSupport.h"
#include "xml/XmlParser.h"
#include "xml/XmlStreams.h"

using namespace fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t block = 1 + data[0] % 13;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    for (bool preserve : {false, true}) {
        XmlRef<IXmlDocument> fromString = PrivateDocument(preserve);
        const std::string stringResult = ErrorOf([&] { fromString->LoadXmlText(text); });

        XmlRef<IXmlDocument> fromStream = PrivateDocument(preserve);
        TMemoryStream stream(text);
        TXmlNode& node = *ImplNode(fromStream.get());
        const std::string streamResult = ErrorOf([&] {
            TXmlStmSource source(stream, block);
            node.ChildListObject().ParseXml(source, node.Table(), preserve);
        });
        if (text.compare(0, 14, "< binary-xml >") == 0) continue;  // the string took the binary branch
        Check(stringResult == streamResult, "string and stream sources give the same result");
        Check(fromString->GetBinaryXml() == fromStream->GetBinaryXml(), "string and stream sources build the same tree");
    }
    return 0;
}
