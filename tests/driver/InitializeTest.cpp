// A settings file that cannot be used stops KRA_Initialize before the reader starts.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "driver/Main.h"
#include "tests/settings/TempFolder.h"

namespace fs = std::filesystem;

namespace {

std::string Prefixed(const std::string& text) { return std::string(1, char(text.size())) + text; }
const unsigned char* U(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(InitializeWithSettings, UnusableFileIsReportedAsAStartFailure) {
    const fs::path folder = FreshTempFolder("initialize");
    const fs::path file = folder / "host.xml";
    const std::string logPath = folder.string() + static_cast<char>(fs::path::preferred_separator);

    const struct {
        const char* name;
        const char* text;
    } cases[] = {
        {"not a number", "<XML><Devices><KRA_MCR_Serial COM_Number=\"x\"/></Devices></XML>"},
        {"does not parse", "<XML><Devices>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(file, std::ios::binary | std::ios::trunc) << c.text;
        const std::string name = Prefixed(file.string()), section = Prefixed("Devices"), log = Prefixed(logPath);
        EXPECT_EQ(KRA_Initialize(U(name), U(section), U(log), nullptr), 0);
        const std::string message = KRA_GetLastErrorText();
        EXPECT_FALSE(message.empty());
        EXPECT_EQ(DriverState.PollingThread, nullptr);  // no port was opened
        EXPECT_EQ(KRA_Finalize(), 1);
        const std::string logText = Slurp(folder / "kra_MCR_Serial.01.log");
        EXPECT_NE(logText.find("      Configuration error: " + message + "\r\n"), std::string::npos) << logText;
        EXPECT_EQ(logText.find("Create thread"), std::string::npos);
    }
    fs::remove_all(folder);
}

}  // namespace
