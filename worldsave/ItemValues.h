#pragma once

#include <cstdint>
#include <string_view>

// How the UOX3 server reads the lines and values of its [ITEM] world files.
// Cryoweaver decides what to freeze and what to refuse by these rules, so
// that it never reads a record differently from the server that loads it.
namespace cryo {

// Removes blanks, tabs, vertical tabs and form feeds at both ends; a CR stays,
// as the server keeps it.
std::string_view ServerTrim(std::string_view text);

// One line inside a record, without its line end, as the server sees it:
// "//" starts a comment anywhere, the rest is trimmed, "o---o" ends the
// record, and a line without "=" says nothing.
struct RecordLine {
    enum class Kind { Ignored, KeyValue, RecordEnd };
    Kind LineKind = Kind::Ignored;
    std::string_view Key; // trimmed, as written
    std::string_view Value; // trimmed, as written
};
RecordLine ReadRecordLine(std::string_view line);

// True when key is name regardless of case; name is given in upper case.
bool KeyIs(std::string_view key, std::string_view name);

// A numeric value as the server converts it: leading white space skipped, an
// optional sign, "0x" or "0X" for hexadecimal, a leading "0" for octal, and
// anything after the digits ignored. The result is cut to 32 bits, so -1
// reads as 0xFFFFFFFF. Empty text, text without digits and values beyond 64
// bits make the server stop at start-up. Absent stands for a missing key.
struct ServerNumber {
    enum class State : std::uint8_t { Absent, Number, Empty, NotNumber, TooLarge };
    State Status = State::Absent;
    std::uint32_t Value = 0;

    bool IsNumber() const { return Status == State::Number; }
    // The value read as a signed 32-bit number, as an altitude is.
    std::int32_t Signed() const { return static_cast<std::int32_t>(Value); }
};
ServerNumber ReadServerNumber(std::string_view text);

// Why the server cannot load a value: "the value is empty", ...; empty when it can.
std::string_view NumberProblem(const ServerNumber& number);

// The fields of a list value such as Location=x,y,z,world,instance. The
// server needs at least Needed fields, each a number; fields past the fifth
// are not read.
struct ServerFields {
    static constexpr int MaxFields = 5;
    int Count = 0; // fields present, at most MaxFields
    ServerNumber Field[MaxFields];
};
ServerFields ReadServerFields(std::string_view text);

// Why the server cannot load a list value that needs at least needed fields;
// empty when it can.
std::string_view FieldsProblem(const ServerFields& fields, int needed);

} // namespace cryo
