#include "Convert.h"

#include <charconv>

namespace cryo {

std::int32_t StrToInt(std::string_view text)
{
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    int base = 10;
    if (!digits.empty() && digits.front() == '$') {
        base = 16;
        digits.remove_prefix(1);
    }
    // An unsigned from_chars takes no sign of its own, so "--5" and "$-1" fail here.
    std::uint32_t magnitude = 0;
    const char* const end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, magnitude, base);
    if (digits.empty() || error != std::errc{} || stop != end || magnitude > (negative ? 0x80000000u : 0x7FFFFFFFu))
        throw ConvertError(text);
    return static_cast<std::int32_t>(negative ? 0u - magnitude : magnitude);
}

} // namespace cryo
