// The exported functions, the driver state they work on, and the card hand-over.
// No exception leaves an export: the start and stop report failures through their result
// and KRA_GetLastErrorText, the other exports contain them.
#include "driver/Main.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <shared_mutex>
#include <utility>

#include "log/Log_File.h"
#include "platform/Decimal.h"
#include "platform/Files.h"
#include "reader/COM_Thread.h"
#include "settings/SettingsUnit.h"

static_assert(sizeof(KRA_STATUS) == 40, "KRA_STATUS is 40 bytes in both DLLs");

TDriverState DriverState;

TDriverState::TDriverState() = default;
TDriverState::~TDriverState() {
    (void)PollingThread.release();
    if (DriverLog) new std::shared_ptr<TLogFile>(std::move(DriverLog));
}

namespace {

const char NameText[] = "Считыватель магнитных карт MIFARE 14443 (COM порт)";
const char DescriptionText[] = "Считыватель магнитных карт MIFARE 14443 (COM порт).";

// The driver's log, in the folder the host names: files of 5 MB, numbered .01 (current) to .05,
// lines of the life cycle and the host calls (level 1) but not the hand-over decisions (10).
const char LogFileName[] = "kra_MCR_Serial.log";
constexpr int32_t LogMaxSizeKB = 5120, LogLevel = 1, LogMode = LogModeNumbered, LogFileCount = 5;
constexpr bool LogAddUserName = false;

// Serialises the start, the stop, the error text and the settings dialog's store and save, so that
// each sees the driver either fully started or fully stopped, whichever host threads call them.
// Never held while a window is shown; the buffer exports keep to BufferLock and never wait on it.
std::mutex StartStopLock;

// Guards the DriverLog reference. Lines are written under a shared hold, so that a stop that
// takes the log away waits for the lines in flight: the old log has closed its file before a new
// start opens the same file again (two open logs would overwrite each other's lines, and on
// Windows the new one could not open the file at all). Writers never wait for each other.
std::shared_mutex logRefMutex;

// Lines lost to failed log writes since the last line that got through (see DriverLogWrite).
std::atomic<uint32_t> lostLogLines{0};

std::shared_ptr<TLogFile> DriverLogRef() {
    std::shared_lock<std::shared_mutex> g(logRefMutex);
    return DriverState.DriverLog;
}

void SetDriverLog(std::shared_ptr<TLogFile> log) {
    std::shared_ptr<TLogFile> old;
    {
        std::unique_lock<std::shared_mutex> g(logRefMutex);
        old = std::exchange(DriverState.DriverLog, std::move(log));
        lostLogLines = 0;  // a new log starts its own count
    }
    // the old log closes here, outside the reference lock
}

// For exports that have no way to report a failed log write: the line is lost, the call goes on.
void LogContained(int32_t level, std::string_view text) {
    try {
        DriverLogWrite(level, text);
    } catch (...) {
    }
}

std::string LengthPrefixed(const unsigned char* text) {
    if (!text) return {};
    return std::string(reinterpret_cast<const char*>(text) + 1, text[0]);
}

std::string MessageOf(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        return *e.what() ? e.what() : "Unknown error";
    } catch (...) {
        return "Unknown error";
    }
}

// The class of a failure, as KRA_GetLastErrorCode tells it.
uint32_t ErrorCodeOf(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const ESettingsError& e) {
        switch (e.Failure()) {
            case TSettingsFailure::Syntax: return KRA_ERROR_SETTINGS_SYNTAX;
            case TSettingsFailure::Value: return KRA_ERROR_SETTINGS_VALUE;
            case TSettingsFailure::File: return KRA_ERROR_SETTINGS_FILE;
        }
        return KRA_ERROR_INTERNAL;
    } catch (const EPortOpenError&) {
        return KRA_ERROR_PORT_OPEN;
    } catch (const std::bad_alloc&) {
        return KRA_ERROR_NO_MEMORY;
    } catch (...) {
        return KRA_ERROR_INTERNAL;
    }
}

// Changes the status figures in one step, so that a status call sees all of a change or none.
template <class Change>
void UpdateStatus(Change change) {
    std::lock_guard<std::mutex> g(DriverState.StatusLock);
    change(DriverState.Status);
}

void SetFlag(TStatusFigures& status, uint32_t flag, bool on) {
    status.Flags = on ? status.Flags | flag : status.Flags & ~flag;
}

// The failure's text and class for the host, with the system's code where it has one; under
// StartStopLock, as LastErrorText is.
void RecordFailure(std::exception_ptr failure) {
    DriverState.LastErrorText = MessageOf(failure);
    const uint32_t code = ErrorCodeOf(failure);
    uint32_t systemError = 0;
    try {
        std::rethrow_exception(failure);
    } catch (const EPortOpenError& e) {
        systemError = e.SystemError;
    } catch (const ESettingsError& e) {
        systemError = e.SystemError();
    } catch (...) {
    }
    UpdateStatus([&](TStatusFigures& s) {
        s.LastError = code;
        if (systemError) s.SystemError = systemError;
    });
}

// Posts the notification for the card in the buffer; under BufferLock.
void PostNotification() {
    const uint32_t thread = DriverState.HostThreadId, message = DriverState.NotifyMessageId;
    uint32_t error = 0;
    const bool posted = platform::PostToThread(thread, message, 0, 0, &error);
    UpdateStatus([&](TStatusFigures& s) {
        SetFlag(s, KRA_STATUS_POST_FAILING, !posted);
        if (!posted) s.SystemError = error;
    });
    // A host whose notifications do not arrive is told once when they begin to fail, and once
    // when they get through again, not with every card.
    if (posted == !DriverState.PostFailing) return;
    DriverState.PostFailing = !posted;
    const std::string target = "message " + std::to_string(message) + " to thread " + std::to_string(thread);
    DriverLogWrite(1, posted ? "      Posting " + target + " works again"
                             : "      Cannot post " + target + ": " + platform::SystemErrorReason(error));
}

// Empties the buffer for the next card; under BufferLock.
void ClearHeldBuffer() {
    DriverState.CardBuffer.clear();
    DriverState.BufferLocked = false;
    UpdateStatus([](TStatusFigures& s) { SetFlag(s, KRA_STATUS_BUFFER_FULL, false); });
    if (!DriverState.DeliveryBlocked) return;
    DriverState.DeliveryBlocked = false;
    DriverLogWrite(1, "      Buffer cleared by the host, delivering again");
}

// BufferLock as the lock a condition variable releases while it waits.
struct TBufferLockable {
    void lock() { DriverState.BufferLock.Enter(); }
    void unlock() { DriverState.BufferLock.Leave(); }
};

// A whole decimal number with an optional sign that fits 32 bits; fallback otherwise.
int32_t WholeNumberOr(const std::string& text, int32_t fallback) {
    const std::optional<int64_t> value = platform::SignedDecimal(text, int64_t{INT32_MAX} + 2);
    if (!value || *value < INT32_MIN || *value > INT32_MAX) return fallback;
    return static_cast<int32_t>(*value);
}

// Stops the polling thread and closes the log: the stop step of KRA_Finalize.
void StopDriver() {
    DriverLogWrite(1, "      Stoping thread");
    if (DriverState.PollingThread) {
        DriverState.PollingThread->Stop();
        DriverState.PollingThread->WaitFor();
        DriverState.PollingThread.reset();
    }
    DriverLogWrite(1, "      Thread stopped");
    DriverLogWrite(1, "***** Finalize *****");
    DriverLogWrite(1, "");
    SetDriverLog(nullptr);
    // The figures of the run stay readable; of the flags, only what outlives the run.
    UpdateStatus([](TStatusFigures& s) { s.Flags &= KRA_STATUS_SETTINGS_FILE | KRA_STATUS_BUFFER_FULL; });
}

bool FinalizeDriver() {
    bool result = true;
    try {
        {
            // Waits end at once, before the thread is asked to stop.
            platform::Hold hold(DriverState.BufferLock);
            DriverState.Running = false;
            DriverState.CardArrived.notify_all();
        }
        DriverLogWrite(1, "***** Finalize *****");
        SetApplicationHandle(nullptr);
        StopDriver();
    } catch (...) {
        result = false;
        RecordFailure(std::current_exception());
    }
    return result;
}

void StartThread() {
    DriverLogWrite(1, "      Create thread");
    const TReaderSettings& s = DriverState.ReaderSettings;
    DriverState.PollingThread =
        std::make_unique<TCOMThread>(s.COM_Number, s.Baud, s.Bits, DeliverCard, DriverLogSink, NotePoll,
                                     NotePort);
    char id[16];
    std::snprintf(id, sizeof id, "%08X", static_cast<unsigned>(DriverState.PollingThread->ThreadID()));
    DriverLogWrite(1, std::string("      Thread created. Thread_ID = $") + id);
}

bool InitializeDriver(const unsigned char* fileName, const unsigned char* section, const unsigned char* logPath,
                      void* appHandle) {
    std::string file = LengthPrefixed(fileName), sectionName = LengthPrefixed(section), path = LengthPrefixed(logPath);
    // A start over a running driver first stops it, as KRA_Finalize would: the old thread
    // holds the port and the old log, and nothing else would ever release them.
    if (DriverState.PollingThread || DriverLogRef()) FinalizeDriver();

    bool result = true;
    {
        platform::Hold hold(DriverState.BufferLock);
        DriverState.LastErrorText.clear();
        DriverState.CardBuffer.clear();
        DriverState.BufferLocked = false;
        DriverState.PostFailing = false;  // each start tells anew
        DriverState.DeliveryBlocked = false;
        UpdateStatus([](TStatusFigures& s) { s = TStatusFigures(); });
    }
    DriverState.DeviceEnabled = false;
    DriverState.SettingsFileName = file;
    DriverState.SettingsSection = sectionName;
    SetApplicationHandle(appHandle);
    SetDriverLog(
        std::make_shared<TLogFile>(path + LogFileName, LogMaxSizeKB, LogLevel, LogMode, LogFileCount, LogAddUserName));
    const bool logOpen = DriverLogRef()->IsOpen();
    UpdateStatus([&](TStatusFigures& s) { SetFlag(s, KRA_STATUS_LOG_OPEN, logOpen); });

    DriverLogWrite(1, "\r\n\r\n", false);
    DriverLogWrite(1, "***** Initialize *****");
    DriverLogWrite(1, "      kra_MCR_Serial " KRA_VERSION ", " + std::to_string(sizeof(void*) * 8) + "-bit");
    DriverLogWrite(1, "      Read configuration");
    bool configured = true;
    try {
        const bool allFromFile =
            LoadSettings(DriverState.SettingsFileName, DriverState.SettingsSection, DriverState.ReaderSettings,
                         [](const std::string& line) { DriverLogWrite(1, line); });
        const TReaderSettings& r = DriverState.ReaderSettings;
        UpdateStatus([&](TStatusFigures& s) {
            SetFlag(s, KRA_STATUS_SETTINGS_FILE, allFromFile);
            s.COM_Number = r.COM_Number;
            s.Baud = r.Baud;
            s.Bits = r.Bits;
        });
    } catch (...) {
        // A settings file that cannot be read must not start the reader on a port nobody chose.
        configured = result = false;
        RecordFailure(std::current_exception());
        DriverLogWrite(1, "      Configuration error: " + DriverState.LastErrorText);
    }
    if (configured) {
        const TReaderSettings& s = DriverState.ReaderSettings;
        DriverLogWrite(1, "      Port Number = " + std::to_string(s.COM_Number));
        DriverLogWrite(1, "      Baud        = " + std::to_string(s.Baud));
        DriverLogWrite(1, "      Bits        = " + std::to_string(s.Bits));
        try {
            StartThread();
            UpdateStatus([](TStatusFigures& s) { s.Flags |= KRA_STATUS_RUNNING | KRA_STATUS_PORT_OPEN; });
            platform::Hold hold(DriverState.BufferLock);
            DriverState.Running = true;
            ++DriverState.RunNumber;
        } catch (...) {
            result = false;
            RecordFailure(std::current_exception());
        }
    }
    DriverLogWrite(1, "***** Initialize *****");
    DriverLogWrite(1, "");
    // A driver that did not start holds no handle of its log between lines: a host may unload
    // it now without a stop, and the file must not stay open for the rest of the process.
    if (!result)
        if (const std::shared_ptr<TLogFile> log = DriverLogRef()) log->KeepOpen(false);
    return result;
}

}  // namespace

// A failed write (full disk, lost share) costs only its own line: neither an export nor the
// polling thread is stopped by its log. The next line that gets through is preceded by the
// count of lines lost, so the gap shows in the file itself.
void DriverLogWrite(int32_t level, std::string_view text, bool addTime) {
    std::shared_lock<std::shared_mutex> use(logRefMutex);
    TLogFile* log = DriverState.DriverLog.get();
    if (!log || !log->Accepts(level)) return;
    try {
        if (uint32_t lost = lostLogLines.exchange(0)) {
            try {
                log->Log(level, "      Log write failed, lines lost: " + std::to_string(lost), true);
            } catch (const ELogWriteError&) {
                lostLogLines += lost;
                throw;
            }
        }
        log->Log(level, text, addTime);
        const bool open = log->IsOpen();
        UpdateStatus([&](TStatusFigures& s) { SetFlag(s, KRA_STATUS_LOG_OPEN, open); });
    } catch (const ELogWriteError&) {
        ++lostLogLines;
        UpdateStatus([](TStatusFigures& s) { SetFlag(s, KRA_STATUS_LOG_OPEN, false); });
    }
}

void DriverLogSink(int32_t level, std::string_view text) { DriverLogWrite(level, text, true); }

void DeliverCard(const std::string& text) {
    DriverLogWrite(1, "         Message : " + text);
    platform::Hold hold(DriverState.BufferLock);
    const bool locked = DriverState.BufferLocked, enabled = DriverState.DeviceEnabled.load(std::memory_order_acquire);
    if (locked || (!enabled && DriverState.Waiters == 0)) {
        if (locked) DriverLogWrite(10, "      Buffer locked");
        if (!enabled) DriverLogWrite(10, "      Device disabled");
        UpdateStatus([](TStatusFigures& s) {
            ++s.CardsRead;
            ++s.CardsDropped;
        });
        if (!locked) return;
        if (!DriverState.DeliveryBlocked) {
            DriverState.DeliveryBlocked = true;
            DriverLogWrite(1, "      Card " + text + " not delivered: the buffer still holds " +
                                  DriverState.CardBuffer.c_str());
        }
        // The notification of the buffered card may have been lost (a modal loop drops thread
        // messages): it goes again with every card the full buffer turns away.
        if (enabled) PostNotification();
        return;
    }
    DriverLogWrite(10, "      Send notification: ");
    DriverState.CardBuffer = text;
    DriverState.CardBuffer.push_back('\0');
    DriverState.BufferLocked = true;  // posted or not: the host may still fetch the number
    UpdateStatus([](TStatusFigures& s) {
        ++s.CardsRead;
        ++s.CardsDelivered;
        s.Flags |= KRA_STATUS_BUFFER_FULL;
    });
    DriverState.CardArrived.notify_all();
    if (enabled) PostNotification();  // a host that only waits gets no message
}

void NotePort(const TPortState& state) {
    UpdateStatus([&](TStatusFigures& s) {
        SetFlag(s, KRA_STATUS_PORT_OPEN, state.Open);
        if (state.SystemError) s.SystemError = state.SystemError;
        if (!state.Open) SetFlag(s, KRA_STATUS_READER_ANSWERS, false);
    });
}

void NotePoll(const TPollOutcome& outcome) {
    UpdateStatus([&](TStatusFigures& s) {
        SetFlag(s, KRA_STATUS_READER_ANSWERS, outcome.Answered);
        if (outcome.WriteError) s.SystemError = outcome.WriteError;
    });
}

extern "C" {

KRA_BOOL KRA_CALL KRA_Initialize(const unsigned char* SettingsFileName, const unsigned char* SettingsSection,
                                 const unsigned char* LogPath, void* AppHandle) {
    try {
        std::lock_guard<std::mutex> g(StartStopLock);
        return InitializeDriver(SettingsFileName, SettingsSection, LogPath, AppHandle);
    } catch (...) {
        try {
            RecordFailure(std::current_exception());
        } catch (...) {
        }
        return 0;
    }
}

KRA_BOOL KRA_CALL KRA_Finalize(void) {
    try {
        std::lock_guard<std::mutex> g(StartStopLock);
        return FinalizeDriver();
    } catch (...) {
        return 0;
    }
}

KRA_BOOL KRA_CALL KRA_EnableDevice(uint32_t HostThreadId, uint32_t, uint32_t NotifyMessageId) {
    LogContained(1, "      Enable Reader");
    DriverState.HostThreadId = HostThreadId;
    DriverState.NotifyMessageId = NotifyMessageId;
    DriverState.DeviceEnabled.store(true, std::memory_order_release);  // after the two above
    // A card the old target never heard of is announced to the new one at once.
    try {
        platform::Hold hold(DriverState.BufferLock);
        if (DriverState.BufferLocked) PostNotification();
    } catch (...) {
    }
    return 1;
}

KRA_BOOL KRA_CALL KRA_DisableDevice(void) {
    LogContained(1, "      Disable Reader");
    DriverState.DeviceEnabled = false;
    return 1;
}

int32_t KRA_CALL KRA_GetInputBufferLen(void) {
    LogContained(1, "      Get buffer length");
    platform::Hold hold(DriverState.BufferLock);
    return static_cast<int32_t>(DriverState.CardBuffer.size());
}

const char* KRA_CALL KRA_GetBuffer(void) {
    LogContained(1, "      Get buffer");
    platform::Hold hold(DriverState.BufferLock);
    return DriverState.CardBuffer.empty() ? nullptr : DriverState.CardBuffer.c_str();
}

KRA_BOOL KRA_CALL KRA_ClearBuffer(void) {
    platform::Hold hold(DriverState.BufferLock);
    LogContained(1, "      Clear buffer");
    try {
        ClearHeldBuffer();
    } catch (...) {
        DriverState.CardBuffer.clear();
        DriverState.BufferLocked = false;
    }
    return 1;
}

void KRA_CALL KRA_DeviceDescription(const char** Name, const char** Description) {
    LogContained(1, "      Get device description");
    if (Name) *Name = NameText;
    if (Description) *Description = DescriptionText;
}

void KRA_CALL KRA_ConfigDialog(void) {
    LogContained(1, "      Run config dialog");
    try {
        int32_t port, baud;
        std::string bits;
        {
            std::lock_guard<std::mutex> g(StartStopLock);
            const TReaderSettings& s = DriverState.ReaderSettings;
            port = s.COM_Number;
            baud = s.Baud;
            bits = std::to_string(s.Bits);
        }
        // Shown without the lock: a host thread may start or stop the driver meanwhile.
        if (!RunSettingsDialog(port, baud, bits)) return;
        std::string fileName, failure;
        bool failed = false;
        {
            std::lock_guard<std::mutex> g(StartStopLock);
            TReaderSettings& s = DriverState.ReaderSettings;
            s.COM_Number = port;
            s.Baud = baud;
            s.Bits = WholeNumberOr(bits, 0);
            try {
                SaveSettings(DriverState.SettingsFileName, DriverState.SettingsSection, s);
            } catch (...) {
                failed = true;
                failure = MessageOf(std::current_exception());
                fileName = DriverState.SettingsFileName;
            }
        }
        if (failed) {
            LogContained(1, "      Config dialog error: " + failure);
            TellSaveFailure(fileName, failure);  // the values stay in ReaderSettings
        }
    } catch (...) {
        try {
            LogContained(1, "      Config dialog error: " + MessageOf(std::current_exception()));
        } catch (...) {
        }
    }
}

const char* KRA_CALL KRA_GetLastErrorText(void) {
    try {
        std::lock_guard<std::mutex> g(StartStopLock);
        std::string& text = DriverState.LastErrorText;
        if (text.empty() || text.back() != '\0') text.push_back('\0');
        return text.c_str();
    } catch (...) {
        return "";
    }
}

int32_t KRA_CALL KRA_GetDeviceType(void) { return 1; }

KRA_BOOL KRA_CALL KRA_GetStatus(KRA_STATUS* Status) {
    try {
        if (!Status || Status->Size < 8) return 0;
        TStatusFigures f;
        {
            std::lock_guard<std::mutex> g(DriverState.StatusLock);
            f = DriverState.Status;
        }
        if ((f.Flags & KRA_STATUS_RUNNING) && DriverState.DeviceEnabled) f.Flags |= KRA_STATUS_ENABLED;
        const KRA_STATUS status = {Status->Size, f.Flags, f.COM_Number, f.Baud, f.Bits, f.LastError,
                                   f.SystemError, f.CardsRead, f.CardsDelivered, f.CardsDropped};
        std::memcpy(Status, &status, std::min<size_t>(Status->Size, sizeof status));
        return 1;
    } catch (...) {
        return 0;
    }
}

uint32_t KRA_CALL KRA_GetLastErrorCode(void) {
    try {
        std::lock_guard<std::mutex> g(DriverState.StatusLock);
        return DriverState.Status.LastError;
    } catch (...) {
        return KRA_ERROR_INTERNAL;
    }
}

int32_t KRA_CALL KRA_WaitForCard(uint32_t TimeoutMs, char* Buffer, int32_t BufferSize) {
    constexpr int32_t NotRunning = -1, NoRoom = -2;
    if (!Buffer || BufferSize < 1) return NoRoom;
    try {
        TBufferLockable bufferLock;
        std::unique_lock<TBufferLockable> lock(bufferLock);
        if (!DriverState.Running) return NotRunning;
        const uint64_t run = DriverState.RunNumber;
        struct TWaiting {
            TWaiting() { ++DriverState.Waiters; }
            ~TWaiting() { --DriverState.Waiters; }
        } waiting;  // under the lock: it is left before the lock is
        const auto ready = [run] {
            return !DriverState.Running || DriverState.RunNumber != run || !DriverState.CardBuffer.empty();
        };
        if (TimeoutMs == 0xFFFFFFFFu)
            DriverState.CardArrived.wait(lock, ready);
        else if (!DriverState.CardArrived.wait_for(lock, std::chrono::milliseconds(TimeoutMs), ready))
            return 0;
        if (!DriverState.Running || DriverState.RunNumber != run) return NotRunning;
        const std::string& card = DriverState.CardBuffer;  // the digits and their NUL
        if (card.size() > static_cast<size_t>(BufferSize)) return NoRoom;
        std::memcpy(Buffer, card.data(), card.size());
        const int32_t digits = static_cast<int32_t>(card.size() - 1);
        LogContained(1, "      Card " + std::string(Buffer) + " taken by a waiting thread");
        ClearHeldBuffer();
        return digits;
    } catch (...) {
        return NotRunning;
    }
}

}  // extern "C"
