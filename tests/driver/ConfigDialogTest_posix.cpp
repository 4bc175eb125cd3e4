// KRA_ConfigDialog end to end on the dialog stand-in: the operator's confirmed values reach
// ReaderSettings and the file; a cancelled dialog or a failed save changes no file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "driver/Main.h"
#include "settings/SettingsForm.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

class ConfigDialog : public ::testing::Test {
protected:
    TempFolder temp;
    fs::path folder = temp.Path();
    fs::path file = folder / "host.xml";
    TSettingsForm* shown = nullptr;  // what the operator saw, for the checks

    void SetUp() override {
        DriverState.SettingsFileName = file.string();
        DriverState.SettingsSection = "Devices";
        DriverState.ReaderSettings = TReaderSettings{1, 9600, 0};
    }
    void TearDown() override {
        SetSettingsOperator(nullptr);
    }
};

TEST_F(ConfigDialog, ConfirmedDialogWritesTheNewFile) {
    SetSettingsOperator([](TSettingsForm& form) {
        EXPECT_EQ(form.COMPortText, "1");
        EXPECT_EQ(form.BaudsIndex, 6);
        EXPECT_EQ(form.BitsText, "0");
        form.COMPortText = "3";
        form.COMPortSEExit();
        form.BitsText = "24";
        form.PasswordMEExit();
        return true;
    });
    KRA_ConfigDialog();
    EXPECT_EQ(ReadBytes(file),
              "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<XML>\r\n\t<Devices>\r\n\t\t"
              "<KRA_MCR_Serial COM_Number=\"3\" Baud=\"9600\" Bits=\"24\"/>\r\n\t</Devices>\r\n</XML>");
    EXPECT_EQ(DriverState.ReaderSettings.COM_Number, 3);
    EXPECT_EQ(DriverState.ReaderSettings.Bits, 24);
}

TEST_F(ConfigDialog, EmptiedBitsAreStoredAsZeroAndOutOfRangeAs24) {
    DriverState.ReaderSettings = TReaderSettings{3, 19200, 24};
    SetSettingsOperator([](TSettingsForm& form) {
        form.BitsText = "";
        form.PasswordMEExit();
        return true;
    });
    KRA_ConfigDialog();
    EXPECT_EQ(DriverState.ReaderSettings.Bits, 0);
    EXPECT_NE(ReadBytes(file).find("Bits=\"0\""), std::string::npos);

    SetSettingsOperator([](TSettingsForm& form) {
        form.BitsText = "99";
        return true;
    });
    KRA_ConfigDialog();
    EXPECT_EQ(DriverState.ReaderSettings.Bits, 24);
    EXPECT_EQ(DriverState.ReaderSettings.Baud, 19200);
}

TEST_F(ConfigDialog, CancelledDialogSavesNothing) {
    DriverState.ReaderSettings = TReaderSettings{3, 5000, 40};
    SetSettingsOperator([](TSettingsForm& form) {
        form.COMPortText = "9";
        return false;
    });
    KRA_ConfigDialog();
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(DriverState.ReaderSettings.COM_Number, 3);
    EXPECT_EQ(DriverState.ReaderSettings.Baud, 5000);
    EXPECT_EQ(DriverState.ReaderSettings.Bits, 40);
}

TEST_F(ConfigDialog, FailedSaveIsContainedAndKeepsTheNewValues) {
    DriverState.SettingsFileName = (folder / "missing" / "host.xml").string();
    SetSettingsOperator([](TSettingsForm& form) {
        form.COMPortText = "5";
        return true;
    });
    EXPECT_NO_THROW(KRA_ConfigDialog());
    EXPECT_EQ(DriverState.ReaderSettings.COM_Number, 5);
    EXPECT_FALSE(fs::exists(folder / "missing"));
}

}  // namespace
