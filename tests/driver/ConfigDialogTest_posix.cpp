// KRA_ConfigDialog end to end on the dialog stand-in: the operator's confirmed values reach
// ReaderSettings and the file; a cancelled dialog or a failed save changes no file.
#include <gtest/gtest.h>

#include <filesystem>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "driver/Main.h"
#include "settings/SettingsUnit.h"
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

// The operator learns of a failed save from a box over the host's window, shown once the dialog
// has closed, that names the file and the system's reason; a save that works shows none.
TEST_F(ConfigDialog, FailedSaveTellsTheOperatorAfterTheDialogClosed) {
    int hostWindow = 0;
    SetApplicationHandle(&hostWindow);
    bool dialogOpen = false;
    struct Box {
        void* owner;
        std::string text;
        bool dialogOpen;
    };
    std::vector<Box> boxes;
    SetSaveFailureNotice([&](void* owner, const std::string& text) { boxes.push_back({owner, text, dialogOpen}); });
    SetSettingsOperator([&](TSettingsForm& form) {
        dialogOpen = true;
        form.COMPortText = "5";
        dialogOpen = false;
        return true;
    });
    const fs::path missing = folder / "missing" / "host.xml";
    DriverState.SettingsFileName = missing.string();
    KRA_ConfigDialog();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, &hostWindow);
    EXPECT_FALSE(boxes[0].dialogOpen);
    EXPECT_NE(boxes[0].text.find(missing.string()), std::string::npos) << boxes[0].text;
    EXPECT_NE(boxes[0].text.find(std::strerror(ENOENT)), std::string::npos) << boxes[0].text;

    DriverState.SettingsFileName = file.string();
    KRA_ConfigDialog();
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(fs::exists(file));
    SetSaveFailureNotice(nullptr);
    SetApplicationHandle(nullptr);
}

// A KRA_ConfigDialog while the dialog is open (from the host's menu during the modal loop, or
// from another host thread) brings the open one to the front; only the first dialog saves. A stop
// from another host thread does not wait for the open dialog.
TEST_F(ConfigDialog, SecondDialogBringsTheOpenOneToTheFront) {
    int shown = 0, broughtToFront = 0;
    SetSettingsFrontNotice([&] { ++broughtToFront; });
    SetSettingsOperator([&](TSettingsForm& form) {
        ++shown;
        bool stopped = false;
        std::thread([&] { stopped = KRA_Finalize() == 1; }).join();
        EXPECT_TRUE(stopped);
        KRA_ConfigDialog();  // the same thread, inside the modal loop
        std::thread other([] { KRA_ConfigDialog(); });
        other.join();
        form.COMPortText = "6";
        return true;
    });
    KRA_ConfigDialog();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(broughtToFront, 2);
    EXPECT_EQ(DriverState.ReaderSettings.COM_Number, 6);
    KRA_ConfigDialog();  // closed: the next call opens a dialog again
    EXPECT_EQ(shown, 2);
    SetSettingsFrontNotice(nullptr);
}

}  // namespace
