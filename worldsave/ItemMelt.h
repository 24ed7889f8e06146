#pragma once

#include "ItemRecords.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What a melt writes into [ITEM] world files: the region file each object
// belongs in, fresh serials, and the record text of each object, in the
// server's own spelling and number form.
namespace cryo {

// The file the server stores a position in: "<x div 256>.<y div 1024>.wsc",
// on the fixed grid of 7168 x 4096 tiles whatever the map's size, and
// "overflow.wsc" for positions outside it.
std::string RegionFileName(std::uint32_t x, std::uint32_t y);

// The highest serial of all records, of every kind, as the server reads it;
// 0 when there is none. Houses, boats and spawners are items numbered like
// any other, characters share the serials' one table, and of two objects
// with the same serial the server keeps only one: so every record counts,
// not only the [ITEM] ones.
std::uint32_t HighestSerial(const RecordScan& scan);

// The same over files, each read once and whole.
std::uint32_t HighestSerialOfFiles(const std::vector<std::string>& paths);

// The first of count new item serials above highest, at least 0x40000000
// where item serials start. Raises when they would reach 0xFFFFFFFF, which
// the server reads as "no object".
std::uint32_t FirstNewSerial(std::uint32_t highest, std::uint32_t count);

// A static object as a melt writes it.
struct MeltedObject {
    std::uint32_t Serial = 0;
    std::uint16_t TileId = 0;
    std::uint32_t X = 0;
    std::uint32_t Y = 0;
    std::int8_t Z = 0;
    std::uint16_t Hue = 0;
    std::uint32_t World = 0;
};

// The record the server loads as a fixed object on the ground, LF line ends:
// "[ITEM]", "Serial=0x...", "ID=0x...", "Colour=0x...", "Name=#",
// "Location=x,y,z,world,0", "Cont=0xffffffff", "Type=255", "Movable=2", a
// blank line, "o---o" and a blank line.
std::string ItemRecordText(const MeltedObject& object);

// What goes between a file's bytes and the records appended to them: a line
// end when the file does not end with one, else nothing.
std::string_view LineEndBefore(std::string_view existing);

// Refuses, naming the file and line, a file whose appended records the server
// would not load as they stand: one with a line too long for it (it skips the
// rest of the file), or one that ends inside a record without "o---o" (the
// records would be read into it).
void CheckAppendTarget(const std::string& path, const RecordScan& scan);

} // namespace cryo
