// Typed values: the library's fixed XML text forms (numbers, date-times, base64) and the
// general, locale-following conversions between value kinds.
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/CodePage.h"
#include "xml/XmlInternal.h"

namespace xml {

void RaiseXmlError(const std::string& message) { throw TXmlError(message); }

// ---- TaggedValue ----------------------------------------------------------------------------

namespace {

bool IsTextKind(uint16_t k) { return k == TaggedValue::vkText || k == TaggedValue::vkWideText; }

// The names the conversion messages give the kinds.
const char* KindName(uint16_t k) {
    switch (k) {
    case TaggedValue::vkEmpty: return "Empty";
    case TaggedValue::vkNull: return "Null";
    case TaggedValue::vkInt16: return "Smallint";
    case TaggedValue::vkInt32: return "Integer";
    case TaggedValue::vkFloat32: return "Single";
    case TaggedValue::vkFloat64: return "Double";
    case TaggedValue::vkCurrency: return "Currency";
    case TaggedValue::vkDateTime: return "Date";
    case TaggedValue::vkWideText: return "OleStr";
    case TaggedValue::vkBoolean: return "Boolean";
    case TaggedValue::vkInt8: return "ShortInt";
    case TaggedValue::vkUInt8: return "Byte";
    case TaggedValue::vkUInt16: return "Word";
    case TaggedValue::vkUInt32: return "LongWord";
    case TaggedValue::vkInt64: return "Int64";
    case TaggedValue::vkText: return "String";
    case TaggedValue::vkByteArray: return "Array Byte";
    default: return "Unknown";
    }
}

[[noreturn]] void CannotConvert(uint16_t from, uint16_t to) {
    RaiseXmlError(std::string("Could not convert variant of type (") + KindName(from) + ") into type (" +
                  KindName(to) + ")");
}

[[noreturn]] void Overflow(uint16_t from, uint16_t to) {
    RaiseXmlError(std::string("Overflow while converting variant of type (") + KindName(from) + ") into type (" +
                  KindName(to) + ")");
}

[[noreturn]] void WrongPayload() { RaiseXmlError("Ошибка чтения значения: некорректный тип."); }

}  // namespace

int64_t TaggedValue::IntPayload() const {
    if (!IsIntegerKind(kind_) && kind_ != vkCurrency) WrongPayload();
    return std::get<int64_t>(payload_);
}

double TaggedValue::FloatPayload() const {
    if (!IsFloatKind(kind_) && kind_ != vkDateTime) WrongPayload();
    return std::get<double>(payload_);
}

bool TaggedValue::BoolPayload() const {
    if (kind_ != vkBoolean) WrongPayload();
    return std::get<bool>(payload_);
}

const std::string& TaggedValue::TextPayload() const {
    if (kind_ != vkText) WrongPayload();
    return std::get<std::string>(payload_);
}

const std::u16string& TaggedValue::WidePayload() const {
    if (kind_ != vkWideText) WrongPayload();
    return std::get<std::u16string>(payload_);
}

const std::vector<uint8_t>& TaggedValue::BytesPayload() const {
    if (kind_ != vkByteArray) WrongPayload();
    return std::get<std::vector<uint8_t>>(payload_);
}

// ---- numbers in text ------------------------------------------------------------------------

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// General float text with 15 significant digits, "." as separator, exponent as in "1E20".
std::string GeneralFloatText(double x) {
    if (std::isnan(x)) return "NAN";
    if (std::isinf(x)) return x < 0 ? "-INF" : "INF";
    if (x == 0) return "0";
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, 15);
    std::string s(buf, res.ptr);
    const size_t e = s.find('e');
    if (e == std::string::npos) return s;
    // "1.5e-07" -> "1.5E-7", "1e+20" -> "1E20".
    std::string mantissa = s.substr(0, e);
    std::string_view exp(s.c_str() + e + 1);
    bool negative = false;
    if (!exp.empty() && (exp[0] == '+' || exp[0] == '-')) {
        negative = exp[0] == '-';
        exp.remove_prefix(1);
    }
    while (exp.size() > 1 && exp[0] == '0') exp.remove_prefix(1);
    return mantissa + "E" + (negative ? "-" : "") + std::string(exp);
}

std::string LocaleFloatText(double x) {
    std::string s = GeneralFloatText(x);
    const char sep = platform::LocaleDecimalSeparator();
    if (const size_t p = s.find('.'); p != std::string::npos) s[p] = sep;
    return s;
}

// The locale's number syntax: blanks, a sign, digits with the locale's separator and an
// optional exponent. False when the text is not such a number.
bool ParseLocaleNumber(std::string_view text, double& value) {
    const char sep = platform::LocaleDecimalSeparator();
    std::string_view s = TrimBlanks(text);
    std::string plain;
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        if (s[i] == '-') plain.push_back('-');
        ++i;
    }
    size_t digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') plain.push_back(s[i++]), ++digits;
    if (i < s.size() && s[i] == sep) {
        plain.push_back('.');
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') plain.push_back(s[i++]), ++digits;
    }
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        plain.push_back('e');
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) plain.push_back(s[i++]);
        size_t expDigits = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') plain.push_back(s[i++]), ++expDigits;
        if (expDigits == 0) return false;
    }
    if (i != s.size()) return false;
    const auto res = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (res.ec == std::errc::result_out_of_range) {
        value = plain[0] == '-' ? -HUGE_VAL : HUGE_VAL;
        return true;
    }
    return res.ec == std::errc() && res.ptr == plain.data() + plain.size();
}

// The runtime's integer syntax: leading blanks, a sign, decimal digits or hexadecimal digits
// after "$", "x", "X", "0x" or "0X" (at most 32 bits, the top bit giving a negative value).
bool ParseRuntimeInteger(std::string_view s, int32_t& value) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    bool hex = false;
    if (i < s.size() && (s[i] == '$' || s[i] == 'x' || s[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i == s.size()) return false;
    uint64_t v = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else return false;
        v = v * (hex ? 16 : 10) + static_cast<uint64_t>(d);
        if (v > (hex ? 0xFFFFFFFFull : 0x80000000ull)) return false;
    }
    if (hex) {
        const auto u = static_cast<uint32_t>(v);
        value = static_cast<int32_t>(negative ? 0u - u : u);
        return true;
    }
    if (!negative && v > 0x7FFFFFFFull) return false;
    value = negative ? static_cast<int32_t>(-static_cast<int64_t>(v)) : static_cast<int32_t>(v);
    return true;
}

// The boolean words: the locale's and the English ones, in any letter case.
bool ParseBooleanWord(std::string_view text, bool& value) {
    const std::string_view s = TrimBlanks(text);
    if (platform::SameTextIgnoreCase(s, "True") || platform::SameTextIgnoreCase(s, platform::LocaleTrueText())) {
        value = true;
        return true;
    }
    if (platform::SameTextIgnoreCase(s, "False") || platform::SameTextIgnoreCase(s, platform::LocaleFalseText())) {
        value = false;
        return true;
    }
    return false;
}

// Round half to even, as the OLE conversions do; false when outside the 32-bit range.
bool RoundToInt32(double x, int32_t& out) {
    if (std::isnan(x)) return false;
    const double r = std::nearbyint(x);  // default rounding mode: to nearest, ties to even
    if (r < -2147483648.0 || r > 2147483647.0) return false;
    out = static_cast<int32_t>(r);
    return true;
}

std::string TextOf(const TaggedValue& v) {
    return v.KindCode() == TaggedValue::vkText ? v.TextPayload() : platform::WideToAnsi(v.WidePayload());
}

}  // namespace

// ---- the library's own forms ----------------------------------------------------------------

std::string FloatToXmlText(double x) {
    // Formatted as the locale would, then its separator put back to ".": that is exactly the
    // general text with a point.
    return GeneralFloatText(x);
}

double XmlTextToFloat(std::string_view text) {
    std::string s(text);
    const char sep = platform::LocaleDecimalSeparator();
    auto replaceFirst = [&s](char from, char to) {
        const size_t p = s.find(from);
        if (p == std::string::npos) return false;
        s[p] = to;
        return true;
    };
    if (sep == '.') {
        replaceFirst(',', '.');
    } else if (sep == ',') {
        replaceFirst('.', ',');
    } else if (!replaceFirst(',', sep)) {
        replaceFirst('.', sep);
    }
    double value;
    if (!ParseLocaleNumber(s, value)) RaiseXmlError("'" + s + "' is not a valid floating point value");
    return value;
}

namespace {

// Days from 1899-12-30 for a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 + 25569;  // 1970-01-01 is day 25569
}

void CivilFromDays(int64_t days, int& year, int& month, int& day) {
    const int64_t z = days - 25569 + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

bool TryEncodeDateTime(int64_t y, int64_t mo, int64_t d, int64_t h, int64_t mi, int64_t s, int64_t ms,
                       TDateTime& out) {
    if (y < 1 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(static_cast<int>(y), static_cast<int>(mo)))
        return false;
    if (h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59 || ms < 0 || ms > 999) return false;
    const double days = static_cast<double>(DaysFromCivil(y, mo, d));
    const double time = static_cast<double>(((h * 60 + mi) * 60 + s) * 1000 + ms) / 86400000.0;
    // Before 1899-12-30 the fraction still counts forward into the day: -1.25 is 1899-12-29 06:00.
    out = days < 0 ? days - time : days + time;
    return true;
}

}  // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond) {
    TDateTime result;
    if (!TryEncodeDateTime(year, month, day, hour, minute, second, millisecond, result))
        RaiseXmlError("Invalid argument to date encode");
    return result;
}

TDateTimeParts DecodeDateTime(TDateTime d) {
    TDateTimeParts p{};
    if (!std::isfinite(d) || std::fabs(d) > 1e9) return p;
    int64_t days = static_cast<int64_t>(std::trunc(d));
    int64_t ms = std::llround(std::fabs(d - std::trunc(d)) * 86400000.0);
    if (ms >= 86400000) {  // rounding reached the next midnight
        ms -= 86400000;
        days += d < 0 ? -1 : 1;
    }
    CivilFromDays(days, p.year, p.month, p.day);
    p.hour = static_cast<int>(ms / 3600000);
    p.minute = static_cast<int>(ms / 60000 % 60);
    p.second = static_cast<int>(ms / 1000 % 60);
    p.millisecond = static_cast<int>(ms % 1000);
    return p;
}

std::string DateTimeToXmlText(TDateTime d) {
    const TDateTimeParts p = DecodeDateTime(d);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.4d-%.2d-%.2dT%.2d-%.2d-%.2d", p.year, p.month, p.day, p.hour, p.minute, p.second);
    return buf;
}

TDateTime XmlTextToDateTime(std::string_view text) {
    static const char separators[6] = {'-', '-', 'T', '-', '-', '-'};
    int64_t fields[6] = {};
    size_t p = 0;
    for (int f = 0; f < 6; ++f) {
        int64_t v = 0;
        while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
            if (v < 100000000) v = v * 10 + (text[p] - '0');  // larger is invalid anyway
            ++p;
        }
        fields[f] = v;
        if (p < text.size() && text[p] == separators[f]) ++p;
        else p = text.size();
    }
    TDateTime result;
    if (!TryEncodeDateTime(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], 0, result))
        RaiseXmlError("''" + std::string(text) + "'' is not a valid date and time");
    return result;
}

namespace {
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

std::string BytesToBase64(const void* bytes, int32_t count, int32_t lineLength) {
    if (count <= 0 || bytes == nullptr) return {};
    const auto* b = static_cast<const unsigned char*>(bytes);
    const size_t n = static_cast<size_t>(count);
    std::string encoded(4 * ((n + 2) / 3), '\0');
    char* o = encoded.data();
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const uint32_t v = (uint32_t{b[i]} << 16) | (uint32_t{b[i + 1]} << 8) | b[i + 2];
        *o++ = kBase64[v >> 18];
        *o++ = kBase64[(v >> 12) & 63];
        *o++ = kBase64[(v >> 6) & 63];
        *o++ = kBase64[v & 63];
    }
    if (n - i == 1) {
        const uint32_t v = uint32_t{b[i]} << 16;
        *o++ = kBase64[v >> 18];
        *o++ = kBase64[(v >> 12) & 63];
        *o++ = '=';
        *o++ = '=';
    } else if (n - i == 2) {
        const uint32_t v = (uint32_t{b[i]} << 16) | (uint32_t{b[i + 1]} << 8);
        *o++ = kBase64[v >> 18];
        *o++ = kBase64[(v >> 12) & 63];
        *o++ = kBase64[(v >> 6) & 63];
        *o++ = '=';
    }
    if (lineLength <= 0 || encoded.size() <= static_cast<size_t>(lineLength)) return encoded;
    const size_t L = static_cast<size_t>(lineLength);
    std::string lines;
    lines.reserve(encoded.size() + 2 * (encoded.size() / L));
    for (size_t p = 0; p < encoded.size(); p += L) {
        if (p != 0) lines += "\r\n";
        lines.append(encoded, p, L);
    }
    return lines;
}

std::string Base64ToBytes(std::string_view text) {
    std::string s;
    s.reserve(text.size());
    for (char c : text)
        if (!IsBlank(c)) s.push_back(c);
    const size_t len = s.size();
    if (len <= 3) return {};
    size_t count = 3 * ((len + 3) / 4);
    if (s[len - 2] == '=') count -= 2;
    else if (s[len - 1] == '=') count -= 1;
    static const auto decode = [] {
        std::array<uint8_t, 256> t{};
        for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kBase64[i])] = static_cast<uint8_t>(i);
        return t;
    }();
    std::string out;
    out.reserve(count);
    for (size_t i = 0; i < len && out.size() < count; i += 4) {
        char c[4];
        for (int k = 0; k < 4; ++k) c[k] = i + k < len ? s[i + k] : 'A';  // a short last group counts as zeros
        const uint32_t v = (uint32_t{decode[static_cast<unsigned char>(c[0])]} << 18) |
                           (uint32_t{decode[static_cast<unsigned char>(c[1])]} << 12) |
                           (uint32_t{decode[static_cast<unsigned char>(c[2])]} << 6) |
                           decode[static_cast<unsigned char>(c[3])];
        const int groupBytes = c[2] == '=' ? 1 : c[3] == '=' ? 2 : 3;
        const char bytes[3] = {static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
        for (int k = 0; k < groupBytes && out.size() < count; ++k) out.push_back(bytes[k]);
    }
    return out;
}

std::string OtherValueXmlText(const TaggedValue& value) {
    switch (value.KindCode()) {
    case TaggedValue::vkNull: return "{{null}}";
    case TaggedValue::vkFloat32: case TaggedValue::vkFloat64: return FloatToXmlText(value.FloatPayload());
    case TaggedValue::vkCurrency:
        return FloatToXmlText(static_cast<double>(static_cast<long double>(value.IntPayload()) / 10000.0L));
    case TaggedValue::vkDateTime: return DateTimeToXmlText(value.FloatPayload());
    case TaggedValue::vkWideText: return platform::WideToAnsi(value.WidePayload());
    case TaggedValue::vkByteArray: {
        const auto& bytes = value.BytesPayload();
        return BytesToBase64(bytes.data(), static_cast<int32_t>(bytes.size()), 0);
    }
    default: return ValueAsText(value);
    }
}

std::string ValueToXmlText(const TaggedValue& value) {
    TValueTextRoom room;
    const std::string_view text = ValueXmlText(value, room);
    return text.data() == room.text.data() ? std::move(room.text) : std::string(text);
}

// ---- general conversions --------------------------------------------------------------------

namespace {

// Locale-independent date and time text: "YYYY-MM-DD HH:NN:SS", the time left out at
// midnight and the date left out on day 0, as the OLE conversion leaves them out.
std::string GeneralDateText(TDateTime d) {
    const TDateTimeParts p = DecodeDateTime(d);
    char buf[64];
    const bool hasTime = p.hour || p.minute || p.second;
    if (std::trunc(d) == 0 && hasTime)
        std::snprintf(buf, sizeof buf, "%.2d:%.2d:%.2d", p.hour, p.minute, p.second);
    else if (hasTime)
        std::snprintf(buf, sizeof buf, "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", p.year, p.month, p.day, p.hour, p.minute,
                      p.second);
    else
        std::snprintf(buf, sizeof buf, "%.4d-%.2d-%.2d", p.year, p.month, p.day);
    return buf;
}

// Reads "YYYY-MM-DD", "DD.MM.YYYY" or the XML form, each optionally followed by a time
// "HH:NN[:SS]"; or a time alone.
bool ParseGeneralDate(std::string_view text, TDateTime& out) {
    const std::string_view s = TrimBlanks(text);
    size_t p = 0;
    auto number = [&](int64_t& v) {
        const size_t start = p;
        v = 0;
        while (p < s.size() && s[p] >= '0' && s[p] <= '9' && p - start < 9) v = v * 10 + (s[p++] - '0');
        return p > start;
    };
    auto accept = [&](char c) {
        if (p < s.size() && s[p] == c) {
            ++p;
            return true;
        }
        return false;
    };
    int64_t a, b, c, h = 0, mi = 0, sec = 0;
    bool hasDate = false;
    int64_t y = 1899, mo = 12, d = 30;
    const size_t save = p;
    if (number(a) && (accept('-') || accept('.'))) {
        const char sep = s[p - 1];
        if (!number(b) || !accept(sep) || !number(c)) return false;
        if (sep == '-') y = a, mo = b, d = c;
        else d = a, mo = b, y = c;
        hasDate = true;
        if (p < s.size() && (s[p] == ' ' || s[p] == 'T')) ++p;
    } else {
        p = save;
    }
    if (p < s.size()) {
        while (p < s.size() && s[p] == ' ') ++p;
        if (!number(h) || !accept(':') || !number(mi)) return false;
        if (accept(':') && !number(sec)) return false;
    }
    if (p != s.size()) return false;
    if (hasDate) return TryEncodeDateTime(y, mo, d, h, mi, sec, 0, out);
    if (p == 0 || h > 23 || mi > 59 || sec > 59) return false;
    out = static_cast<double>((h * 60 + mi) * 60 + sec) / 86400.0;
    return true;
}

}  // namespace

std::string ValueAsText(const TaggedValue& v) {
    const uint16_t k = v.KindCode();
    switch (k) {
    case TaggedValue::vkEmpty: return {};
    case TaggedValue::vkFloat32: case TaggedValue::vkFloat64: return LocaleFloatText(v.FloatPayload());
    case TaggedValue::vkCurrency:
        return LocaleFloatText(static_cast<double>(static_cast<long double>(v.IntPayload()) / 10000.0L));
    case TaggedValue::vkDateTime: return GeneralDateText(v.FloatPayload());
    case TaggedValue::vkBoolean: return v.BoolPayload() ? "True" : "False";
    case TaggedValue::vkText: return v.TextPayload();
    case TaggedValue::vkWideText: return platform::WideToAnsi(v.WidePayload());
    default:
        if (IsIntegerKind(k)) return std::to_string(v.IntPayload());
        CannotConvert(k, TaggedValue::vkText);
    }
}

int32_t ValueAsInt32(const TaggedValue& v) {
    const uint16_t k = v.KindCode();
    int32_t result;
    switch (k) {
    case TaggedValue::vkEmpty: return 0;
    case TaggedValue::vkBoolean: return v.BoolPayload() ? -1 : 0;
    case TaggedValue::vkFloat32: case TaggedValue::vkFloat64: case TaggedValue::vkDateTime:
        if (!RoundToInt32(v.FloatPayload(), result)) Overflow(k, TaggedValue::vkInt32);
        return result;
    case TaggedValue::vkCurrency:
        if (!RoundToInt32(static_cast<double>(v.IntPayload()) / 10000.0, result)) Overflow(k, TaggedValue::vkInt32);
        return result;
    case TaggedValue::vkText: case TaggedValue::vkWideText: {
        const std::string text = TextOf(v);
        double number;
        if (ParseLocaleNumber(text, number)) {
            if (!RoundToInt32(number, result)) Overflow(k, TaggedValue::vkInt32);
            return result;
        }
        if (ParseRuntimeInteger(text, result)) return result;
        bool flag;
        if (ParseBooleanWord(text, flag)) return flag ? 1 : 0;
        CannotConvert(k, TaggedValue::vkInt32);
    }
    default:
        if (IsIntegerKind(k)) {
            const int64_t x = v.IntPayload();
            if (x < INT32_MIN || x > INT32_MAX) Overflow(k, TaggedValue::vkInt32);
            return static_cast<int32_t>(x);
        }
        CannotConvert(k, TaggedValue::vkInt32);
    }
}

bool ValueAsBoolean(const TaggedValue& v) {
    const uint16_t k = v.KindCode();
    switch (k) {
    case TaggedValue::vkEmpty: return false;
    case TaggedValue::vkBoolean: return v.BoolPayload();
    case TaggedValue::vkFloat32: case TaggedValue::vkFloat64: case TaggedValue::vkDateTime:
        return v.FloatPayload() != 0;
    case TaggedValue::vkCurrency: return v.IntPayload() != 0;
    case TaggedValue::vkText: case TaggedValue::vkWideText: {
        const std::string text = TextOf(v);
        bool flag;
        if (ParseBooleanWord(text, flag)) return flag;
        double number;
        if (ParseLocaleNumber(text, number)) return number != 0;
        int32_t integer;
        if (ParseRuntimeInteger(text, integer)) return integer != 0;
        CannotConvert(k, TaggedValue::vkBoolean);
    }
    default:
        if (IsIntegerKind(k)) return v.IntPayload() != 0;
        CannotConvert(k, TaggedValue::vkBoolean);
    }
}

double ValueAsFloat(const TaggedValue& v) {
    const uint16_t k = v.KindCode();
    switch (k) {
    case TaggedValue::vkEmpty: return 0;
    case TaggedValue::vkBoolean: return v.BoolPayload() ? -1 : 0;
    case TaggedValue::vkFloat32: case TaggedValue::vkFloat64: case TaggedValue::vkDateTime: return v.FloatPayload();
    case TaggedValue::vkCurrency: return static_cast<double>(static_cast<long double>(v.IntPayload()) / 10000.0L);
    case TaggedValue::vkText: case TaggedValue::vkWideText: {
        double number;
        if (ParseLocaleNumber(TextOf(v), number)) return number;
        CannotConvert(k, TaggedValue::vkFloat64);
    }
    default:
        if (IsIntegerKind(k)) return static_cast<double>(v.IntPayload());
        CannotConvert(k, TaggedValue::vkFloat64);
    }
}

TDateTime ValueAsDateTime(const TaggedValue& v) {
    const uint16_t k = v.KindCode();
    if (IsTextKind(k)) {
        TDateTime d;
        if (ParseGeneralDate(TextOf(v), d)) return d;
        CannotConvert(k, TaggedValue::vkDateTime);
    }
    if (k == TaggedValue::vkNull || k == TaggedValue::vkByteArray) CannotConvert(k, TaggedValue::vkDateTime);
    return ValueAsFloat(v);
}

bool SameValue(const TaggedValue& a, const TaggedValue& b) {
    const uint16_t ka = a.KindCode(), kb = b.KindCode();
    if (ka == TaggedValue::vkEmpty) return kb == TaggedValue::vkEmpty;
    if (ka == TaggedValue::vkNull) return kb == TaggedValue::vkNull;
    if (kb == TaggedValue::vkEmpty || kb == TaggedValue::vkNull) return false;
    if (ka == TaggedValue::vkByteArray || kb == TaggedValue::vkByteArray) {
        if (ka != kb) CannotConvert(ka == TaggedValue::vkByteArray ? kb : ka, TaggedValue::vkByteArray);
        return a.BytesPayload() == b.BytesPayload();
    }
    if (IsTextKind(ka) && IsTextKind(kb)) return TextOf(a) == TextOf(b);
    if (ka == TaggedValue::vkBoolean && kb == TaggedValue::vkBoolean) return a.BoolPayload() == b.BoolPayload();
    if (IsIntegerKind(ka) && IsIntegerKind(kb)) return a.IntPayload() == b.IntPayload();
    // A boolean against a text compares as booleans; everything else as numbers.
    if ((ka == TaggedValue::vkBoolean && IsTextKind(kb)) || (kb == TaggedValue::vkBoolean && IsTextKind(ka)))
        return ValueAsBoolean(a) == ValueAsBoolean(b);
    return ValueAsFloat(a) == ValueAsFloat(b);
}

}  // namespace xml
