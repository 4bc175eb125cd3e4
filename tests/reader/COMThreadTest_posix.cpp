// The polling thread against a pty that plays the reader: the test holds the master side,
// the thread opens the slave side as its port (KRA_COM<n> names it).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "reader/COM_Thread.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kNotify = 0x0400 + 5;
const Bytes Poll{0xAA, 0x00, 0x03, 0x25, 0x26, 0x01, 0x01, 0xBB};

Bytes CardFrame(uint32_t number, bool goodCheck = true) {
    Bytes f{0xAA, 0x00, 0x06, 0x00, 0x00, uint8_t(number), uint8_t(number >> 8), uint8_t(number >> 16),
            uint8_t(number >> 24)};
    uint8_t lrc = 0;
    for (size_t i = 1; i < f.size(); ++i) lrc ^= f[i];
    f.push_back(goodCheck ? lrc : uint8_t(lrc ^ 0x40));
    f.push_back(0xBB);
    return f;
}

// One pty pair; the slave is published as port `number`.
class FakeReader {
public:
    explicit FakeReader(int number) : number_(number) {
        char name[128];
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
        termios tio{};
        tcgetattr(slave_, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave_, TCSANOW, &tio);
        // The slave stays open here too so that the master never sees a hang-up between opens.
        slavePath_ = name;
        setenv(("KRA_COM" + std::to_string(number)).c_str(), name, 1);
    }
    ~FakeReader() {
        close(master_);
        close(slave_);
    }
    // Waits for the next 8 bytes from the host (up to timeoutMs); empty when none came.
    Bytes NextRequest(int timeoutMs = 3000) {
        Bytes got;
        while (got.size() < 8) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0) break;
            uint8_t b[8];
            ssize_t n = read(master_, b, 8 - got.size());
            if (n <= 0) break;
            got.insert(got.end(), b, b + n);
        }
        return got;
    }
    void Answer(const Bytes& b) { ASSERT_EQ(write(master_, b.data(), b.size()), ssize_t(b.size())); }
    const std::string& SlavePath() const { return slavePath_; }
    int Number() const { return number_; }

private:
    int number_;
    int master_ = -1, slave_ = -1;
    std::string slavePath_;
};

// The host's side of the hand-over, as the driver does it: one buffer, a message per card,
// nothing taken while the buffer is full.
class PollingThread : public ::testing::Test {
protected:
    void SetUp() override {
        platform::EnsureMessageQueue();
        platform::ThreadMessage m;
        while (platform::WaitThreadMessage(m, 0)) {}
        hostThread_ = platform::CurrentThreadId();
    }
    // The card sink each thread of a test gets.
    TCardSink Cards() {
        return [this](const std::string& text) {
            std::lock_guard<std::mutex> g(lock_);
            if (locked_) return;
            buffer_ = text;
            locked_ = true;
            platform::PostToThread(hostThread_, kNotify, 0, 0);
        };
    }
    // Lines go nowhere: these tests watch the port and the cards.
    static TLineSink Lines() {
        return [](int32_t, std::string_view) {};
    }
    // The next delivered card number, or "" when none came within the wait.
    std::string NextCard(uint32_t waitMs = 3000) {
        platform::ThreadMessage m;
        if (!platform::WaitThreadMessage(m, waitMs)) return "";
        EXPECT_EQ(m.message, kNotify);
        std::lock_guard<std::mutex> g(lock_);
        locked_ = false;
        return std::move(buffer_);
    }

private:
    uint32_t hostThread_ = 0;
    std::mutex lock_;
    std::string buffer_;
    bool locked_ = false;
};

TEST_F(PollingThread, DeliversTheMaskedNumberOfTheFirstAnswer) {
    struct Case { int32_t bits; uint32_t number; const char* text; int32_t effective; };
    const Case cases[] = {
        {0, 298, "298", 0},    {8, 298, "42", 8},      {9, 298, "298", 9},    {32, 298, "298", 32},
        {0, 0xFFFFFFFF, "4294967295", 0}, {32, 0xFFFFFFFF, "4294967295", 32}, {8, 0x100, "0", 8},
        {33, 0x12345678, "3430008", 24}, {40, 0x12345678, "3430008", 24}, {-1, 0x12345678, "3430008", 24},
    };
    FakeReader reader(7);
    for (const Case& c : cases) {
        TCOMThread thread(7, 9600, c.bits, Cards(), Lines());
        EXPECT_EQ(thread.EffectiveBits(), c.effective);
        EXPECT_EQ(reader.NextRequest(), Poll) << c.bits;  // at once, before any pause
        reader.Answer(CardFrame(c.number));
        EXPECT_EQ(NextCard(), c.text) << c.bits << " " << c.number;
        thread.Stop();
        thread.WaitFor();
    }
}

TEST_F(PollingThread, RejectedAndShortAnswersDeliverNothingAndPollingGoesOn) {
    FakeReader reader(8);
    TCOMThread thread(8, 19200, 0, Cards(), Lines());
    const Bytes tenBytes{0xAA, 0x00, 0x05, 0x01, 0x02, 0x03, 0x04, 0x05, 0x00, 0xBB};
    Bytes tenGood = tenBytes;
    tenGood[8] = 0x05 ^ 0x01 ^ 0x02 ^ 0x03 ^ 0x04 ^ 0x05;
    const Bytes answers[] = {CardFrame(298, false), tenGood, {0xAA, 0x00, 0x06, 0x00}};
    for (const Bytes& a : answers) {
        ASSERT_EQ(reader.NextRequest(), Poll);
        reader.Answer(a);
    }
    ASSERT_EQ(reader.NextRequest(), Poll);
    reader.Answer(CardFrame(77));
    EXPECT_EQ(NextCard(), "77");  // the first and only delivery
    thread.Stop();
    thread.WaitFor();
}

TEST_F(PollingThread, StopCutsTheReadOfASilentReaderShort) {
    FakeReader reader(9);
    auto thread = std::make_unique<TCOMThread>(9, 9600, 0, Cards(), Lines());
    ASSERT_EQ(reader.NextRequest(), Poll);
    thread->Stop();  // the thread waits for an answer that never comes
    thread->WaitFor();
    thread.reset();
    EXPECT_TRUE(reader.NextRequest(300).empty());  // no further poll
    EXPECT_EQ(NextCard(0), "");
}

TEST_F(PollingThread, DestroyingARunningThreadStopsItAndFreesThePort) {
    FakeReader reader(10);
    {
        TCOMThread thread(10, 9600, 0, Cards(), Lines());
        ASSERT_EQ(reader.NextRequest(), Poll);  // destroyed while it waits for the answer
    }
    TCOMThread again(10, 9600, 0, Cards(), Lines());
    EXPECT_EQ(reader.NextRequest(), Poll);
}

TEST_F(PollingThread, APortThatCannotBeOpenedFailsWithItsPath) {
    setenv("KRA_COM11", "/nonexistent/tty", 1);
    try {
        TCOMThread thread(11, 9600, 0, Cards(), Lines());
        FAIL() << "opened";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Open error /nonexistent/tty");
    }
}

TEST_F(PollingThread, APortIsHeldExclusivelyUntilTheThreadIsGone) {
    FakeReader reader(12);
    auto first = std::make_unique<TCOMThread>(12, 9600, 0, Cards(), Lines());
    EXPECT_THROW(TCOMThread(12, 9600, 0, Cards(), Lines()), std::runtime_error);
    first->Stop();
    first->WaitFor();
    first.reset();
    TCOMThread again(12, 9600, 0, Cards(), Lines());  // released: opens again
    again.Stop();
    again.WaitFor();
}

TEST_F(PollingThread, KeepsPollingWhenTheReaderVanishes) {
    auto reader = std::make_unique<FakeReader>(13);
    TCOMThread thread(13, 9600, 0, Cards(), Lines());
    ASSERT_EQ(reader->NextRequest(), Poll);
    reader.reset();  // both pty ends gone: reads and writes fail from now on
    platform::SleepMs(1200);
    EXPECT_EQ(NextCard(0), "");
    thread.Stop();
    thread.WaitFor();
}

TEST_F(PollingThread, KeepsPollingWhenTheLogCannotBeWritten) {
    FakeReader reader(14);
    const TLineSink full = [](int32_t, std::string_view) { throw std::runtime_error("Error Write To File"); };
    {
        TCOMThread thread(14, 9600, 0, Cards(), full);
        ASSERT_EQ(reader.NextRequest(), Poll);
        reader.Answer(CardFrame(298));  // its trace line is lost
        EXPECT_EQ(NextCard(), "298");
        EXPECT_EQ(reader.NextRequest(), Poll);
        thread.Stop();
        thread.WaitFor();
    }
}

}  // namespace

TEST(DevicePath, WindowsNamesCarryTheSignedNumber) {
    // The POSIX side maps a port to a device through KRA_COM<n>; the default is the nth tty.
    unsetenv("KRA_COM3");
    EXPECT_EQ(platform::SerialPort::DevicePath(3), "/dev/ttyS2");
    setenv("KRA_COM-1", "/tmp/x", 1);
    EXPECT_EQ(platform::SerialPort::DevicePath(-1), "/tmp/x");
}
