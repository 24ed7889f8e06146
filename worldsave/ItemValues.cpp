#include "ItemValues.h"

#include "Text.h"

namespace cryo {

namespace {

bool IsServerBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// What the C library's number conversion skips before the digits.
bool IsSpace(char c)
{
    return IsServerBlank(c) || c == '\n' || c == '\r';
}

int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return 99;
}

} // namespace

std::string_view ServerTrim(std::string_view text)
{
    while (!text.empty() && IsServerBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsServerBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

RecordLine ReadRecordLine(std::string_view line)
{
    if (const std::size_t comment = line.find("//"); comment != std::string_view::npos)
        line = line.substr(0, comment);
    line = ServerTrim(line);
    RecordLine result;
    if (line == "o---o") {
        result.LineKind = RecordLine::Kind::RecordEnd;
        return result;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return result;
    result.LineKind = RecordLine::Kind::KeyValue;
    result.Key = ServerTrim(line.substr(0, equals));
    result.Value = ServerTrim(line.substr(equals + 1));
    return result;
}

bool KeyIs(std::string_view key, std::string_view name)
{
    if (key.size() != name.size())
        return false;
    for (std::size_t i = 0; i < key.size(); ++i)
        if (UpperAscii(key[i]) != name[i])
            return false;
    return true;
}

ServerNumber ReadServerNumber(std::string_view text)
{
    ServerNumber number;
    if (ServerTrim(text).empty()) {
        number.Status = ServerNumber::State::Empty;
        return number;
    }
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '0') {
        base = 8;
        if (i + 2 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') && DigitValue(text[i + 2]) < 16) {
            base = 16;
            i += 2;
        }
    }
    std::uint64_t magnitude = 0;
    const std::size_t firstDigit = i;
    for (; i < text.size() && DigitValue(text[i]) < base; ++i) {
        const auto digit = static_cast<std::uint64_t>(DigitValue(text[i]));
        if (magnitude > (UINT64_MAX - digit) / static_cast<std::uint64_t>(base)) {
            number.Status = ServerNumber::State::TooLarge;
            return number;
        }
        magnitude = magnitude * static_cast<std::uint64_t>(base) + digit;
    }
    if (i == firstDigit) {
        number.Status = ServerNumber::State::NotNumber;
        return number;
    }
    // Negation and the cut to 32 bits wrap around, as the server's unsigned
    // conversion and its narrower fields do.
    number.Status = ServerNumber::State::Number;
    number.Value = static_cast<std::uint32_t>(negative ? 0 - magnitude : magnitude);
    return number;
}

std::string_view NumberProblem(const ServerNumber& number)
{
    switch (number.Status) {
    case ServerNumber::State::Absent:
    case ServerNumber::State::Number:
        break;
    case ServerNumber::State::Empty:
        return "the value is empty";
    case ServerNumber::State::NotNumber:
        return "the value is not a number";
    case ServerNumber::State::TooLarge:
        return "the value is too large";
    }
    return {};
}

ServerFields ReadServerFields(std::string_view text)
{
    ServerFields fields;
    for (;;) {
        const std::size_t comma = text.find(',');
        fields.Field[fields.Count++] = ReadServerNumber(text.substr(0, comma));
        if (comma == std::string_view::npos || fields.Count == ServerFields::MaxFields)
            break;
        text.remove_prefix(comma + 1);
    }
    return fields;
}

std::string_view FieldsProblem(const ServerFields& fields, int needed)
{
    if (fields.Count < needed) {
        if (fields.Count == 1 && fields.Field[0].Status == ServerNumber::State::Empty)
            return "the value is empty";
        return needed == 4 ? "it needs at least four fields" : "it needs at least three fields";
    }
    for (int i = 0; i < fields.Count; ++i) {
        switch (fields.Field[i].Status) {
        case ServerNumber::State::Absent:
        case ServerNumber::State::Number:
            break;
        case ServerNumber::State::Empty:
            return "a field is empty";
        case ServerNumber::State::NotNumber:
            return "a field is not a number";
        case ServerNumber::State::TooLarge:
            return "a field is too large";
        }
    }
    return {};
}

} // namespace cryo
