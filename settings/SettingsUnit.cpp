#include "settings/SettingsUnit.h"

#include "driver/Main.h"

// Not yet reading the file nor showing a dialog: the store and the dialog come with the
// settings subsystem. Until then the driver runs on the default settings.
void LoadSettings() { DriverState.ReaderSettings = TReaderSettings{1, 9600, 0}; }
void SaveSettings() {}
std::string ReadWholeFile(const std::string&) { return {}; }
void SetApplicationHandle(void*) {}
bool RunSettingsDialog(int32_t&, int32_t&, std::string&) { return false; }
