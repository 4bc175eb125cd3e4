#include "log/Log_Names.h"

namespace logname {

namespace {

void Put2(std::string& out, unsigned v) {
    out.push_back(static_cast<char>('0' + v / 10 % 10));
    out.push_back(static_cast<char>('0' + v % 10));
}

void Put4(std::string& out, unsigned v) {
    Put2(out, v / 100);
    Put2(out, v % 100);
}

std::string DateText(const platform::LocalTime& t) {
    std::string s;
    Put4(s, t.year);
    s.push_back('-');
    Put2(s, t.month);
    s.push_back('-');
    Put2(s, t.day);
    return s;
}

char Folded(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

NameParts SplitLogName(std::string_view fileName, bool slashSeparates) {
    const size_t cut = platform::FolderPartLength(fileName, slashSeparates);
    NameParts p;
    p.dir = std::string(fileName.substr(0, cut));
    p.file = std::string(fileName.substr(cut));
    size_t dot = p.file.rfind('.');
    if (dot != std::string::npos) p.ext = p.file.substr(dot);
    p.base = p.ext.empty() ? p.file : p.file.substr(0, p.file.find(p.ext));
    return p;
}

std::string UserTag(std::string_view userName) {
    auto blankOrControl = [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == '\x7f'; };
    size_t b = 0, e = userName.size();
    while (b < e && blankOrControl(userName[b])) ++b;
    while (e > b && blankOrControl(userName[e - 1])) --e;
    if (b == e) return {};
    return ".[" + std::string(userName.substr(b, e - b)) + "]";
}

std::string NumberText(int32_t n) {
    std::string s = std::to_string(n);
    if (n >= 0 && n < 10) s.insert(s.begin(), '0');
    return s;
}

std::string NumberedName(const NameParts& parts, const std::string& base, int32_t n) {
    return parts.dir + base + "." + NumberText(n) + parts.ext;
}

std::string DatedCopyName(const NameParts& parts, const std::string& base, const platform::LocalTime& t) {
    std::string stamp = DateText(t);
    stamp.push_back(' ');
    Put2(stamp, t.hour);
    stamp.push_back('-');
    Put2(stamp, t.minute);
    stamp.push_back('-');
    Put2(stamp, t.second);
    return parts.dir + base + "." + stamp + parts.ext;
}

std::string DailyName(const NameParts& parts, const std::string& base, const platform::LocalTime& t) {
    return parts.dir + base + "." + DateText(t) + parts.ext;
}

bool IsDailyFileOf(std::string_view name, std::string_view base) {
    static constexpr std::string_view kTail = ".log";
    if (name.size() != base.size() + 1 + 10 + kTail.size()) return false;
    for (size_t i = 0; i < base.size(); ++i)
        if (Folded(name[i]) != Folded(base[i])) return false;
    if (name[base.size()] != '.') return false;
    std::string_view tail = name.substr(name.size() - kTail.size());
    for (size_t i = 0; i < kTail.size(); ++i)
        if (Folded(tail[i]) != kTail[i]) return false;
    return true;
}

bool IsExpiredDailyFile(const platform::DirEntry& entry, std::string_view base, int64_t threshold) {
    constexpr uint32_t kCleanable = 0x3F;
    if (entry.lastWrite.year == 0) return false;  // the system gave no time: never judged old
    return (entry.attributes & ~kCleanable) == 0 && IsDailyFileOf(entry.name, base) &&
           LocalMilliseconds(entry.lastWrite) < threshold;
}

void AppendTimeStamp(std::string& s, const platform::LocalTime& t, std::string_view sep) {
    Put2(s, t.day);
    s.push_back('.');
    Put2(s, t.month);
    s.push_back('.');
    Put4(s, t.year);
    s.push_back(' ');
    Put2(s, t.hour);
    s.append(sep);
    Put2(s, t.minute);
    s.append(sep);
    Put2(s, t.second);
    s.push_back('.');
    s.push_back(static_cast<char>('0' + t.millisecond / 100 % 10));
    Put2(s, t.millisecond % 100);
    s.append("> ");
}

std::string TimeStamp(const platform::LocalTime& t, std::string_view sep) {
    std::string s;
    s.reserve(26 + 2 * sep.size());
    AppendTimeStamp(s, t, sep);
    return s;
}

int64_t LocalMilliseconds(const platform::LocalTime& t) {
    // Days from the civil date (proleptic Gregorian), counted from 1 March of the year 0.
    int64_t y = t.year, m = t.month;
    if (m <= 2) {
        y -= 1;
        m += 12;
    }
    const int64_t era = y / 400, yoe = y - era * 400;
    const int64_t doy = (153 * (m - 3) + 2) / 5 + t.day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = era * 146097 + doe;
    return ((days * 24 + t.hour) * 60 + t.minute) * 60000 + t.second * 1000LL + t.millisecond;
}

}  // namespace logname
