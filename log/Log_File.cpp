#include "log/Log_File.h"

#include <algorithm>

#include "log/Log_Names.h"

namespace {

constexpr int64_t kDayMs = 24LL * 60 * 60 * 1000;

}  // namespace

TLogFile::TLogFile(std::string FileName, int32_t MaxSizeKB, int32_t Level, int32_t Mode, int32_t Count, bool AddUserName)
    : FileName(std::move(FileName)),
      MaxSizeKB(MaxSizeKB),
      Level(Level),
      Mode(Mode),
      Count(Count),
      AddUserName(AddUserName),
      TimeSeparator(platform::TimeSeparator()) {
    OpenFile();  // not shared yet: no lock
}

TLogFile::~TLogFile() = default;  // Handle closes itself

void TLogFile::Lock() { FileLock.Enter(); }
void TLogFile::Unlock() { FileLock.Leave(); }

bool TLogFile::IsOpen() const {
    platform::Hold hold(FileLock);
    return Handle.IsOpen();
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

void TLogFile::WriteBytes(const std::string& line) {
    platform::Hold hold(FileLock);
    if (!Handle.IsOpen()) return;
    size_t written = 0;
    // A short count is a failed write too: the line would be cut and nobody would know.
    if (!Handle.Write(line.data(), line.size(), &written) || written != line.size())
        throw ELogWriteError("Error Write To File \"" + FileName + "\"");
    if ((Mode == LogModeDatedCopies || Mode == LogModeNumbered) && IsFull()) {
        Handle.Close();
        OpenFile();
    }
}

bool TLogFile::IsFull() const {
    const uint32_t limit = static_cast<uint32_t>(MaxSizeKB) * 1024u;  // modulo 2^32
    return Handle.SizeLow() >= limit;
}

bool TLogFile::OpenForAppend(const std::string& name) {
    // Others may read the log while it is written, but neither write nor delete it.
    return Handle.Open(name, platform::FileAccess::Write, platform::ShareRead, platform::FileDisposition::OpenAlways);
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
                const std::string oldest = logname::NumberedName(parts, base, kept);
                if (platform::PathExists(oldest)) platform::RemoveFile(oldest);
                for (int32_t n = kept; n >= 2; --n)  // a step that fails is skipped
                    platform::MoveFileReplacing(logname::NumberedName(parts, base, n - 1),
                                                logname::NumberedName(parts, base, n));
                OpenForAppend(current);
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

void TLogFile::CleanUpDailyFiles(const std::string& dir, const std::string& base) const {
    // Judged by the last-write time only, counted back from this moment (not from midnight).
    const int64_t threshold = logname::LocalMilliseconds(platform::LocalNow()) - int64_t(Count) * kDayMs;
    for (const platform::DirEntry& e : platform::ListFolder(dir + "*.log"))
        if (logname::IsExpiredDailyFile(e, base, threshold)) platform::RemoveFile(dir + e.name);  // failures ignored
}
