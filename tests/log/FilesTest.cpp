// The file layer under the log (and the XML streams): handles, dispositions, errors, renames,
// folder listings with attributes and local last-write times.
#include "platform/Files.h"

#include <gtest/gtest.h>

#include <ctime>
#include <map>

#include "log/Log_Names.h"
#include "tests/log/LogTestFolder.h"

namespace {

using Files = LogFolder;
using platform::File;
using platform::FileAccess;
using platform::FileDisposition;

TEST_F(Files, DispositionsReadWriteSeekAndSize) {
    File f;
    platform::FileError error;
    EXPECT_FALSE(f.Open(At("none"), FileAccess::Read, platform::ShareRead, FileDisposition::OpenExisting, &error));
    EXPECT_FALSE(f.IsOpen());
    EXPECT_NE(error.code, 0u);
    EXPECT_FALSE(error.message.empty());
    EXPECT_NE(error.message.back(), '\n');

    ASSERT_TRUE(f.Open(At("a"), FileAccess::ReadWrite, 0, FileDisposition::OpenAlways));
    size_t done = 0;
    EXPECT_TRUE(f.Write("hello world", 11, &done));
    EXPECT_EQ(done, 11u);
    uint64_t size = 0, at = 0;
    EXPECT_EQ(f.SizeLow(), 11u);
    EXPECT_TRUE(f.Size(size));
    EXPECT_EQ(size, 11u);
    EXPECT_TRUE(f.Seek(6));
    char buffer[16] = {};
    EXPECT_TRUE(f.Read(buffer, sizeof buffer, &done));
    EXPECT_EQ(std::string(buffer, done), "world");
    EXPECT_TRUE(f.Read(buffer, sizeof buffer, &done));
    EXPECT_EQ(done, 0u);  // at the end
    f.Close();
    EXPECT_EQ(f.SizeLow(), 0xFFFFFFFFu);

    ASSERT_TRUE(f.Open(At("a"), FileAccess::Write, platform::ShareRead, FileDisposition::OpenAlways));
    EXPECT_EQ(f.SizeLow(), 11u);  // kept
    EXPECT_TRUE(f.SeekToEnd());
    EXPECT_TRUE(f.Position(at));
    EXPECT_EQ(at, 11u);
    File moved(std::move(f));  // the handle travels, the source is closed
    EXPECT_FALSE(f.IsOpen());
    EXPECT_TRUE(moved.Write("!", 1));
    moved.Close();
    EXPECT_EQ(Read(At("a")), "hello world!");

    ASSERT_TRUE(f.Open(At("a"), FileAccess::Write, 0, FileDisposition::CreateAlways));
    EXPECT_EQ(f.SizeLow(), 0u);  // emptied
}

TEST_F(Files, CreateDirectoriesMakesMissingParentsAndFailsOnlyWhereNoFolderCanBe) {
    const char sep = char(fs::path::preferred_separator);
    Write(At("file"), "x");
    struct Case {
        std::string path;
        bool made;
    } cases[] = {
        {At("a") + sep + "b" + sep + "c" + sep, true},  // the log's case: a folder path ending in a separator
        {At("d") + sep + "e", true},
        {At("a") + sep + "b", true},  // exists already
        {Dir(), true},
        {At("f") + sep + sep + "g" + sep, true},  // a doubled separator
        {At("file"), false},                      // a file stands where the folder should be
        {At("file") + sep + "sub" + sep, false},  // ... or where a parent should be
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        platform::FileError error;
        EXPECT_EQ(platform::CreateDirectories(c.path, &error), c.made);
        EXPECT_EQ(fs::is_directory(c.path), c.made);
        if (!c.made) {
            EXPECT_NE(error.code, 0u);
            EXPECT_FALSE(error.message.empty());
        }
    }
}

TEST(SystemErrorReason, SystemTextWithoutFullStopThenTheCode) {
    const std::string text = platform::SystemErrorText(2), reason = platform::SystemErrorReason(2);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(reason.substr(reason.size() - 10), " (error 2)");
    const std::string said = reason.substr(0, reason.size() - 10);
    EXPECT_EQ(text.substr(0, said.size()), said);  // the system's own words
    ASSERT_FALSE(said.empty());
    EXPECT_NE(said.back(), '.');
    EXPECT_GT(static_cast<unsigned char>(said.back()), ' ');
}

TEST_F(Files, MoveReplacesDeleteAndExists) {
    Write(At("from"), "new");
    Write(At("to"), "old");
    platform::FileError error;
    EXPECT_TRUE(platform::MoveFileReplacing(At("from"), At("to")));
    EXPECT_EQ(Read(At("to")), "new");
    EXPECT_FALSE(platform::PathExists(At("from")));
    EXPECT_FALSE(platform::MoveFileReplacing(At("from"), At("to"), &error));
    EXPECT_NE(error.code, 0u);
    EXPECT_TRUE(platform::RemoveFile(At("to")));
    EXPECT_FALSE(platform::RemoveFile(At("to")));
    EXPECT_TRUE(platform::PathExists(Dir()));
    EXPECT_FALSE(platform::PathExists(At("to")));
}

TEST_F(Files, FolderListingWithAttributesAndLocalTimes) {
    Write(At("one.log"), "1");
    Write(At("TWO.LOG"), "2");
    Write(At("three.txt"), "3");
    Write(At("ro.log"), "4");
    fs::create_directory(At("sub.log"));
    fs::permissions(At("ro.log"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const std::time_t written = std::time(nullptr) - 3 * 86400 - 3600;
    fs::last_write_time(At("one.log"), fs::file_time_type::clock::now() - std::chrono::seconds(std::time(nullptr) - written));

    std::map<std::string, platform::DirEntry> found;
    for (auto& e : platform::ListFolder(At("*.log"))) found[e.name] = e;
    fs::permissions(At("ro.log"), fs::perms::owner_all);
    ASSERT_EQ(found.size(), 4u);
    EXPECT_EQ(found.count("three.txt"), 0u);
    EXPECT_EQ(found.count("TWO.LOG"), 1u);
    EXPECT_EQ(found["one.log"].attributes & 0x3F, uint32_t(platform::AttrArchive));
    EXPECT_EQ(found["ro.log"].attributes & 0x3F, uint32_t(platform::AttrArchive | platform::AttrReadOnly));
    EXPECT_NE(found["sub.log"].attributes & platform::AttrDirectory, 0u);

    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &written);
#else
    localtime_r(&written, &local);
#endif
    const platform::DirEntry& one = found["one.log"];
    EXPECT_EQ(one.lastWrite.year, local.tm_year + 1900);
    EXPECT_EQ(one.lastWrite.month, local.tm_mon + 1);
    EXPECT_EQ(one.lastWrite.day, local.tm_mday);
    EXPECT_EQ(one.lastWrite.hour, local.tm_hour);
    EXPECT_NEAR(one.lastWrite.minute * 60 + one.lastWrite.second, local.tm_min * 60 + local.tm_sec, 2);

    EXPECT_TRUE(platform::ListFolder(At("missing") + char(fs::path::preferred_separator) + "*.log").empty());
    for (auto& e : platform::ListFolder(At("*"))) EXPECT_TRUE(e.name != "." && e.name != "..");
}

TEST(FilesClock, LocalNowIsAPlausibleDate) {
    const platform::LocalTime t = platform::LocalNow();
    EXPECT_GE(t.year, 2024);
    EXPECT_TRUE(t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31);
    EXPECT_TRUE(t.hour < 24 && t.minute < 60 && t.second < 61 && t.millisecond < 1000);
}

}  // namespace
