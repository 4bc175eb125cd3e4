// The reader settings in the host's XML settings file, and the settings dialog.
// Owns: the three reader settings and their place in the file, the dialog that edits them.
// Uses: xml/ for the document, platform/ for files and the dialog's window; nothing above.
// The caller names the file and the section and keeps the values (the driver, in its state).
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "xml/XmlLib.h"

struct TReaderSettings {
    int32_t COM_Number = 0;
    int32_t Baud = 0;
    int32_t Bits = 0;
};

// Takes the lines that explain a load: the file and section in use, why defaults stand, unknown
// attributes and values outside the dialog's ranges (level-1 log lines, indented).
using SettingsNoteSink = std::function<void(const std::string& line)>;

// Why a settings file could not be loaded: the class a host can branch on (the message says the rest).
enum class TSettingsFailure { Syntax, Value, File };

// A load's failure with its class, and the system's code behind a file that cannot be read (0
// for none). An XML error by kind, so a caller that catches those still does.
class ESettingsError : public xml::TXmlError {
public:
    ESettingsError(TSettingsFailure failure, const std::string& message, uint32_t systemError = 0)
        : xml::TXmlError(message), failure_(failure), systemError_(systemError) {}
    TSettingsFailure Failure() const { return failure_; }
    uint32_t SystemError() const { return systemError_; }
private:
    TSettingsFailure failure_;
    uint32_t systemError_;
};

// ReaderSettings from the file SettingsFileName, element KRA_MCR_Serial under SettingsSection:
// the defaults (1, 9600, 0) where the file holds no value. Raises ESettingsError when the file
// exists but cannot be read (File), does not parse (Syntax: the message then ends with the file
// and the line and column where the parse stopped), or holds a value that is not an integer
// (Value: ending with the file, the attribute and its text); each value is stored as soon as it
// is read, so the ones read before such a value keep what the file held. True when the file gave
// all three values, false when any default stands.
bool LoadSettings(const std::string& SettingsFileName, const std::string& SettingsSection,
                  TReaderSettings& ReaderSettings, const SettingsNoteSink& note = nullptr);
// Writes ReaderSettings into the file, creating the file, the section or the element where
// missing and keeping every byte of everything else it holds. The file is replaced in one step,
// so a failure leaves it as it was.
void SaveSettings(const std::string& SettingsFileName, const std::string& SettingsSection,
                  const TReaderSettings& ReaderSettings);
// The bytes SaveSettings writes: the existing file's text with only the driver's values and
// any section or element it lacks spliced in (every other byte kept); the six-line file where
// there is none; a binary file's content rewritten as text. Raises when the text does not parse
// or the section name is not a simple name.
std::string SettingsFileText(const std::optional<std::string>& existing, const std::string& section,
                             const TReaderSettings& settings);
// The whole content of a file as bytes; empty when it cannot be opened.
std::string ReadWholeFile(const std::string& path);

// The owner window of the settings dialog (the host's AppHandle; null for none).
void SetApplicationHandle(void* appHandle);
// True when the operator confirmed; only then are the three values replaced. While a dialog is
// open (on any thread), another call brings that one to the front and returns false.
bool RunSettingsDialog(int32_t& port, int32_t& baud, std::string& bitsText);
// Tells the operator that the settings could not be written to fileName and why: a message box
// owned by the dialog's owner, shown after the dialog has closed.
void TellSaveFailure(const std::string& fileName, const std::string& reason);
