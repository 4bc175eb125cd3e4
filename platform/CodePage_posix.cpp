// Native stand-in for the ANSI code page: windows-1251, as on the Russian Windows the driver
// is made for, with the "C" locale's number format.
#include "platform/CodePage.h"

#include <array>
#include <atomic>
#include <clocale>

namespace platform {

namespace {

// Unicode of the bytes 0x80..0xBF (0x98 has none); 0xC0..0xFF are U+0410..U+044F.
constexpr char16_t kHigh[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0000, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

char16_t ToUnicode(unsigned char c) {
    if (c < 0x80) return c;
    if (c >= 0xC0) return static_cast<char16_t>(0x0410 + (c - 0xC0));
    return kHigh[c - 0x80];
}

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
    static const std::array<std::pair<char16_t, unsigned char>, 64> reverse = [] {
        std::array<std::pair<char16_t, unsigned char>, 64> r{};
        for (int i = 0; i < 64; ++i) r[i] = {kHigh[i], static_cast<unsigned char>(0x80 + i)};
        return r;
    }();
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (u < 0x80) {
            out.push_back(static_cast<char>(u));
        } else if (u >= 0x0410 && u <= 0x044F) {
            out.push_back(static_cast<char>(0xC0 + (u - 0x0410)));
        } else {
            char mapped = '?';
            for (const auto& [w, b] : reverse)
                if (w == u && w != 0) mapped = static_cast<char>(b);
            // A surrogate pair is one character: one "?".
            if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
                ++i;
            out.push_back(mapped);
        }
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
