// The settings dialog's behaviour, apart from any window system: what the controls show when the
// dialog opens, what leaving a field does to its text, and what a confirmed dialog returns.
// The Win32 dialog and the POSIX stand-in only move texts between their controls and this form.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>

// Both the items of BaudsCB, in order, and the baud rate of each list position.
inline constexpr std::array<int32_t, 15> BaudRates = {110,   300,   600,   1200,   2400,   4800,   9600,  14400,
                                                      19200, 38400, 56000, 57600, 115200, 128000, 256000};
// The position shown and returned wherever none fits (9600).
inline constexpr int32_t FallbackBaudIndex = 6;

inline constexpr int32_t MinPort = 1, MaxPort = 255;
// PasswordME takes decimal digits, two at most, from the keyboard.
inline constexpr size_t BitsFieldMaxDigits = 2;

// The first position of baud in BaudRates, or FallbackBaudIndex.
int32_t BaudIndexOf(int32_t baud);
// The baud rate at a list position; that of FallbackBaudIndex when no item is selected (-1).
int32_t BaudAtIndex(int32_t index);

// Bits rule: a decimal integer outside 0..32 becomes "24"; any other text (an empty one too) stays.
std::string ApplyBitsRule(const std::string& text);

// What the masked field lets through when the operator types or pastes text: its digits only.
std::string MaskDigits(const std::string& text);

class TSettingsForm {
public:
    // The controls' contents as the operator sees and edits them.
    std::string COMPortText;                 // text of the spin field COMPortSE
    int32_t BaudsIndex = FallbackBaudIndex;  // selected item of BaudsCB, -1 for none
    std::string BitsText;                    // text of the masked edit PasswordME (the bits)

    // Fills the controls from the values handed to the dialog.
    TSettingsForm(int32_t port, int32_t baud, const std::string& bitsText);

    // The spin field's value: its text as a number kept within 1..255; the value it opened
    // with while the text holds no number (cleared by the operator).
    int32_t COMPortValue() const;

    // Leave-focus handlers: the spin field shows its value, PasswordME gets the bits rule.
    void COMPortSEExit();
    void PasswordMEExit();

    // The values of a confirmed dialog.
    void Confirm(int32_t& port, int32_t& baud, std::string& bitsText) const;

private:
    int32_t shownPort_;
};

// The owner of the dialog: the host's window given at the driver's start (null for none).
void* ApplicationHandle();

// Runs the form as a modal dialog: true when the operator confirmed. Each side of the build has
// its own (Win32: a dialog window over the application's window; POSIX: the stand-in below).
bool ShowSettingsForm(TSettingsForm& form);

#ifndef _WIN32
// The POSIX stand-in plays no window: an operator function (tests) edits the form, calls its
// handlers in the order a person would cause them and answers true for Apply or Enter, false
// for Cancel or Escape. With none set, the dialog is cancelled.
using TSettingsOperator = std::function<bool(TSettingsForm& form)>;
void SetSettingsOperator(TSettingsOperator play);
#endif
