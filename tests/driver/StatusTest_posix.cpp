// The status and the wait through whole runs: the driver started on a pty that the test answers
// as the reader would.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "driver/Main.h"
#include "support/RawPty.h"
#include "tests/support/TempFolder.h"

namespace {

using Bytes = std::vector<uint8_t>;
const unsigned char* U(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

Bytes CardFrame(uint32_t number) {
    Bytes f{0xAA, 0x00, 0x06, 0x00, 0x00, uint8_t(number), uint8_t(number >> 8), uint8_t(number >> 16),
            uint8_t(number >> 24)};
    uint8_t lrc = 0;
    for (size_t i = 1; i < f.size(); ++i) lrc ^= f[i];
    f.push_back(lrc);
    f.push_back(0xBB);
    return f;
}

void UntilAThreadWaits() {
    for (;;) {
        {
            platform::Hold hold(DriverState.BufferLock);
            if (DriverState.Waiters) return;
        }
        std::this_thread::yield();
    }
}

KRA_STATUS Status() {
    KRA_STATUS s{};
    s.Size = sizeof s;
    EXPECT_EQ(KRA_GetStatus(&s), 1);
    return s;
}

class RunStatus : public ::testing::Test {
protected:
    static constexpr int kPort = 33;
    TempFolder temp;
    RawPty pty;

    void SetUp() override { pty.PublishAsPort(kPort); }
    void TearDown() override { KRA_Finalize(); }

    bool Start(const std::string& attributes) {
        WriteBytes(temp.At("host.xml"), "<XML><Devices><KRA_MCR_Serial " + attributes + "/></Devices></XML>");
        const std::string file = kra::LengthPrefixed(temp.At("host.xml")), section = kra::LengthPrefixed("Devices"),
                          log = kra::LengthPrefixed(temp.Dir());
        return KRA_Initialize(U(file), U(section), U(log), nullptr) != 0;
    }
    // Reads the next poll frame the driver writes; false when none comes within 3 s.
    bool NextPoll() {
        size_t got = 0;
        while (got < 8) {
            pollfd p{pty.master, POLLIN, 0};
            if (poll(&p, 1, 3000) <= 0) return false;
            uint8_t b[8];
            const ssize_t n = read(pty.master, b, 8 - got);
            if (n <= 0) return false;
            got += size_t(n);
        }
        return true;
    }
    void Answer(const Bytes& b) { ASSERT_EQ(write(pty.master, b.data(), b.size()), ssize_t(b.size())); }
    // The status once it meets the condition (a poll takes its time); the last one seen otherwise.
    static KRA_STATUS StatusWhen(const std::function<bool(const KRA_STATUS&)>& meets) {
        KRA_STATUS s = Status();
        for (int i = 0; i < 500 && !meets(s); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            s = Status();
        }
        return s;
    }
};

TEST_F(RunStatus, FollowsARunFromStartToStop) {
    ASSERT_TRUE(Start("COM_Number=\"33\" Baud=\"19200\" Bits=\"8\"")) << KRA_GetLastErrorText();
    KRA_STATUS s = Status();
    constexpr uint32_t started = KRA_STATUS_RUNNING | KRA_STATUS_SETTINGS_FILE | KRA_STATUS_PORT_OPEN | KRA_STATUS_LOG_OPEN;
    EXPECT_EQ(s.Flags & ~KRA_STATUS_READER_ANSWERS, started);
    EXPECT_EQ(s.COM_Number, kPort);
    EXPECT_EQ(s.Baud, 19200);
    EXPECT_EQ(s.Bits, 8);
    EXPECT_EQ(s.LastError, 0u);
    EXPECT_EQ(KRA_GetLastErrorCode(), 0u);
    EXPECT_EQ(s.SystemError, 0u);
    EXPECT_EQ(s.CardsRead, 0u);

    ASSERT_TRUE(NextPoll());
    Answer(CardFrame(298));  // delivery is off and nobody waits: read and dropped
    s = StatusWhen([](const KRA_STATUS& s) { return s.CardsRead == 1; });
    EXPECT_EQ(s.Flags, started | KRA_STATUS_READER_ANSWERS);
    EXPECT_EQ(s.CardsDropped, 1u);

    platform::EnsureMessageQueue();
    KRA_EnableDevice(platform::CurrentThreadId(), 0, 0x0400 + 9);
    ASSERT_TRUE(NextPoll());
    Answer(CardFrame(298));
    s = StatusWhen([](const KRA_STATUS& s) { return s.CardsRead == 2; });
    EXPECT_EQ(s.Flags, started | KRA_STATUS_READER_ANSWERS | KRA_STATUS_ENABLED | KRA_STATUS_BUFFER_FULL);
    EXPECT_EQ(s.CardsDelivered, 1u);
    EXPECT_STREQ(KRA_GetBuffer(), "42");  // Bits 8

    ASSERT_TRUE(NextPoll());  // the reader falls silent
    s = StatusWhen([](const KRA_STATUS& s) { return (s.Flags & KRA_STATUS_READER_ANSWERS) == 0; });
    EXPECT_EQ(s.Flags & KRA_STATUS_READER_ANSWERS, 0u);

    EXPECT_EQ(KRA_Finalize(), 1);
    s = Status();
    EXPECT_EQ(s.Flags, uint32_t(KRA_STATUS_SETTINGS_FILE | KRA_STATUS_BUFFER_FULL));
    EXPECT_EQ(s.CardsRead, 2u);
    EXPECT_EQ(s.COM_Number, kPort);
    KRA_ClearBuffer();
    EXPECT_EQ(Status().Flags, uint32_t(KRA_STATUS_SETTINGS_FILE));

    // A start on defaults: the flag says a default stands, the figures say which.
    ASSERT_TRUE(Start("COM_Number=\"33\" Baud=\"19200\"")) << KRA_GetLastErrorText();
    s = Status();
    EXPECT_EQ(s.Flags & KRA_STATUS_SETTINGS_FILE, 0u);
    EXPECT_EQ(s.Bits, 0);
    EXPECT_EQ(s.CardsRead, 0u);  // counts are of this run
}

TEST_F(RunStatus, AStopFromAnotherThreadEndsAWait) {
    ASSERT_TRUE(Start("COM_Number=\"33\""));
    std::atomic<int32_t> result{99};
    std::thread waiter([&] {
        char buffer[16];
        result = KRA_WaitForCard(0xFFFFFFFFu, buffer, sizeof buffer);
    });
    UntilAThreadWaits();
    EXPECT_EQ(KRA_Finalize(), 1);
    waiter.join();
    EXPECT_EQ(result.load(), -1);
}

TEST_F(RunStatus, AWaitGetsTheCardOfARealPoll) {
    ASSERT_TRUE(Start("COM_Number=\"33\""));
    std::atomic<int32_t> result{99};
    char buffer[16] = "";
    std::thread waiter([&] { result = KRA_WaitForCard(5000, buffer, sizeof buffer); });
    UntilAThreadWaits();
    ASSERT_TRUE(NextPoll());
    Answer(CardFrame(4294967295u));
    waiter.join();
    EXPECT_EQ(result.load(), 10);
    EXPECT_STREQ(buffer, "4294967295");
    EXPECT_EQ(KRA_GetBuffer(), nullptr);
}

// A start that hangs (its log file is a pipe nobody reads yet) holds up no status call, no error
// code and no wait: none of them takes the start's lock.
TEST(StatusDuringAStart, NeverWaitsForTheStart) {
    const TempFolder temp;
    const std::string pipe = temp.At("kra_MCR_Serial.01.log");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    setenv("KRA_COM1", "/nonexistent/tty", 1);
    {
        std::lock_guard<std::mutex> g(DriverState.StatusLock);
        DriverState.Status.CardsRead = 7;  // a figure the start resets: then it is under way
    }
    std::thread start([&] {
        const std::string file = kra::LengthPrefixed(temp.At("none.xml")), section = kra::LengthPrefixed("Devices"),
                          log = kra::LengthPrefixed(temp.Dir());
        KRA_Initialize(U(file), U(section), U(log), nullptr);
    });
    auto calls = std::async(std::launch::async, [] {
        KRA_STATUS s{};
        s.Size = sizeof s;
        do {
            KRA_GetStatus(&s);
        } while (s.CardsRead != 0);
        char digits[11];
        return KRA_GetLastErrorCode() == 0 && KRA_WaitForCard(0, digits, sizeof digits) == -1 && KRA_GetStatus(&s) == 1;
    });
    // Only a call that waits for the start (which waits for a reader of its log) runs this long.
    const bool answered = calls.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);  // the start goes on
    start.join();
    EXPECT_EQ(KRA_Finalize(), 1);
    close(reader);
    EXPECT_TRUE(answered);
    EXPECT_TRUE(calls.get());
    unsetenv("KRA_COM1");
}

}  // namespace
