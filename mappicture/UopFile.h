#pragma once

#include "File.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The container files of today's clients ("MYP", *.uop): a chain of tables
// that list entries by the hash of their names.
namespace cryo {

// Bob Jenkins' lookup3 hashlittle2 of the bytes with both seeds 0: the two
// results, c and b. Containers name an entry by (b << 32) | c.
void HashLittle2(std::string_view bytes, std::uint32_t& c, std::uint32_t& b);

// The hash under which a container lists the entry of that name.
std::uint64_t UopNameHash(std::string_view name);

struct UopEntry {
    std::uint64_t Offset = 0; // of the entry's header; the data follows it
    std::uint32_t HeaderLength = 0;
    std::uint32_t CompressedLength = 0;
    std::uint32_t DecompressedLength = 0;
    std::uint16_t Compression = 0; // 0: none, 1: zlib
};

// The used entries of a container, read from its tables.
class UopDirectory {
public:
    // Reads the header and every table. A file that is no container, or
    // whose tables run outside it, is refused naming the file.
    static UopDirectory Read(File& file);

    // The entry of that name, or nullptr.
    const UopEntry* Find(std::string_view name) const;

    std::size_t Size() const { return entries_.size(); }

private:
    std::unordered_map<std::uint64_t, UopEntry> entries_;
};

// The entry's data, decompressed, in out (whose memory is reused). Data past
// the end of the file is "Read beyond end of file"; a compression other than
// zlib, and data that does not decompress to its length, are refused naming
// the entry.
void ReadUopEntry(File& file, const UopEntry& entry, std::string_view name, std::vector<unsigned char>& out);

// Reads size bytes of an uncompressed entry's data from its byte from on,
// which lie inside it.
void ReadUopPart(File& file, const UopEntry& entry, std::uint64_t from, unsigned char* out, std::size_t size);

} // namespace cryo
