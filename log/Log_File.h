// The driver's text log: one line per call, optionally time-stamped, filtered by level,
// written at once and shared by all threads of the driver.
// Owns: TLogFile, its file names and rotation (Log_Names). Uses: platform/ for files, the lock,
// the clock and the user name; nothing above.
//
// Modes: 0 one file with dated copies of full files, 1 numbered files (01 current, Count the
// oldest), 2 one file per day with files older than Count days removed; any other value
// writes nothing. Every line is one system write followed by one size query, unbuffered.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/Files.h"
#include "platform/Sync.h"

// The Mode values.
inline constexpr int32_t LogModeDatedCopies = 0, LogModeNumbered = 1, LogModeDaily = 2;

// Raised by WriteLine when the system refuses a write: "Error Write To File "<FileName>"".
class ELogWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TLogFile {
public:
    // Opens the current file at once; a file that cannot be opened leaves a closed log that
    // accepts every line and writes nothing.
    TLogFile(std::string FileName, int32_t MaxSizeKB, int32_t Level, int32_t Mode, int32_t Count, bool AddUserName);
    virtual ~TLogFile();
    TLogFile(const TLogFile&) = delete;
    TLogFile& operator=(const TLogFile&) = delete;

    // Writes text when level <= Level, after the local time stamp when AddTime is set.
    void Log(int32_t level, std::string_view text, bool AddTime);
    // Writes text and CR LF, rotating afterwards when the file has reached its limit.
    void WriteLine(std::string_view text);
    void Lock();
    void Unlock();

    // Whether Log writes lines of this level.
    bool Accepts(int32_t level) const { return level <= Level; }

    static std::string CurrentUserName();

    bool IsOpen() const;  // for tests and diagnostics: false once the log has closed for good

private:
    void OpenFile();
    void WriteBytes(const std::string& line);  // a whole line with its CR LF, under the lock
    bool OpenForAppend(const std::string& name);
    bool IsFull() const;
    void CleanUpDailyFiles(const std::string& dir, const std::string& base) const;

    platform::File Handle;  // closed before the first open and after a failed reopen
    const std::string FileName;
    const int32_t MaxSizeKB;
    const int32_t Level;
    mutable platform::CriticalSection FileLock;
    const int32_t Mode;
    const int32_t Count;
    const bool AddUserName;
    const std::string TimeSeparator;  // read once: the regional setting of the process's start
};
