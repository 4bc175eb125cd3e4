// A settings file that cannot be used stops KRA_Initialize before the reader starts.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "driver/Main.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

const unsigned char* U(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

TEST(InitializeWithSettings, UnusableFileIsReportedAsAStartFailure) {
    const TempFolder temp;
    const fs::path folder = temp.Path();
    const fs::path file = folder / "host.xml";
    const std::string logPath = temp.Dir();

    const struct {
        const char* name;
        const char* text;
    } cases[] = {
        {"not a number", "<XML><Devices><KRA_MCR_Serial COM_Number=\"x\"/></Devices></XML>"},
        {"does not parse", "<XML><Devices>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(file, c.text);
        const std::string name = kra::LengthPrefixed(file.string()), section = kra::LengthPrefixed("Devices"),
                          log = kra::LengthPrefixed(logPath);
        EXPECT_EQ(KRA_Initialize(U(name), U(section), U(log), nullptr), 0);
        const std::string message = KRA_GetLastErrorText();
        EXPECT_FALSE(message.empty());
        EXPECT_EQ(DriverState.PollingThread, nullptr);  // no port was opened
        EXPECT_EQ(KRA_Finalize(), 1);
        const std::string logText = ReadBytes(folder / "kra_MCR_Serial.01.log");
        EXPECT_NE(logText.find("      Configuration error: " + message + "\r\n"), std::string::npos) << logText;
        EXPECT_EQ(logText.find("Create thread"), std::string::npos);
    }
    DriverState.LastErrorText.clear();  // the other driver tests start from a fresh process's state
}

}  // namespace
