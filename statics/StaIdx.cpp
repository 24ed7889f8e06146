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
    : Entries(StaIdxEntryCount)
{
}

TStaIdxEntry& StaIdx::At(std::uint16_t xBlock, std::uint16_t yBlock)
{
    if (yBlock >= MapYBlocks || xBlock >= MapXBlocks)
        throw RangeError();
    return Entries[static_cast<std::size_t>(Number(xBlock, yBlock))];
}

const TStaIdxEntry& StaIdx::At(std::uint16_t xBlock, std::uint16_t yBlock) const
{
    return const_cast<StaIdx&>(*this).At(xBlock, yBlock);
}

void LoadStaIdx(const std::string& path, StaIdx& table, Reporter& reporter)
{
    reporter.SetProgress(0);
    File file = File::OpenExisting(path);
    const FileIdentity source = file.Identity();

    const auto bytes = std::make_unique_for_overwrite<unsigned char[]>(StaIdxFileSize);
    const std::size_t records = file.ReadSome(bytes.get(), StaIdxFileSize) / StaIdxRecordSize;
    // Column by column: the position after each record of column x is x * 100 div 768.
    for (std::size_t first = 0; first < records; first += MapYBlocks) {
        const std::size_t last = std::min(records, first + MapYBlocks);
        for (std::size_t i = first; i < last; ++i)
            table.Entries[i] = DecodeStaIdxEntry(&bytes[i * StaIdxRecordSize]);
        reporter.SetProgressRepeated(
            static_cast<int>(first / MapYBlocks) * 100 / MapXBlocks, static_cast<int>(last - first));
    }
    if (records < static_cast<std::size_t>(StaIdxEntryCount))
        throw file.ReadBeyondEnd();

    std::vector<unsigned char> trailing;
    unsigned char chunk[65536];
    while (const std::size_t n = file.ReadSome(chunk, sizeof chunk))
        trailing.insert(trailing.end(), chunk, chunk + n);
    file.Close();

    table.Trailing = std::move(trailing);
    table.Source = source;
    table.StaIdxLoaded = true;
    reporter.SetProgress(100);
}

void WriteStaIdx(ReplacementFile& file, const StaIdx& table, Reporter& reporter)
{
    const auto bytes = std::make_unique_for_overwrite<unsigned char[]>(StaIdxFileSize);
    for (std::size_t column = 0; column < static_cast<std::size_t>(MapXBlocks); ++column) {
        for (std::size_t i = column * MapYBlocks; i < (column + 1) * MapYBlocks; ++i)
            EncodeStaIdxEntry(table.Entries[i], &bytes[i * StaIdxRecordSize]);
        reporter.SetProgressRepeated(90 + static_cast<int>(column) * 10 / MapXBlocks, MapYBlocks);
    }
    file.Write(bytes.get(), StaIdxFileSize);
    if (!table.Trailing.empty())
        file.Write(table.Trailing.data(), table.Trailing.size());
}

} // namespace cryo
