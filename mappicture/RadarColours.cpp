#include "RadarColours.h"

#include "Bytes.h"
#include "File.h"

#include <algorithm>

namespace cryo {

PackedRgb ColourOf1555(std::uint16_t colour)
{
    auto eight = [](unsigned v) { return static_cast<PackedRgb>((v << 3) | (v >> 2)); };
    return eight((colour >> 10) & 0x1F) << 16 | eight((colour >> 5) & 0x1F) << 8 | eight(colour & 0x1F);
}

RadarColours::RadarColours()
    : colours_(Entries, 0)
{
}

RadarColours RadarColours::Read(const std::string& path)
{
    File file = File::OpenForReading(path);
    const std::size_t entries = static_cast<std::size_t>(std::min<std::uint64_t>(file.Size() / 2, Entries));
    std::vector<unsigned char> bytes(entries * 2);
    if (file.ReadSome(bytes.data(), bytes.size()) < bytes.size())
        throw file.ReadBeyondEnd();
    file.Close();
    RadarColours colours;
    for (std::size_t i = 0; i < entries; ++i)
        colours.colours_[i] = ColourOf1555(le::GetU16(&bytes[i * 2]));
    return colours;
}

} // namespace cryo
