// The reader settings in the host's XML settings file, and the settings dialog.
// Owns: the three reader settings and their place in the file, the dialog that edits them.
// Uses: xml/ for the document, platform/ for files and the dialog's window; nothing above.
// The caller names the file and the section and keeps the values (the driver, in its state).
#pragma once
#include <cstdint>
#include <string>

struct TReaderSettings {
    int32_t COM_Number = 0;
    int32_t Baud = 0;
    int32_t Bits = 0;
};

// ReaderSettings from the file SettingsFileName, element KRA_MCR_Serial under SettingsSection:
// the defaults (1, 9600, 0) where the file holds no value. Raises when the file exists but
// cannot be read, does not parse, or holds a value that is not an integer; each value is stored
// as soon as it is read, so the ones read before such a value keep what the file held.
void LoadSettings(const std::string& SettingsFileName, const std::string& SettingsSection,
                  TReaderSettings& ReaderSettings);
// Writes ReaderSettings into the file, creating the file, the section or the element where
// missing and keeping everything else it holds. The file is replaced in one step, so a failure
// leaves it as it was.
void SaveSettings(const std::string& SettingsFileName, const std::string& SettingsSection,
                  const TReaderSettings& ReaderSettings);
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
