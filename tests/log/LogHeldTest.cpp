// Numbered files while a viewer holds the current one the way a tail tool does on Windows: reading
// and writing shared, deleting not, so the system refuses to move or delete it. The history must
// survive: no numbered file is deleted or shifted while 01 cannot move.
#include "log/Log_File.h"

#include <gtest/gtest.h>

#include "log/Log_Names.h"
#include "tests/log/LogTestFolder.h"

#ifdef _WIN32
#include "tests/log/HeldFile_win32.h"
#else
#include <dlfcn.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#endif

namespace {

#ifdef _WIN32

// A real second opener, as the tail tool opens the file: reading and writing shared, not deleting.
class TailHold : public Held {
public:
    explicit TailHold(const std::string& path) : Held(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE) {}
};

#else

// POSIX has no share modes: the refusal the system gives a held file on Windows is played by
// taking rename and unlink away from that one path (this program's own definitions come first).
std::mutex heldLock;
std::string heldPath;

bool IsHeld(const char* path) {
    std::lock_guard<std::mutex> g(heldLock);
    return !heldPath.empty() && heldPath == path;
}

// A system whose paths end at a length (Windows' plain paths, 260 characters): a rename or delete
// that names a longer path fails as the system would fail it.
size_t pathLimit = 0;

bool TooLong(const char* path) {
    std::lock_guard<std::mutex> g(heldLock);
    return pathLimit && std::strlen(path) > pathLimit;
}

class PathLimit {
public:
    explicit PathLimit(size_t limit) {
        std::lock_guard<std::mutex> g(heldLock);
        pathLimit = limit;
    }
    ~PathLimit() {
        std::lock_guard<std::mutex> g(heldLock);
        pathLimit = 0;
    }
};

class TailHold {
public:
    explicit TailHold(const std::string& path) {
        std::lock_guard<std::mutex> g(heldLock);
        heldPath = path;
    }
    ~TailHold() { Release(); }
    bool Ok() const { return true; }
    void Release() {
        std::lock_guard<std::mutex> g(heldLock);
        heldPath.clear();
    }
};

#endif

std::string Numbered(int i) {
    std::string s = "line " + std::to_string(i) + " ";
    s.resize(100, '.');
    return s;
}

using LogHeld = LogFolder;

TEST_F(LogHeld, HeldCurrentFileKeepsEveryNumberedFileUntilReleased) {
    const std::string history[] = {"", "", "second\r\n", "third\r\n", "fourth\r\n", "fifth\r\n"};
    Write(At("kra.01.log"), "");
    for (int n = 2; n <= 5; ++n) Write(At("kra." + logname::NumberText(n) + ".log"), history[n]);
    TLogFile log(At("kra.log"), 1, 1, 1, 5, false);  // 1 KB: ten lines of 102 bytes, the eleventh fills it
    TailHold tail(At("kra.01.log"));
    ASSERT_TRUE(tail.Ok());

    for (int i = 0; i < 20; ++i) log.Log(1, Numbered(i), false);  // nine lines past the limit
    const std::set<std::string> all = {"kra.01.log", "kra.02.log", "kra.03.log", "kra.04.log", "kra.05.log"};
    EXPECT_EQ(Names(), all);
    for (int n = 2; n <= 5; ++n) EXPECT_EQ(Read(At("kra." + logname::NumberText(n) + ".log")), history[n]) << n;
    EXPECT_EQ(fs::file_size(At("kra.01.log")), 20u * 102u);  // every line, past the limit

    tail.Release();
    log.Log(1, Numbered(20), false);  // the next line over the limit rotates
    EXPECT_EQ(Names(), all);
    EXPECT_EQ(Read(At("kra.01.log")), "");
    EXPECT_EQ(fs::file_size(At("kra.02.log")), 21u * 102u);
    EXPECT_EQ(Read(At("kra.03.log")), history[2]);
    EXPECT_EQ(Read(At("kra.04.log")), history[3]);
    EXPECT_EQ(Read(At("kra.05.log")), history[4]);  // only the oldest went
}

#ifndef _WIN32
TEST_F(LogHeld, RotationUsesNoNameLongerThanTheNumberedOnes) {
    // The numbered names just fit: any longer name the rotation used would fail.
    const PathLimit limit(At("kra.01.log").size());
    TLogFile log(At("kra.log"), 1, 1, 1, 5, false);  // 1 KB: the eleventh line of 102 bytes fills it
    for (int i = 0; i < 11 + 11 + 1; ++i) log.Log(1, Numbered(i), false);
    EXPECT_EQ(Names(), (std::set<std::string>{"kra.01.log", "kra.02.log", "kra.03.log"}));
    auto lines = [](int from, int to) {
        std::string s;
        for (int i = from; i < to; ++i) s += Numbered(i) + "\r\n";
        return s;
    };
    EXPECT_EQ(Read(At("kra.01.log")), lines(22, 23));  // the newest line
    EXPECT_EQ(Read(At("kra.02.log")), lines(11, 22));  // the previous full file
    EXPECT_EQ(Read(At("kra.03.log")), lines(0, 11));
}
#endif

}  // namespace

#ifndef _WIN32
extern "C" int rename(const char* from, const char* to) {
    using Fn = int (*)(const char*, const char*);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "rename"));
    if (IsHeld(from)) {
        errno = EBUSY;
        return -1;
    }
    if (TooLong(from) || TooLong(to)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return real(from, to);
}

extern "C" int unlink(const char* path) {
    using Fn = int (*)(const char*);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "unlink"));
    if (IsHeld(path)) {
        errno = EBUSY;
        return -1;
    }
    if (TooLong(path)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return real(path);
}
#endif
