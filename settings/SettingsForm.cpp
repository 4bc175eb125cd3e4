#include "settings/SettingsForm.h"

#include <algorithm>
#include <optional>

#include "platform/Decimal.h"

namespace {

// Typed numbers as a saturated 64-bit value: a long run of digits is still a number, only a very
// large one.
std::optional<int64_t> DecimalValue(const std::string& text) { return platform::SignedDecimal(text, int64_t{1} << 40); }

int32_t PortInRange(int64_t value) { return static_cast<int32_t>(std::clamp<int64_t>(value, MinPort, MaxPort)); }

}  // namespace

int32_t BaudIndexOf(int32_t baud) {
    auto it = std::find(BaudRates.begin(), BaudRates.end(), baud);
    return it == BaudRates.end() ? FallbackBaudIndex : static_cast<int32_t>(it - BaudRates.begin());
}

int32_t BaudAtIndex(int32_t index) {
    if (index < 0 || index >= static_cast<int32_t>(BaudRates.size())) index = FallbackBaudIndex;
    return BaudRates[index];
}

std::string ApplyBitsRule(const std::string& text) {
    const int64_t value = DecimalValue(text).value_or(24);
    return value < 0 || value > 32 ? std::string("24") : text;
}

std::string MaskDigits(const std::string& text) {
    std::string digits;
    for (char c : text)
        if (c >= '0' && c <= '9') digits.push_back(c);
    return digits;
}

// A stored port outside 1..255 is shown as the nearest allowed one: what the spin field shows is
// what a confirmation saves.
TSettingsForm::TSettingsForm(int32_t port, int32_t baud, const std::string& bitsText)
    : COMPortText(std::to_string(PortInRange(port))),
      BaudsIndex(BaudIndexOf(baud)),
      BitsText(bitsText),
      shownPort_(PortInRange(port)) {}

int32_t TSettingsForm::COMPortValue() const {
    const std::optional<int64_t> value = DecimalValue(COMPortText);
    return value ? PortInRange(*value) : shownPort_;
}

void TSettingsForm::COMPortSEExit() { COMPortText = std::to_string(COMPortValue()); }

void TSettingsForm::PasswordMEExit() { BitsText = ApplyBitsRule(BitsText); }

void TSettingsForm::Confirm(int32_t& port, int32_t& baud, std::string& bitsText) const {
    port = COMPortValue();
    baud = BaudAtIndex(BaudsIndex);
    bitsText = ApplyBitsRule(BitsText);
}
