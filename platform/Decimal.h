// Sign-and-digits text: the one rule by which the driver and the settings dialog read whole
// numbers that a person typed or a file holds.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace platform {

// An optional '+' or '-' and then decimal digits only, one at least; nothing for any other text,
// an empty one included. The magnitude saturates at limit: a long run of digits is still a
// number, only one that is too large for whoever asked.
inline std::optional<int64_t> SignedDecimal(std::string_view text, int64_t limit) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return std::nullopt;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
        if (value > limit) value = limit;
    }
    return negative ? -value : value;
}

}  // namespace platform
