#pragma once

#include "Actions.h"
#include "Check.h"
#include "MapSizes.h"

#include <string>
#include <string_view>

namespace cryo::cli {

// text as a JSON string. Bytes that are no UTF-8 (a path may hold any) become
// U+FFFD, so that the output is always valid JSON.
std::string JsonString(std::string_view text);

// The report as one JSON object, ended by a line end: every kind checked for,
// with its count and first cases, found or not.
std::string CheckJson(const CheckReport& report, const WorldFiles& files, MapBlocks map);

} // namespace cryo::cli
