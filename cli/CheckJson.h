#pragma once

#include "Actions.h"
#include "Check.h"
#include "MapSizes.h"

#include <string>

namespace cryo::cli {

// The report as one JSON object, ended by a line end: every kind checked for,
// with its count and first cases, found or not. Bytes of a text that are no
// UTF-8 (a path may hold any) become U+FFFD.
std::string CheckJson(const CheckReport& report, const WorldFiles& files, MapBlocks map);

} // namespace cryo::cli
