// Binary data from outside: the string and the stream reader must agree, end in a tree or a
// message, and a tree that loaded saves to data that loads to the same tree again.
#include <cstdint>
#include <string>

#include "tests/fuzz/FuzzSupport.h"
#include "xml/XmlBinary.h"
#include "xml/XmlStreams.h"

using namespace fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The signature is given: the fuzzer spends its time on what follows it.
    const std::string binary = std::string(kBinarySignature) + std::string(reinterpret_cast<const char*>(data), size);

    XmlRef<IXmlDocument> fromString = PrivateDocument();
    const std::string stringResult = ErrorOf([&] { fromString->LoadXmlText(binary); });
    XmlRef<IXmlDocument> fromStream = PrivateDocument();
    TMemoryStream stream(binary);
    const std::string streamResult = ErrorOf([&] { fromStream->LoadFromStream(stream); });
    if (size == 0) return 0;  // the signature alone: a stream of 14 bytes is read as text
    Check(stringResult == streamResult, "string and stream readers give the same result");
    if (stringResult != "ok") return 0;

    std::string saved;
    const std::string saveResult = ErrorOf([&] { saved = fromString->GetBinaryXml(); });
    Check(saveResult == "ok", "a loaded tree can be saved");
    Check(saved == fromStream->GetBinaryXml(), "both readers built the same tree");
    XmlRef<IXmlDocument> again = PrivateDocument();
    again->LoadBinaryXml(saved);
    Check(again->GetBinaryXml() == saved, "saving what was loaded is stable");
    ErrorOf([&] { fromString->MarkupText(); });  // values without a text form may fail, never crash
    return 0;
}
