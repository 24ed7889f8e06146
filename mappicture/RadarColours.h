#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cryo {

// A colour as 0xRRGGBB.
using PackedRgb = std::uint32_t;

// The 16-bit 1-5-5-5 colour of the client's files as 8 bits a channel, each
// 5-bit value v becoming (v << 3) | (v >> 2), so that 31 is 255.
PackedRgb ColourOf1555(std::uint16_t colour);

// The radar colours of radarcol.mul: entry t is land tile t (0..0x3FFF),
// entry 0x4000 + id static graphic id. Entries past the end of the file are
// black.
class RadarColours {
public:
    static constexpr std::size_t LandTiles = 0x4000;
    static constexpr std::size_t Entries = LandTiles + 0x10000;

    RadarColours();
    static RadarColours Read(const std::string& path);

    // Land tile numbers are taken modulo 0x4000.
    PackedRgb Land(std::uint16_t tile) const { return colours_[tile & (LandTiles - 1)]; }
    PackedRgb Static(std::uint16_t graphic) const { return colours_[LandTiles + graphic]; }

private:
    std::vector<PackedRgb> colours_;
};

} // namespace cryo
