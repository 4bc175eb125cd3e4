// The active 8-bit (ANSI) code page and the few locale facts that text conversions need.
// Win32 asks the system (IsCharAlphaA, MultiByteToWideChar with CP_ACP, GetLocaleInfoA);
// the native build stands in with windows-1251 tables and the "C" locale's facts.
#pragma once
#include <string>
#include <string_view>

// <windows.h> maps these names to its A/W functions; ours are plain functions.
#ifdef IsCharAlpha
#undef IsCharAlpha
#endif
#ifdef IsCharAlphaNumeric
#undef IsCharAlphaNumeric
#endif
#ifdef CharUpper
#undef CharUpper
#endif

namespace platform {

// Letters and letters-or-digits of the active code page (IsCharAlphaA, IsCharAlphaNumericA).
bool IsCharAlpha(char c);
bool IsCharAlphaNumeric(char c);

// Upper case of one character in the active code page (CharUpperBuffA).
char CharUpper(char c);
// Equal ignoring letter case, by the locale's case-insensitive comparison.
bool SameTextIgnoreCase(std::string_view a, std::string_view b);

// ANSI code page <-> UTF-16. Characters without a mapping become "?" (to ANSI).
std::u16string AnsiToWide(std::string_view text);
std::string WideToAnsi(std::u16string_view text);

// Windows-1251 whatever the active code page is: the texts of the driver's interface are in it.
// One byte as Unicode (0 for 0x98, which has none); one character as a byte ("?" for none).
char16_t Windows1251ToUnicode(unsigned char c);
char UnicodeToWindows1251(char32_t u);
// Windows-1251 text as UTF-8, and UTF-8 as Windows-1251 (each character or invalid byte without
// a counterpart becomes "?").
std::string Windows1251ToUtf8(std::string_view text);
std::string Utf8ToWindows1251(std::string_view text);

// The decimal separator of the user's locale, read at each call (LOCALE_SDECIMAL; "." natively).
char LocaleDecimalSeparator();
// Makes LocaleDecimalSeparator return c (0 restores the locale's own). For tests.
void OverrideDecimalSeparator(char c);

// The locale's words for true and false as the OLE conversions write and accept them
// besides the English "True" and "False" (VarBstrFromBool with VAR_LOCALBOOL; natively the
// English words).
std::string LocaleTrueText();
std::string LocaleFalseText();

}  // namespace platform
