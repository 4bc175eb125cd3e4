// The host interface of 1.1: the status structure and call, the numbered errors, the wait for a
// card, and the notification that repeats until the host clears the buffer. Cards are handed in
// as the polling thread hands them (DeliverCard); the start is simulated where no reader is needed.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "driver/Main.h"
#include "log/Log_File.h"
#include "platform/Files.h"
#include "tests/support/TempFolder.h"

#ifndef _WIN32
#include <cstdlib>
#endif

namespace {

const unsigned char* U(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }
constexpr uint32_t kNotify = 0x0400 + 78;
constexpr uint32_t kForever = 0xFFFFFFFFu;

int DrainNotifications(uint32_t waitMs = 50) {
    int n = 0;
    platform::ThreadMessage m;
    while (platform::WaitThreadMessage(m, waitMs)) {
        EXPECT_EQ(m.message, kNotify);
        ++n;
        waitMs = 0;
    }
    return n;
}

KRA_STATUS Status() {
    KRA_STATUS s;
    std::memset(&s, 0xCC, sizeof s);
    s.Size = sizeof s;
    EXPECT_EQ(KRA_GetStatus(&s), 1);
    return s;
}

int32_t Waiters() {
    platform::Hold hold(DriverState.BufferLock);
    return DriverState.Waiters;
}

// The lines of a log file without their time stamps.
std::vector<std::string> LogLines(const std::string& file) {
    const std::string bytes = ReadBytes(file);
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(bytes.substr(at + 25, end - at - 25));
    return lines;
}

// A driver that runs as after a start, with no reader: the test is the polling thread.
class HostInterface : public ::testing::Test {
protected:
    void SetUp() override {
        platform::EnsureMessageQueue();
        DrainNotifications(0);
        {
            platform::Hold hold(DriverState.BufferLock);
            DriverState.CardBuffer.clear();
            DriverState.BufferLocked = false;
            DriverState.PostFailing = false;
            DriverState.DeliveryBlocked = false;
            DriverState.Running = true;
            ++DriverState.RunNumber;
        }
        DriverState.DeviceEnabled = false;
        std::lock_guard<std::mutex> g(DriverState.StatusLock);
        DriverState.Status = TStatusFigures();
        DriverState.Status.Flags = KRA_STATUS_RUNNING;
    }
    void TearDown() override {
        KRA_Finalize();  // ends the run, and every wait with it
        KRA_ClearBuffer();
        KRA_DisableDevice();
        DriverState.DriverLog.reset();
        DrainNotifications(0);
    }
};

TEST(HostStatus, TheStructureIsFortyBytesOfThirtyTwoBitFields) {
    EXPECT_EQ(sizeof(KRA_STATUS), 40u);
    EXPECT_EQ(offsetof(KRA_STATUS, Flags), 4u);
    EXPECT_EQ(offsetof(KRA_STATUS, LastError), 20u);
    EXPECT_EQ(offsetof(KRA_STATUS, CardsDropped), 36u);
}

// A caller's structure may be shorter or longer than this DLL's: only what both know is written.
TEST(HostStatus, FillsOnlyTheBytesTheCallerKnows) {
    EXPECT_EQ(KRA_GetStatus(nullptr), 0);
    struct Longer {
        KRA_STATUS status;
        uint32_t later[2];
    };
    for (uint32_t size : {0u, 4u, 7u, 8u, 12u, 40u, 48u}) {
        SCOPED_TRACE(size);
        Longer s;
        std::memset(&s, 0xCC, sizeof s);
        s.status.Size = size;
        const bool filled = size >= 8;
        EXPECT_EQ(KRA_GetStatus(&s.status), filled ? 1 : 0);
        EXPECT_EQ(s.status.Size, size);
        const auto* bytes = reinterpret_cast<const unsigned char*>(&s);
        const size_t written = filled ? std::min<size_t>(size, sizeof(KRA_STATUS)) : 4;
        for (size_t i = written; i < sizeof s; ++i) ASSERT_EQ(bytes[i], 0xCC) << "byte " << i;
    }
}

// Each class of start failure, with a text of its kind; 0 with an empty text otherwise.
TEST(HostErrors, EachStartFailureHasItsClass) {
    const TempFolder temp;
    const std::string host = temp.At("host.xml"), log = kra::LengthPrefixed(temp.Dir()),
                      section = kra::LengthPrefixed("Devices");
    std::filesystem::create_directories(temp.Path() / "folder.xml");
#ifndef _WIN32
    setenv("KRA_COM200", "/nonexistent/tty", 1);
#endif
    const struct {
        const char* name;
        const char* file;  // written to host.xml, or the settings path when no text
        std::string settings;
        uint32_t code;
        const char* textBegins;
    } cases[] = {
        {"does not parse", "<XML><Devices>", host, KRA_ERROR_SETTINGS_SYNTAX, ""},
        {"not a number", "<XML><Devices><KRA_MCR_Serial Baud=\"fast\"/></Devices></XML>", host,
         KRA_ERROR_SETTINGS_VALUE, "Could not convert variant of type (String) into type (Integer)"},
        {"a folder", nullptr, temp.At("folder.xml"), KRA_ERROR_SETTINGS_FILE, "Cannot "},  // open (Windows), read (POSIX)
        {"no such port", "<XML><Devices><KRA_MCR_Serial COM_Number=\"200\"/></Devices></XML>", host,
         KRA_ERROR_PORT_OPEN, "Open error "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.file) WriteBytes(host, c.file);
        const std::string file = kra::LengthPrefixed(c.settings);
        EXPECT_EQ(KRA_Initialize(U(file), U(section), U(log), nullptr), 0);
        EXPECT_EQ(KRA_GetLastErrorCode(), c.code);
        const std::string text = KRA_GetLastErrorText();
        EXPECT_EQ(text.rfind(c.textBegins, 0), 0u) << text;
        const KRA_STATUS s = Status();
        EXPECT_EQ(s.LastError, c.code);
        EXPECT_EQ(s.Flags & (KRA_STATUS_RUNNING | KRA_STATUS_PORT_OPEN), 0u);
        EXPECT_NE(s.Flags & KRA_STATUS_LOG_OPEN, 0u);  // it says why
        // The system's code behind a port or a file that does not open; none behind a text.
        EXPECT_EQ(s.SystemError != 0, c.code == KRA_ERROR_PORT_OPEN || c.code == KRA_ERROR_SETTINGS_FILE)
            << s.SystemError;
        if (c.code == KRA_ERROR_PORT_OPEN) {
            EXPECT_EQ(s.COM_Number, 200);
        }
        EXPECT_EQ(KRA_Finalize(), 1);
        EXPECT_EQ(KRA_GetLastErrorCode(), c.code);  // the stop keeps the text, and its class
        EXPECT_EQ(Status().Flags, 0u);
    }
    DriverState.LastErrorText.clear();  // the other driver tests start from a fresh process's state
    std::lock_guard<std::mutex> g(DriverState.StatusLock);
    DriverState.Status = TStatusFigures();
}

TEST_F(HostInterface, WaitsThatReturnNoCard) {
    char buffer[16] = "x";
    EXPECT_EQ(KRA_WaitForCard(30, nullptr, 16), -2);
    EXPECT_EQ(KRA_WaitForCard(30, buffer, 0), -2);
    EXPECT_EQ(KRA_WaitForCard(0, buffer, sizeof buffer), 0);
    EXPECT_EQ(KRA_WaitForCard(30, buffer, sizeof buffer), 0);  // the time-out
    EXPECT_STREQ(buffer, "x");
    KRA_Finalize();
    EXPECT_EQ(KRA_WaitForCard(30, buffer, sizeof buffer), -1);  // not running
}

TEST_F(HostInterface, AWaitTakesTheCardAndClearsTheBuffer) {
    char buffer[11];
    std::atomic<int32_t> result{99};
    std::thread waiter([&] { result = KRA_WaitForCard(kForever, buffer, sizeof buffer); });
    while (Waiters() == 0) std::this_thread::yield();
    DeliverCard("4294967295");  // delivery is off: the waiter alone makes it fill the buffer
    waiter.join();
    EXPECT_EQ(result.load(), 10);
    EXPECT_STREQ(buffer, "4294967295");
    EXPECT_EQ(KRA_GetBuffer(), nullptr);
    EXPECT_EQ(DrainNotifications(0), 0);  // nobody asked for a message
    DeliverCard("7");                      // no waiter, delivery off: dropped
    EXPECT_EQ(KRA_GetBuffer(), nullptr);
    const KRA_STATUS s = Status();
    EXPECT_EQ(s.CardsRead, 2u);
    EXPECT_EQ(s.CardsDelivered, 1u);
    EXPECT_EQ(s.CardsDropped, 1u);
    EXPECT_EQ(s.Flags & KRA_STATUS_BUFFER_FULL, 0u);
}

TEST_F(HostInterface, ACardThatDoesNotFitStaysInTheBuffer) {
    KRA_EnableDevice(platform::CurrentThreadId(), 0, kNotify);
    DeliverCard("4294967295");
    char buffer[11];
    EXPECT_EQ(KRA_WaitForCard(0, buffer, 10), -2);  // ten digits and the NUL need 11
    EXPECT_STREQ(KRA_GetBuffer(), "4294967295");
    EXPECT_NE(Status().Flags & KRA_STATUS_BUFFER_FULL, 0u);
    EXPECT_EQ(KRA_WaitForCard(0, buffer, 11), 10);
    EXPECT_EQ(KRA_GetBuffer(), nullptr);
}

TEST_F(HostInterface, AStopEndsTheWaitAndLeavesTheCardReadable) {
    std::atomic<int32_t> result{99};
    std::thread waiter([&] {
        char buffer[16];
        result = KRA_WaitForCard(kForever, buffer, sizeof buffer);
    });
    while (Waiters() == 0) std::this_thread::yield();
    EXPECT_EQ(KRA_Finalize(), 1);
    waiter.join();
    EXPECT_EQ(result.load(), -1);

    SetUp();  // a new run, with a card that stays in the buffer after its stop
    KRA_EnableDevice(platform::CurrentThreadId(), 0, kNotify);
    DeliverCard("298");
    KRA_Finalize();
    char buffer[16];
    EXPECT_EQ(KRA_WaitForCard(kForever, buffer, sizeof buffer), -1);
    EXPECT_STREQ(KRA_GetBuffer(), "298");
    const KRA_STATUS s = Status();
    EXPECT_EQ(s.Flags, uint32_t(KRA_STATUS_BUFFER_FULL));  // after a stop, with a card: only that
    EXPECT_EQ(s.CardsDelivered, 1u);
}

// A restart while a thread waits ends that wait: the card of the new run is not its card.
TEST_F(HostInterface, ARestartEndsTheWait) {
    std::atomic<int32_t> result{99};
    std::thread waiter([&] {
        char buffer[16];
        result = KRA_WaitForCard(kForever, buffer, sizeof buffer);
    });
    while (Waiters() == 0) std::this_thread::yield();
    {
        platform::Hold hold(DriverState.BufferLock);  // a stop and a start, as the wait sees them
        ++DriverState.RunNumber;
        DriverState.CardArrived.notify_all();
    }
    waiter.join();
    EXPECT_EQ(result.load(), -1);
}

// Three threads wait at once while 30 cards come: each card reaches exactly one of them.
TEST_F(HostInterface, ThreeWaitersGetEachOfThirtyCardsOnce) {
    constexpr int kCards = 30;
    std::mutex lock;
    std::map<std::string, int> got;
    std::vector<std::thread> waiters;
    std::atomic<int> perThread[3] = {};
    for (int t = 0; t < 3; ++t)
        waiters.emplace_back([&, t] {
            char buffer[11];
            while (KRA_WaitForCard(kForever, buffer, sizeof buffer) > 0) {
                std::lock_guard<std::mutex> g(lock);
                ++got[buffer];
                ++perThread[t];
            }
        });
    for (int card = 1; card <= kCards; ++card) {
        while (Waiters() == 0 || KRA_GetInputBufferLen() != 0) std::this_thread::yield();
        DeliverCard(std::to_string(1000 + card));
    }
    while (KRA_GetInputBufferLen() != 0) std::this_thread::yield();
    KRA_Finalize();
    for (auto& w : waiters) w.join();
    std::lock_guard<std::mutex> g(lock);
    EXPECT_EQ(got.size(), size_t(kCards));
    for (const auto& [card, times] : got) EXPECT_EQ(times, 1) << card;
    EXPECT_EQ(perThread[0] + perThread[1] + perThread[2], kCards);
    const KRA_STATUS s = Status();
    EXPECT_EQ(s.CardsRead, uint32_t(kCards));
    EXPECT_EQ(s.CardsDelivered, uint32_t(kCards));
}

// A notification lost in a modal loop is posted again with each card the full buffer turns
// away; the log tells once when cards begin to be turned away and once when the host clears.
TEST_F(HostInterface, TheNotificationRepeatsUntilTheHostClears) {
    const TempFolder temp;
    const std::string file = temp.At("kra_repeat.log");
    DriverState.DriverLog = std::make_shared<TLogFile>(file, 5120, 1, 0, 5, false);
    KRA_EnableDevice(platform::CurrentThreadId(), 0, kNotify);
    DeliverCard("1");
    EXPECT_EQ(DrainNotifications(), 1);  // the host loses it
    DeliverCard("2");
    DeliverCard("3");
    EXPECT_EQ(DrainNotifications(), 2);  // once per card turned away, for the buffered one
    EXPECT_STREQ(KRA_GetBuffer(), "1");
    KRA_ClearBuffer();
    DeliverCard("4");
    DeliverCard("5");
    KRA_ClearBuffer();
    EXPECT_EQ(DrainNotifications(), 2);
    DeliverCard("6");
    EXPECT_EQ(DrainNotifications(), 1);
    KRA_DisableDevice();
    DeliverCard("7");  // turned away, but delivery is off: no message
    EXPECT_EQ(DrainNotifications(), 0);
    KRA_ClearBuffer();
    const KRA_STATUS s = Status();
    EXPECT_EQ(s.CardsRead, 7u);
    EXPECT_EQ(s.CardsDelivered, 3u);
    EXPECT_EQ(s.CardsDropped, 4u);
    DriverState.DriverLog.reset();

    std::vector<std::string> lines;
    for (const std::string& line : LogLines(file))
        if (line.find("Message") == std::string::npos && line.find("Reader") == std::string::npos &&
            line.find("Get buffer") == std::string::npos)
            lines.push_back(line);
    const std::vector<std::string> expected = {
        "      Card 2 not delivered: the buffer still holds 1", "      Clear buffer",
        "      Buffer cleared by the host, delivering again",   "      Card 5 not delivered: the buffer still holds 4",
        "      Clear buffer",                                    "      Buffer cleared by the host, delivering again",
        "      Card 7 not delivered: the buffer still holds 6", "      Clear buffer",
        "      Buffer cleared by the host, delivering again"};
    EXPECT_EQ(lines, expected);
}

// A host that corrects a wrong thread id gets the waiting card's notification at once.
TEST_F(HostInterface, EnablingWithACardInTheBufferPostsAtOnce) {
    KRA_EnableDevice(0xFFFFFFF0u, 0, kNotify);  // no such thread
    DeliverCard("298");
    KRA_STATUS s = Status();
    EXPECT_NE(s.Flags & KRA_STATUS_POST_FAILING, 0u);
    EXPECT_NE(s.SystemError, 0u);
    EXPECT_NE(s.Flags & KRA_STATUS_ENABLED, 0u);
    KRA_EnableDevice(platform::CurrentThreadId(), 0, kNotify);
    EXPECT_EQ(DrainNotifications(), 1);
    EXPECT_STREQ(KRA_GetBuffer(), "298");
    s = Status();
    EXPECT_EQ(s.Flags & KRA_STATUS_POST_FAILING, 0u);
    EXPECT_EQ(s.CardsDelivered, 1u);  // a notification again is no card again
    KRA_ClearBuffer();
    KRA_EnableDevice(platform::CurrentThreadId(), 0, kNotify);  // an empty buffer: nothing to tell
    EXPECT_EQ(DrainNotifications(), 0);
}

// Status calls from several threads while cards come, are turned away and are taken: each
// call's counts agree with each other. Run under ThreadSanitizer natively.
TEST_F(HostInterface, StatusFiguresAgreeWhileCardsCome) {
    std::atomic<bool> done{false};
    std::atomic<int> disagreements{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 2; ++t)
        readers.emplace_back([&] {
            while (!done) {
                const KRA_STATUS s = Status();
                if (s.CardsRead != s.CardsDelivered + s.CardsDropped) ++disagreements;
            }
        });
    std::thread taker([&] {
        char buffer[11];
        while (KRA_WaitForCard(kForever, buffer, sizeof buffer) >= 0) {}
    });
    for (int i = 0; i < 3000; ++i) DeliverCard(std::to_string(i));
    done = true;
    for (auto& r : readers) r.join();
    KRA_Finalize();
    taker.join();
    EXPECT_EQ(disagreements.load(), 0);
    EXPECT_EQ(Status().CardsRead, 3000u);
}

}  // namespace
