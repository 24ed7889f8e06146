#include "Text.h"

namespace cryo {

std::string UpperCase(std::string_view text)
{
    std::string result(text);
    for (char& c : result)
        c = UpperAscii(c);
    return result;
}

std::string LowerCase(std::string_view text)
{
    std::string result(text);
    for (char& c : result)
        c = LowerAscii(c);
    return result;
}

std::string_view Trim(std::string_view text)
{
    auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

bool StartsWithTag(std::string_view line, std::string_view tag)
{
    if (line.size() < tag.size())
        return false;
    for (std::size_t i = 0; i < tag.size(); ++i)
        if (UpperAscii(line[i]) != tag[i])
            return false;
    return true;
}

std::string BytesToHex(std::uint32_t value, int count)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    for (int i = count - 1; i >= 0; --i) {
        const unsigned byte = (value >> (8 * i)) & 0xFFu;
        if (!text.empty())
            text += ' ';
        text += digits[byte >> 4];
        text += digits[byte & 0xF];
    }
    return text;
}

std::string WithFullStop(std::string message)
{
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        message += '.';
    return message;
}

} // namespace cryo
