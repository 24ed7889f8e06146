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

    // No more than the file holds is read: a size the user gives may be far
    // larger than the file.
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(count * StaIdxRecordSize, fileBytes));
    const auto bytes = std::make_unique_for_overwrite<unsigned char[]>(wanted);
    const std::size_t records = file.ReadSome(bytes.get(), wanted) / StaIdxRecordSize;
    // A file cut short fails below, after its records have replaced the
    // table's first entries; the table then keeps its size.
    if (records == count && table.Size() != size)
        table.Resize(size);
    const std::size_t stored = std::min(records, table.Entries.size());
    // Column by column: the position after each record of column x is x * 100 div width.
    for (std::size_t first = 0; first < records; first += height) {
        const std::size_t last = std::min(records, first + height);
        for (std::size_t i = first; i < std::min(last, stored); ++i)
            table.Entries[i] = DecodeStaIdxEntry(&bytes[i * StaIdxRecordSize]);
        reporter.SetProgressRepeated(static_cast<int>(first / height * 100 / width), static_cast<int>(last - first));
    }
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
