#include "log/Log_File.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "log/Log_Names.h"

namespace {

constexpr int64_t kDayMs = 24LL * 60 * 60 * 1000;

bool IsScheme(int32_t mode) { return mode == LogModeDatedCopies || mode == LogModeNumbered || mode == LogModeDaily; }

}  // namespace

TLogFile::TLogFile(std::string FileName, int32_t MaxSizeKB, int32_t Level, int32_t Mode, int32_t Count, bool AddUserName,
                   std::function<int64_t()> Clock)
    : FileName(std::move(FileName)),
      MaxSizeKB(MaxSizeKB),
      Level(Level),
      Mode(Mode),
      Count(Count),
      AddUserName(AddUserName),
      TimeSeparator(platform::TimeSeparator()),
      Clock(std::move(Clock)) {
    OpenFile();  // not shared yet: no lock
    if (!Handle.IsOpen()) NoteOpenFailure();
}

TLogFile::~TLogFile() = default;  // Handle closes itself

void TLogFile::Lock() { FileLock.Enter(); }
void TLogFile::Unlock() { FileLock.Leave(); }

bool TLogFile::IsOpen() const {
    platform::Hold hold(FileLock);
    return Handle.IsOpen();
}

void TLogFile::KeepOpen(bool keep) {
    platform::Hold hold(FileLock);
    KeepFileOpen = keep;
    if (!keep) Handle.Close();
}

int64_t TLogFile::NowMs() const {
    if (Clock) return Clock();
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void TLogFile::NoteOpenFailure() {
    if (!IsScheme(Mode)) return;  // no file to try again
    OpenFailed = true;
    LastOpenAttemptMs = NowMs();
}

bool TLogFile::EnsureOpen() {
    if (!Handle.IsOpen()) {
        if (!IsScheme(Mode)) return false;
        if (OpenFailed && NowMs() - LastOpenAttemptMs < RetryMs) return false;
        OpenFile();
        if (!Handle.IsOpen()) {
            NoteOpenFailure();
            return false;
        }
        TellLost = TellLost || OpenFailed;
        OpenFailed = false;
    }
    if (TellLost) {
        // The count goes first, before the line that found the file open again; a write that
        // fails leaves it to be told with the next line.
        if (Accepts(1)) {
            std::string line;
            logname::AppendTimeStamp(line, platform::LocalNow(), TimeSeparator);
            line += "      Log lines lost: " + std::to_string(LinesLost) + "\r\n";
            WriteOrThrow(line);
        }
        TellLost = false;
        LinesLost = 0;
    }
    return true;
}

std::string TLogFile::CurrentUserName() { return platform::UserName(); }

void TLogFile::Log(int32_t level, std::string_view text, bool AddTime) {
    if (!Accepts(level)) return;
    // Stamped outside the lock: lines of different threads may be out of order by one write.
    std::string line;
    line.reserve(32 + text.size());
    if (AddTime) logname::AppendTimeStamp(line, platform::LocalNow(), TimeSeparator);
    line.append(text);
    line.append("\r\n");
    WriteBytes(line);
}

void TLogFile::WriteLine(std::string_view text) {
    std::string line;
    line.reserve(text.size() + 2);
    line.append(text);
    line.append("\r\n");
    WriteBytes(line);
}

void TLogFile::WriteOrThrow(const std::string& line) {
    size_t written = 0;
    // A short count is a failed write too: the line would be cut and nobody would know.
    if (!Handle.Write(line.data(), line.size(), &written) || written != line.size())
        throw ELogWriteError("Error Write To File \"" + FileName + "\"");
}

void TLogFile::WriteBytes(const std::string& line) {
    platform::Hold hold(FileLock);
    struct CloseUnlessKept {  // also when a write fails
        TLogFile& log;
        ~CloseUnlessKept() {
            if (!log.KeepFileOpen) log.Handle.Close();
        }
    } after{*this};
    if (!EnsureOpen()) {
        if (IsScheme(Mode)) ++LinesLost;
        return;
    }
    WriteOrThrow(line);
    if ((Mode == LogModeDatedCopies || Mode == LogModeNumbered) && IsFull()) {
        Handle.Close();
        OpenFile();
        if (!Handle.IsOpen()) NoteOpenFailure();
    }
}

bool TLogFile::IsFull() const {
    const uint32_t limit = static_cast<uint32_t>(MaxSizeKB) * 1024u;  // modulo 2^32
    return Handle.SizeLow() >= limit;
}

bool TLogFile::OpenForAppend(const std::string& name) {
    // Others may read the log while it is written, but neither write nor delete it.
    const auto open = [&] {
        return Handle.Open(name, platform::FileAccess::Write, platform::ShareRead, platform::FileDisposition::OpenAlways);
    };
    if (open()) return true;
    // A log folder that is not there yet (C:\Logs\Reader\ on a new till) is made, parents too;
    // only one that cannot be made leaves the log closed.
    const std::string dir = logname::SplitLogName(name).dir;
    if (dir.empty() || platform::PathExists(dir) || !platform::CreateDirectories(dir)) return false;
    return open();
}

void TLogFile::OpenFile() {
    const logname::NameParts parts = logname::SplitLogName(FileName);
    std::string base = parts.base;
    if (AddUserName) base += logname::UserTag(CurrentUserName());

    switch (Mode) {
        case LogModeDatedCopies:
            if (OpenForAppend(FileName) && IsFull()) {
                Handle.Close();
                // A copy that cannot be made (the file held by a reader) leaves the full file in
                // place; it is appended to and the next line tries again, as mode 1 does.
                platform::MoveFileReplacing(FileName, logname::DatedCopyName(parts, base, platform::LocalNow()));
                OpenForAppend(FileName);
            }
            break;
        case LogModeNumbered: {
            // Fewer than one file would keep no copy and never empty file 01: keep at least 01.
            const int32_t kept = std::max<int32_t>(Count, 1);
            const std::string current = logname::NumberedName(parts, base, 1);
            if (OpenForAppend(current) && IsFull()) {
                Handle.Close();
                RotateNumbered(parts, base, kept);
                OpenForAppend(current);  // a new 01, or the full one again when it could not move
            }
            break;
        }
        case LogModeDaily: {
            const std::string current = logname::DailyName(parts, base, platform::LocalNow());
            if (!platform::PathExists(current)) CleanUpDailyFiles(parts.dir, base);
            OpenForAppend(current);
            break;
        }
        default:
            return;  // no such scheme: the log stays closed
    }
    if (Handle.IsOpen()) Handle.SeekToEnd();
}

// The full file 01 moves aside before anything else is touched: while a viewer holds it (a tail
// tool shares reading and writing, not deleting) no numbered file is deleted or shifted, the
// lines go on into 01 and the next line over the limit tries again. The shift then moves each
// file only onto a name that is free, so a step that fails stops it rather than overwrite.
void TLogFile::RotateNumbered(const logname::NameParts& parts, const std::string& base, int32_t kept) const {
    auto numbered = [&](int32_t n) { return logname::NumberedName(parts, base, n); };
    const std::string current = numbered(1);
    if (kept < 2) {
        platform::RemoveFile(current);  // no history is kept
        return;
    }
    // Number 00 is never kept and no longer than 01: where the numbered names fit the system's
    // limits, so does this one.
    const std::string aside = numbered(0);
    if (!platform::MoveFileReplacing(current, aside)) return;
    // The first free number takes the shift; with none free the oldest file makes room.
    int32_t free = 2;
    while (free <= kept && platform::PathExists(numbered(free))) ++free;
    bool shifted = true;
    if (free > kept) {
        free = kept;
        shifted = platform::RemoveFile(numbered(kept));
    }
    for (int32_t n = free; shifted && n >= 3; --n) shifted = platform::MoveFileReplacing(numbered(n - 1), numbered(n));
    if (!shifted || !platform::MoveFileReplacing(aside, numbered(2)))
        platform::MoveFileReplacing(aside, current);  // back in place, appended to, tried again
}

void TLogFile::CleanUpDailyFiles(const std::string& dir, const std::string& base) const {
    // Judged by the last-write time only, counted back from this moment (not from midnight).
    const int64_t threshold = logname::LocalMilliseconds(platform::LocalNow()) - int64_t(Count) * kDayMs;
    for (const platform::DirEntry& e : platform::ListFolder(dir + "*.log"))
        if (logname::IsExpiredDailyFile(e, base, threshold)) platform::RemoveFile(dir + e.name);  // failures ignored
}
