// The process-wide driver state and the card hand-over to the host.
// Owns: the exports, DriverState (seen only here and by the driver's tests), the log it
// opens, the paths the host gives. Uses: reader/ (the polling thread, handed DeliverCard and
// DriverLogSink as its sinks), settings/ (the store and the dialog), log/, platform/.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "driver/kra_MCR_Serial.h"
#include "platform/Sync.h"
#include "reader/COM_Thread.h"
#include "reader/Reader_Watch.h"
#include "settings/SettingsUnit.h"

class TLogFile;
class TCOMThread;

// The figures KRA_GetStatus hands out, kept up to date as the driver works.
struct TStatusFigures {
    uint32_t Flags = 0;  // KRA_STATUS_* but ENABLED, which KRA_GetStatus takes from DeviceEnabled
    int32_t COM_Number = 0, Baud = 0, Bits = 0;
    uint32_t LastError = 0, SystemError = 0;
    uint32_t CardsRead = 0, CardsDelivered = 0, CardsDropped = 0;
};

// The lock model of the driver's shared state. Locks, in the order they may be nested (never
// the reverse); each guards the fields named:
//   1. StartStopLock (Main.cpp): a whole start or stop; LastErrorText, SettingsFileName,
//      SettingsSection, ReaderSettings, PollingThread; the dialog's copy and save (never held
//      while a window is shown).
//   2. BufferLock: CardBuffer, the writes of BufferLocked, PostFailing, DeliveryBlocked, Running,
//      RunNumber, Waiters; CardArrived waits on it. Held for one hand-over, clear or look of a
//      wait, never while a start or stop waits for anything.
//   3. logRefMutex (Main.cpp): the DriverLog reference, shared for a line, exclusive to swap it;
//      the log's own FileLock is taken inside it.
//   4. StatusLock: Status. A leaf: nothing is locked or logged under it, so KRA_GetStatus and
//      KRA_GetLastErrorCode wait at most for another figure's update.
// Atomics read without a lock: DeviceEnabled, HostThreadId, NotifyMessageId (KRA_EnableDevice
// stores the two ids before it sets DeviceEnabled), BufferLocked.
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
    bool PostFailing = false;               // since a notification could not be posted
    bool DeliveryBlocked = false;           // since a card found the buffer still full
    bool Running = false;                   // from a successful start to the stop
    uint64_t RunNumber = 0;                 // counts the starts: a wait sees a stop and a restart
    int32_t Waiters = 0;                    // threads in KRA_WaitForCard
    std::condition_variable_any CardArrived;  // a card in the buffer, or the stop
    std::mutex StatusLock;
    TStatusFigures Status;

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

// Keeps what a finished poll came to for the status: called by the polling thread.
void NotePoll(const TPollOutcome& outcome);

// Keeps the port's state (lost, open again, the system's code) for the status: polling thread.
void NotePort(const TPortState& state);
