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

// The file the server stores a position of a map of mapWidth x mapHeight
// tiles in: "<x div 256>.<y div 1024>.wsc", on the fixed grid of 7168 x 4096
// tiles whatever the map's size; "overflow.wsc" for a position outside that
// grid, or outside the map's own grid of cells of 32 x 128 tiles, (mapWidth
// div 32) x (mapHeight div 128) of them.
std::string RegionFileName(std::uint32_t x, std::uint32_t y, std::uint32_t mapWidth, std::uint32_t mapHeight);

// Whether the path names an overflow.wsc.
bool IsOverflowFile(std::string_view path);

// The highest serial of all records, of every kind, as the server reads it;
// 0 when there is none. Houses, boats and spawners are items numbered like
// any other, characters share the serials' one table, and of two objects
// with the same serial the server keeps only one: so every record counts,
// not only the [ITEM] ones.
std::uint32_t HighestSerial(const RecordScan& scan);

// The same, read straight from a file's bytes: only the lines that open or
// end a record or may name its serial are read, which is several times
// faster than ScanRecords.
std::uint32_t HighestSerialOfText(std::string_view bytes);

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

// The same record appended to out.
void AppendItemRecord(std::string& out, const MeltedObject& object);

// What goes between a file's bytes and the records appended to them: a line
// end (CR LF when crLf) when the file does not end with one, else nothing.
std::string_view LineEndBefore(std::string_view existing, bool crLf = false);

// Whether the file's first line ends in CR LF.
bool UsesCrLf(std::string_view bytes);

// LF-ended records with CR LF line ends instead.
std::string WithCrLf(std::string_view records);

// Refuses, naming the file and line, a file whose appended records the server
// would not load as they stand: one with a line too long for it (it skips the
// rest of the file), one that begins with a byte-order mark (it hides the
// first record), or one that ends inside a record without "o---o" (the
// records would be read into it); and a classic world save, which is no place
// for [ITEM] records. Most files end with an "o---o" line and have no long
// line, which is found without reading their records.
void CheckAppendTarget(const std::string& path, std::string_view bytes);

} // namespace cryo
