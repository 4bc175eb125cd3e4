// Running out of memory while the driver starts (reading a host's settings file of some size)
// makes KRA_Initialize return false; it never ends the process, and once memory is back the
// driver starts as it would have.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "driver/kra_MCR_Serial.h"
#include "tests/support/TempFolder.h"
#include "tests/xml_alloc/FailingAllocator.h"

namespace {

std::string Prefixed(const std::string& text) { return std::string(1, char(text.size())) + text; }
const unsigned char* U(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

TEST(MemoryExhaustion, StartWithSettingsFailsCleanlyAtEveryAllocation) {
    // A port that is not there: the start reads the settings, then fails to open it.
    setenv("KRA_COM7", "/nonexistent/kra-port", 1);
    const TempFolder temp("exhaustion");
    const std::filesystem::path folder = temp.Path();
    const std::filesystem::path file = folder / "host.xml";
    {
        std::ofstream out(file, std::ios::binary);
        out << "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<XML>\r\n";
        for (int i = 0; i < 100; ++i)
            out << "\t<Program" << i << " Path=\"C:\\Program Files\\Host\\" << i << "\">text &amp; more</Program" << i
                << ">\r\n";
        out << "\t<Devices>\r\n\t\t<KRA_MCR_Serial COM_Number=\"7\" Baud=\"9600\" Bits=\"24\"/>\r\n\t</Devices>\r\n</XML>\r\n";
    }
    const std::string name = Prefixed(file.string()), section = Prefixed("Devices");
    const std::string log = Prefixed(folder.string() + "/");

    const KRA_BOOL expected = KRA_Initialize(U(name), U(section), U(log), nullptr);
    const std::string expectedError = KRA_GetLastErrorText();
    ASSERT_EQ(expectedError, "Open error /nonexistent/kra-port");  // the settings were read
    KRA_Finalize();

    int64_t n = 0;
    for (;; ++n) {
        alloctest::FailFrom fail(n);
        const KRA_BOOL started = KRA_Initialize(U(name), U(section), U(log), nullptr);
        fail.Stop();
        KRA_Finalize();
        if (!fail.Refused()) {
            EXPECT_EQ(started, expected);
            break;
        }
        EXPECT_EQ(started, 0) << "allocation " << n;
        EXPECT_EQ(KRA_GetLastErrorCode(), KRA_ERROR_NO_MEMORY) << "allocation " << n << ": " << KRA_GetLastErrorText();
        // Memory is back: the next start behaves as the first one did.
        EXPECT_EQ(KRA_Initialize(U(name), U(section), U(log), nullptr), expected) << "allocation " << n;
        EXPECT_EQ(std::string(KRA_GetLastErrorText()), expectedError) << "allocation " << n;
        EXPECT_EQ(KRA_GetLastErrorCode(), KRA_ERROR_PORT_OPEN) << "allocation " << n;
        KRA_Finalize();
    }
    // The refusals reached the settings load: an allocation an entry at least (its path; the
    // nodes come a page at a time).
    EXPECT_GT(n, 100);
}

}  // namespace
