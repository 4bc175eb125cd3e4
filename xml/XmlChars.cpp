#include "xml/XmlChars.h"

#include <string_view>

#include "platform/CodePage.h"
#include "xml/XmlLib.h"

namespace xml {

const std::array<uint8_t, 256>& XmlCharClasses() {
    static const std::array<uint8_t, 256> classes = [] {
        std::array<uint8_t, 256> t{};
        for (int c = 0; c < 256; ++c) {
            const auto ch = static_cast<char>(c);
            uint8_t bits = 0;
            if (c <= 0x20) bits |= kBlank;
            // Every byte above 127 stands in a name: those are also the bytes of a UTF-8 file's
            // letters, which a UTF-8 reader takes, whatever they mean in the code page.
            const bool alpha = c >= 0x80 || platform::IsCharAlpha(ch);
            if (ch == '_' || alpha) bits |= kNameStart | kNameChar;
            if (alpha || platform::IsCharAlphaNumeric(ch) || ch == '-' || ch == '.' || ch == ':') bits |= kNameChar;
            if (ch == '"' || ch == '\'' || ch == '&' || ch == '<') bits |= kValueStop;
            t[static_cast<size_t>(c)] = bits;
        }
        return t;
    }();
    return classes;
}

bool IsSimpleName(std::string_view text) {
    if (text.empty() || !IsXmlNameStart(static_cast<unsigned char>(text[0]))) return false;
    for (char c : text.substr(1))
        if (!IsXmlNameChar(static_cast<unsigned char>(c))) return false;
    return true;
}

}  // namespace xml
