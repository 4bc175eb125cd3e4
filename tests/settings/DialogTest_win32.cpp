// A module without the dialog's template (this test program links the settings statically and
// has no resources) gets an error, not a hang or a crash, and keeps the values.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "settings/SettingsUnit.h"

TEST(SettingsDialogWin32, MissingTemplateIsAnError) {
    int32_t port = 3, baud = 19200;
    std::string bits = "24";
    SetApplicationHandle(reinterpret_cast<void*>(static_cast<intptr_t>(0x1234)));  // not a window
    EXPECT_THROW(RunSettingsDialog(port, baud, bits), std::runtime_error);
    SetApplicationHandle(nullptr);
    EXPECT_EQ(port, 3);
    EXPECT_EQ(baud, 19200);
    EXPECT_EQ(bits, "24");
}
