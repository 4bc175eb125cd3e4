// The eleven exported functions, the driver state they work on, and the card hand-over.
// No exception leaves an export: the start and stop report failures through their result
// and KRA_GetLastErrorText, the other exports contain them.
#include "driver/Main.h"

#include <cstdio>
#include <exception>
#include <utility>

#include "log/Log_File.h"
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

// Guards the DriverLog reference only (never held while a line is written), so that a host
// thread logging while another one runs KRA_Finalize never meets a destroyed log.
std::mutex logRefMutex;

// Lines lost to failed log writes since the last line that got through (see DriverLogWrite).
std::atomic<uint32_t> lostLogLines{0};

std::shared_ptr<TLogFile> DriverLogRef() {
    std::lock_guard<std::mutex> g(logRefMutex);
    return DriverState.DriverLog;
}

void SetDriverLog(std::shared_ptr<TLogFile> log) {
    std::shared_ptr<TLogFile> old;
    {
        std::lock_guard<std::mutex> g(logRefMutex);
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
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return fallback;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return fallback;
        value = value * 10 + (text[i] - '0');
        if (value > 2147483648LL) return fallback;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return fallback;
    return static_cast<int32_t>(value);
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
    DriverState.PollingThread = std::make_unique<TCOMThread>(s.COM_Number, s.Baud, s.Bits);
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
    }
    DriverState.DeviceEnabled = false;
    DriverState.SettingsFileName = file;
    DriverState.SettingsSection = sectionName;
    SetApplicationHandle(appHandle);
    SetDriverLog(std::make_shared<TLogFile>(path + "kra_MCR_Serial.log", 5120, 1, 1, 5, false));

    DriverLogWrite(1, "\r\n\r\n", false);
    DriverLogWrite(1, "***** Initialize *****");
    DriverLogWrite(1, "      kra_MCR_Serial " KRA_VERSION ", " + std::to_string(sizeof(void*) * 8) + "-bit");
    DriverLogWrite(1, "      Read configuration");
    bool configured = true;
    try {
        LoadSettings();
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
    return result;
}

}  // namespace

// A failed write (full disk, lost share) costs only its own line: neither an export nor the
// polling thread is stopped by its log. The next line that gets through is preceded by the
// count of lines lost, so the gap shows in the file itself.
void DriverLogWrite(int32_t level, std::string_view text, bool addTime) {
    auto log = DriverLogRef();
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
    platform::PostToThread(DriverState.HostThreadId, DriverState.NotifyMessageId, 0, 0);
    DriverState.BufferLocked = true;
}

extern "C" {

KRA_BOOL KRA_CALL KRA_Initialize(const unsigned char* SettingsFileName, const unsigned char* SettingsSection,
                                 const unsigned char* LogPath, void* AppHandle) {
    try {
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
        TReaderSettings& s = DriverState.ReaderSettings;
        int32_t port = s.COM_Number, baud = s.Baud;
        std::string bits = std::to_string(s.Bits);
        if (RunSettingsDialog(port, baud, bits)) {
            s.COM_Number = port;
            s.Baud = baud;
            s.Bits = WholeNumberOr(bits, 0);
            SaveSettings();
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
        std::string& text = DriverState.LastErrorText;
        if (text.empty() || text.back() != '\0') text.push_back('\0');
        return text.c_str();
    } catch (...) {
        return "";
    }
}

int32_t KRA_CALL KRA_GetDeviceType(void) { return 1; }

}  // extern "C"
