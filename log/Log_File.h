// The driver's text log: one line per call, optionally time-stamped, filtered by level,
// written at once and shared by all threads of the driver.
// Owns: TLogFile, its file names and rotation (Log_Names). Uses: platform/ for files, the lock,
// the clock and the user name; nothing above.
//
// Modes: 0 one file with dated copies of full files, 1 numbered files (01 current, Count the
// oldest), 2 one file per day with files older than Count days removed; any other value
// writes nothing. Every line is one system write followed by one size query, unbuffered.
//
// A file that cannot be opened (held by another program, a folder not there yet, a lost share)
// is tried again with the next line, at most once a second; the lines given meanwhile are lost,
// and the first line the file gets when it opens again says how many: "      Log lines lost: <n>".
#pragma once
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "log/Log_Names.h"
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
    // Opens the current file at once, making its folder (parents included) when it is missing;
    // a file that cannot be opened leaves a closed log that accepts every line, writes nothing
    // and tries the file again (see above). Clock gives milliseconds of a steady clock for the
    // retry's pace (tests pass their own); empty means the system's.
    TLogFile(std::string FileName, int32_t MaxSizeKB, int32_t Level, int32_t Mode, int32_t Count, bool AddUserName,
             std::function<int64_t()> Clock = {});
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

    // Whether the file stays open between lines (the default), or is opened for each line and
    // closed after it: a driver that is not running then holds no handle of its log.
    void KeepOpen(bool keep);

    static std::string CurrentUserName();

    bool IsOpen() const;  // for tests and diagnostics: whether the file is open at this moment

    static constexpr int64_t RetryMs = 1000;  // the least time between two attempts to open

private:
    void OpenFile();
    bool EnsureOpen();  // opens a closed file when it may be tried; tells lost lines once it opens
    void NoteOpenFailure();
    int64_t NowMs() const;
    void WriteBytes(const std::string& line);  // a whole line with its CR LF, under the lock
    void WriteOrThrow(const std::string& line);
    bool OpenForAppend(const std::string& name);
    bool IsFull() const;
    void RotateNumbered(const logname::NameParts& parts, const std::string& base, int32_t kept) const;
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
    const std::function<int64_t()> Clock;
    // Under FileLock:
    bool KeepFileOpen = true;
    bool OpenFailed = false;         // since an attempt to open the file failed
    int64_t LastOpenAttemptMs = 0;   // of the failed attempt
    uint32_t LinesLost = 0;          // given since then and not written
    bool TellLost = false;           // open again: the count goes before the next line
};
