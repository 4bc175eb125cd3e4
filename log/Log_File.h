// The driver's text log: one line per call, optionally time-stamped, filtered by level,
// written at once and shared by all threads of the driver.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Sync.h"

class TLogFile {
public:
    TLogFile(std::string FileName, int32_t MaxSizeKB, int32_t Level, int32_t Mode, int32_t Count, bool AddUserName);
    virtual ~TLogFile();
    TLogFile(const TLogFile&) = delete;
    TLogFile& operator=(const TLogFile&) = delete;

    void Log(int32_t level, std::string_view text, bool AddTime);
    void WriteLine(std::string_view text);
    void Lock();
    void Unlock();

private:
    std::string FileName;
    int32_t MaxSizeKB;
    int32_t Level;
    platform::CriticalSection FileLock;
    int32_t Mode;
    int32_t Count;
    bool AddUserName;
};
