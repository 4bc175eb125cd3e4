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
    const std::string log = Prefixed(folder.string() + "/");
    const std::string section = Prefixed("Devices");

    // Refuses every allocation from the n-th on, for n = 0, 1, ... until a start needs no
    // refusal, and returns that n: the allocations a start makes with the host file of the given
    // number of program entries.
    const auto startsUnderEveryExhaustion = [&](int entries) -> int64_t {
        const std::filesystem::path file = folder / ("host" + std::to_string(entries) + ".xml");
        {
            std::ofstream out(file, std::ios::binary);
            out << "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<XML>\r\n";
            for (int i = 0; i < entries; ++i)
                out << "\t<Program" << i << " Path=\"C:\\Program Files\\Host\\" << i << "\">text &amp; more</Program" << i
                    << ">\r\n";
            out << "\t<Devices>\r\n\t\t<KRA_MCR_Serial COM_Number=\"7\" Baud=\"9600\" Bits=\"24\"/>\r\n\t</Devices>\r\n</XML>\r\n";
        }
        const std::string name = Prefixed(file.string());
        const KRA_BOOL expected = KRA_Initialize(U(name), U(section), U(log), nullptr);
        const std::string expectedError = KRA_GetLastErrorText();
        EXPECT_EQ(expectedError, "Open error /nonexistent/kra-port");  // the settings were read
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
        return n;
    };
    const int64_t withEntries = startsUnderEveryExhaustion(100);
    // The refusals reached the settings load: the file's entries cost allocations of their own
    // (their names; nodes and texts come a page at a time), beyond those of a start that reads a
    // file holding the driver's section alone.
    EXPECT_GT(withEntries, startsUnderEveryExhaustion(0));
}

}  // namespace
