// Files and folders as the driver needs them: a file handle with Win32 share modes and
// dispositions, rename-with-replace, delete, folder listing, local time and the user name.
// Thin on purpose: naming, rotation and stream logic live with their callers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// What went wrong in a failed call: the system's error code (GetLastError / errno) and its
// message text (FormatMessageA / strerror), without a trailing line break.
struct FileError {
    uint32_t code = 0;
    std::string message;
};

// The system's message text for an error code (FormatMessageA / strerror), no line break.
std::string SystemErrorText(uint32_t code);

enum class FileAccess { Read, Write, ReadWrite };

// Share mode bits: what other openers may do while this handle is open (FILE_SHARE_*).
enum FileShare : uint32_t {
    ShareNone = 0,
    ShareRead = 1,
    ShareWrite = 2,
    ShareDelete = 4,
};

enum class FileDisposition {
    OpenAlways,    // open, creating an empty file when it is missing
    OpenExisting,  // open only a file that exists
    CreateAlways,  // create, or empty an existing file
};

// An open file; closes itself when destroyed. Movable, not copyable.
// On POSIX the share mode is not enforced (no such locks there); a file newly created by
// OpenAlways/CreateAlways gets the archive attribute on Win32 as the system does.
class File {
public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Closes a file already open first. On failure the object stays closed and *error,
    // when given, tells why.
    bool Open(const std::string& path, FileAccess access, uint32_t share, FileDisposition disposition,
              FileError* error = nullptr);
    bool IsOpen() const { return handle_ != kClosed; }
    // False when the system reports that data written earlier could not be stored.
    bool Close(FileError* error = nullptr);

    // Creates path for writing (emptying a file already there) with the attributes (Win32) or
    // the permissions (POSIX) of model, where model exists.
    bool CreateLike(const std::string& path, const std::string& model, FileError* error = nullptr);
    // Until everything written has reached the disk (FlushFileBuffers / fsync).
    bool Flush(FileError* error = nullptr);

    // One system call each: *done receives the count actually transferred (it may be short).
    bool Write(const void* data, size_t size, size_t* done = nullptr, FileError* error = nullptr);
    bool Read(void* data, size_t size, size_t* done = nullptr, FileError* error = nullptr);

    // Low 32 bits of the size (GetFileSize without the high word); 0xFFFFFFFF on failure.
    uint32_t SizeLow() const;
    // Full size; false on failure.
    bool Size(uint64_t& size) const;

    bool SeekToEnd();
    bool Seek(uint64_t position);
    // Current position; false on failure.
    bool Position(uint64_t& position) const;

    intptr_t NativeHandle() const { return handle_; }

private:
    static constexpr intptr_t kClosed = -1;
    intptr_t handle_ = kClosed;  // a HANDLE on Win32, a descriptor on POSIX
};

// Renames, replacing a file that already bears the new name (MoveFileExA, MOVEFILE_REPLACE_EXISTING).
bool MoveFileReplacing(const std::string& from, const std::string& to, FileError* error = nullptr);
bool RemoveFile(const std::string& path, FileError* error = nullptr);
// Whether '/' separates folders in this system's paths (POSIX); '\\' and ':' always do, so that
// Windows-style paths are taken apart the same way on both sides.
bool SlashSeparatesFolders();
// The length of the folder part of path: up to and including its last separator (0 for none).
size_t FolderPartLength(std::string_view path, bool slashSeparates = SlashSeparatesFolders());

// True for an existing file or folder.
bool PathExists(const std::string& path);
// The absolute form of a path (GetFullPathNameA); the path itself when that fails.
std::string FullPathName(const std::string& path);

// How a failed file operation is told: <what> "<full path>". <reason>
// (what is "Cannot open file", "Cannot create file", ...).
std::string FileFailureText(const std::string& what, const std::string& path, const std::string& reason);

// The file beside path that ReplaceFileContent writes first.
inline std::string ReplacementFileName(const std::string& path) { return path + ".kra-new"; }

// Writes bytes to ReplacementFileName(path), flushes it to the disk and then puts it in place of
// path in one step (the file keeps its attributes). On any failure path is left as it was, the
// new file is removed, and a std::runtime_error tells the step: "Cannot create file" (also for a
// read-only path, which the system would refuse to replace), "Cannot write file" or "Cannot
// replace file".
void ReplaceFileContent(const std::string& path, const std::string& bytes);

// Wall-clock local time, to the millisecond.
struct LocalTime {
    uint16_t year = 0, month = 0, day = 0;
    uint16_t hour = 0, minute = 0, second = 0, millisecond = 0;
};
LocalTime LocalNow();

// File attribute bits as Win32 reports them (POSIX synthesizes the first four it can tell).
enum FileAttribute : uint32_t {
    AttrReadOnly = 0x01,
    AttrHidden = 0x02,
    AttrSystem = 0x04,
    AttrVolumeLabel = 0x08,
    AttrDirectory = 0x10,
    AttrArchive = 0x20,
    AttrNormal = 0x80,
};

struct DirEntry {
    std::string name;  // without the folder
    uint32_t attributes = 0;
    LocalTime lastWrite;  // local time; all zero when the system gave none
};

// The entries of a folder that match a system wildcard ("C:\\Logs\\*.log"), hidden, system and
// folder entries included ("." and ".." left out). The folder is the pattern's part up to its
// last separator ('\\' or ':' on Win32, '/' too on POSIX); empty means the current folder.
// A missing folder gives an empty list. POSIX matches '*' and '?' without regard to case.
std::vector<DirEntry> ListFolder(const std::string& pattern);

// For the shared part of the file layer, one per side:
// whether path is a file that may not be written (read-only attribute, no write permission);
bool IsWriteProtected(const std::string& path, FileError* error);
// the error of a write that stored no byte though the system named none;
FileError NothingWrittenError();
// MoveFileReplacing that returns only once the new name is on the disk.
bool MoveFileReplacingDurably(const std::string& from, const std::string& to, FileError* error);

// The time separator of the regional settings (":" under the usual ones).
std::string TimeSeparator();

// The name of the user the process runs as (GetUserNameA, 512-character buffer); empty when
// the system does not tell.
std::string UserName();

}  // namespace platform
