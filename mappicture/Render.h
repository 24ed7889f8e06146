#pragma once

#include "Actions.h"
#include "MapArea.h"
#include "MapSizes.h"
#include "Reporter.h"
#include "StaIdx.h"

#include <optional>
#include <string>

namespace cryo {

struct RenderRequest {
    // The statics files, and the world save whose items to freeze are marked
    // (none when empty).
    WorldFiles Files;
    // The client's folder; empty for the folder of the statics file, where a
    // missing client file means the picture of the statics alone.
    std::string ClientFolder;
    // The blocks it touches; the whole map without it.
    std::optional<TileArea> Area;
    int Scale = 1; // tiles a pixel: 1, 2, 4 or 8
    bool Grid = false;
    // The map to load the index as; its number names the client's files.
    IndexMap Map;
    std::string Output; // a PNG file
};

// Draws the picture of the map (MapPicture.h), marks the items a freeze would
// take and draws the block grid if asked, and writes it as PNG, replacing the
// output file as a whole under its lock. Everything that can be refused is
// refused before the drawing: an output name that does not end in ".png", an
// area off the map, a picture too large for PNG, missing client files in a
// folder given for them, a world save that a freeze would refuse.
void RenderMapPicture(const RenderRequest& request, Reporter& reporter);

} // namespace cryo
