#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace cryo {

// Every failure a user can see is an Error whose what() is the exact text shown.
// It may also name the file it concerns and the place in that file (a section,
// a line, a block), which front ends show beside the text.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;

    const std::string& File() const { return file_; }
    const std::string& Place() const { return place_; }

    // Each is set only once: the code nearest to the failure knows best.
    void SetFile(std::string path)
    {
        if (file_.empty() && !alone_)
            file_ = std::move(path);
    }
    void SetPlace(std::string place)
    {
        if (place_.empty() && !alone_)
            place_ = std::move(place);
    }

protected:
    // For an error that concerns no file, wherever it arises.
    bool alone_ = false;

private:
    std::string file_;
    std::string place_;
};

// The run was asked to stop (a signal, Ctrl+C): no file or place is at fault.
class StopError : public Error {
public:
    explicit StopError(const std::string& text);
};

// "PATH: PLACE: text." as the command line prints an error; the parts that are
// not known are left out, and the text gets its full stop.
std::string ErrorLine(const std::exception& error);

// What a message box shows beneath the text: the file on one line and the
// place on the next; empty when the error names neither.
std::string ErrorDetail(const std::exception& error);

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
// code into a kind; the kind decides the text, which shows the code only for
// errors of no other kind.
class FileError : public Error {
public:
    enum class Kind {
        NotFound,
        InvalidName,
        TooManyOpen,
        AccessDenied,
        ReadBeyondEnd,
        DiskFull,
        Folder, // a folder where a file is expected
        NotAFile, // a device, a pipe or a socket
        Other
    };

    FileError(Kind kind, int systemCode);
    // The kind's text followed by why it arose: "File access denied: ...".
    FileError(Kind kind, int systemCode, std::string_view why);

    Kind What() const { return kind_; }

private:
    Kind kind_;
};

// Runs step; a "File access denied" it raises says why instead, where the
// file an error names may well be writable and the folder beside it is not.
template <typename Step> auto DeniedBecause(std::string_view why, Step&& step) -> decltype(step())
{
    try {
        return step();
    } catch (const FileError& error) {
        if (error.What() != FileError::Kind::AccessDenied)
            throw;
        throw FileError(FileError::Kind::AccessDenied, 0, why);
    }
}

} // namespace cryo
