// Writes the system refuses: a full disk (/dev/full) behind the log's file names.
#include "log/Log_File.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "log/Log_Names.h"
#include "tests/log/LogTestFolder.h"

namespace {

using LogFailure = LogFolder;

TEST_F(LogFailure, WriteErrorNamesTheConstructorsFileInEveryMode) {
    const std::string today = Today();
    fs::create_symlink("/dev/full", At("kra.log"));
    fs::create_symlink("/dev/full", At("kra.01.log"));
    fs::create_symlink("/dev/full", At("kra." + today + ".log"));
    for (int mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        TLogFile log(At("kra.log"), 5120, 1, mode, 5, false);
        ASSERT_TRUE(log.IsOpen());
        try {
            log.Log(1, "lost", true);
            FAIL() << "no error";
        } catch (const ELogWriteError& e) {
            EXPECT_EQ(std::string(e.what()), "Error Write To File \"" + At("kra.log") + "\"");
        }
        // The lock was released and the next line is tried again, from any thread.
        std::thread other([&log] { EXPECT_THROW(log.Log(1, "again", false), ELogWriteError); });
        other.join();
        EXPECT_TRUE(log.IsOpen());
        EXPECT_NO_THROW(log.Log(10, "filtered out: not written, so no error", false));
    }
}

TEST_F(LogFailure, ReadOnlyFolderGivesAClosedLog) {
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    // Permissions do not bind root: the check then runs in a child that gives up its rights.
    const bool forked = geteuid() == 0;
    const pid_t child = forked ? fork() : 0;
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (forked && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        int failures = 0;
        {
            TLogFile log(At("kra.log"), 5120, 1, 1, 5, false);
            failures += log.IsOpen();
            try {
                log.Log(1, "dropped", true);
            } catch (...) {
                ++failures;
            }
        }
        failures += !Names().empty();
        if (forked) _exit(failures ? 1 : 0);
        EXPECT_EQ(failures, 0);
        fs::permissions(folder, fs::perms::owner_all);
        return;
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    fs::permissions(folder, fs::perms::owner_all);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(LogFailure, FolderInPlaceOfTheFileGivesAClosedLog) {
    fs::create_directory(At("kra.01.log"));
    TLogFile log(At("kra.log"), 5120, 1, 1, 5, false);
    EXPECT_FALSE(log.IsOpen());
    EXPECT_NO_THROW(log.Log(1, "dropped", true));
}

}  // namespace
