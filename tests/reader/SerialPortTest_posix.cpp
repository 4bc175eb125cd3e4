// The POSIX serial port on a pty: the read and write contracts the frame functions rely on,
// exclusivity, the cut-short of a wait by Cancel, and a line that goes away.
#include <gtest/gtest.h>

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/Serial.h"
#include "support/RawPty.h"

namespace {

class Pty : public RawPty {
public:
    void Send(const std::string& bytes) { ASSERT_EQ(write(master, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    std::string Received() {
        char b[64];
        ssize_t n = read(master, b, sizeof b);
        return n > 0 ? std::string(b, size_t(n)) : std::string();
    }
};

std::string Read(platform::SerialPort& port, uint32_t count) {
    char b[300] = {};
    uint32_t n = port.Read(b, count);
    return std::string(b, n);
}

TEST(SerialPort, ReadsWhatArrivedAndLeavesTheRestQueued) {
    Pty pty;
    platform::SerialPort port;
    ASSERT_TRUE(port.Open(pty.path, 9600));
    pty.Send(std::string("\xAA\x00", 2));
    EXPECT_EQ(Read(port, 3), std::string("\xAA\x00", 2));  // cut short by the time-outs
    pty.Send("abcdef");
    EXPECT_EQ(Read(port, 4), "abcd");
    EXPECT_EQ(Read(port, 8), "ef");
    EXPECT_EQ(Read(port, 3), "");  // silence
}

TEST(SerialPort, WritesReachTheLine) {
    Pty pty;
    platform::SerialPort port;
    ASSERT_TRUE(port.Open(pty.path, 19200));
    const char poll[] = "\xAA\x00\x03\x25\x26\x01\x01\xBB";
    EXPECT_TRUE(port.Write(poll, 8));
    EXPECT_EQ(pty.Received(), std::string(poll, 8));
}

TEST(SerialPort, TellsWhetherTheLineTookTheSpeed) {
    Pty pty;
    {
        platform::SerialPort port;
        ASSERT_TRUE(port.Open(pty.path, 19200));
        EXPECT_EQ(port.SpeedError(), 0u);
        termios tio{};
        ASSERT_EQ(tcgetattr(pty.slave, &tio), 0);
        EXPECT_EQ(cfgetospeed(&tio), speed_t(B19200));
    }
    platform::SerialPort odd;  // a rate this side has no setting for: the line keeps its speed
    ASSERT_TRUE(odd.Open(pty.path, 14400));
    EXPECT_NE(odd.SpeedError(), 0u);
}

TEST(SerialPort, OpensOnlyAnExistingDeviceAndOnlyOnce) {
    Pty pty;
    platform::SerialPort missing;
    EXPECT_FALSE(missing.Open("/nonexistent/tty", 9600));
    {
        platform::SerialPort first, second;
        ASSERT_TRUE(first.Open(pty.path, 9600));
        EXPECT_FALSE(second.Open(pty.path, 9600));
    }
    platform::SerialPort again;  // released with its owner
    EXPECT_TRUE(again.Open(pty.path, 9600));
}

TEST(SerialPort, CancelEndsAWaitAndEveryLaterCall) {
    Pty pty;
    platform::SerialPort port;
    ASSERT_TRUE(port.Open(pty.path, 9600));
    uint32_t got = 99;
    std::thread reader([&] {
        char b[256];
        got = port.Read(b, 256);  // a flush-sized read of a silent line: over four seconds uncut
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    port.Cancel();
    reader.join();
    EXPECT_EQ(got, 0u);
    pty.Send("xyz");
    EXPECT_EQ(Read(port, 3), "");  // stopped for good: the line is not touched any more
    EXPECT_FALSE(port.Write("a", 1));
}

TEST(SerialPort, ALostLineFailsWithoutHanging) {
    Pty pty;
    platform::SerialPort port;
    ASSERT_TRUE(port.Open(pty.path, 9600));
    pty.Send("ab");
    pty.CloseSlave();
    pty.CloseMaster();
    EXPECT_EQ(Read(port, 3), "");
    EXPECT_FALSE(port.Write("a", 1));
}

}  // namespace
