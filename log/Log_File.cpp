#include "log/Log_File.h"

// Not yet writing files: the writer and its rotation schemes come with the log subsystem.
TLogFile::TLogFile(std::string FileName, int32_t MaxSizeKB, int32_t Level, int32_t Mode, int32_t Count, bool AddUserName)
    : FileName(std::move(FileName)), MaxSizeKB(MaxSizeKB), Level(Level), Mode(Mode), Count(Count), AddUserName(AddUserName) {}
TLogFile::~TLogFile() = default;
void TLogFile::Log(int32_t level, std::string_view text, bool) { if (level <= Level) WriteLine(text); }
void TLogFile::WriteLine(std::string_view) {}
void TLogFile::Lock() { FileLock.Enter(); }
void TLogFile::Unlock() { FileLock.Leave(); }
