#include "FileSettingsStore.h"

#include "File.h"
#include "Text.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace cryo::settings {

namespace {

// The settings file's own errors; the window shows the path beneath the text.
[[noreturn]] void Fail(const std::string& path, const std::string& text)
{
    SettingsError error(text);
    error.SetFile(path);
    throw error;
}

// Values nested deeper are refused: the parser reads any depth, but writing the
// file back recurses once a level.
constexpr int MaxDepth = 65;
struct TooDeep { };

// The place of the byte'th byte read, as a text editor counts lines and columns.
std::string Place(const std::string& text, std::size_t byte)
{
    std::size_t line = 1;
    std::size_t column = 1;
    for (std::size_t i = 0; i + 1 < byte && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// Bytes of a string that are no UTF-8 pass the parser as stand-ins, the
// private-use characters U+10FF80..U+10FFFF, which no path holds, and become
// the bytes again when the value is read.
void AppendStandIn(std::string& out, char byte)
{
    const auto b = static_cast<unsigned char>(byte);
    out += '\xF4';
    out += '\x8F';
    out += static_cast<char>(0xBC | (b >> 6));
    out += static_cast<char>(0x80 | (b & 0x3F));
}

std::string WithoutStandIns(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\xF4' && i + 3 < text.size() && text[i + 1] == '\x8F'
            && (text[i + 2] == '\xBE' || text[i + 2] == '\xBF')) {
            out += static_cast<char>(((text[i + 2] & 0x03) << 6) | (text[i + 3] & 0x3F));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The file as JSON, with what earlier versions of Cryoweaver also read: numbers
// written with leading zeros ("01"), and bytes in strings that are no UTF-8 (a
// path typed in another encoding). origin holds, for every byte of the result,
// where it came from in the file, so that an error names the file's own place.
std::string Lenient(const std::string& text, std::vector<std::size_t>& origin)
{
    std::string out;
    const auto take = [&](std::size_t from, std::size_t count) {
        out.append(text, from, count);
        for (std::size_t k = 0; k < count; ++k)
            origin.push_back(from + k);
    };
    bool inString = false;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (inString) {
            const std::size_t length = c == '\\' ? 2 : Utf8SequenceLength(text, i);
            inString = c != '"';
            if (length == 0) {
                AppendStandIn(out, c);
                origin.insert(origin.end(), 4, i);
                ++i;
            } else {
                take(i, std::min(length, text.size() - i));
                i += length;
            }
            continue;
        }
        inString = c == '"';
        const bool firstDigit = out.empty() || !std::strchr("0123456789.eE+", out.back());
        if (c == '0' && firstDigit && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '9') {
            ++i;
            continue;
        }
        take(i, 1);
        ++i;
    }
    return out;
}

// The file's object, or why it is none.
nlohmann::json ParseObject(const std::string& text)
{
    std::vector<std::size_t> origin;
    const std::string json = Lenient(text, origin);
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(json, [](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
            if (depth > MaxDepth)
                throw TooDeep();
            return true;
        });
    } catch (const TooDeep&) {
        throw SettingsError("nested too deeply");
    } catch (const nlohmann::json::parse_error& error) {
        // error.byte counts from 1, one past the end for a file cut short.
        const std::size_t at = error.byte == 0 || error.byte > origin.size()
            ? text.size() + (error.byte > origin.size() ? error.byte - origin.size() : 1)
            : origin[error.byte - 1] + 1;
        throw SettingsError("not valid JSON at " + Place(text, at));
    } catch (const nlohmann::json::exception&) {
        // The only other failure of a parse: a number past the range of a double.
        throw SettingsError("a number out of range");
    }
    if (!document.is_object())
        throw SettingsError("not a JSON object");
    return document;
}

// Strings, and numbers that are integers of 32 bits however they are written
// (1, 1.0, 1e0); every other value has a type the program never stores.
StoredValue ToStored(const nlohmann::json& value)
{
    if (value.is_string())
        return WithoutStandIns(value.get<std::string>());
    if (value.is_number()) {
        const double number = value.get<double>();
        if (std::floor(number) == number && number >= std::numeric_limits<std::int32_t>::min()
            && number <= std::numeric_limits<std::int32_t>::max())
            return static_cast<std::int32_t>(number);
    }
    return Unsupported{};
}

// Makes the folder and those above it.
void MakeFolders(const std::string& folder)
{
    for (std::size_t cut = folder.find('/', 1);; cut = folder.find('/', cut + 1)) {
        const std::string part = folder.substr(0, cut);
        if (!part.empty() && !PathExists(part))
            MakeFolder(part);
        if (cut == std::string::npos)
            return;
    }
}

} // namespace

FileSettingsStore::FileSettingsStore(std::string path)
    : path_(std::move(path))
{
}

std::string FileSettingsStore::UserPath()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string folder;
    if (config != nullptr && config[0] == '/') {
        folder = config;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        folder = std::string(home) + "/.config";
    }
    return folder.empty() ? std::string() : folder + "/Quellmar/Cryoweaver.json";
}

bool FileSettingsStore::Open(bool create)
{
    values_ = nullptr;
    open_ = false;
    if (path_.empty() || !PathExists(path_)) {
        // A missing key is created by its first write, so opening it writes nothing.
        open_ = create;
        return open_;
    }
    std::string text;
    try {
        File file = File::OpenForReading(path_);
        char buffer[4096];
        while (const std::size_t got = file.ReadSome(buffer, sizeof buffer))
            text.append(buffer, got);
    } catch (const Error& error) {
        Fail(path_, std::string("The settings file cannot be read: ") + error.what());
    }
    try {
        values_ = ParseObject(text);
    } catch (const SettingsError& error) {
        Fail(path_,
            std::string("The settings file is damaged (") + error.what()
                + "); Cryoweaver leaves it as it is. Correct or delete it");
    }
    open_ = true;
    return true;
}

void FileSettingsStore::Close()
{
    values_ = nullptr;
    open_ = false;
}

StoredValue FileSettingsStore::Value(const std::string& name) const
{
    const auto found = values_.find(name);
    return open_ && found != values_.end() ? ToStored(*found) : StoredValue{};
}

bool FileSettingsStore::SetValue(const std::string& name, const std::variant<std::string, std::int32_t>& value)
{
    if (!open_ || path_.empty())
        return false;
    // The window stores the names at every keystroke that leaves all three
    // valid; a value that is stored already costs no rewrite.
    const StoredValue stored = std::visit([](const auto& v) { return StoredValue{v}; }, value);
    if (const auto found = values_.find(name); found != values_.end() && ToStored(*found) == stored)
        return true;
    nlohmann::json changed = values_;
    std::visit([&](const auto& v) { changed[name] = v; }, value);
    // Bytes that are no UTF-8 are stored as U+FFFD, as the registry stores them.
    const std::string json = changed.dump(4, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    try {
        MakeFolders(path_.substr(0, path_.find_last_of('/')));
        ReplacementFile file(path_);
        file.Write(json.data(), json.size());
        file.Commit();
    } catch (const Error&) {
        return false;
    }
    values_ = std::move(changed);
    return true;
}

#ifndef _WIN32
std::unique_ptr<SettingsStore> UserSettingsStore()
{
    return std::make_unique<FileSettingsStore>(FileSettingsStore::UserPath());
}
#endif

} // namespace cryo::settings
