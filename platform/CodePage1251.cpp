// Windows-1251 by table, the same on both sides: a host hands the driver its names in it.
#include "platform/CodePage.h"

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

void AppendUtf8(std::string& out, char32_t u) {
    if (u < 0x80) {
        out.push_back(static_cast<char>(u));
    } else if (u < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (u >> 6)));
        out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (u >> 12)));
        out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    }
}

}  // namespace

char16_t Windows1251ToUnicode(unsigned char c) {
    if (c < 0x80) return c;
    if (c >= 0xC0) return static_cast<char16_t>(0x0410 + (c - 0xC0));
    return kHigh[c - 0x80];
}

char UnicodeToWindows1251(char32_t u) {
    if (u < 0x80) return static_cast<char>(u);
    if (u >= 0x0410 && u <= 0x044F) return static_cast<char>(0xC0 + (u - 0x0410));
    for (int i = 0; i < 64; ++i)
        if (kHigh[i] == u) return static_cast<char>(0x80 + i);
    return '?';
}

std::string Windows1251ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text) {
        const char16_t u = Windows1251ToUnicode(static_cast<unsigned char>(c));
        AppendUtf8(out, u != 0 || c == 0 ? u : u'?');
    }
    return out;
}

std::string Utf8ToWindows1251(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                                             : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
        char32_t u = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        size_t n = 1;
        while (length > 1 && n < length && i + n < text.size() &&
               (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80)
            u = (u << 6) | (static_cast<unsigned char>(text[i + n++]) & 0x3F);
        const bool whole = length > 0 && n == length &&
                           !(length == 3 && (u < 0x800 || (u >= 0xD800 && u <= 0xDFFF))) &&
                           !(length == 4 && (u < 0x10000 || u > 0x10FFFF));
        // An invalid sequence: one "?" for its first byte, the next byte starts afresh.
        out.push_back(whole ? UnicodeToWindows1251(u) : '?');
        i += whole ? n : 1;
    }
    return out;
}

}  // namespace platform
