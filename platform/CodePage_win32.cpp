// The ANSI code page and the user's locale as Windows reports them.
#include "platform/CodePage.h"

#include <windows.h>
#include <oleauto.h>
// The system's A/W macros would rename our functions.
#undef IsCharAlpha
#undef IsCharAlphaNumeric
#undef CharUpper

#include <atomic>

namespace platform {

namespace {

std::atomic<char> decimalOverride{0};

std::string BoolText(VARIANT_BOOL value) {
    BSTR text = nullptr;
    if (FAILED(VarBstrFromBool(value, LOCALE_USER_DEFAULT, VAR_LOCALBOOL, &text)) || !text)
        return value ? "True" : "False";
    std::string result = WideToAnsi(std::u16string_view(reinterpret_cast<const char16_t*>(text), SysStringLen(text)));
    SysFreeString(text);
    return result;
}

}  // namespace

bool IsCharAlpha(char c) { return IsCharAlphaA(c) != FALSE; }

bool IsCharAlphaNumeric(char c) { return IsCharAlphaNumericA(c) != FALSE; }

char CharUpper(char c) {
    char buffer[1] = {c};
    CharUpperBuffA(buffer, 1);
    return buffer[0];
}

bool SameTextIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() > 0x7FFFFFFF || b.size() > 0x7FFFFFFF) return false;
    if (a.empty() || b.empty()) return a.size() == b.size();
    return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

std::u16string AnsiToWide(std::string_view text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::u16string out(static_cast<size_t>(n), u'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), reinterpret_cast<wchar_t*>(out.data()), n);
    return out;
}

std::string WideToAnsi(std::u16string_view text) {
    if (text.empty()) return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int n = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

char LocaleDecimalSeparator() {
    if (const char c = decimalOverride.load(std::memory_order_relaxed)) return c;
    char buffer[8] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, sizeof buffer) > 1) return buffer[0];
    return '.';
}

void OverrideDecimalSeparator(char c) { decimalOverride.store(c, std::memory_order_relaxed); }

std::string LocaleTrueText() { return BoolText(VARIANT_TRUE); }
std::string LocaleFalseText() { return BoolText(VARIANT_FALSE); }

}  // namespace platform
