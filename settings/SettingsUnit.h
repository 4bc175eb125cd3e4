// The reader settings in the host's XML settings file, and the settings dialog.
#pragma once
#include <cstdint>
#include <string>

// ReaderSettings from the file SettingsFileName, element KRA_MCR_Serial under SettingsSection:
// the defaults (1, 9600, 0) where the file holds no value. Raises when the file exists but
// cannot be read, does not parse, or holds a value that is not an integer.
void LoadSettings();
// Writes ReaderSettings into the file, creating the file, the section or the element where
// missing and keeping everything else it holds. The file is replaced in one step, so a failure
// leaves it as it was.
void SaveSettings();
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
