#include "ItemSaveFiles.h"

#include "Error.h"
#include "File.h"
#include "Text.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace cryo {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

// Paths are UTF-8 on every platform.
fs::path NativePath(const std::string& path)
{
    return fs::path(std::u8string(path.begin(), path.end()));
}

FileError ListingError(const std::error_code& code)
{
    using Kind = FileError::Kind;
    if (code == std::errc::no_such_file_or_directory || code == std::errc::not_a_directory)
        return {Kind::NotFound, code.value()};
    if (code == std::errc::permission_denied || code == std::errc::operation_not_permitted)
        return {Kind::AccessDenied, code.value()};
    if (code == std::errc::filename_too_long)
        return {Kind::InvalidName, code.value()};
    if (code == std::errc::too_many_files_open || code == std::errc::too_many_files_open_in_system)
        return {Kind::TooManyOpen, code.value()};
    return {Kind::Other, code.value()};
}

bool IsFolder(const std::string& path)
{
    std::error_code ignored;
    return !path.empty() && path.find('\0') == std::string::npos && fs::is_directory(NativePath(path), ignored);
}

// Finds the line that decides a world save's kind, fed the text in pieces:
// the first that is neither blank, nor a "//" comment, nor one of the lines
// the server writes between records ("o---o", "---REGION---"). Lines end at
// an LF or a CR.
class KindLine {
public:
    enum class Found { NotYet, Record, Other };

    Found Feed(std::string_view text)
    {
        for (const char c : text) {
            const bool blank = c == ' ' || c == '\t' || c == '\v' || c == '\f';
            if (c == '\n' || c == '\r') {
                if (state_ == State::Slash || (state_ == State::Separator && !IsSeparator()))
                    return Found::Other;
                state_ = State::Start;
                continue;
            }
            switch (state_) {
            case State::Comment:
                continue;
            case State::Separator:
                if (line_.size() < MaxSeparator)
                    line_ += c;
                else if (!IsSeparator())
                    return Found::Other;
                continue;
            case State::Slash:
                if (c != '/')
                    return Found::Other;
                state_ = State::Comment;
                continue;
            default:
                break;
            }
            if (blank) {
                state_ = State::Blank;
            } else if (c == '/') {
                state_ = State::Slash;
            } else if (c == '-' || c == 'o') {
                state_ = State::Separator;
                line_.assign(1, c);
            } else {
                return state_ == State::Start && c == '[' ? Found::Record : Found::Other;
            }
        }
        return Found::NotYet;
    }

    // At the end of the text.
    Found End() const
    {
        const bool open = state_ == State::Slash || (state_ == State::Separator && !IsSeparator());
        return open ? Found::Other : Found::NotYet;
    }

private:
    static constexpr std::size_t MaxSeparator = 16;

    bool IsSeparator() const
    {
        std::string_view line = line_;
        while (
            !line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\v' || line.back() == '\f'))
            line.remove_suffix(1);
        return line.starts_with("o---o") || line == "---REGION---";
    }

    // Start: nothing yet on this line; Blank: only blanks.
    enum class State { Start, Blank, Slash, Comment, Separator };
    State state_ = State::Start;
    std::string line_; // a separator's first characters
};

// The kind the line found gives, or for none the file's name.
WorldSaveKind KindOf(KindLine::Found found, std::string_view path)
{
    if (found == KindLine::Found::Record)
        return WorldSaveKind::ItemFile;
    if (found == KindLine::Found::Other)
        return WorldSaveKind::Classic;
    const std::size_t slash = path.find_last_of("/\\");
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    return LowerCase(name) == "uox3.wsc" ? WorldSaveKind::Classic : WorldSaveKind::ItemFile;
}

} // namespace

WorldSaveKind WorldSaveKindOfText(std::string_view text, std::string_view path)
{
    if (text.starts_with(ByteOrderMark))
        text.remove_prefix(ByteOrderMark.size());
    KindLine line;
    const KindLine::Found found = line.Feed(text);
    return KindOf(found == KindLine::Found::NotYet ? line.End() : found, path);
}

namespace {

// Text never holds a NUL byte, UTF-16 aside, which the reader refuses with
// its own message.
constexpr std::size_t BinaryTestBytes = 65536;

void CheckNotBinary(std::string_view head)
{
    if (head.starts_with("\xFF\xFE") || head.starts_with("\xFE\xFF"))
        return;
    const std::size_t nul = head.find('\0');
    if (nul != std::string_view::npos)
        throw Error("This is not a world save but a binary file: it holds a NUL byte at offset " + std::to_string(nul));
}

WorldSaveKind WorldSaveKindOfFile(File file, const std::string& path)
{
    std::string head(BinaryTestBytes, '\0');
    std::size_t used = 0;
    while (used < head.size()) {
        const std::size_t got = file.ReadSome(head.data() + used, head.size() - used);
        if (got == 0)
            break;
        used += got;
    }
    head.resize(used);
    CheckNotBinary(head);
    std::string_view text = head;
    if (text.starts_with(ByteOrderMark))
        text.remove_prefix(ByteOrderMark.size());
    // Blank and comment lines are rare at the top of a file: read on only while all is such.
    KindLine line;
    KindLine::Found found = line.Feed(text);
    char chunk[4096];
    while (found == KindLine::Found::NotYet && used == BinaryTestBytes) {
        const std::size_t got = file.ReadSome(chunk, sizeof chunk);
        if (got == 0)
            break;
        found = line.Feed(std::string_view(chunk, got));
    }
    return KindOf(found == KindLine::Found::NotYet ? line.End() : found, path);
}

} // namespace

WorldSaveKind WorldSaveKindOf(const std::string& path)
{
    if (IsFolder(path))
        return WorldSaveKind::Folder;
    if (!FileExists(path))
        return WorldSaveKind::Classic;
    try {
        return WorldSaveKindOfFile(File::OpenForReading(path), path);
    } catch (Error& error) {
        error.SetFile(path);
        throw;
    }
}

std::string PathInFolder(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    const char last = folder.back();
    return last == '/' || last == '\\' ? folder + name : folder + "/" + name;
}

namespace {

// The names of the files the server loads, in the order a freeze reads them.
std::vector<std::string> ServerFileNames()
{
    std::vector<std::string> names;
    for (int x = 0; x < 28; ++x)
        for (int y = 0; y < 4; ++y)
            names.push_back(std::to_string(x) + "." + std::to_string(y) + ".wsc");
    names.emplace_back("overflow.wsc");
    names.emplace_back("house.wsc");
    return names;
}

} // namespace

bool ServerLoads(const std::string& folder, const std::string& path)
{
    const fs::path file = NativePath(path);
    const std::u8string name = file.filename().u8string();
    const std::vector<std::string> names = ServerFileNames();
    std::error_code ignored;
    return std::find(names.begin(), names.end(), std::string(name.begin(), name.end())) != names.end()
        && fs::equivalent(file.has_parent_path() ? file.parent_path() : fs::path("."), NativePath(folder), ignored);
}

bool SameFolder(const std::string& one, const std::string& other)
{
    std::error_code ignored;
    return IsFolder(one) && IsFolder(other) && fs::equivalent(NativePath(one), NativePath(other), ignored);
}

std::vector<std::string> FreezeFiles(const std::string& folder)
{
    std::vector<std::string> paths;
    for (const std::string& name : ServerFileNames())
        if (FileExists(PathInFolder(folder, name)))
            paths.push_back(PathInFolder(folder, name));
    return paths;
}

std::vector<std::string> WscFiles(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code code;
    fs::directory_iterator entries(NativePath(folder), code);
    for (; !code && entries != fs::directory_iterator(); entries.increment(code)) {
        const std::u8string name = entries->path().filename().u8string();
        std::string text(name.begin(), name.end());
        std::error_code ignored;
        if (text.size() > 4 && LowerCase(text.substr(text.size() - 4)) == ".wsc" && entries->is_regular_file(ignored))
            names.push_back(std::move(text));
    }
    if (code) {
        FileError error = ListingError(code);
        error.SetFile(folder);
        throw error;
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> paths;
    for (const std::string& name : names)
        paths.push_back(PathInFolder(folder, name));
    return paths;
}

namespace {

void ReadWholeFileUnnamed(const std::string& path, std::string& bytes)
{
    File file = File::OpenForReading(path);
    bytes.resize(static_cast<std::size_t>(file.Size()));
    std::size_t used = 0;
    while (used < bytes.size()) {
        const std::size_t got = file.ReadSome(bytes.data() + used, bytes.size() - used);
        if (got == 0)
            break;
        used += got;
    }
    bytes.resize(used);
    // A file that grew meanwhile is read to its end.
    char chunk[65536];
    while (const std::size_t got = file.ReadSome(chunk, sizeof chunk))
        bytes.append(chunk, got);
}

} // namespace

void ReadWholeFile(const std::string& path, std::string& bytes)
{
    try {
        ReadWholeFileUnnamed(path, bytes);
    } catch (Error& error) {
        error.SetFile(path);
        throw;
    }
}

} // namespace cryo
