#include "StaIdx.h"

#include "Bytes.h"
#include "Error.h"
#include "File.h"

#include <algorithm>
#include <memory>

namespace cryo {

void EncodeStaIdxEntry(const TStaIdxEntry& entry, unsigned char* out)
{
    le::PutU32(out, static_cast<std::uint32_t>(entry.Offset));
    le::PutU32(out + 4, static_cast<std::uint32_t>(entry.Length));
    le::PutU32(out + 8, entry.Extra);
}

TStaIdxEntry DecodeStaIdxEntry(const unsigned char* in)
{
    return {
        static_cast<std::int32_t>(le::GetU32(in)), static_cast<std::int32_t>(le::GetU32(in + 4)), le::GetU32(in + 8)};
}

StaIdx::StaIdx()
    : StaIdx(MapBlocks{MapXBlocks, MapYBlocks})
{
}

StaIdx::StaIdx(MapBlocks size)
{
    Resize(size);
}

void StaIdx::Resize(MapBlocks size)
{
    size_ = size;
    Entries.assign(static_cast<std::size_t>(size.Width) * static_cast<std::size_t>(size.Height), TStaIdxEntry{});
}

void StaIdx::Replace(MapBlocks size, std::vector<TStaIdxEntry> entries)
{
    if (entries.size() != static_cast<std::size_t>(size.Width) * static_cast<std::size_t>(size.Height))
        throw RangeError();
    size_ = size;
    Entries = std::move(entries);
}

TStaIdxEntry& StaIdx::At(std::uint16_t xBlock, std::uint16_t yBlock)
{
    if (yBlock >= size_.Height || xBlock >= size_.Width)
        throw RangeError();
    return Entries[Number(xBlock, yBlock)];
}

const TStaIdxEntry& StaIdx::At(std::uint16_t xBlock, std::uint16_t yBlock) const
{
    return const_cast<StaIdx&>(*this).At(xBlock, yBlock);
}

void LoadStaIdx(const std::string& path, StaIdx& table, Reporter& reporter, const IndexMap& map, IndexAccess access)
{
    reporter.SetProgress(0);
    File file = access == IndexAccess::ReadOnly ? File::OpenForReading(path) : File::OpenExisting(path);
    const FileIdentity source = file.Identity();
    const std::uint64_t fileBytes = file.Size();
    MapBlocks size;
    try {
        size = map.Size ? *map.Size : MapSizeOfIndex(map.Map, fileBytes);
    } catch (Error& error) {
        error.SetFile(path);
        throw;
    }
    const std::size_t width = static_cast<std::size_t>(size.Width);
    const std::size_t height = static_cast<std::size_t>(size.Height);
    const std::size_t count = width * height;

    // Read a piece at a time into a buffer the caches hold, and decoded into
    // place, not read whole into fresh memory first. No more than the file
    // held when opened is read: a size the user gives may be far larger. A
    // table of another size is decoded into a new one, which replaces it only
    // once the file has held every entry.
    const std::size_t available
        = static_cast<std::size_t>(std::min<std::uint64_t>(count, fileBytes / StaIdxRecordSize));
    const bool resize = table.Size() != size;
    std::vector<TStaIdxEntry> fresh(resize ? available : 0);
    TStaIdxEntry* const out = resize ? fresh.data() : table.Entries.data();
    constexpr std::size_t PieceRecords = 21845; // 256 KB
    const auto piece = std::make_unique_for_overwrite<unsigned char[]>(PieceRecords * StaIdxRecordSize);
    std::size_t records = 0;
    while (records < available) {
        const std::size_t wanted = std::min(available - records, PieceRecords) * StaIdxRecordSize;
        const std::size_t got = file.ReadSome(piece.get(), wanted);
        const std::size_t before = records;
        for (std::size_t i = 0; i + StaIdxRecordSize <= got; i += StaIdxRecordSize)
            out[records++] = DecodeStaIdxEntry(&piece[i]);
        // Column by column: the position after each record of column x is x * 100 div width.
        for (std::size_t column = before / height; column < records / height; ++column)
            reporter.SetProgressRepeated(static_cast<int>(column * 100 / width), static_cast<int>(height));
        if (got < wanted)
            break;
    }
    if (records < count && records % height != 0)
        reporter.SetProgressRepeated(
            static_cast<int>(records / height * 100 / width), static_cast<int>(records % height));
    if (resize && records == count)
        table.Replace(size, std::move(fresh));
    else if (resize) // cut short: its records replace the first entries, and the table keeps its size
        std::copy_n(fresh.begin(), std::min(records, table.Entries.size()), table.Entries.begin());
    if (records < count)
        throw file.ReadBeyondEnd();

    std::vector<unsigned char> trailing;
    unsigned char chunk[65536];
    while (const std::size_t n = file.ReadSome(chunk, sizeof chunk))
        trailing.insert(trailing.end(), chunk, chunk + n);
    file.Close();

    table.Trailing = std::move(trailing);
    table.Source = source;
    table.LoadedAs = map;
    table.StaIdxLoaded = true;
    reporter.SetProgress(100);
}

void WriteStaIdx(ReplacementFile& file, const StaIdx& table, Reporter& reporter)
{
    const std::size_t width = static_cast<std::size_t>(table.Width());
    const std::size_t height = static_cast<std::size_t>(table.Height());
    const std::size_t tableBytes = table.Entries.size() * StaIdxRecordSize;
    const auto bytes = std::make_unique_for_overwrite<unsigned char[]>(tableBytes);
    for (std::size_t column = 0; column < width; ++column) {
        for (std::size_t i = column * height; i < (column + 1) * height; ++i)
            EncodeStaIdxEntry(table.Entries[i], &bytes[i * StaIdxRecordSize]);
        reporter.SetProgressRepeated(90 + static_cast<int>(column * 10 / width), static_cast<int>(height));
    }
    file.Write(bytes.get(), tableBytes);
    if (!table.Trailing.empty())
        file.Write(table.Trailing.data(), table.Trailing.size());
}

} // namespace cryo
