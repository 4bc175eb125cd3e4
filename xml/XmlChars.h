// Character rules every part of the library shares: which bytes may stand in a name, which
// count as blanks, and the value of a hexadecimal digit.
#pragma once
#include <array>
#include <cstdint>

namespace xml {

enum : uint8_t { kBlank = 1, kNameStart = 2, kNameChar = 4, kValueStop = 8 };  // stop: " ' & <

// Classes of the 256 bytes, computed once per process: a name starts with "_", a letter of the
// active code page or any byte above 127, and goes on with those, digits, "-", ".", ":" and "_".
const std::array<uint8_t, 256>& XmlCharClasses();

inline bool IsXmlNameStart(unsigned char c) { return XmlCharClasses()[c] & kNameStart; }
inline bool IsXmlNameChar(unsigned char c) { return XmlCharClasses()[c] & kNameChar; }

// 0..15 for "0".."9", "A".."F", "a".."f"; -1 for any other byte.
constexpr int HexDigitValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace xml
