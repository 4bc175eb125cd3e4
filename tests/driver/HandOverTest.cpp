// Card hand-over and the exports' behaviour in odd states, with the driver linked in.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/Main.h"
#include "log/Log_File.h"
#include "platform/Files.h"
#include "tests/support/TempFolder.h"

namespace {


// A log folder of the program's own, with its final separator.
std::string TempLogPath() {
    static const TempFolder folder("handover");
    return folder.Dir();
}
const unsigned char* U(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

constexpr uint32_t kNotify = 0x0400 + 77;

// Counts the notifications waiting on the calling thread's queue.
int DrainNotifications(uint32_t waitMs = 50) {
    int n = 0;
    platform::ThreadMessage m;
    while (platform::WaitThreadMessage(m, waitMs)) {
        EXPECT_EQ(m.message, kNotify);
        EXPECT_EQ(m.wParam, 0u);
        EXPECT_EQ(m.lParam, 0);
        ++n;
        waitMs = 0;
    }
    return n;
}

class HandOver : public ::testing::Test {
protected:
    void SetUp() override {
        platform::EnsureMessageQueue();
        DriverState.CardBuffer.clear();
        DriverState.BufferLocked = false;
        DriverState.DeviceEnabled = false;
        DriverState.PostFailing = false;
        DriverState.DeliveryBlocked = false;
        DrainNotifications(0);
    }
    void TearDown() override { KRA_ClearBuffer(); KRA_DisableDevice(); }
};

TEST_F(HandOver, EnabledDeliveryFillsBufferAndPostsOnce) {
    KRA_EnableDevice(platform::CurrentThreadId(), 0, kNotify);
    DeliverCard("298");
    EXPECT_EQ(DrainNotifications(), 1);
    EXPECT_EQ(KRA_GetInputBufferLen(), 4);
    const char* b = KRA_GetBuffer();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(0, std::memcmp(b, "298\0", 5));  // the buffer's NUL, then the text's terminator

    DeliverCard("4294967295");  // buffer still locked: dropped; the buffered card is announced again
    EXPECT_EQ(DrainNotifications(), 1);
    EXPECT_STREQ(KRA_GetBuffer(), "298");

    EXPECT_EQ(KRA_ClearBuffer(), 1);
    EXPECT_EQ(KRA_GetBuffer(), nullptr);
    EXPECT_EQ(KRA_GetInputBufferLen(), 0);
    DeliverCard("298");  // the same card again after the clear is delivered again
    EXPECT_EQ(DrainNotifications(), 1);
    EXPECT_STREQ(KRA_GetBuffer(), "298");
}

TEST_F(HandOver, DisabledDropsAndEnablingDoesNotBringBack) {
    DeliverCard("42");
    EXPECT_EQ(DrainNotifications(), 0);
    EXPECT_EQ(KRA_GetBuffer(), nullptr);
    KRA_EnableDevice(platform::CurrentThreadId(), 0, kNotify);
    EXPECT_EQ(DrainNotifications(), 0);
    EXPECT_EQ(KRA_GetInputBufferLen(), 0);
}

TEST_F(HandOver, DisablingKeepsAFilledBuffer) {
    KRA_EnableDevice(platform::CurrentThreadId(), 0, kNotify);
    DeliverCard("7");
    KRA_DisableDevice();
    EXPECT_STREQ(KRA_GetBuffer(), "7");
    KRA_EnableDevice(platform::CurrentThreadId(), 0, kNotify);  // announces the buffered card again
    DeliverCard("8");  // enabling did not unlock it; 7 is announced once more
    EXPECT_STREQ(KRA_GetBuffer(), "7");
    EXPECT_EQ(DrainNotifications(), 3);
}

TEST_F(HandOver, FailedPostStillLocksTheBuffer) {
    KRA_EnableDevice(0xFFFFFFF0u, 0, kNotify);  // no such thread
    DeliverCard("5");
    EXPECT_STREQ(KRA_GetBuffer(), "5");
    DeliverCard("6");
    EXPECT_STREQ(KRA_GetBuffer(), "5");
}

// Notifications that cannot be posted are logged when they begin to fail and when they get
// through again, not once per card; the buffer is filled and locked all the same.
TEST_F(HandOver, FailedPostsAreLoggedWhenTheyBeginAndWhenTheyEnd) {
    const TempFolder temp;
    const std::string file = temp.At("kra_handover_posts.log");
    DriverState.DriverLog = std::make_shared<TLogFile>(file, 5120, 1, 0, 5, false);
    const uint32_t self = platform::CurrentThreadId(), nobody = 0xFFFFFFF0u;
    const std::string failingPrefix =
        "      Cannot post message " + std::to_string(kNotify) + " to thread " + std::to_string(nobody) + ": ";
#ifdef _WIN32
    const std::string failing = failingPrefix;  // the reason differs between Windows (1444) and Wine (87)
#else
    const std::string failing = failingPrefix + platform::SystemErrorReason(ESRCH);
#endif
    const std::string again = "      Posting message " + std::to_string(kNotify) + " to thread " + std::to_string(self) +
                              " works again";

    KRA_EnableDevice(nobody, 0, kNotify);
    for (const char* card : {"1", "2", "3"}) {  // a host that fetches without being told
        DeliverCard(card);
        EXPECT_STREQ(KRA_GetBuffer(), card);
        KRA_ClearBuffer();
    }
    KRA_EnableDevice(self, 0, kNotify);
    DeliverCard("4");
    KRA_ClearBuffer();
    DeliverCard("5");
    KRA_ClearBuffer();
    EXPECT_EQ(DrainNotifications(), 2);
    KRA_EnableDevice(nobody, 0, kNotify);
    DeliverCard("6");  // failing anew
    KRA_ClearBuffer();
    DriverState.DriverLog.reset();

    const std::string bytes = ReadBytes(file);
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2) {
        std::string line = bytes.substr(at + 25, end - at - 25);  // without the time stamp
        if (failing == failingPrefix && line.rfind(failingPrefix, 0) == 0) line = failingPrefix;
        if (line.find("buffer") == std::string::npos && line.find("Reader") == std::string::npos) lines.push_back(line);
    }
    const std::vector<std::string> expected = {
        "         Message : 1", failing, "         Message : 2", "         Message : 3",
        "         Message : 4", again, "         Message : 5", "         Message : 6", failing};
    EXPECT_EQ(lines, expected);
}

// With a log that lets level 10 through, each decision of the hand-over shows, in order.
TEST_F(HandOver, DecisionsAreLoggedInOrder) {
    const TempFolder temp;
    const std::string file = temp.At("kra_handover_decisions.log");
    DriverState.DriverLog = std::make_shared<TLogFile>(file, 5120, 10, 0, 5, false);

    KRA_EnableDevice(platform::CurrentThreadId(), 0, kNotify);
    DeliverCard("1");
    KRA_DisableDevice();
    DeliverCard("2");  // locked and disabled
    KRA_ClearBuffer();
    DeliverCard("3");  // disabled only
    DriverState.DriverLog.reset();

    const std::string bytes = ReadBytes(file);
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(bytes.substr(at + 25, end - at - 25));  // without the time stamp
    const std::vector<std::string> expected = {
        "      Enable Reader",  "         Message : 1", "      Send notification: ",
        "      Disable Reader", "         Message : 2", "      Buffer locked",
        "      Device disabled", "      Card 2 not delivered: the buffer still holds 1", "      Clear buffer",
        "      Buffer cleared by the host, delivering again", "         Message : 3", "      Device disabled"};
    EXPECT_EQ(lines, expected);
}

TEST(Exports, ConstantsInEveryState) {
    EXPECT_EQ(KRA_GetDeviceType(), 1);
    const char* name = nullptr;
    const char* description = nullptr;
    KRA_DeviceDescription(&name, &description);
    const std::string expected = "\xD1\xF7\xE8\xF2\xFB\xE2\xE0\xF2\xE5\xEB\xFC \xEC\xE0\xE3\xED\xE8\xF2\xED\xFB\xF5 "
                                 "\xEA\xE0\xF0\xF2 MIFARE 14443 (COM \xEF\xEE\xF0\xF2)";
    EXPECT_EQ(std::string(name), expected);
    EXPECT_EQ(std::string(description), expected + ".");
    KRA_DeviceDescription(nullptr, nullptr);  // null pointers are skipped
    const char* e1 = KRA_GetLastErrorText();
    ASSERT_NE(e1, nullptr);
    EXPECT_STREQ(e1, "");
    EXPECT_EQ(KRA_GetLastErrorText(), e1);
}

// Whether COM1 opens depends on the machine; these call orders must be safe either way.
TEST(Exports, OddCallOrdersDoNotCrash) {
    EXPECT_EQ(KRA_Finalize(), 1);     // before any start
    EXPECT_EQ(KRA_ClearBuffer(), 1);  // after the stop
    EXPECT_EQ(KRA_GetBuffer(), nullptr);
    const std::string file = kra::LengthPrefixed("none.xml"), section = kra::LengthPrefixed("Devices"),
                      log = kra::LengthPrefixed(TempLogPath());
    KRA_EnableDevice(1, 0, 2);
    const bool started = KRA_Initialize(U(file), U(section), U(log), nullptr);
    EXPECT_FALSE(DriverState.DeviceEnabled.load());  // the start disables the device
    EXPECT_EQ(KRA_Initialize(U(file), U(section), U(log), nullptr), started);  // restarts on the same port
    EXPECT_EQ(KRA_Finalize(), 1);
    EXPECT_EQ(KRA_Finalize(), 1);
    EXPECT_EQ(DriverState.PollingThread, nullptr);
    KRA_Initialize(nullptr, nullptr, U(log), nullptr);  // null texts count as empty
    EXPECT_EQ(KRA_Finalize(), 1);                        // also after a failed start
    EXPECT_EQ(KRA_GetDeviceType(), 1);
    EXPECT_NE(KRA_GetLastErrorText(), nullptr);
}

TEST(Exports, LengthPrefixedTextsTakeTheirStatedLength) {
    std::string section = kra::LengthPrefixed("Devices") + "garbage that follows";
    std::string longName(255, 'n');
    std::string file = kra::LengthPrefixed(longName) + "xyz";
    std::string log = kra::LengthPrefixed(TempLogPath());
    KRA_Initialize(U(file), U(section), U(log), nullptr);
    EXPECT_EQ(DriverState.SettingsSection, "Devices");
    EXPECT_EQ(DriverState.SettingsFileName, longName);
    KRA_Finalize();
}

// Several host threads serve the buffer (one at a time, as one host would) while deliveries
// run flat out: a buffer the host found filled never changes under it until the host clears it.
// Run under ThreadSanitizer natively.
TEST(Exports, BufferStress) {
    platform::EnsureMessageQueue();
    DriverState.CardBuffer.clear();
    DriverState.BufferLocked = false;
    KRA_EnableDevice(platform::CurrentThreadId(), 0, kNotify);
    std::atomic<bool> done{false};
    std::atomic<int> changedUnderHost{0}, served{0};
    std::mutex host;
    std::thread poller([&] {
        for (int i = 0; i < 2000000 && (i < 20000 || served < 200); ++i) DeliverCard(std::to_string(i));
        done = true;
    });
    std::vector<std::thread> hosts;
    for (int t = 0; t < 3; ++t) {
        hosts.emplace_back([&, t] {
            while (!done) {
                std::lock_guard<std::mutex> g(host);
                const char* b = KRA_GetBuffer();
                if (!b) continue;
                int32_t len = KRA_GetInputBufferLen();
                std::string seen(b);
                std::this_thread::yield();
                if (KRA_GetInputBufferLen() != len || std::string(KRA_GetBuffer()) != seen ||
                    int32_t(seen.size()) + 1 != len)
                    ++changedUnderHost;
                if (t != 0) {
                    KRA_ClearBuffer();
                    ++served;
                }
            }
        });
    }
    // A full buffer's notification is posted again with every card turned away: the queue is
    // served as a host's would be, or it fills and every further post fails the slow way.
    while (!done) DrainNotifications(1);
    poller.join();
    for (auto& h : hosts) h.join();
    EXPECT_EQ(changedUnderHost.load(), 0);
    EXPECT_GT(served.load(), 0);
    KRA_ClearBuffer();
    KRA_DisableDevice();
    DrainNotifications(0);
}

}  // namespace
