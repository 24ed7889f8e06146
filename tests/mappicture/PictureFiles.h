#pragma once

// Small client files for the picture's tests: radar colours, terrain blocks
// and containers, built byte by byte as the client stores them.

#include "TestSupport.h"
#include "UopFile.h"

#include <zlib.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace cryo::test {

inline void PutLe(Bytes& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// radarcol.mul of count entries, black but for the ones given.
inline Bytes RadarBytes(const std::map<std::size_t, std::uint16_t>& colours, std::size_t count = 0x14000)
{
    Bytes bytes;
    for (std::size_t i = 0; i < count; ++i)
        PutLe(bytes, colours.count(i) ? colours.at(i) : 0, 2);
    return bytes;
}

struct Cell {
    std::uint16_t Tile = 0;
    std::int8_t Z = 0;
};

// Terrain blocks 0..count-1, each cell what cellOf(block, cell) gives.
inline Bytes TerrainBytes(std::size_t count, const std::function<Cell(std::size_t, int)>& cellOf)
{
    Bytes bytes;
    for (std::size_t block = 0; block < count; ++block) {
        PutLe(bytes, 0xDEADBEEF, 4); // the header, unused
        for (int cell = 0; cell < 64; ++cell) {
            const Cell c = cellOf(block, cell);
            PutLe(bytes, c.Tile, 2);
            bytes.push_back(static_cast<unsigned char>(c.Z));
        }
    }
    return bytes;
}

struct UopTestEntry {
    std::string Name;
    Bytes Data;
    std::uint16_t Compression = 0; // 1: zlib
    std::uint64_t Hash = 0; // 0: the hash of the name
    bool Pack = true; // false: stored as it is, whatever Compression says
};

// A container: its header, then each table followed by its entries' data,
// each behind a header of 8 bytes. An unused entry ends every table.
inline Bytes UopBytes(const std::vector<std::vector<UopTestEntry>>& tables, std::uint32_t version = 5)
{
    Bytes out;
    PutLe(out, 0x0050594D, 4);
    PutLe(out, version, 4);
    PutLe(out, 0xFD23EC43, 4);
    PutLe(out, 28, 8);
    PutLe(out, 100, 4);
    std::size_t files = 0;
    for (const auto& table : tables)
        files += table.size();
    PutLe(out, files, 4);
    for (std::size_t t = 0; t < tables.size(); ++t) {
        std::vector<Bytes> stored;
        for (const UopTestEntry& entry : tables[t]) {
            Bytes data = entry.Data;
            if (entry.Compression == 1 && entry.Pack) {
                uLongf size = compressBound(static_cast<uLong>(data.size()));
                data.resize(size);
                compress2(data.data(), &size, entry.Data.data(), static_cast<uLong>(entry.Data.size()), 9);
                data.resize(size);
            }
            stored.push_back(data);
        }
        const std::size_t tableStart = out.size();
        std::size_t dataAt = tableStart + 12 + (tables[t].size() + 1) * 34;
        std::size_t next = dataAt;
        for (const Bytes& data : stored)
            next += 8 + data.size();
        PutLe(out, tables[t].size() + 1, 4);
        PutLe(out, t + 1 < tables.size() ? next : 0, 8);
        for (std::size_t i = 0; i < tables[t].size(); ++i) {
            const UopTestEntry& entry = tables[t][i];
            PutLe(out, dataAt, 8);
            PutLe(out, 8, 4);
            PutLe(out, stored[i].size(), 4);
            PutLe(out, entry.Data.size(), 4);
            PutLe(out, entry.Hash != 0 ? entry.Hash : UopNameHash(entry.Name), 8);
            PutLe(out, 0x12345678, 4);
            PutLe(out, entry.Compression, 2);
            dataAt += 8 + stored[i].size();
        }
        out.insert(out.end(), 34, 0);
        for (const Bytes& data : stored) {
            PutLe(out, 0xCCCCCCCCCCCCCCCC, 8);
            out.insert(out.end(), data.begin(), data.end());
        }
    }
    return out;
}

} // namespace cryo::test
