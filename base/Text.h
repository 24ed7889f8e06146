#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cryo {

// Only the ASCII letters change case; every other byte is kept.
constexpr char UpperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}

constexpr char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);

// Removes the characters with codes 0 to 32 at both ends.
std::string_view Trim(std::string_view text);

// True when the upper-cased line begins with tag at its first character.
// The tag is given in upper case.
bool StartsWithTag(std::string_view line, std::string_view tag);

// The same for a tag known when compiling, as the scans' tags are: the
// comparison unrolls into a few instructions per character.
template <std::size_t N> inline bool StartsWithTag(std::string_view line, const char (&tag)[N])
{
    constexpr std::size_t length = N - 1;
    if (line.size() < length)
        return false;
#pragma GCC unroll 32
    for (std::size_t i = 0; i < length; ++i) {
        // Only a..z change when upper-cased: a letter of the tag matches itself
        // or its lower case, anything else only itself.
        const char c = line[i];
        const char t = tag[i];
        if (c != t && !(t >= 'A' && t <= 'Z' && c == t + ('a' - 'A')))
            return false;
    }
    return true;
}

// The low count bytes of value as two-digit upper-case hex, most significant
// first, separated by blanks: (0x0EED, 2) gives "0E ED". Count 0 gives "".
std::string BytesToHex(std::uint32_t value, int count);

// "1 block", "2 blocks": the count and the noun that goes with it.
std::string CountText(std::uint64_t count, std::string_view one, std::string_view many);

// The text of an error as a message box shows it: a full stop is appended when
// the last character sorts after the full stop (code above 46).
std::string WithFullStop(std::string message);

// Fields of the file layer's own text records (journals, history): every byte
// is kept but '%', tab, CR and LF, which become "%XX".
std::string Escaped(const std::string& text);
std::string Unescaped(std::string_view text);

// The parts between separators; one empty part for empty text.
std::vector<std::string_view> Split(std::string_view text, char separator);

// Decimal digits only; std::invalid_argument for anything else.
std::uint64_t ParsedCount(std::string_view text);

// The length of the well-formed UTF-8 sequence that begins at text[i] (no
// overlong forms, surrogates or code points past U+10FFFF), or 0 when none does.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i);

} // namespace cryo
