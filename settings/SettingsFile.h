// Replacing the host's settings file without ever leaving it half-written.
#pragma once
#include <string>

// Writes bytes to a new file beside path, flushes it to the disk and then puts it in place of
// path in one step (the file keeps its attributes). On any failure path is left as it was, the
// new file is removed, and a std::runtime_error tells what went wrong.
void ReplaceFileContent(const std::string& path, const std::string& bytes);

// The file beside path that ReplaceFileContent writes first.
inline std::string ReplacementFileName(const std::string& path) { return path + ".kra-new"; }
