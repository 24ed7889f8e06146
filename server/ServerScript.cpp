#include "ServerScript.h"

#include "File.h"
#include "Text.h"

namespace cryo {

namespace {

// Blanks inside a section's name count once: "[MAP  0]" is "[MAP 0]".
std::string SectionName(std::string_view text)
{
    std::string name;
    for (const char c : Trim(text)) {
        const bool blank = static_cast<unsigned char>(c) <= ' ';
        if (blank && !name.empty() && name.back() == ' ')
            continue;
        name += blank ? ' ' : UpperAscii(c);
    }
    return name;
}

} // namespace

ServerScript::ServerScript(std::string path, std::string_view text)
    : path_(std::move(path))
{
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    int number = 0;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (const std::size_t comment = line.find("//"); comment != std::string_view::npos)
            line = line.substr(0, comment);
        line = Trim(line);
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            sections_.push_back({SectionName(line.substr(1, line.size() - 2)), number, {}});
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos || sections_.empty())
            continue;
        sections_.back().Entries.push_back(
            {UpperCase(Trim(line.substr(0, equals))), std::string(Trim(line.substr(equals + 1))), number});
    }
}

const ScriptEntry* ServerScript::Find(std::string_view section, std::string_view key) const
{
    std::vector<const ScriptEntry*> found;
    for (const ScriptSection& s : sections_)
        if (section.empty() || s.Name == section)
            for (const ScriptEntry& entry : s.Entries)
                if (entry.Key == key)
                    found.push_back(&entry);
    return Unique(found);
}

const ScriptEntry* ServerScript::Find(const ScriptSection& section, std::string_view key) const
{
    std::vector<const ScriptEntry*> found;
    for (const ScriptEntry& entry : section.Entries)
        if (entry.Key == key)
            found.push_back(&entry);
    return Unique(found);
}

const ScriptEntry* ServerScript::Unique(const std::vector<const ScriptEntry*>& found) const
{
    for (const ScriptEntry* other : found)
        if (other->Value != found.front()->Value)
            throw At(other->Line,
                other->Key + "=" + other->Value + " contradicts " + found.front()->Key + "=" + found.front()->Value
                    + " in line " + std::to_string(found.front()->Line) + ": keep the one the server should use");
    return found.empty() ? nullptr : found.front();
}

Error ServerScript::At(int line, const std::string& text) const
{
    Error error(text);
    error.SetFile(path_);
    if (line > 0)
        error.SetPlace("line " + std::to_string(line));
    return error;
}

ServerScript ReadServerScript(const std::string& path)
{
    std::string text;
    try {
        File file = File::OpenForReading(path);
        char chunk[65536];
        while (const std::size_t got = file.ReadSome(chunk, sizeof chunk))
            text.append(chunk, got);
        file.Close();
    } catch (Error& error) {
        error.SetFile(path);
        throw;
    }
    return ServerScript(path, text);
}

} // namespace cryo
