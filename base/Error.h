#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace cryo {

// Every failure a user can see is an Error whose what() is the exact text shown.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A value that does not fit the field or table it is assigned to.
class RangeError : public Error {
public:
    RangeError();
};

// Arithmetic that would pass the signed 32-bit range.
class OverflowError : public Error {
public:
    OverflowError();
};

// Text that is not an integer; carries the text in its message.
class ConvertError : public Error {
public:
    explicit ConvertError(std::string_view text);
};

// A failed file operation. The platform file layer classifies the system's error
// code into a kind; the kind alone decides the text.
class FileError : public Error {
public:
    enum class Kind { NotFound, InvalidName, TooManyOpen, AccessDenied, ReadBeyondEnd, DiskFull, Other };

    FileError(Kind kind, int systemCode);

    Kind kind() const { return kind_; }
    int systemCode() const { return systemCode_; }

private:
    Kind kind_;
    int systemCode_;
};

std::string FileErrorText(FileError::Kind kind, int systemCode);

} // namespace cryo
