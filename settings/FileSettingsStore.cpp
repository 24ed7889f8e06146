#include "FileSettingsStore.h"

#include "File.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace cryo::settings {

namespace {

// The settings file's own errors; the window shows the path beneath the text.
[[noreturn]] void Fail(const std::string& path, const std::string& text)
{
    SettingsError error(text);
    error.SetFile(path);
    throw error;
}

void AppendUtf8(std::string& out, std::uint32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// A JSON object of named values. Strings and integral numbers that fit 32 bits
// are read as such; every other value is kept only as its text.
class JsonReader {
public:
    explicit JsonReader(std::string_view text)
        : text_(text)
    {
    }

    std::map<std::string, FileSettingsStore::Entry> Object()
    {
        if (text_.starts_with("\xEF\xBB\xBF"))
            pos_ = 3;
        SkipSpace();
        if (Peek() != '{')
            Fail("not a JSON object");
        std::map<std::string, FileSettingsStore::Entry> values;
        ++pos_;
        SkipSpace();
        if (Peek() == '}') {
            ++pos_;
        } else {
            for (;;) {
                SkipSpace();
                if (Peek() != '"')
                    Fail("a name expected");
                ++pos_;
                std::string name = String();
                SkipSpace();
                Expect(':');
                SkipSpace();
                const std::size_t start = pos_;
                StoredValue value = Value(0);
                values[std::move(name)] = {std::move(value), std::string(text_.substr(start, pos_ - start))};
                SkipSpace();
                if (Peek() == ',') {
                    ++pos_;
                    continue;
                }
                Expect('}');
                break;
            }
        }
        SkipSpace();
        if (pos_ != text_.size())
            Fail("text after the object");
        return values;
    }

private:
    [[noreturn]] void Fail(const std::string& what) const
    {
        throw SettingsError(what + " at byte " + std::to_string(pos_));
    }

    char Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }

    void Expect(char c)
    {
        if (Peek() != c)
            Fail(std::string("'") + c + "' expected");
        ++pos_;
    }

    void SkipSpace()
    {
        while (pos_ < text_.size()
            && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' || text_[pos_] == '\r'))
            ++pos_;
    }

    std::uint32_t Hex4()
    {
        if (text_.size() - pos_ < 4)
            Fail("text cut short");
        std::uint32_t code = 0;
        const auto [end, error] = std::from_chars(text_.data() + pos_, text_.data() + pos_ + 4, code, 16);
        if (error != std::errc() || end != text_.data() + pos_ + 4)
            Fail("bad \\u escape");
        pos_ += 4;
        return code;
    }

    // After the opening quote.
    std::string String()
    {
        std::string out;
        for (;;) {
            if (pos_ >= text_.size())
                Fail("text cut short");
            const char c = text_[pos_++];
            if (c == '"')
                return out;
            if (static_cast<unsigned char>(c) < 0x20)
                Fail("control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            const char e = Peek();
            ++pos_;
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                std::uint32_t code = Hex4();
                if (code >= 0xD800 && code < 0xDC00 && text_.substr(pos_).starts_with("\\u")) {
                    pos_ += 2;
                    const std::uint32_t low = Hex4();
                    if (low < 0xDC00 || low > 0xDFFF)
                        Fail("bad \\u escape");
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xD800 && code < 0xE000) {
                    Fail("bad \\u escape");
                }
                AppendUtf8(out, code);
                break;
            }
            default:
                Fail("bad escape");
            }
        }
    }

    StoredValue Number()
    {
        const std::size_t start = pos_;
        if (Peek() == '-')
            ++pos_;
        const auto digits = [this] {
            const std::size_t from = pos_;
            while (Peek() >= '0' && Peek() <= '9')
                ++pos_;
            if (pos_ == from)
                Fail("bad number");
        };
        digits();
        if (Peek() == '.') {
            ++pos_;
            digits();
        }
        if (Peek() == 'e' || Peek() == 'E') {
            ++pos_;
            if (Peek() == '+' || Peek() == '-')
                ++pos_;
            digits();
        }
        double number = 0;
        std::from_chars(text_.data() + start, text_.data() + pos_, number);
        if (std::floor(number) == number && number >= std::numeric_limits<std::int32_t>::min()
            && number <= std::numeric_limits<std::int32_t>::max())
            return static_cast<std::int32_t>(number);
        return Unsupported{};
    }

    StoredValue Value(int depth)
    {
        if (depth > 64)
            Fail("nested too deeply");
        const char c = Peek();
        if (c == '"') {
            ++pos_;
            return String();
        }
        if (c == '-' || (c >= '0' && c <= '9'))
            return Number();
        for (const std::string_view word : {"true", "false", "null"}) {
            if (text_.substr(pos_).starts_with(word)) {
                pos_ += word.size();
                return Unsupported{};
            }
        }
        if (c != '[' && c != '{')
            Fail("unexpected character");
        const char close = c == '[' ? ']' : '}';
        ++pos_;
        SkipSpace();
        if (Peek() == close) {
            ++pos_;
            return Unsupported{};
        }
        for (;;) {
            SkipSpace();
            if (close == '}') {
                Expect('"');
                String();
                SkipSpace();
                Expect(':');
                SkipSpace();
            }
            Value(depth + 1);
            SkipSpace();
            if (Peek() == ',') {
                ++pos_;
                continue;
            }
            Expect(close);
            return Unsupported{};
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                static const char hex[] = "0123456789abcdef";
                out += "\\u00";
                out += hex[(c >> 4) & 0xF];
                out += hex[c & 0xF];
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
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
    values_.clear();
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
        values_ = JsonReader(text).Object();
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
    values_.clear();
    open_ = false;
}

StoredValue FileSettingsStore::Value(const std::string& name) const
{
    const auto found = values_.find(name);
    return open_ && found != values_.end() ? found->second.Value : StoredValue{};
}

bool FileSettingsStore::SetValue(const std::string& name, const std::variant<std::string, std::int32_t>& value)
{
    if (!open_ || path_.empty())
        return false;
    // The window stores the names at every keystroke that leaves all three
    // valid; a value that is stored already costs no rewrite.
    const StoredValue stored = std::visit([](const auto& v) { return StoredValue{v}; }, value);
    if (const auto found = values_.find(name); found != values_.end() && found->second.Value == stored)
        return true;
    std::map<std::string, Entry> changed = values_;
    if (const std::string* text = std::get_if<std::string>(&value))
        changed[name] = {*text, JsonString(*text)};
    else
        changed[name] = {std::get<std::int32_t>(value), std::to_string(std::get<std::int32_t>(value))};

    std::string json = "{";
    for (const auto& [key, entry] : changed)
        json += (json.size() > 1 ? ",\n    " : "\n    ") + JsonString(key) + ": " + entry.Json;
    json += "\n}\n";
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
