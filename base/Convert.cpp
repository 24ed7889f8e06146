#include "Convert.h"

#include <bit>
#include <cstring>

namespace cryo {

namespace {

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Eight decimal digits in the bytes of a little-endian word: checks and
// converts them all at once (world saves hold millions of long serials).
bool EightDigits(std::uint64_t word)
{
    return ((word & 0xF0F0F0F0F0F0F0F0u) | (((word + 0x0606060606060606u) & 0xF0F0F0F0F0F0F0F0u) >> 4))
        == 0x3333333333333333u;
}

std::uint64_t EightDigitsValue(std::uint64_t word)
{
    word -= 0x3030303030303030u;
    word = word * 10 + (word >> 8);
    word = (((word & 0x000000FF000000FFu) * (100 + (1000000ull << 32)))
               + (((word >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32))))
        >> 32;
    return word;
}

} // namespace

std::int32_t StrToInt(std::string_view text)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const bool hex = i < text.size() && text[i] == '$';
    if (hex)
        ++i;
    if (i == text.size())
        throw ConvertError(text);

    // The magnitude may reach 2^31 only for a negative value.
    const std::uint64_t limit = negative ? std::uint64_t{1} << 31 : (std::uint64_t{1} << 31) - 1;
    std::uint64_t magnitude = 0;
    if (hex) {
        for (; i < text.size(); ++i) {
            const int digit = HexDigitValue(text[i]);
            if (digit < 0)
                throw ConvertError(text);
            magnitude = magnitude * 16 + static_cast<std::uint64_t>(digit);
            if (magnitude > limit)
                throw ConvertError(text);
        }
    } else {
        // Up to 18 digits cannot overflow the accumulator, so the limit is
        // tested once; world saves hold millions of such numbers.
        const bool shortNumber = text.size() - i <= 18;
        if constexpr (std::endian::native == std::endian::little) {
            while (shortNumber && text.size() - i >= 8) {
                std::uint64_t word;
                std::memcpy(&word, text.data() + i, 8);
                if (!EightDigits(word))
                    throw ConvertError(text);
                magnitude = magnitude * 100000000u + EightDigitsValue(word);
                i += 8;
            }
        }
        for (; i < text.size(); ++i) {
            const auto digit = static_cast<unsigned char>(text[i] - '0');
            if (digit > 9)
                throw ConvertError(text);
            magnitude = magnitude * 10 + digit;
            if (!shortNumber && magnitude > limit)
                throw ConvertError(text);
        }
        if (magnitude > limit)
            throw ConvertError(text);
    }
    const auto value = static_cast<std::int64_t>(magnitude);
    return static_cast<std::int32_t>(negative ? -value : value);
}

} // namespace cryo
