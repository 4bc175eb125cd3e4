// The driver's own log lines, read back from the file: a whole start, the exports and the stop,
// the log name for a LogPath with and without a final separator, and failed log writes.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "driver/Main.h"
#include "platform/Files.h"
#include "reader/COM_Thread.h"
#include "tests/support/TempFolder.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

const char kSep = char(fs::path::preferred_separator);

const unsigned char* U(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

std::string Read(const std::string& path) { return ReadBytes(path); }

struct Line {
    bool stamped;
    std::string text;
    bool operator==(const Line&) const = default;
};

void PrintTo(const Line& l, std::ostream* os) { *os << (l.stamped ? "[stamp] " : "") << '"' << l.text << '"'; }

// Splits the file at CR LF and takes the time stamp off the lines that have one.
std::vector<Line> LinesOf(const std::string& bytes) {
    static const std::regex stamp(R"(^\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\.\d{3}> )");
    std::vector<Line> lines;
    size_t at = 0;
    while (at < bytes.size()) {
        size_t end = bytes.find("\r\n", at);
        EXPECT_NE(end, std::string::npos) << "the last line has no CR LF";
        if (end == std::string::npos) end = bytes.size();
        std::string text = bytes.substr(at, end - at);
        const bool stamped = std::regex_search(text, stamp);
        lines.push_back({stamped, stamped ? text.substr(25) : text});
        at = end + 2;
    }
    return lines;
}

std::vector<Line> Stamped(std::initializer_list<std::string> texts) {
    std::vector<Line> lines;
    for (const std::string& t : texts) lines.push_back({true, t});
    return lines;
}

void Append(std::vector<Line>& to, const std::vector<Line>& more) { to.insert(to.end(), more.begin(), more.end()); }

class DriverLogLines : public ::testing::Test {
protected:
    void SetUp() override { platform::EnsureMessageQueue(); }
    void TearDown() override {
        KRA_Finalize();
#ifndef _WIN32
        unsetenv("KRA_COM1");
        if (master >= 0) close(master);
#endif
    }

    // Gives port 1 a device that opens (a pseudo-terminal nobody answers on) or one that does not.
    // Under Wine the port is whatever the prefix maps COM1 to: the test follows the outcome.
    void PortOpens(bool opens) {
#ifndef _WIN32
        if (!opens) {
            setenv("KRA_COM1", "/nonexistent/tty", 1);
            return;
        }
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        setenv("KRA_COM1", ptsname(master), 1);
#else
        (void)opens;
#endif
    }

    bool Initialize(const std::string& logPath) {
        const std::string settings = kra::LengthPrefixed(dir + "none.xml"), section = kra::LengthPrefixed("Devices"),
                          log = kra::LengthPrefixed(logPath);
        return KRA_Initialize(U(settings), U(section), U(log), nullptr) != 0;
    }

    // What a start writes, given how it went (openError: the line that says why the port failed).
    // The settings file is missing: the start says so between its own lines.
    std::vector<Line> StartLines(bool started, const std::string& openError = "") const {
        std::vector<Line> lines{{false, ""}, {false, ""}, {false, ""}};  // CR LF CR LF and the line's own CR LF
        const TReaderSettings& s = DriverState.ReaderSettings;
        const std::string settings = platform::FullPathName(dir + "none.xml");
        Append(lines, Stamped({"***** Initialize *****",
                               "      kra_MCR_Serial " KRA_VERSION ", " + std::to_string(sizeof(void*) * 8) + "-bit",
                               "      Read configuration",
                               "      Settings: file " + settings + ", section Devices",
                               "      Settings: no file " + settings + ", defaults used",
                               "      Port Number = " + std::to_string(s.COM_Number),
                               "      Baud        = " + std::to_string(s.Baud),
                               "      Bits        = " + std::to_string(s.Bits), "      Create thread"}));
        if (started) {
            char id[16];
            std::snprintf(id, sizeof id, "%08X", unsigned(DriverState.PollingThread->ThreadID()));
            Append(lines, Stamped({std::string("      Thread created. Thread_ID = $") + id}));
        } else {
            Append(lines, Stamped({openError}));
        }
        Append(lines, Stamped({"***** Initialize *****", ""}));
        return lines;
    }

    TempFolder temp;
    fs::path folder = temp.Path();
    std::string dir = temp.Dir();
    int master = -1;
};

TEST_F(DriverLogLines, StartExportsAndStopWriteTheirLinesExactly) {
    for (bool portOpens : {true, false}) {
        SCOPED_TRACE(portOpens ? "port opens" : "port fails");
        fs::remove_all(folder);
        fs::create_directories(folder);
        PortOpens(portOpens);
        const bool started = Initialize(dir);
#ifndef _WIN32
        ASSERT_EQ(started, portOpens) << KRA_GetLastErrorText();
#endif
        std::string openError;
        if (!started) {
            const std::string message = KRA_GetLastErrorText();
            EXPECT_EQ(message.rfind("Open error ", 0), 0u);
            // The host's message is the bare one; the log adds the system's reason.
#ifdef _WIN32
            // Whatever the prefix maps COM1 to decides the reason: its form is checked here.
            for (const Line& l : LinesOf(Read(dir + "kra_MCR_Serial.01.log")))
                if (l.text.rfind("      " + message + ": ", 0) == 0 && l.text.back() == ')') openError = l.text;
#else
            openError = "      " + message + ": " + platform::SystemErrorReason(ENOENT);
#endif
        }
        std::vector<Line> expected = StartLines(started, openError);

        KRA_EnableDevice(platform::CurrentThreadId(), 0, 0x0400 + 5);
        DeliverCard("298");  // delivered: its level-10 lines stay out of the log
        EXPECT_EQ(KRA_GetInputBufferLen(), 4);
        EXPECT_STREQ(KRA_GetBuffer(), "298");
        KRA_ClearBuffer();
        KRA_DisableDevice();
        DeliverCard("7");  // dropped
        const char *name = nullptr, *description = nullptr;
        KRA_DeviceDescription(&name, &description);
        KRA_GetLastErrorText();
        KRA_GetDeviceType();
        Append(expected, Stamped({"      Enable Reader", "         Message : 298", "      Get buffer length",
                                  "      Get buffer", "      Clear buffer", "      Disable Reader", "         Message : 7",
                                  "      Get device description"}));
#ifndef _WIN32  // the Win32 dialog would wait for an operator
        KRA_ConfigDialog();
        Append(expected, Stamped({"      Run config dialog"}));
#endif
        EXPECT_EQ(KRA_Finalize(), 1);
        Append(expected, Stamped({"***** Finalize *****", "      Stoping thread", "      Thread stopped",
                                  "***** Finalize *****", ""}));

        KRA_EnableDevice(1, 0, 2);  // after the stop: nowhere to write
        KRA_ClearBuffer();
        EXPECT_EQ(LinesOf(Read(dir + "kra_MCR_Serial.01.log")), expected);
        platform::ThreadMessage m;
        while (platform::WaitThreadMessage(m, 0)) {
        }
#ifndef _WIN32
        if (master >= 0) close(master);
        master = -1;
#endif
    }
}

TEST_F(DriverLogLines, LogPathIsJoinedWithoutASeparator) {
    PortOpens(false);
    fs::create_directories(folder / "Logs");
    Initialize(dir + "Logs" + kSep);
    KRA_Finalize();
    Initialize(dir + "Logs");
    KRA_Finalize();
    EXPECT_TRUE(fs::exists(dir + "Logs" + kSep + "kra_MCR_Serial.01.log"));
    EXPECT_TRUE(fs::exists(dir + "Logskra_MCR_Serial.01.log"));
    EXPECT_FALSE(fs::exists(dir + "Logs" + kSep + "kra_MCR_Serial.log"));
}

TEST_F(DriverLogLines, MissingLogFolderIsMadeWithItsParents) {
    PortOpens(false);
    const std::string logPath = dir + "Logs" + kSep + "Reader" + kSep;
    Initialize(logPath);
    EXPECT_EQ(KRA_Finalize(), 1);
    const std::vector<Line> lines = LinesOf(Read(logPath + "kra_MCR_Serial.01.log"));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[3], (Line{true, "***** Initialize *****"}));
    EXPECT_EQ(lines.back(), (Line{true, ""}));
}

TEST_F(DriverLogLines, LogFolderThatCannotBeMadeStartsWithoutALog) {
    PortOpens(false);
    std::ofstream(dir + "file") << "x";  // a file where the folder would go
    Initialize(dir + "file" + kSep + "Logs" + kSep);
    EXPECT_EQ(KRA_EnableDevice(1, 0, 2), 1);
    EXPECT_EQ(KRA_Finalize(), 1);
    EXPECT_FALSE(fs::exists(dir + "file" + kSep + "Logs"));
    EXPECT_EQ(Read(dir + "file"), "x");
}

#ifndef _WIN32
// How many of this process's descriptors have path open.
int OpenHandlesOf(const std::string& path) {
    int n = 0;
    std::error_code ec;
    const fs::path target = fs::weakly_canonical(path, ec);
    for (const auto& e : fs::directory_iterator("/proc/self/fd", ec))
        if (fs::read_symlink(e.path(), ec) == target) ++n;
    return n;
}

TEST_F(DriverLogLines, ADriverThatDidNotStartHoldsNoHandleOfItsLog) {
    // A host may unload the DLL now without a stop: nothing of the log may stay open.
    PortOpens(false);
    ASSERT_FALSE(Initialize(dir));
    const std::string path = dir + "kra_MCR_Serial.01.log";
    EXPECT_EQ(OpenHandlesOf(path), 0);
    KRA_EnableDevice(platform::CurrentThreadId(), 0, 0x0400 + 5);  // still logged, the file closed after it
    EXPECT_EQ(OpenHandlesOf(path), 0);
    EXPECT_EQ(LinesOf(Read(path)).back(), (Line{true, "      Enable Reader"}));
    // A start that works holds its log while the reader is polled.
    PortOpens(true);
    ASSERT_TRUE(Initialize(dir));
    EXPECT_EQ(OpenHandlesOf(path), 1);
    EXPECT_EQ(KRA_Finalize(), 1);
    EXPECT_EQ(OpenHandlesOf(path), 0);
}

// A file size limit makes every write fail like a full disk, and can be lifted again.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit r = saved_;
        r.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &r);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, oldHandler_);
    }
private:
    rlimit saved_{};
    sighandler_t oldHandler_;
};

TEST_F(DriverLogLines, FailedWritesCostOnlyTheirLinesAndLeaveACount) {
    PortOpens(false);
    Initialize(dir);
    const std::string path = dir + "kra_MCR_Serial.01.log";
    const std::string before = Read(path);
    {
        FileSizeLimit full(before.size());
        EXPECT_EQ(KRA_EnableDevice(platform::CurrentThreadId(), 0, 0x0400 + 6), 1);
        std::thread polling([] { EXPECT_NO_THROW(DeliverCard("42")); });  // the polling thread's side
        polling.join();
        EXPECT_STREQ(KRA_GetBuffer(), "42");  // the card still reached the host
        EXPECT_EQ(Read(path), before);
    }
    KRA_ClearBuffer();
    const std::vector<Line> all = LinesOf(Read(path)), tail(all.end() - 2, all.end());
    EXPECT_EQ(tail, Stamped({"      Log write failed, lines lost: 3", "      Clear buffer"}));
    EXPECT_EQ(KRA_Finalize(), 1);
    EXPECT_EQ(LinesOf(Read(path)).back(), (Line{true, ""}));
    platform::ThreadMessage m;
    while (platform::WaitThreadMessage(m, 0)) {
    }
}
#endif

}  // namespace
