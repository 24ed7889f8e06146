#pragma once

#include "Error.h"

#include <cstdint>
#include <limits>
#include <string_view>

namespace cryo {

// Signed 32-bit value of text: an optional "+" or "-", then decimal digits or "$" and
// hexadecimal digits. Anything else, empty text or a value outside the 32-bit range
// raises ConvertError with the text unchanged.
std::int32_t StrToInt(std::string_view text);

// Assignment to a narrower field: a value that does not fit raises RangeError.
template <typename T> T CheckedNarrow(std::int64_t value)
{
    if (value < static_cast<std::int64_t>(std::numeric_limits<T>::min())
        || value > static_cast<std::int64_t>(std::numeric_limits<T>::max()))
        throw RangeError();
    return static_cast<T>(value);
}

// A value that must lie in lo..hi, as a subrange field would; outside raises RangeError.
inline std::int32_t CheckedRange(std::int64_t value, std::int64_t lo, std::int64_t hi)
{
    if (value < lo || value > hi)
        throw RangeError();
    return static_cast<std::int32_t>(value);
}

// a + b, raising OverflowError when the sum leaves the signed 32-bit range.
inline std::int32_t CheckedAdd(std::int32_t a, std::int32_t b)
{
    std::int32_t sum;
    if (__builtin_add_overflow(a, b, &sum))
        throw OverflowError();
    return sum;
}

} // namespace cryo
