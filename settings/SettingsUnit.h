// The reader settings in the host's XML settings file, and the settings dialog.
#pragma once
#include <cstdint>
#include <string>

void LoadSettings();
void SaveSettings();
std::string ReadWholeFile(const std::string& path);

// The owner window of the settings dialog (the host's AppHandle; null for none).
void SetApplicationHandle(void* appHandle);
// True when the operator confirmed; only then are the three values replaced.
bool RunSettingsDialog(int32_t& port, int32_t& baud, std::string& bitsText);
