#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

// The low count bytes of value as two-digit upper-case hex, most significant
// first, separated by blanks: (0x0EED, 2) gives "0E ED". Count 0 gives "".
std::string BytesToHex(std::uint32_t value, int count);

// The text of an error as a message box shows it: a full stop is appended when
// the last character sorts after the full stop (code above 46).
std::string WithFullStop(std::string message);

} // namespace cryo
