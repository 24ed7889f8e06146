#include "ClientFolder.h"

#include "Error.h"
#include "File.h"
#include "Text.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

namespace cryo {

namespace fs = std::filesystem;

namespace {

std::string UopName(int map)
{
    return "map" + std::to_string(map) + "LegacyMUL.uop";
}

std::string MulName(int map)
{
    return "map" + std::to_string(map) + ".mul";
}

constexpr const char* RadarColoursName = "radarcol.mul";

std::string InFolder(const std::string& folder, const std::string& name)
{
    const char last = folder.empty() ? '/' : folder.back();
    return folder.empty() ? name : last == '/' || last == '\\' ? folder + name : folder + "/" + name;
}

// The path of the file named so in the folder, in any case; empty when none is.
std::string FindName(const std::string& folder, const std::vector<std::string>& names, const std::string& wanted)
{
    std::string found;
    for (const std::string& name : names) {
        if (name == wanted)
            return InFolder(folder, name);
        if (found.empty() && LowerCase(name) == LowerCase(wanted))
            found = InFolder(folder, name);
    }
    return found;
}

} // namespace

ClientFiles FindClientFiles(const std::string& folder, int map)
{
    if (!FolderExists(folder)) {
        FileError error(FileError::Kind::NotFound, 0);
        error.SetFile(folder);
        throw error;
    }
    // Files only, sorted, so that of names that differ in case the same one is always taken.
    std::vector<std::string> names;
    std::error_code code;
    fs::directory_iterator entries(fs::path(std::u8string(folder.begin(), folder.end())), code);
    for (; !code && entries != fs::directory_iterator(); entries.increment(code)) {
        std::error_code ignored;
        if (!entries->is_regular_file(ignored))
            continue;
        const std::u8string name = entries->path().filename().u8string();
        names.emplace_back(name.begin(), name.end());
    }
    std::sort(names.begin(), names.end());

    ClientFiles files;
    files.RadarColours = FindName(folder, names, RadarColoursName);
    files.Terrain = FindName(folder, names, UopName(map));
    if (files.Terrain.empty())
        files.Terrain = FindName(folder, names, MulName(map));
    return files;
}

std::string MissingClientFiles(const ClientFiles& files, int map)
{
    std::string missing;
    if (files.RadarColours.empty())
        missing = RadarColoursName;
    if (files.Terrain.empty())
        missing += (missing.empty() ? "" : ", nor ") + UopName(map) + " or " + MulName(map);
    return missing;
}

} // namespace cryo
