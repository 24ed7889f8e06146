#include "Error.h"

#include "Text.h"

namespace cryo {

RangeError::RangeError()
    : Error("Range check error")
{
}

OverflowError::OverflowError()
    : Error("Integer overflow")
{
}

ConvertError::ConvertError(std::string_view text)
    : Error(std::string("'").append(text).append("' is not a valid integer value"))
{
}

StopError::StopError(const std::string& text)
    : Error(text)
{
    alone_ = true;
}

namespace {

std::string FileErrorText(FileError::Kind kind, int systemCode)
{
    switch (kind) {
    case FileError::Kind::NotFound:
        return "File not found";
    case FileError::Kind::InvalidName:
        return "Invalid filename";
    case FileError::Kind::TooManyOpen:
        return "Too many open files";
    case FileError::Kind::AccessDenied:
        return "File access denied";
    case FileError::Kind::ReadBeyondEnd:
        return "Read beyond end of file";
    case FileError::Kind::DiskFull:
        return "Disk full";
    case FileError::Kind::Folder:
        return "This is a folder, not a file";
    case FileError::Kind::NotAFile:
        return "This is a device or a pipe, not a file";
    case FileError::Kind::Other:
        break;
    }
    return "I/O error " + std::to_string(systemCode);
}

} // namespace

FileError::FileError(Kind kind, int systemCode)
    : Error(FileErrorText(kind, systemCode))
    , kind_(kind)
{
}

FileError::FileError(Kind kind, int systemCode, std::string_view why)
    : Error(FileErrorText(kind, systemCode).append(": ").append(why))
    , kind_(kind)
{
}

std::string ErrorLine(const std::exception& error)
{
    std::string line;
    if (const auto* known = dynamic_cast<const Error*>(&error)) {
        for (const std::string* part : {&known->File(), &known->Place()})
            if (!part->empty())
                line.append(*part).append(": ");
    }
    return line + WithFullStop(error.what());
}

std::string ErrorDetail(const std::exception& error)
{
    const auto* known = dynamic_cast<const Error*>(&error);
    if (known == nullptr)
        return {};
    std::string detail = known->File();
    if (!detail.empty() && !known->Place().empty())
        detail += '\n';
    return detail.append(known->Place());
}

} // namespace cryo
