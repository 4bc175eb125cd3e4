// How the log forms its file names and its time stamp: pure text functions, so that the rules
// are the same on both sides and can be checked without touching a disk.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Files.h"

namespace logname {

// The pieces every name is built from: folder part P (up to and including the last '\' or ':',
// '/' too where it separates), file part N, extension E (from the last point of N), and the base
// B (N cut before the first occurrence of E, so "a.log.log" has the base "a").
struct NameParts {
    std::string dir;
    std::string file;
    std::string ext;
    std::string base;
};
NameParts SplitLogName(std::string_view fileName, bool slashSeparates = platform::SlashSeparatesFolders());

// ".[user]" for the user name trimmed of blanks and control characters; empty when nothing is left.
std::string UserTag(std::string_view userName);

// n in decimal, at least two digits: 01 ... 09, 10 ... 99, 100 ...
std::string NumberText(int32_t n);

// base is B with the user tag already appended where there is one.
std::string NumberedName(const NameParts& parts, const std::string& base, int32_t n);
std::string DatedCopyName(const NameParts& parts, const std::string& base, const platform::LocalTime& t);
std::string DailyName(const NameParts& parts, const std::string& base, const platform::LocalTime& t);

// True for base + ".??????????.log", any letter case, exact length.
bool IsDailyFileOf(std::string_view name, std::string_view base);

// Whether the daily clean-up removes a folder entry: only attribute bits within read-only,
// hidden, system, volume label, folder and archive, a daily name of this base, and a last write
// earlier than the threshold (both in LocalMilliseconds).
bool IsExpiredDailyFile(const platform::DirEntry& entry, std::string_view base, int64_t threshold);

// "DD.MM.YYYY HH:NN:SS.ZZZ> " with the regional time separator in place of each colon.
std::string TimeStamp(const platform::LocalTime& t, std::string_view timeSeparator);
void AppendTimeStamp(std::string& out, const platform::LocalTime& t, std::string_view timeSeparator);

// Milliseconds of local wall-clock time from a fixed origin: orders times and measures spans.
int64_t LocalMilliseconds(const platform::LocalTime& t);

}  // namespace logname
