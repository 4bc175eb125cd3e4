// Native stand-in for the ANSI code page: windows-1251, as on the Russian Windows the driver
// is made for, with the "C" locale's number format.
#include "platform/CodePage.h"

#include <array>
#include <atomic>
#include <clocale>

namespace platform {

namespace {

char16_t ToUnicode(unsigned char c) { return Windows1251ToUnicode(c); }

bool IsUnicodeLetter(char16_t u) {
    if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z')) return true;
    if (u == 0x00B5) return true;  // micro sign: a lower-case letter
    // Cyrillic letters of the code page (U+0400..U+045F and the two Ukrainian ghe).
    return (u >= 0x0400 && u <= 0x045F) || u == 0x0490 || u == 0x0491;
}

struct Tables {
    std::array<bool, 256> alpha{};
    std::array<unsigned char, 256> upper{};
};

const Tables& CodeTables() {
    static const Tables t = [] {
        Tables r;
        for (int c = 0; c < 256; ++c) {
            r.alpha[c] = IsUnicodeLetter(ToUnicode(static_cast<unsigned char>(c)));
            r.upper[c] = static_cast<unsigned char>(c);
        }
        for (int c = 'a'; c <= 'z'; ++c) r.upper[c] = static_cast<unsigned char>(c - 32);
        for (int c = 0xE0; c <= 0xFF; ++c) r.upper[c] = static_cast<unsigned char>(c - 32);
        // Lower-case letters of 0x80..0xBF and their capitals.
        const unsigned char pairs[][2] = {{0x90, 0x80}, {0x83, 0x81}, {0x9A, 0x8A}, {0x9C, 0x8C}, {0x9D, 0x8D},
                                          {0x9E, 0x8E}, {0x9F, 0x8F}, {0xA2, 0xA1}, {0xBC, 0xA3}, {0xB4, 0xA5},
                                          {0xB8, 0xA8}, {0xBA, 0xAA}, {0xBF, 0xAF}, {0xB3, 0xB2}, {0xBE, 0xBD}};
        for (const auto& p : pairs) r.upper[p[0]] = p[1];
        return r;
    }();
    return t;
}

std::atomic<char> decimalOverride{0};

}  // namespace

bool IsCharAlpha(char c) { return CodeTables().alpha[static_cast<unsigned char>(c)]; }

bool IsCharAlphaNumeric(char c) { return IsCharAlpha(c) || (c >= '0' && c <= '9'); }

char CharUpper(char c) { return static_cast<char>(CodeTables().upper[static_cast<unsigned char>(c)]); }

bool SameTextIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (CharUpper(a[i]) != CharUpper(b[i])) return false;
    return true;
}

std::u16string AnsiToWide(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char c : text) {
        const char16_t u = ToUnicode(static_cast<unsigned char>(c));
        out.push_back(u != 0 || c == 0 ? u : char16_t{0xFFFD});
    }
    return out;
}

std::string WideToAnsi(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        out.push_back(UnicodeToWindows1251(u));
        // A surrogate pair is one character: one "?".
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) ++i;
    }
    return out;
}

char LocaleDecimalSeparator() {
    if (const char c = decimalOverride.load(std::memory_order_relaxed)) return c;
    const std::lconv* conv = std::localeconv();
    return conv && conv->decimal_point && conv->decimal_point[0] ? conv->decimal_point[0] : '.';
}

void OverrideDecimalSeparator(char c) { decimalOverride.store(c, std::memory_order_relaxed); }

std::string LocaleTrueText() { return "True"; }
std::string LocaleFalseText() { return "False"; }

}  // namespace platform
