// File names, user tag, clean-up choice and time stamp of the log, as pure text rules.
#include <gtest/gtest.h>

#include "log/Log_Names.h"

using namespace logname;

namespace {

platform::LocalTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    platform::LocalTime t;
    t.year = uint16_t(y), t.month = uint16_t(mo), t.day = uint16_t(d);
    t.hour = uint16_t(h), t.minute = uint16_t(mi), t.second = uint16_t(s), t.millisecond = uint16_t(ms);
    return t;
}

struct SplitCase {
    const char* fileName;
    bool slash;
    const char *dir, *file, *ext, *base;
};

TEST(LogNames, SplitIntoFolderFileExtensionAndBase) {
    const SplitCase cases[] = {
        {"D:\\Logs\\kra_MCR_Serial.log", false, "D:\\Logs\\", "kra_MCR_Serial.log", ".log", "kra_MCR_Serial"},
        {"C:\\Logskra_MCR_Serial.log", false, "C:\\", "Logskra_MCR_Serial.log", ".log", "Logskra_MCR_Serial"},
        {"C:kra.log", false, "C:", "kra.log", ".log", "kra"},
        {"a.log.log", false, "", "a.log.log", ".log", "a"},      // cut at the first occurrence
        {"x.logs.log", false, "", "x.logs.log", ".log", "x"},    // ".log" also begins ".logs"
        {"D:\\Logs.d\\kra", false, "D:\\Logs.d\\", "kra", "", "kra"},  // a point in the folder only
        {"kra.", false, "", "kra.", ".", "kra"},
        {"/var/log/kra.log", true, "/var/log/", "kra.log", ".log", "kra"},
        {"/var/log/kra.log", false, "", "/var/log/kra.log", ".log", "/var/log/kra"},
        {"/tmp/x\\y:kra.txt", true, "/tmp/x\\y:", "kra.txt", ".txt", "kra"},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.fileName);
        const NameParts p = SplitLogName(c.fileName, c.slash);
        EXPECT_EQ(p.dir, c.dir);
        EXPECT_EQ(p.file, c.file);
        EXPECT_EQ(p.ext, c.ext);
        EXPECT_EQ(p.base, c.base);
    }
}

TEST(LogNames, UserTagIsTrimmedAndEmptyForNoName) {
    EXPECT_EQ(UserTag("ivanov"), ".[ivanov]");
    EXPECT_EQ(UserTag(" \tivanov \r\n"), ".[ivanov]");
    EXPECT_EQ(UserTag("\x01Иван Петров\x7f"), ".[Иван Петров]");
    EXPECT_EQ(UserTag(""), "");
    EXPECT_EQ(UserTag(" \t\x01 "), "");
}

TEST(LogNames, NumbersHaveAtLeastTwoDigits) {
    const std::pair<int, const char*> cases[] = {{1, "01"}, {9, "09"}, {10, "10"}, {12, "12"},
                                                 {99, "99"}, {100, "100"}, {1234, "1234"}};
    for (auto [n, text] : cases) EXPECT_EQ(NumberText(n), text) << n;
}

struct NameCase {
    int mode;  // 0 dated copy, 1 numbered, 2 daily
    const char* fileName;
    const char* tag;
    int n;
    const char* expected;
};

TEST(LogNames, NamesOfEveryMode) {
    const platform::LocalTime t = At(2024, 3, 5, 14, 7, 9, 42);
    const NameCase cases[] = {
        {0, "D:\\Logs\\kra_MCR_Serial.log", "", 0, "D:\\Logs\\kra_MCR_Serial.2024-03-05 14-07-09.log"},
        {0, "D:\\Logs\\kra_MCR_Serial.log", "ivanov", 0, "D:\\Logs\\kra_MCR_Serial.[ivanov].2024-03-05 14-07-09.log"},
        {1, "D:\\Logs\\kra_MCR_Serial.log", "", 1, "D:\\Logs\\kra_MCR_Serial.01.log"},
        {1, "D:\\Logs\\kra_MCR_Serial.log", "", 5, "D:\\Logs\\kra_MCR_Serial.05.log"},
        {1, "D:\\Logs\\kra_MCR_Serial.log", "ivanov", 1, "D:\\Logs\\kra_MCR_Serial.[ivanov].01.log"},
        {1, "D:\\Logs\\kra.log", "", 9, "D:\\Logs\\kra.09.log"},
        {1, "D:\\Logs\\kra.log", "", 10, "D:\\Logs\\kra.10.log"},
        {1, "D:\\Logs\\kra.log", "", 100, "D:\\Logs\\kra.100.log"},
        {1, "C:\\Logskra_MCR_Serial.log", "", 1, "C:\\Logskra_MCR_Serial.01.log"},
        {1, "a.log.log", "", 2, "a.02.log"},
        {1, "D:\\Logs\\kra", "", 3, "D:\\Logs\\kra.03"},
        {2, "D:\\Logs\\kra_MCR_Serial.log", "", 0, "D:\\Logs\\kra_MCR_Serial.2024-03-05.log"},
        {2, "D:\\Logs\\kra_MCR_Serial.log", "ivanov", 0, "D:\\Logs\\kra_MCR_Serial.[ivanov].2024-03-05.log"},
        {2, "D:\\Logs\\kra.txt", "", 0, "D:\\Logs\\kra.2024-03-05.txt"},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.expected);
        const NameParts p = SplitLogName(c.fileName, false);
        const std::string base = p.base + UserTag(c.tag);
        const std::string name = c.mode == 0   ? DatedCopyName(p, base, t)
                                 : c.mode == 1 ? NumberedName(p, base, c.n)
                                               : DailyName(p, base, t);
        EXPECT_EQ(name, c.expected);
    }
}

TEST(LogNames, DailyFilePatternHasExactLengthAndIgnoresCase) {
    const std::pair<const char*, bool> cases[] = {
        {"kra_MCR_Serial.2024-03-05.log", true},
        {"KRA_mcr_SERIAL.2024-03-05.LOG", true},
        {"kra_MCR_Serial.abcdefghij.log", true},     // any ten characters
        {"kra_MCR_Serial.2024-03-5.log", false},     // nine
        {"kra_MCR_Serial.2024-03-055.log", false},   // eleven
        {"kra_MCR_Serial_2024-03-05.log", false},    // no point after the base
        {"kra_MCR_Serial.2024-03-05.txt", false},
        {"kra_MCR_Serial.2024-03-05.logx", false},
        {"xkra_MCR_Serial.2024-03-0.log", false},    // right length, wrong base
        {"kra_MCR_Serial.[ivanov].2024-03-05.log", false},  // another user's files are not ours
    };
    for (auto [name, matches] : cases) EXPECT_EQ(IsDailyFileOf(name, "kra_MCR_Serial"), matches) << name;
    EXPECT_TRUE(IsDailyFileOf("kra.[Ivanov].2024-03-05.log", "kra.[ivanov]"));
}

TEST(LogNames, CleanUpTakesOnlyOldDailyFilesWithinTheAttributeMask) {
    const int64_t threshold = LocalMilliseconds(At(2024, 3, 5, 12, 0));
    const platform::LocalTime old = At(2024, 3, 5, 11, 59, 59, 999), edge = At(2024, 3, 5, 12, 0);
    const struct {
        const char* name;
        uint32_t attributes;
        platform::LocalTime written;
        bool expired;
    } cases[] = {
        {"kra.2024-02-01.log", 0x20, old, true},
        {"kra.2024-02-01.log", 0x00, old, true},
        {"kra.2024-02-01.log", 0x3F, old, true},    // read-only, hidden, system, volume, folder, archive
        {"kra.2024-02-01.log", 0x80, old, false},   // normal
        {"kra.2024-02-01.log", 0x100, old, false},  // temporary
        {"kra.2024-02-01.log", 0x2020, old, false}, // not content-indexed
        {"kra.2024-02-01.log", 0x20, edge, false},  // at the threshold it stays
        {"kra.2024-02-1.log", 0x20, old, false},
        {"kra.2024-02-01.log", 0x20, platform::LocalTime{}, false},  // no time known
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.name << " attributes " << c.attributes);
        platform::DirEntry e;
        e.name = c.name;
        e.attributes = c.attributes;
        e.lastWrite = c.written;
        EXPECT_EQ(IsExpiredDailyFile(e, "kra", threshold), c.expired);
    }
}

TEST(LogNames, TimeStampPattern) {
    EXPECT_EQ(TimeStamp(At(2024, 3, 5, 14, 7, 9, 42), ":"), "05.03.2024 14:07:09.042> ");
    EXPECT_EQ(TimeStamp(At(2031, 12, 31, 0, 0, 0, 999), ":"), "31.12.2031 00:00:00.999> ");
    EXPECT_EQ(TimeStamp(At(2024, 3, 5, 23, 59, 5, 7), "."), "05.03.2024 23.59.05.007> ");  // regional separator
}

TEST(LogNames, LocalMillisecondsSpanMonthsYearsAndLeapDays) {
    constexpr int64_t day = 86400000;
    EXPECT_EQ(LocalMilliseconds(At(2024, 3, 1)) - LocalMilliseconds(At(2024, 2, 28)), 2 * day);
    EXPECT_EQ(LocalMilliseconds(At(2023, 3, 1)) - LocalMilliseconds(At(2023, 2, 28)), 1 * day);
    EXPECT_EQ(LocalMilliseconds(At(2100, 3, 1)) - LocalMilliseconds(At(2100, 2, 28)), 1 * day);
    EXPECT_EQ(LocalMilliseconds(At(2025, 1, 1)) - LocalMilliseconds(At(2024, 12, 31, 23, 59, 59, 999)), 1);
    EXPECT_EQ(LocalMilliseconds(At(2024, 3, 12, 12, 1)) - LocalMilliseconds(At(2024, 3, 5, 12, 0)), 7 * day + 60000);
}

}  // namespace
