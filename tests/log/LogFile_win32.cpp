// What only Windows shows: share modes, attributes, files held by other openers, a disk error.
#include "log/Log_File.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "log/Log_Names.h"
#include "tests/log/HeldFile_win32.h"
#include "tests/log/LogTestFolder.h"

namespace {

using namespace std::chrono_literals;

std::string Padded(int i) {
    std::string s = "line " + std::to_string(i) + " ";
    s.resize(100, '.');
    return s;
}

using LogWin32 = LogFolder;

TEST_F(LogWin32, OthersMayReadButNeitherWriteNorDelete) {
    TLogFile log(At("kra.log"), 5120, 1, 1, 5, false);
    log.Log(1, "visible", false);
    const std::string path = At("kra.01.log");
    EXPECT_NE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_ARCHIVE, 0u);

    Held reader(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_TRUE(reader.Ok());
    EXPECT_EQ(Read(path), "visible\r\n");
    Held writer(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    EXPECT_FALSE(writer.Ok());
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(DeleteFileA(path.c_str()));
}

TEST_F(LogWin32, NumberedFileHeldWithoutDeleteSharingGrowsUntilReleased) {
    Write(At("kra.01.log"), "");
    TLogFile log(At("kra.log"), 1, 1, 1, 5, false);
    Held reader(At("kra.01.log"), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(reader.Ok());
    for (int i = 0; i < 15; ++i) log.Log(1, Padded(i), false);  // past the 11 lines of 1 KB
    EXPECT_FALSE(Exists(At("kra.02.log")));
    EXPECT_EQ(fs::file_size(At("kra.01.log")), 15u * 102u);  // nothing lost, the file went past its limit
    reader.Release();
    log.Log(1, Padded(15), false);  // the next line tries the rotation again
    EXPECT_EQ(fs::file_size(At("kra.02.log")), 16u * 102u);
    EXPECT_EQ(Read(At("kra.01.log")), "");
}

TEST_F(LogWin32, SingleFileHeldWithoutDeleteSharingKeepsItsLines) {
    Write(At("kra.log"), "");
    TLogFile log(At("kra.log"), 1, 1, 0, 5, false);
    Held reader(At("kra.log"), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(reader.Ok());
    for (int i = 0; i < 12; ++i) log.Log(1, Padded(i), false);
    EXPECT_EQ(Names(), (std::set<std::string>{"kra.log"}));
    EXPECT_EQ(fs::file_size(At("kra.log")), 12u * 102u);
    reader.Release();
    log.Log(1, Padded(12), false);
    EXPECT_EQ(Names().size(), 2u);  // now copied away
    EXPECT_EQ(Read(At("kra.log")), "");
}

TEST_F(LogWin32, FileHeldWithoutSharingGivesAClosedLog) {
    Write(At("kra.01.log"), "theirs");
    Held owner(At("kra.01.log"), GENERIC_READ | GENERIC_WRITE, 0);
    ASSERT_TRUE(owner.Ok());
    TLogFile log(At("kra.log"), 5120, 1, 1, 5, false);
    EXPECT_FALSE(log.IsOpen());
    EXPECT_NO_THROW(log.Log(1, "dropped", true));
    owner.Release();
    EXPECT_EQ(Read(At("kra.01.log")), "theirs");
}

TEST_F(LogWin32, CleanUpHonoursTheAttributeMask) {
    const auto old = 30 * 24h;
    Write(At("kra.2000-01-01.log"), "hidden and system");
    Age(At("kra.2000-01-01.log"), old);
    SetFileAttributesA(At("kra.2000-01-01.log").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    Write(At("kra.2000-01-02.log"), "temporary");
    Age(At("kra.2000-01-02.log"), old);
    SetFileAttributesA(At("kra.2000-01-02.log").c_str(), FILE_ATTRIBUTE_TEMPORARY);
    const bool keepsTemporary = GetFileAttributesA(At("kra.2000-01-02.log").c_str()) & FILE_ATTRIBUTE_TEMPORARY;
    {
        TLogFile log(At("kra.log"), 5120, 1, 2, 7, false);
    }
    EXPECT_FALSE(Exists(At("kra.2000-01-01.log")));
    if (keepsTemporary) {
        EXPECT_TRUE(Exists(At("kra.2000-01-02.log")));
    }
    SetFileAttributesA(At("kra.2000-01-02.log").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(LogWin32, DiskErrorRaisesTheWriteError) {
    // Wine shows the Unix root as drive Z:, so its full-disk device is one path away.
    TLogFile log("Z:\\dev\\full", 5120, 1, 0, 5, false);
    if (!log.IsOpen()) GTEST_SKIP() << "no full-disk device on this system";
    try {
        log.Log(1, "lost", true);
        FAIL() << "no error";
    } catch (const ELogWriteError& e) {
        EXPECT_STREQ(e.what(), "Error Write To File \"Z:\\dev\\full\"");
    }
    EXPECT_THROW(log.Log(1, "again", false), ELogWriteError);
}

TEST_F(LogWin32, UserNameComesFromTheSystem) {
    char buffer[512];
    DWORD size = sizeof buffer;
    ASSERT_TRUE(GetUserNameA(buffer, &size));
    EXPECT_EQ(TLogFile::CurrentUserName(), std::string(buffer));
    EXPECT_EQ(platform::TimeSeparator(), ":");  // the Russian and the default settings alike
}

}  // namespace
