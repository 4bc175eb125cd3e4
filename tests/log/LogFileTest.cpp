// The log writer on real files: line format, level filter, the three naming and rotation
// schemes, and logs that cannot be written.
#include "log/Log_File.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "log/Log_Names.h"
#include "tests/log/LogTestFolder.h"

namespace {

using namespace std::chrono_literals;

// A line of exactly 100 characters (102 bytes with CR LF) that tells its number.
std::string Numbered(int i) {
    std::string s = "line " + std::to_string(i) + " ";
    s.resize(100, '.');
    return s;
}

std::string Lines(int from, int to) {  // lines from..to-1 as written
    std::string s;
    for (int i = from; i < to; ++i) s += Numbered(i) + "\r\n";
    return s;
}

using LogFile = LogFolder;

TEST_F(LogFile, LevelFilterLineFormatAndVisibleAtOnce) {
    TLogFile log(At("kra.log"), 5120, 1, 1, 5, false);
    ASSERT_TRUE(log.IsOpen());
    log.Log(0, "zero", false);
    log.Log(1, "one", false);
    log.Log(10, "ten", false);
    log.Log(-7, "negative", false);
    log.Log(2, "two", true);
    EXPECT_EQ(Read(At("kra.01.log")), "zero\r\none\r\nnegative\r\n");  // read while the log is open

    log.Log(1, "", true);
    log.Log(1, "\r\n\r\n", false);
    log.Log(1, "Считыватель", true);
    const std::string text = Read(At("kra.01.log"));
    const std::string head = "zero\r\none\r\nnegative\r\n";
    ASSERT_EQ(text.substr(0, head.size()), head);
    std::smatch m;
    const std::string rest = text.substr(head.size());
    ASSERT_TRUE(std::regex_match(rest, m, std::regex("(" + std::string(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\.\d{3}> )") +
                                                     ")\r\n\r\n\r\n\r\n" + "(.{25})" + "Считыватель\r\n")))
        << rest;
    EXPECT_TRUE(std::regex_match(m[2].str(), StampPattern()));
    EXPECT_EQ(Names(), (std::set<std::string>{"kra.01.log"}));
}

TEST_F(LogFile, StampIsLocalTimeNow) {
    TLogFile log(At("kra.log"), 5120, 1, 0, 5, false);
    const platform::LocalTime before = platform::LocalNow();
    log.Log(1, "x", true);
    const platform::LocalTime after = platform::LocalNow();
    const std::string text = Read(At("kra.log"));
    ASSERT_EQ(text.size(), 25u + 3u);
    const int64_t stamped = logname::LocalMilliseconds(platform::LocalTime{
        uint16_t(std::stoi(text.substr(6, 4))), uint16_t(std::stoi(text.substr(3, 2))), uint16_t(std::stoi(text.substr(0, 2))),
        uint16_t(std::stoi(text.substr(11, 2))), uint16_t(std::stoi(text.substr(14, 2))), uint16_t(std::stoi(text.substr(17, 2))),
        uint16_t(std::stoi(text.substr(20, 3)))});
    EXPECT_LE(logname::LocalMilliseconds(before), stamped);
    EXPECT_LE(stamped, logname::LocalMilliseconds(after));
}

class NumberedRotation : public LogFolder, public ::testing::WithParamInterface<int> {};

// 1 KB holds ten lines of 102 bytes; the eleventh reaches the limit and rotates.
TEST_P(NumberedRotation, EveryFileMovesUpAndTheOldestGoes) {
    const int count = GetParam(), perFile = 11, total = perFile * (count + 2) + 3;
    {
        TLogFile log(At("kra.log"), 1, 1, 1, count, false);
        for (int i = 0; i < total; ++i) log.Log(1, Numbered(i), false);
    }
    std::set<std::string> expected;
    for (int n = 1; n <= count; ++n) expected.insert("kra." + logname::NumberText(n) + ".log");
    EXPECT_EQ(Names(), expected);
    const int full = total / perFile;  // rotations so far
    EXPECT_EQ(Read(At("kra.01.log")), Lines(full * perFile, total));
    for (int n = 2; n <= count; ++n) {
        const int chunk = full - (n - 1);
        SCOPED_TRACE(n);
        EXPECT_EQ(Read(At("kra." + logname::NumberText(n) + ".log")), Lines(chunk * perFile, (chunk + 1) * perFile));
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, NumberedRotation, ::testing::Values(5, 1, 12));

TEST_F(LogFile, ZeroLimitRotatesAtOpenAndAfterEveryLine) {
    for (int32_t maxSizeKB : {0, 4194304}) {  // 4194304 KB is 2^32 bytes: the limit wraps to 0
        SCOPED_TRACE(maxSizeKB);
        fs::remove_all(folder);
        fs::create_directories(folder);
        TLogFile log(At("kra.log"), maxSizeKB, 1, 1, 3, false);
        EXPECT_EQ(Names(), (std::set<std::string>{"kra.01.log", "kra.02.log"}));  // the open rotated at once
        for (const char* line : {"a", "b", "c", "d"}) log.Log(1, line, false);
        EXPECT_EQ(Names(), (std::set<std::string>{"kra.01.log", "kra.02.log", "kra.03.log"}));
        EXPECT_EQ(Read(At("kra.01.log")), "");
        EXPECT_EQ(Read(At("kra.02.log")), "d\r\n");
        EXPECT_EQ(Read(At("kra.03.log")), "c\r\n");
    }
}

TEST_F(LogFile, StartAppendsToTheCurrentFileOrRotatesAFullOne) {
    Write(At("kra.01.log"), "before\r\n");
    {
        TLogFile log(At("kra.log"), 1, 1, 1, 5, false);
        log.Log(1, "after", false);
    }
    EXPECT_EQ(Read(At("kra.01.log")), "before\r\nafter\r\n");

    const std::string full(1024, 'x');
    Write(At("kra.01.log"), full);
    Write(At("kra.log"), full);
    {
        TLogFile numbered(At("kra.log"), 1, 1, 1, 5, false);
        TLogFile single(At("kra.log"), 1, 1, 0, 5, false);
        EXPECT_EQ(Read(At("kra.01.log")), "");  // rotated before the first line
        EXPECT_EQ(Read(At("kra.log")), "");
        numbered.Log(1, "new", false);
    }
    EXPECT_EQ(Read(At("kra.01.log")), "new\r\n");
    EXPECT_EQ(Read(At("kra.02.log")), full);
    EXPECT_FALSE(Exists(At("kra.03.log")));
    int copies = 0;
    for (const std::string& name : Names())
        if (std::regex_match(name, std::regex(R"(kra\.\d{4}-\d\d-\d\d \d\d-\d\d-\d\d\.log)"))) {
            ++copies;
            EXPECT_EQ(Read(At(name)), full);
        }
    EXPECT_EQ(copies, 1);
}

TEST_F(LogFile, DatedCopiesOfTheSingleFile) {
    const std::regex dated(R"(kra\.(\d{4}-\d\d-\d\d \d\d-\d\d-\d\d)\.log)");
    // Two rotations within one second give one name: the later copy replaces the earlier.
    // Tried a few times in case a second boundary falls between them.
    for (int attempt = 0; attempt < 5; ++attempt) {
        fs::remove_all(folder);
        fs::create_directories(folder);
        const platform::LocalTime before = platform::LocalNow();
        {
            TLogFile log(At("kra.log"), 0, 1, 0, 5, false);
            log.Log(1, "a", false);
            log.Log(1, "b", false);
        }
        const platform::LocalTime after = platform::LocalNow();
        EXPECT_EQ(Read(At("kra.log")), "");
        std::vector<std::string> copies;
        for (const std::string& name : Names())
            if (std::regex_match(name, dated)) copies.push_back(name);
        ASSERT_FALSE(copies.empty());
        EXPECT_EQ(Read(At(copies.back())), "b\r\n");  // names sort by time
        if (logname::LocalMilliseconds(after) / 1000 == logname::LocalMilliseconds(before) / 1000) {
            EXPECT_EQ(copies.size(), 1u);
            EXPECT_EQ(Names().size(), 2u);
            return;
        }
    }
}

TEST_F(LogFile, UserTagInNumberedAndDatedNamesButNotTheSingleFile) {
    const std::string tag = logname::UserTag(TLogFile::CurrentUserName());
    EXPECT_FALSE(tag.empty()) << "the test machine names its user";
    {
        TLogFile log(At("kra.log"), 5120, 1, 1, 5, true);
        log.Log(1, "numbered", false);
    }
    EXPECT_EQ(Read(At("kra" + tag + ".01.log")), "numbered\r\n");
    {
        TLogFile log(At("kra.log"), 0, 1, 0, 5, true);
        log.Log(1, "single", false);
    }
    EXPECT_EQ(Read(At("kra.log")), "");
    bool copied = false;
    for (const std::string& name : Names())
        if (name.rfind("kra" + tag + ".20", 0) == 0 && name.size() == 3 + tag.size() + 24) copied = Read(At(name)) == "single\r\n";
    EXPECT_TRUE(copied);
}

TEST_F(LogFile, DailyFileAppendsOnTheSameDayAndCleansUpOnlyWhenNew) {
    const std::string current = "kra." + Today() + ".log";
    Write(At("kra.2000-01-01.log"), "old");
    Age(At("kra.2000-01-01.log"), 7 * 24h + 1min);
    Write(At("kra.2000-01-02.log"), "younger");
    Age(At("kra.2000-01-02.log"), 6 * 24h + 23h);
    Write(At("KRA.2000-01-03.LOG"), "old, other case");
    Age(At("KRA.2000-01-03.LOG"), 30 * 24h);
    Write(At("kra.2000-01-0.log"), "nine characters");
    Age(At("kra.2000-01-0.log"), 30 * 24h);
    Write(At("kra.2000-01-003.log"), "eleven characters");
    Age(At("kra.2000-01-003.log"), 30 * 24h);
    Write(At("other.2000-01-01.log"), "another base");
    Age(At("other.2000-01-01.log"), 30 * 24h);
    Write(At("kra.2000-01-04.txt"), "another extension");
    Age(At("kra.2000-01-04.txt"), 30 * 24h);
    fs::create_directory(At("kra.2000-01-05.log"));  // a folder: its deletion fails and is ignored
    std::error_code unsupported;  // not every system dates folders
    fs::last_write_time(At("kra.2000-01-05.log"), fs::file_time_type::clock::now() - 30 * 24h, unsupported);
    {
        TLogFile log(At("kra.log"), 0, 1, 2, 7, false);  // no size limit in this mode
        log.Log(1, "first", false);
        log.Log(1, "second", false);
    }
    EXPECT_EQ(Names(), (std::set<std::string>{current, "kra.2000-01-02.log", "kra.2000-01-0.log", "kra.2000-01-003.log",
                                              "other.2000-01-01.log", "kra.2000-01-04.txt", "kra.2000-01-05.log"}));

    Write(At("kra.2000-01-06.log"), "old, but the day's file exists");
    Age(At("kra.2000-01-06.log"), 30 * 24h);
    {
        TLogFile log(At("kra.log"), 0, 1, 2, 7, false);
        log.Log(1, "third", false);
    }
    EXPECT_EQ(Read(At(current)), "first\r\nsecond\r\nthird\r\n");
    EXPECT_TRUE(Exists(At("kra.2000-01-06.log")));
}

TEST_F(LogFile, DailyFilesOfAnotherExtensionAreNeverCleanedUp) {
    Write(At("kra.2000-01-01.txt"), "old");
    Age(At("kra.2000-01-01.txt"), 30 * 24h);
    {
        TLogFile log(At("kra.txt"), 5120, 1, 2, 7, false);
        log.Log(1, "x", false);
    }
    EXPECT_EQ(Names(), (std::set<std::string>{"kra.2000-01-01.txt", "kra." + Today() + ".txt"}));
}

TEST_F(LogFile, UnknownModeWritesNothing) {
    for (int mode : {3, -1}) {
        TLogFile log(At("kra.log"), 0, 1, mode, 5, false);
        EXPECT_FALSE(log.IsOpen());
        log.Log(1, "line", true);
        log.WriteLine("line");
    }
    EXPECT_TRUE(Names().empty());
}

TEST_F(LogFile, MissingFolderIsMadeWithItsParents) {
    const char sep = char(fs::path::preferred_separator);
    const std::string folderPath = At("Logs") + sep + "Reader" + sep;
    const std::string expected[] = {"kra.log", "kra.01.log", "kra." + Today() + ".log"};
    for (int mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        fs::remove_all(At("Logs"));
        {
            TLogFile log(folderPath + "kra.log", 5120, 1, mode, 5, false);
            EXPECT_TRUE(log.IsOpen());
            log.Log(1, "kept", false);
        }
        EXPECT_EQ(Read(folderPath + expected[mode]), "kept\r\n");
    }
}

TEST_F(LogFile, FolderThatCannotBeMadeGivesAClosedLogThatAcceptsEverything) {
    Write(At("file"), "x");  // a file where the log's folder would go
    const std::string unreachable = At("file") + char(fs::path::preferred_separator) + "kra.log";
    for (int mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        TLogFile log(unreachable, 0, 1, mode, 5, false);
        EXPECT_FALSE(log.IsOpen());
        EXPECT_NO_THROW(log.Log(1, "dropped", true));
    }
    EXPECT_EQ(Names(), std::set<std::string>{"file"});
    EXPECT_EQ(Read(At("file")), "x");
}

TEST_F(LogFile, CountBelowOneStillStartsFile01Afresh) {
    TLogFile log(At("kra.log"), 1, 1, 1, 0, false);
    for (int i = 0; i < 11 + 2; ++i) log.Log(1, Numbered(i), false);
    EXPECT_EQ(Names(), (std::set<std::string>{"kra.01.log"}));
    EXPECT_EQ(Read(At("kra.01.log")), Lines(11, 13));
}

TEST_F(LogFile, NameWithoutExtensionRotatesToo) {
    {
        TLogFile log(At("kra"), 1, 1, 1, 3, false);
        for (int i = 0; i < 11 + 1; ++i) log.Log(1, Numbered(i), false);
    }
    EXPECT_EQ(Names(), (std::set<std::string>{"kra.01", "kra.02"}));
    EXPECT_EQ(Read(At("kra.02")), Lines(0, 11));
    EXPECT_EQ(Read(At("kra.01")), Lines(11, 12));
}

// A clock the test moves by hand: the retry's pace without waiting for it.
struct FakeClock {
    int64_t now = 5000;
    std::function<int64_t()> Fn() {
        return [this] { return now; };
    }
};

// The lines of a file, time stamps taken off ("" for a stamp-only line, "!" for a stamped line
// whose stamp does not have the pattern).
std::vector<std::string> Texts(const std::string& bytes) {
    std::vector<std::string> lines;
    for (size_t at = 0; at < bytes.size();) {
        const size_t end = bytes.find("\r\n", at);
        std::string line = bytes.substr(at, end - at);
        if (line.size() >= 25 && std::regex_match(line.substr(0, 25), StampPattern())) line = line.substr(25);
        lines.push_back(line);
        at = end == std::string::npos ? bytes.size() : end + 2;
    }
    return lines;
}

TEST_F(LogFile, AFileThatCannotBeOpenedIsTriedAgainAtMostOnceASecondAndTellsWhatWasLost) {
    // A folder where the file goes makes every open fail, on every system, until it is removed.
    for (int mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        const std::string names[] = {"kra.log", "kra.01.log", "kra." + Today() + ".log"};
        const std::string file = At(names[mode]);
        fs::create_directory(file);
        {
            FakeClock clock;
            TLogFile log(At("kra.log"), 5120, 1, mode, 5, false, clock.Fn());
            EXPECT_FALSE(log.IsOpen());
            log.Log(1, "a", true);
            log.Log(10, "filtered: never given", true);
            log.WriteLine("b");
            fs::remove(file);
            clock.now += TLogFile::RetryMs - 1;
            log.Log(1, "c", true);  // not tried yet: the file would open now
            EXPECT_FALSE(Exists(file));
            clock.now += 1;
            log.Log(1, "d", true);
            log.Log(1, "e", false);
            EXPECT_TRUE(log.IsOpen());
            EXPECT_EQ(Texts(Read(file)), (std::vector<std::string>{"      Log lines lost: 3", "d", "e"}));
        }
        fs::remove(file);
    }
}

TEST_F(LogFile, EveryLossIsCountedAfresh) {
    FakeClock clock;
    TLogFile log(At("kra.log"), 5120, 1, 1, 5, false, clock.Fn());
    log.KeepOpen(false);  // each line opens the file: a loss can begin at any line
    log.Log(1, "a", false);
    EXPECT_FALSE(log.IsOpen());  // nothing held between lines
    fs::remove(At("kra.01.log"));
    fs::create_directory(At("kra.01.log"));
    log.Log(1, "lost", false);
    fs::remove(At("kra.01.log"));
    clock.now += TLogFile::RetryMs;
    log.Log(1, "b", false);
    fs::create_directory(At("kra.02.log"));  // unrelated: only 01 counts
    log.Log(1, "c", false);
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(Texts(Read(At("kra.01.log"))), (std::vector<std::string>{"      Log lines lost: 1", "b", "c"}));
    log.KeepOpen(true);
    log.Log(1, "d", false);
    EXPECT_TRUE(log.IsOpen());
}

// A file's bytes through the file layer, which takes paths of any length.
std::string ReadThroughLayer(const std::string& path) {
    platform::File f;
    if (!f.Open(path, platform::FileAccess::Read, platform::ShareRead | platform::ShareWrite,
                platform::FileDisposition::OpenExisting))
        return "(no file)";
    std::string bytes(1 << 16, '\0');
    size_t done = 0;
    f.Read(&bytes[0], bytes.size(), &done);
    bytes.resize(done);
    return bytes;
}

TEST_F(LogFile, FoldersOfAnyLengthAreMadeAndRotateWithoutLosingHistory) {
    for (size_t length : {270u, 1000u}) {
        SCOPED_TRACE(length);
        std::string dir = At("deep" + std::to_string(length)) + char(fs::path::preferred_separator);
        while (dir.size() < length) dir += std::string(60, 'd') + char(fs::path::preferred_separator);
        {
            TLogFile log(dir + "kra_MCR_Serial.log", 1, 1, 1, 5, false);  // 1 KB: the eleventh line fills it
            EXPECT_TRUE(log.IsOpen());
            for (int i = 0; i < 11 + 11 + 1; ++i) log.Log(1, Numbered(i), false);
        }
        EXPECT_EQ(ReadThroughLayer(dir + "kra_MCR_Serial.01.log"), Lines(22, 23));  // the newest line
        EXPECT_EQ(ReadThroughLayer(dir + "kra_MCR_Serial.02.log"), Lines(11, 22));  // the previous full file
        EXPECT_EQ(ReadThroughLayer(dir + "kra_MCR_Serial.03.log"), Lines(0, 11));
        EXPECT_FALSE(platform::PathExists(dir + "kra_MCR_Serial.00.log"));
    }
}

}  // namespace
