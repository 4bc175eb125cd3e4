// Character rules every part of the library shares: which bytes may stand in a name, which
// count as blanks, and the value of a hexadecimal digit.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace xml {

enum : uint8_t { kBlank = 1, kNameStart = 2, kNameChar = 4, kValueStop = 8 };  // stop: " ' & <

// Classes of the 256 bytes, computed once per process: a name starts with "_", a letter of the
// active code page or any byte above 127, and goes on with those, digits, "-", ".", ":" and "_".
const std::array<uint8_t, 256>& XmlCharClasses();

inline bool IsXmlNameStart(unsigned char c) { return XmlCharClasses()[c] & kNameStart; }
inline bool IsXmlNameChar(unsigned char c) { return XmlCharClasses()[c] & kNameChar; }

// Whether n bytes at a and b are the same: in line for the short runs names are (two loads of
// each side, which may overlap), the C library's compare beyond.
inline bool SameBytes(const char* a, const char* b, size_t n) {
    const auto load4 = [](const char* p) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    };
    const auto load8 = [](const char* p) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        return v;
    };
    if (n > 16) return std::memcmp(a, b, n) == 0;
    if (n >= 8) return load8(a) == load8(b) && load8(a + n - 8) == load8(b + n - 8);
    if (n >= 4) return load4(a) == load4(b) && load4(a + n - 4) == load4(b + n - 4);
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// 0..15 for "0".."9", "A".."F", "a".."f"; -1 for any other byte.
constexpr int HexDigitValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace xml
