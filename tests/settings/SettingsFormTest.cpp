// The settings dialog's behaviour: list positions, the bits rule, the spin field's range and
// what a confirmed or cancelled dialog hands back.
#include <gtest/gtest.h>

#include <string>

#include "settings/SettingsForm.h"
#include "settings/SettingsUnit.h"

namespace {

TEST(BaudRates, PositionOfEveryRateAndFallbackForOthers) {
    for (size_t i = 0; i < BaudRates.size(); ++i) {
        EXPECT_EQ(BaudIndexOf(BaudRates[i]), static_cast<int32_t>(i));
        EXPECT_EQ(BaudAtIndex(static_cast<int32_t>(i)), BaudRates[i]);
    }
    for (int32_t baud : {5000, 0, -9600, 9601, 230400}) EXPECT_EQ(BaudIndexOf(baud), 6) << baud;
    EXPECT_EQ(BaudAtIndex(-1), 9600);  // no item selected
    EXPECT_EQ(BaudAtIndex(15), 9600);
}

TEST(BitsRule, OutOfRangeNumbersBecome24OtherTextsStay) {
    const struct {
        const char* text;
        const char* result;
    } cases[] = {
        {"33", "24"}, {"99", "24"}, {"100", "24"}, {"-1", "24"}, {"99999999999999999999", "24"},
        {"32", "32"}, {"0", "0"},   {"07", "07"},  {"", ""},     {"24", "24"},
        {"+5", "+5"}, {"x", "x"},  // not a number: left for the caller, which stores 0
    };
    for (const auto& c : cases) EXPECT_EQ(ApplyBitsRule(c.text), c.result) << '"' << c.text << '"';
}

TEST(BitsMask, KeepsDigitsOnly) {
    EXPECT_EQ(MaskDigits("a1-2 b"), "12");
    EXPECT_EQ(MaskDigits(""), "");
}

TEST(SettingsForm, OpensWithTheStoredValuesAndConfirmsThemUnchanged) {
    TSettingsForm form(3, 19200, "24");
    EXPECT_EQ(form.COMPortText, "3");
    EXPECT_EQ(form.BaudsIndex, 8);
    EXPECT_EQ(form.BitsText, "24");
    int32_t port = 0, baud = 0;
    std::string bits;
    form.Confirm(port, baud, bits);
    EXPECT_EQ(port, 3);
    EXPECT_EQ(baud, 19200);
    EXPECT_EQ(bits, "24");
}

TEST(SettingsForm, UnknownBaudShowsAndReturns9600) {
    TSettingsForm form(1, 5000, "0");
    EXPECT_EQ(form.BaudsIndex, 6);
    int32_t port, baud;
    std::string bits;
    form.Confirm(port, baud, bits);
    EXPECT_EQ(baud, 9600);
    EXPECT_EQ(bits, "0");
}

TEST(SettingsForm, SpinFieldKeepsItsValueWithin1To255) {
    EXPECT_EQ(TSettingsForm(0, 9600, "").COMPortText, "1");
    EXPECT_EQ(TSettingsForm(-7, 9600, "").COMPortText, "1");
    EXPECT_EQ(TSettingsForm(300, 9600, "").COMPortText, "255");

    TSettingsForm form(3, 9600, "");
    const struct {
        const char* typed;
        int32_t value;
    } cases[] = {{"7", 7}, {"255", 255}, {"999", 255}, {"0", 1}, {"", 3}, {"abc", 3}, {"99999999999999", 255}};
    for (const auto& c : cases) {
        form.COMPortText = c.typed;
        EXPECT_EQ(form.COMPortValue(), c.value) << '"' << c.typed << '"';
        form.COMPortSEExit();
        EXPECT_EQ(form.COMPortText, std::to_string(c.value));
    }
}

TEST(SettingsForm, LeavingTheBitsFieldAppliesTheRule) {
    TSettingsForm form(1, 9600, "0");
    form.BitsText = "33";
    form.PasswordMEExit();
    EXPECT_EQ(form.BitsText, "24");
    form.BitsText = "";
    form.PasswordMEExit();
    EXPECT_EQ(form.BitsText, "");
}

#ifndef _WIN32
// RunSettingsDialog over the stand-in: the operator function plays the person at the dialog.
class SettingsDialog : public ::testing::Test {
protected:
    void TearDown() override { SetSettingsOperator(nullptr); }
};

TEST_F(SettingsDialog, ConfirmedEditsAreReturned) {
    SetSettingsOperator([](TSettingsForm& form) {
        form.COMPortText = "12";
        form.COMPortSEExit();
        form.BaudsIndex = 12;
        form.BitsText = "99";  // confirmed with Enter, without leaving the field
        return true;
    });
    int32_t port = 3, baud = 19200;
    std::string bits = "24";
    EXPECT_TRUE(RunSettingsDialog(port, baud, bits));
    EXPECT_EQ(port, 12);
    EXPECT_EQ(baud, 115200);
    EXPECT_EQ(bits, "24");
}

TEST_F(SettingsDialog, CancelledOrUnplayedDialogChangesNothing) {
    SetSettingsOperator([](TSettingsForm& form) {
        form.COMPortText = "12";
        form.BaudsIndex = 0;
        form.BitsText = "";
        return false;
    });
    int32_t port = 3, baud = 5000;
    std::string bits = "40";
    EXPECT_FALSE(RunSettingsDialog(port, baud, bits));
    SetSettingsOperator(nullptr);
    EXPECT_FALSE(RunSettingsDialog(port, baud, bits));
    EXPECT_EQ(port, 3);
    EXPECT_EQ(baud, 5000);
    EXPECT_EQ(bits, "40");
}
#endif

}  // namespace
