// The eleven exported functions, the driver state they work on, and the card hand-over.
// No exception leaves an export: the start and stop report failures through their result
// and KRA_GetLastErrorText, the other exports contain them.
#include "driver/Main.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <shared_mutex>
#include <utility>

#include "log/Log_File.h"
#include "platform/Decimal.h"
#include "platform/Files.h"
#include "reader/COM_Thread.h"
#include "settings/SettingsUnit.h"

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
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

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
}

bool FinalizeDriver() {
    bool result = true;
    try {
        DriverLogWrite(1, "***** Finalize *****");
        SetApplicationHandle(nullptr);
        StopDriver();
    } catch (...) {
        result = false;
        DriverState.LastErrorText = MessageOf(std::current_exception());
    }
    return result;
}

void StartThread() {
    DriverLogWrite(1, "      Create thread");
    const TReaderSettings& s = DriverState.ReaderSettings;
    DriverState.PollingThread = std::make_unique<TCOMThread>(s.COM_Number, s.Baud, s.Bits, DeliverCard, DriverLogSink);
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
    }
    DriverState.DeviceEnabled = false;
    DriverState.SettingsFileName = file;
    DriverState.SettingsSection = sectionName;
    SetApplicationHandle(appHandle);
    SetDriverLog(
        std::make_shared<TLogFile>(path + LogFileName, LogMaxSizeKB, LogLevel, LogMode, LogFileCount, LogAddUserName));

    DriverLogWrite(1, "\r\n\r\n", false);
    DriverLogWrite(1, "***** Initialize *****");
    DriverLogWrite(1, "      kra_MCR_Serial " KRA_VERSION ", " + std::to_string(sizeof(void*) * 8) + "-bit");
    DriverLogWrite(1, "      Read configuration");
    bool configured = true;
    try {
        LoadSettings(DriverState.SettingsFileName, DriverState.SettingsSection, DriverState.ReaderSettings,
                     [](const std::string& line) { DriverLogWrite(1, line); });
    } catch (...) {
        // A settings file that cannot be read must not start the reader on a port nobody chose.
        configured = result = false;
        DriverState.LastErrorText = MessageOf(std::current_exception());
        DriverLogWrite(1, "      Configuration error: " + DriverState.LastErrorText);
    }
    if (configured) {
        const TReaderSettings& s = DriverState.ReaderSettings;
        DriverLogWrite(1, "      Port Number = " + std::to_string(s.COM_Number));
        DriverLogWrite(1, "      Baud        = " + std::to_string(s.Baud));
        DriverLogWrite(1, "      Bits        = " + std::to_string(s.Bits));
        try {
            StartThread();
        } catch (...) {
            result = false;
            DriverState.LastErrorText = MessageOf(std::current_exception());
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
    } catch (const ELogWriteError&) {
        ++lostLogLines;
    }
}

void DriverLogSink(int32_t level, std::string_view text) { DriverLogWrite(level, text, true); }

void DeliverCard(const std::string& text) {
    DriverLogWrite(1, "         Message : " + text);
    const bool locked = DriverState.BufferLocked, enabled = DriverState.DeviceEnabled;
    if (locked || !enabled) {
        if (locked) DriverLogWrite(10, "      Buffer locked");
        if (!enabled) DriverLogWrite(10, "      Device disabled");
        return;
    }
    platform::Hold hold(DriverState.BufferLock);
    if (DriverState.BufferLocked) return;  // only one deliverer can fill the buffer
    DriverLogWrite(10, "      Send notification: ");
    DriverState.CardBuffer = text;
    DriverState.CardBuffer.push_back('\0');
    const uint32_t thread = DriverState.HostThreadId, message = DriverState.NotifyMessageId;
    uint32_t error = 0;
    const bool posted = platform::PostToThread(thread, message, 0, 0, &error);
    DriverState.BufferLocked = true;  // posted or not: the host may still fetch the number
    // A host whose notifications do not arrive is told once when they begin to fail, and once
    // when they get through again, not with every card.
    if (posted == !DriverState.PostFailing) return;
    DriverState.PostFailing = !posted;
    const std::string target = "message " + std::to_string(message) + " to thread " + std::to_string(thread);
    DriverLogWrite(1, posted ? "      Posting " + target + " works again"
                             : "      Cannot post " + target + ": " + platform::SystemErrorReason(error));
}

extern "C" {

KRA_BOOL KRA_CALL KRA_Initialize(const unsigned char* SettingsFileName, const unsigned char* SettingsSection,
                                 const unsigned char* LogPath, void* AppHandle) {
    try {
        std::lock_guard<std::mutex> g(StartStopLock);
        return InitializeDriver(SettingsFileName, SettingsSection, LogPath, AppHandle);
    } catch (...) {
        try {
            DriverState.LastErrorText = MessageOf(std::current_exception());
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
    DriverState.CardBuffer.clear();
    DriverState.BufferLocked = false;
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

}  // extern "C"
