#include "ServerPaths.h"

namespace cryo {

namespace {

#ifdef _WIN32
constexpr std::string_view Separators = "/\\";
#else
constexpr std::string_view Separators = "/";
#endif

bool IsSeparator(char c)
{
    return Separators.find(c) != std::string_view::npos;
}

bool HasDriveLetter(std::string_view path)
{
    return path.size() >= 2 && path[1] == ':'
        && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

// Trailing separators go, but the root's own.
std::string_view WithoutTrailingSeparators(std::string_view path)
{
    while (path.size() > 1 && IsSeparator(path.back()) && !(HasDriveLetter(path) && path.size() == 3))
        path.remove_suffix(1);
    return path;
}

} // namespace

bool IsAbsolutePath(std::string_view path)
{
#ifdef _WIN32
    return (!path.empty() && IsSeparator(path.front()))
        || (HasDriveLetter(path) && path.size() > 2 && IsSeparator(path[2]));
#else
    return path.starts_with('/');
#endif
}

std::string JoinPath(std::string_view folder, std::string_view relative)
{
    while (relative.size() >= 2 && relative[0] == '.' && IsSeparator(relative[1])) {
        relative.remove_prefix(2);
        while (!relative.empty() && IsSeparator(relative.front()))
            relative.remove_prefix(1);
    }
    if (relative == ".")
        relative = {};
    if (IsAbsolutePath(relative))
        return std::string(WithoutTrailingSeparators(relative));
    relative = WithoutTrailingSeparators(relative);
    std::string joined(WithoutTrailingSeparators(folder));
    if (relative.empty())
        return joined.empty() ? "." : joined;
    if (joined.empty())
        return std::string(relative);
#ifdef _WIN32
    const char separator = joined.find('\\') != std::string::npos ? '\\' : '/';
#else
    const char separator = '/';
#endif
    if (!IsSeparator(joined.back()))
        joined += separator;
    return joined.append(relative);
}

std::string_view ForeignSystemOf(std::string_view path)
{
#ifdef _WIN32
    if (path.starts_with('/') && !path.starts_with("//"))
        return "Linux";
#else
    if (HasDriveLetter(path) || path.find('\\') != std::string_view::npos)
        return "Windows";
#endif
    return {};
}

std::string FolderOf(std::string_view path)
{
    path = WithoutTrailingSeparators(path);
    std::size_t end = path.size();
    while (end > 0 && !IsSeparator(path[end - 1]))
        --end;
#ifdef _WIN32
    if (end == 0 && HasDriveLetter(path))
        return std::string(path.substr(0, 2)) + ".";
#endif
    if (end == 0)
        return ".";
    return std::string(WithoutTrailingSeparators(path.substr(0, end)));
}

} // namespace cryo
