#pragma once

// What the window's buttons do, shared by every front end: the same texts are
// converted the same way and the same lines are logged.

#include "Reporter.h"
#include "StaIdx.h"
#include "StaticBlock.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cryo {

struct WorldFiles {
    std::string StaIdx;
    std::string Statics;
    std::string Wsc;
};

// A block edit's text as an unsigned 16-bit number: "'%s' is not a valid integer
// value" for text that is no integer, "Range check error" outside 0..65535.
std::uint16_t ParseBlockNumber(std::string_view text);

// The listing of the block the two texts name, one line per object ("Item #1:
// Item ID = 0E ED, X = 1234, Y = 567, Z = -5, Color = 00 00"); nothing is
// returned on an error.
std::vector<std::string> ListStaticBlock(const std::string& staticsPath, const StaIdx& table, std::string_view xText,
    std::string_view yText, Reporter& reporter);

// The GetStaticIndex load with its log lines, without the window's own steps
// between loading and "Init completed!".
void LogInitStart(Reporter& reporter);
void LogInitDone(Reporter& reporter);

// The Melt! button: logs the warning, converts the texts, melts, logs completion.
void RunMelt(
    const WorldFiles& files, std::string_view xText, std::string_view yText, StaIdx& table, Reporter& reporter);

// The Freeze! button: logs the warning, freezes, logs completion.
void RunFreeze(const WorldFiles& files, StaIdx& table, Reporter& reporter);

} // namespace cryo
