// The polling thread against a pty that plays the reader: the test holds the master side,
// the thread opens the slave side as its port (KRA_COM<n> names it).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "reader/COM_Thread.h"
#include "support/RawPty.h"
#include "support/TempFolder.h"

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
    // The slave stays open here too so that the master never sees a hang-up between opens.
    explicit FakeReader(int number) : number_(number) { pty_.PublishAsPort(number); }
    // Waits for the next 8 bytes from the host (up to timeoutMs); empty when none came.
    Bytes NextRequest(int timeoutMs = 3000) {
        Bytes got;
        while (got.size() < 8) {
            pollfd p{pty_.master, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0) break;
            uint8_t b[8];
            ssize_t n = read(pty_.master, b, 8 - got.size());
            if (n <= 0) break;
            got.insert(got.end(), b, b + n);
        }
        return got;
    }
    void Answer(const Bytes& b) { ASSERT_EQ(write(pty_.master, b.data(), b.size()), ssize_t(b.size())); }
    const std::string& SlavePath() const { return pty_.path; }
    int Number() const { return number_; }

private:
    int number_;
    RawPty pty_;
};

// What a thread tells through its line sink, and the cards it hands on, in the order they come.
class Told {
public:
    TLineSink Sink() {
        return [this](int32_t level, std::string_view text) {
            EXPECT_LE(level, 1);
            Add(std::string(text));
        };
    }
    void Add(std::string line) {
        std::lock_guard<std::mutex> g(lock_);
        lines_.push_back(std::move(line));
    }
    // The lines that hold `part`, in order.
    std::vector<std::string> With(const std::string& part) const {
        std::lock_guard<std::mutex> g(lock_);
        std::vector<std::string> found;
        for (const std::string& l : lines_)
            if (l.find(part) != std::string::npos) found.push_back(l);
        return found;
    }

private:
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
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

TEST_F(PollingThread, APortThatCannotBeOpenedFailsWithItsPathAndLogsWhy) {
    Told told;
    setenv("KRA_COM11", "/nonexistent/tty", 1);
    try {
        TCOMThread thread(11, 9600, 0, Cards(), told.Sink());
        FAIL() << "opened";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Open error /nonexistent/tty");
    }
    EXPECT_EQ(told.With(""), (std::vector<std::string>{"      Open error /nonexistent/tty: " +
                                                        platform::SystemErrorReason(ENOENT)}));
}

TEST_F(PollingThread, APortIsHeldExclusivelyUntilTheThreadIsGone) {
    FakeReader reader(12);
    auto first = std::make_unique<TCOMThread>(12, 9600, 0, Cards(), Lines());
    Told told;
    EXPECT_THROW(TCOMThread(12, 9600, 0, Cards(), told.Sink()), std::runtime_error);
    EXPECT_EQ(told.With(""), (std::vector<std::string>{"      Open error " + reader.SlavePath() + ": " +
                                                        platform::SystemErrorReason(EBUSY)}));
    first->Stop();
    first->WaitFor();
    first.reset();
    TCOMThread again(12, 9600, 0, Cards(), Lines());  // released: opens again
    again.Stop();
    again.WaitFor();
}

TEST_F(PollingThread, AVanishedPortIsToldOnceAndTriedAgainQuietly) {
    Told told;
    auto reader = std::make_unique<FakeReader>(13);
    const std::string path = reader->SlavePath();
    TCOMThread thread(13, 9600, 0, Cards(), told.Sink());
    ASSERT_EQ(reader->NextRequest(), Poll);
    reader->Answer(CardFrame(298));
    EXPECT_EQ(NextCard(), "298");
    reader.reset();  // both pty ends gone: the write fails, and so does every attempt to reopen
    platform::SleepMs(2500);
    EXPECT_EQ(NextCard(0), "");
    thread.Stop();
    thread.WaitFor();
    // The loss is told once, with the system's reason, however many attempts fail after it; it
    // is no silent reader and no failing write.
    EXPECT_EQ(told.With(" " + path), (std::vector<std::string>{"      Reopening " + path + " after: " +
                                                               platform::SystemErrorReason(EIO)}));
}

// The port as Wine names a USB adapter: a link that the system removes when the adapter is pulled
// and makes again, to a new device, when it comes back.
class ReplugPort : public PollingThread {
protected:
    void SetUp() override {
        PollingThread::SetUp();
        link_ = folder_.Dir() + "com";
        setenv("KRA_COM16", link_.c_str(), 1);
        Plug();
    }
    void Plug() {
        reader_ = std::make_unique<RawPty>();
        std::filesystem::remove(link_);
        std::filesystem::create_symlink(reader_->path, link_);
    }
    void Unplug() {
        std::filesystem::remove(link_);
        reader_.reset();
    }
    // The next poll on the plugged reader, answered with a card.
    bool PollAnsweredWith(uint32_t number, int timeoutMs = 5000) {
        Bytes got;
        while (got.size() < Poll.size()) {
            pollfd p{reader_->master, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0) return false;
            uint8_t b[8];
            const ssize_t n = read(reader_->master, b, Poll.size() - got.size());
            if (n <= 0) return false;
            got.insert(got.end(), b, b + n);
        }
        const Bytes answer = CardFrame(number);
        return got == Poll && write(reader_->master, answer.data(), answer.size()) == ssize_t(answer.size());
    }
    // Until a line holding `part` has been told (at most a few poll periods).
    static bool AwaitLine(const Told& told, const std::string& part) {
        for (int i = 0; i < 100 && told.With(part).empty(); ++i) platform::SleepMs(50);
        return !told.With(part).empty();
    }
    TPortSink States() {
        return [this](const TPortState& s) {
            std::lock_guard<std::mutex> g(statesLock_);
            states_.push_back(s);
        };
    }
    std::vector<TPortState> StatesSeen() {
        std::lock_guard<std::mutex> g(statesLock_);
        return states_;
    }

    std::string link_;

private:
    TempFolder folder_;
    std::unique_ptr<RawPty> reader_;
    std::mutex statesLock_;
    std::vector<TPortState> states_;
};

TEST_F(ReplugPort, APortThatComesBackIsOpenedAgainAndPolledAtOnce) {
    Told told;
    TCOMThread thread(16, 9600, 0, Cards(), told.Sink(), nullptr, States());
    ASSERT_TRUE(PollAnsweredWith(298));
    EXPECT_EQ(NextCard(), "298");
    Unplug();
    ASSERT_TRUE(AwaitLine(told, "Reopening"));
    platform::SleepMs(1200);  // at least one more attempt, which finds no device
    Plug();
    ASSERT_TRUE(PollAnsweredWith(77));
    EXPECT_EQ(NextCard(), "77");
    thread.Stop();
    thread.WaitFor();
    EXPECT_EQ(told.With(" " + link_), (std::vector<std::string>{
                                          "      Reopening " + link_ + " after: " + platform::SystemErrorReason(EIO),
                                          "      " + link_ + " is open again"}));
    // Open at the start, lost with the write's code, the reopen's own failure, open again.
    EXPECT_EQ(StatesSeen(), (std::vector<TPortState>{{true, 0}, {false, EIO}, {false, ENOENT}, {true, 0}}));
}

TEST_F(ReplugPort, AStopEndsTheWaitToReopen) {
    Told told;
    auto thread = std::make_unique<TCOMThread>(16, 9600, 0, Cards(), told.Sink());
    ASSERT_TRUE(PollAnsweredWith(298));
    Unplug();
    ASSERT_TRUE(AwaitLine(told, "Reopening"));
    thread->Stop();
    thread->WaitFor();  // returns though the device is still gone
    Plug();             // a stopped thread does not come back for it
    EXPECT_FALSE(PollAnsweredWith(1, 1500));
    thread.reset();
    EXPECT_TRUE(told.With("is open again").empty());
}

TEST_F(PollingThread, TellsWhenTheReaderFallsSilentAndWhenItAnswersAgain) {
    Told told;
    FakeReader reader(15);
    const std::string noAnswer = "      No answer from the reader on " + reader.SlavePath();
    const std::string again = "      The reader answers again on " + reader.SlavePath();
    const Bytes card5 = CardFrame(5);
    const Bytes nothing, half(card5.begin(), card5.begin() + 5);
    const Bytes noCard{0xAA, 0x00, 0x02, 0x00, 0x00, 0x02, 0xBB};  // an answer without a card
    const TCardSink cards = [&told, host = Cards()](const std::string& text) {
        told.Add("card " + text);
        host(text);
    };
    TCOMThread thread(15, 9600, 0, cards, told.Sink());
    // Silent from the first cycle; a half frame and a bad check byte are no answers either.
    const std::pair<Bytes, std::string> steps[] = {{nothing, ""}, {half, ""},        {CardFrame(7, false), ""},
                                                   {noCard, ""},  {CardFrame(8), "8"}, {nothing, ""},
                                                   {CardFrame(9), "9"}};
    for (const auto& [answer, card] : steps) {
        ASSERT_EQ(reader.NextRequest(), Poll);
        reader.Answer(answer);
        if (!card.empty()) {
            EXPECT_EQ(NextCard(), card);
        }
    }
    thread.Stop();
    thread.WaitFor();
    // The port's lines and the cards, not the traces and "...bad LRC".
    std::vector<std::string> seen;
    for (const std::string& line : told.With(""))
        if (line.find(" " + reader.SlavePath()) != std::string::npos || line.rfind("card ", 0) == 0) seen.push_back(line);
    EXPECT_EQ(seen, (std::vector<std::string>{noAnswer, again, "card 8", noAnswer, again, "card 9"}));
    EXPECT_EQ(told.With("...bad LRC").size(), 1u);
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
