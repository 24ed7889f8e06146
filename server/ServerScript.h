#pragma once

// The server's own settings files, uox.ini and the definitions (maps.dfn),
// read by its rules: sections "[name]", lines "KEY=value" (keys in any case,
// blanks around both trimmed), "//" starting a comment anywhere, CR LF or LF
// line ends, and "{" and "}" around a definition's lines. Lines without "="
// are skipped, as the server skips them.

#include "Error.h"

#include <string>
#include <string_view>
#include <vector>

namespace cryo {

struct ScriptEntry {
    std::string Key; // upper case
    std::string Value;
    int Line = 0;
};

struct ScriptSection {
    std::string Name; // upper case, blanks inside as one blank: "MAP 0"
    int Line = 0;
    std::vector<ScriptEntry> Entries;
};

class ServerScript {
public:
    ServerScript(std::string path, std::string_view text);

    const std::string& Path() const { return path_; }
    const std::vector<ScriptSection>& Sections() const { return sections_; }

    // The entry of key in the sections of that name (in any section for an
    // empty name); nullptr when there is none. A key given twice with two
    // values is refused, naming both lines: the server and this tool could
    // otherwise take different ones.
    const ScriptEntry* Find(std::string_view section, std::string_view key) const;
    // The same within one section.
    const ScriptEntry* Find(const ScriptSection& section, std::string_view key) const;

    // An error about line (0: the whole file) of this file.
    Error At(int line, const std::string& text) const;

private:
    const ScriptEntry* Unique(const std::vector<const ScriptEntry*>& found) const;

    std::string path_;
    std::vector<ScriptSection> sections_;
};

// Reads the file whole; a missing or unreadable file is raised with its name.
ServerScript ReadServerScript(const std::string& path);

} // namespace cryo
