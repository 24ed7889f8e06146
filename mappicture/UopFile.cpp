#include "UopFile.h"

#include "Bytes.h"
#include "Error.h"

#include <zlib.h>

#include <cstring>
#include <limits>
#include <set>

namespace cryo {

namespace {

constexpr std::uint32_t Signature = 0x0050594D; // "MYP"
constexpr std::uint32_t NewestVersion = 5;
constexpr std::size_t HeaderSize = 28;
constexpr std::size_t TableHeaderSize = 12;
constexpr std::size_t EntrySize = 34;

std::uint32_t Rotate(std::uint32_t x, int k)
{
    return (x << k) | (x >> (32 - k));
}

void Mix(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c)
{
    a -= c;
    a ^= Rotate(c, 4);
    c += b;
    b -= a;
    b ^= Rotate(a, 6);
    a += c;
    c -= b;
    c ^= Rotate(b, 8);
    b += a;
    a -= c;
    a ^= Rotate(c, 16);
    c += b;
    b -= a;
    b ^= Rotate(a, 19);
    a += c;
    c -= b;
    c ^= Rotate(b, 4);
    b += a;
}

void Final(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c)
{
    c ^= b;
    c -= Rotate(b, 14);
    a ^= c;
    a -= Rotate(c, 11);
    b ^= a;
    b -= Rotate(a, 25);
    c ^= b;
    c -= Rotate(b, 16);
    a ^= c;
    a -= Rotate(c, 4);
    b ^= a;
    b -= Rotate(a, 14);
    c ^= b;
    c -= Rotate(b, 24);
}

std::uint64_t GetU64(const unsigned char* in)
{
    return le::GetU32(in) | (std::uint64_t{le::GetU32(in + 4)} << 32);
}

// Exactly size bytes at offset, or "Read beyond end of file".
void ReadAt(File& file, std::uint64_t offset, unsigned char* out, std::size_t size)
{
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        throw file.ReadBeyondEnd();
    file.Seek(static_cast<std::int64_t>(offset));
    std::size_t got = 0;
    while (got < size) {
        const std::size_t n = file.ReadSome(out + got, size - got);
        if (n == 0)
            throw file.ReadBeyondEnd();
        got += n;
    }
}

[[noreturn]] void Refuse(const File& file, const std::string& text)
{
    Error error(text);
    error.SetFile(file.path());
    throw error;
}

} // namespace

void HashLittle2(std::string_view bytes, std::uint32_t& cOut, std::uint32_t& bOut)
{
    std::uint32_t a = 0xDEADBEEF + static_cast<std::uint32_t>(bytes.size());
    std::uint32_t b = a;
    std::uint32_t c = a;
    const auto* k = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t length = bytes.size();
    while (length > 12) {
        a += le::GetU32(k);
        b += le::GetU32(k + 4);
        c += le::GetU32(k + 8);
        Mix(a, b, c);
        length -= 12;
        k += 12;
    }
    if (length > 0) {
        // The last 1 to 12 bytes, as little-endian words padded with zeros.
        unsigned char last[12] = {};
        std::memcpy(last, k, length);
        a += le::GetU32(last);
        b += le::GetU32(last + 4);
        c += le::GetU32(last + 8);
        Final(a, b, c);
    }
    cOut = c;
    bOut = b;
}

std::uint64_t UopNameHash(std::string_view name)
{
    std::uint32_t c = 0;
    std::uint32_t b = 0;
    HashLittle2(name, c, b);
    return (std::uint64_t{b} << 32) | c;
}

UopDirectory UopDirectory::Read(File& file)
{
    const std::uint64_t size = file.Size();
    unsigned char header[HeaderSize];
    if (size < HeaderSize)
        Refuse(file, "Not a UOP container: the file is too short");
    ReadAt(file, 0, header, sizeof header);
    if (le::GetU32(header) != Signature)
        Refuse(file, "Not a UOP container: the file does not begin with \"MYP\"");
    const std::uint32_t version = le::GetU32(header + 4);
    if (version > NewestVersion)
        Refuse(file,
            "UOP container version " + std::to_string(version) + " is newer than the versions known (up to "
                + std::to_string(NewestVersion) + ")");

    UopDirectory directory;
    std::set<std::uint64_t> tablesSeen;
    std::vector<unsigned char> table;
    for (std::uint64_t next = GetU64(header + 12); next != 0;) {
        if (!tablesSeen.insert(next).second)
            Refuse(file, "The tables of the UOP container form a loop (at byte " + std::to_string(next) + ")");
        unsigned char tableHeader[TableHeaderSize];
        if (next > size || size - next < TableHeaderSize)
            throw file.ReadBeyondEnd();
        ReadAt(file, next, tableHeader, sizeof tableHeader);
        const std::uint64_t count = le::GetU32(tableHeader);
        if ((size - next - TableHeaderSize) / EntrySize < count)
            throw file.ReadBeyondEnd();
        table.resize(static_cast<std::size_t>(count) * EntrySize);
        ReadAt(file, next + TableHeaderSize, table.data(), table.size());
        for (std::size_t i = 0; i < count; ++i) {
            const unsigned char* in = &table[i * EntrySize];
            const std::uint64_t hash = GetU64(in + 20);
            UopEntry entry{
                GetU64(in), le::GetU32(in + 8), le::GetU32(in + 12), le::GetU32(in + 16), le::GetU16(in + 32)};
            if (hash != 0 && entry.CompressedLength != 0)
                directory.entries_.emplace(hash, entry);
        }
        next = GetU64(tableHeader + 4);
    }
    return directory;
}

const UopEntry* UopDirectory::Find(std::string_view name) const
{
    const auto found = entries_.find(UopNameHash(name));
    return found == entries_.end() ? nullptr : &found->second;
}

void ReadUopPart(File& file, const UopEntry& entry, std::uint64_t from, unsigned char* out, std::size_t size)
{
    if (entry.Offset > std::numeric_limits<std::uint64_t>::max() - entry.HeaderLength - from)
        throw file.ReadBeyondEnd();
    ReadAt(file, entry.Offset + entry.HeaderLength + from, out, size);
}

void ReadUopEntry(File& file, const UopEntry& entry, std::string_view name, std::vector<unsigned char>& out)
{
    const std::string entryText = "The entry " + std::string(name) + " of the UOP container";
    if (entry.Compression > 1)
        Refuse(file,
            entryText + " is compressed by method " + std::to_string(entry.Compression)
                + ", which cannot be read (only 0, none, and 1, zlib)");
    if (entry.Offset > std::numeric_limits<std::uint64_t>::max() - entry.HeaderLength)
        throw file.ReadBeyondEnd();
    const std::uint64_t start = entry.Offset + entry.HeaderLength;
    if (entry.Compression == 0) {
        out.resize(entry.CompressedLength);
        ReadAt(file, start, out.data(), out.size());
        return;
    }
    std::vector<unsigned char> packed(entry.CompressedLength);
    ReadAt(file, start, packed.data(), packed.size());
    out.resize(entry.DecompressedLength);
    uLongf length = static_cast<uLongf>(out.size());
    const int result = uncompress(out.data(), &length, packed.data(), static_cast<uLong>(packed.size()));
    if (result != Z_OK || length != out.size())
        Refuse(file,
            entryText + " does not decompress to its " + std::to_string(entry.DecompressedLength)
                + " bytes (zlib: " + (result == Z_OK ? "too short" : zError(result)) + ")");
}

} // namespace cryo
