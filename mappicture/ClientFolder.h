#pragma once

#include <string>

namespace cryo {

// The client's files that show map n, as found in a folder.
struct ClientFiles {
    std::string Terrain; // map{n}LegacyMUL.uop, or map{n}.mul without one; empty when neither is there
    std::string RadarColours; // radarcol.mul; empty when it is not there

    bool Complete() const { return !Terrain.empty() && !RadarColours.empty(); }
};

// Looks for the files in the folder, their names in any case (an exact match
// first). A folder that does not exist is "File not found".
ClientFiles FindClientFiles(const std::string& folder, int map);

// What the folder lacks, for a message: "radarcol.mul",
// "map0LegacyMUL.uop or map0.mul", or both joined by ", nor ".
std::string MissingClientFiles(const ClientFiles& files, int map);

} // namespace cryo
