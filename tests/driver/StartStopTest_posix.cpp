// Host threads that start and stop the driver at once, in any order, on a port that opens (a pty):
// each call must find the driver fully started or fully stopped. Run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "driver/Main.h"
#include "support/RawPty.h"

namespace fs = std::filesystem;

namespace {

std::string Prefixed(const std::string& text) { return std::string(1, char(text.size())) + text; }
const unsigned char* U(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

// A pty whose slave side is port `number`; nobody answers, so each poll ends on its time-out or
// on the stop.
class SilentReader {
public:
    explicit SilentReader(int number) { pty_.PublishAsPort(number); }

private:
    RawPty pty_;
};

class StartStop : public ::testing::Test {
protected:
    static constexpr int kPort = 31;
    fs::path folder = fs::temp_directory_path() / ("kra_start_stop_" + std::to_string(getpid()));
    std::string file, section = Prefixed("Devices"), log;
    SilentReader reader{kPort};

    void SetUp() override {
        fs::remove_all(folder);
        fs::create_directories(folder);
        std::ofstream(folder / "host.xml", std::ios::binary)
            << "<XML><Devices><KRA_MCR_Serial COM_Number=\"" << kPort << "\"/></Devices></XML>";
        file = Prefixed((folder / "host.xml").string());
        log = Prefixed(folder.string() + "/");
    }
    void TearDown() override {
        KRA_Finalize();
        fs::remove_all(folder);
    }
    bool Start() { return KRA_Initialize(U(file), U(section), U(log), nullptr) != 0; }

    // The frame lines of the log in order: I for "***** Initialize *****", F for "***** Finalize *****".
    std::string Frames() const {
        std::ifstream in(folder / "kra_MCR_Serial.01.log", std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string frames;
        for (size_t at = 0; (at = text.find("***** ", at)) != std::string::npos; at += 6)
            frames += text.compare(at, 16, "***** Initialize") == 0 ? 'I' : 'F';
        return frames;
    }
};

// Two threads, 200 rounds each: one starts and stops, the other stops and starts, so that stops
// meet stops and restarts meet stops. Every call succeeds, and the log shows each start and each
// stop whole: its two frame lines one after the other.
TEST_F(StartStop, ConcurrentStartsAndStopsSeeAWholeDriver) {
    constexpr int kRounds = 200;
    std::atomic<int> failedStarts{0}, failedStops{0};
    std::atomic<bool> done{false};
    auto round = [&](bool startFirst) {
        for (int i = 0; i < kRounds; ++i) {
            for (int step = 0; step < 2; ++step) {
                if ((step == 0) == startFirst) {
                    if (!Start()) ++failedStarts;
                } else if (!KRA_Finalize()) {
                    ++failedStops;
                }
            }
        }
    };
    // Meanwhile a host thread serves the buffer and asks for the error text, as hosts do.
    std::thread host([&] {
        while (!done) {
            KRA_GetInputBufferLen();
            KRA_GetBuffer();
            KRA_ClearBuffer();
            // The text itself is valid until the next start, so only the call meets the starts.
            EXPECT_NE(KRA_GetLastErrorText(), nullptr);
        }
    });
    std::thread a(round, true), b(round, false);
    a.join();
    b.join();
    done = true;
    host.join();
    EXPECT_EQ(failedStarts.load(), 0) << KRA_GetLastErrorText();
    EXPECT_EQ(failedStops.load(), 0) << KRA_GetLastErrorText();
    EXPECT_EQ(KRA_Finalize(), 1);
    EXPECT_EQ(DriverState.PollingThread, nullptr);

    const std::string frames = Frames();
    EXPECT_GE(frames.size(), 4u * kRounds);
    for (size_t i = 0; i + 1 < frames.size(); i += 2)
        ASSERT_EQ(frames[i], frames[i + 1]) << "a start or stop cut into another at frame line " << i << ": "
                                            << frames.substr(i < 8 ? 0 : i - 8, 24);
}

}  // namespace
