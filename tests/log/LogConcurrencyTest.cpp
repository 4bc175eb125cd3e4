// Several threads logging at once while the files rotate: no line is cut, mixed or lost.
#include "log/Log_File.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "log/Log_Names.h"
#include "tests/log/LogTestFolder.h"

namespace {

using LogThreads = LogFolder;

TEST_F(LogThreads, LinesNeverInterleaveAndNoneIsLostAcrossRotations) {
    constexpr int kThreads = 4, kLines = 300, kKept = 200;
    {
        TLogFile log(At("kra.log"), 2, 1, 1, kKept, false);  // 2 KB: a rotation every ~50 lines
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&log, t] {
                for (int i = 0; i < kLines; ++i) {
                    std::string text = "thread " + std::to_string(t) + " line " + std::to_string(i) + " ";
                    text.append(size_t(i % 17), char('a' + t));  // lengths vary, so rotations fall anywhere
                    log.Log(1, text, true);
                }
            });
        for (auto& th : threads) th.join();
    }
    // Oldest file first: within one thread the lines must come in the order written.
    std::map<int, int> next;
    int files = 0;
    for (int n = kKept; n >= 1; --n) {
        const std::string path = At("kra." + logname::NumberText(n) + ".log");
        if (!Exists(path)) continue;
        ++files;
        const std::string text = Read(path);
        ASSERT_TRUE(text.empty() || (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n")) << path;
        size_t at = 0;
        while (at < text.size()) {
            const size_t end = text.find("\r\n", at);
            const std::string line = text.substr(at, end - at);
            at = end + 2;
            std::smatch m;
            ASSERT_TRUE(std::regex_match(line, m, std::regex(R"((.{25})thread (\d) line (\d+) ([a-d]*))"))) << line;
            EXPECT_TRUE(std::regex_match(m[1].str(), StampPattern())) << line;
            const int t = std::stoi(m[2]), i = std::stoi(m[3]);
            EXPECT_EQ(m[4].str(), std::string(size_t(i % 17), char('a' + t))) << line;
            EXPECT_EQ(i, next[t]) << line;
            next[t] = i + 1;
        }
    }
    EXPECT_GT(files, 10);  // the rotations did happen while the threads wrote
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kLines) << "thread " << t;
}

TEST_F(LogThreads, LockIsReentrantAndHoldsOffOtherWriters) {
    TLogFile log(At("kra.log"), 5120, 1, 1, 5, false);
    log.Lock();
    log.Log(1, "first", false);  // the owner may write while it holds the lock
    std::thread other([&log] { log.Log(1, "second", false); });
    platform::SleepMs(50);
    EXPECT_EQ(Read(At("kra.01.log")), "first\r\n");
    log.Unlock();
    other.join();
    EXPECT_EQ(Read(At("kra.01.log")), "first\r\nsecond\r\n");
}

}  // namespace
