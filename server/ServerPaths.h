#pragma once

// Paths as the server's settings give them: relative to the server's folder,
// or absolute in the notation of the system the server runs on.

#include <string>
#include <string_view>

namespace cryo {

// Whether path names the same place from whatever folder one starts in: "/..."
// on Linux; "C:\...", "C:/...", "\\server\share" and "\..." on Windows.
bool IsAbsolutePath(std::string_view path);

// relative taken from folder: an absolute path stays as it is, a leading "./"
// and trailing separators go ("./shared/" from "/srv/uo" is "/srv/uo/shared").
// On Windows the separator is the one the folder uses.
std::string JoinPath(std::string_view folder, std::string_view relative);

// The system whose notation path is in, when this one cannot use it: a drive
// letter or backslashes on Linux ("Windows"), a path from "/" on Windows
// ("Linux"); empty for a path of this system.
std::string_view ForeignSystemOf(std::string_view path);

// The folder part of a path without its separator: "." for a bare name.
std::string FolderOf(std::string_view path);

} // namespace cryo
