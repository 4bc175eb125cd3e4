// The process-wide driver state and the card hand-over to the host.
// Owns: the eleven exports, DriverState (seen only here and by the driver's tests), the log it
// opens, the paths the host gives. Uses: reader/ (the polling thread, handed DeliverCard and
// DriverLogSink as its sinks), settings/ (the store and the dialog), log/, platform/.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "driver/kra_MCR_Serial.h"
#include "platform/Sync.h"
#include "settings/SettingsUnit.h"

class TLogFile;
class TCOMThread;

struct TDriverState {
    std::string LastErrorText;
    std::string CardBuffer;                 // digits and one NUL of their own, or empty
    std::atomic<bool> BufferLocked{false};
    std::atomic<bool> DeviceEnabled{false};
    std::atomic<uint32_t> NotifyMessageId{0};
    std::atomic<uint32_t> HostThreadId{0};
    std::string SettingsFileName;
    std::string SettingsSection;
    std::unique_ptr<TCOMThread> PollingThread;
    TReaderSettings ReaderSettings;
    std::shared_ptr<TLogFile> DriverLog;    // taken through DriverLogRef(), see Main.cpp
    platform::CriticalSection BufferLock;   // lives as long as the process

    // Unloading the library releases the texts only: a host that unloads without KRA_Finalize
    // must not have the unloader wait for the polling thread (under the loader lock).
    TDriverState();
    ~TDriverState();
};

extern TDriverState DriverState;

// Writes a line to DriverLog; nothing while the log does not exist.
void DriverLogWrite(int32_t level, std::string_view text, bool addTime = true);

// DriverLogWrite with a time stamp: the polling thread's line sink.
void DriverLogSink(int32_t level, std::string_view text);

// Hands a card number (decimal text) to the host: called by the polling thread.
void DeliverCard(const std::string& text);
