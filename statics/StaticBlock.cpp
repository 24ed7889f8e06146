#include "StaticBlock.h"

#include "Bytes.h"
#include "Convert.h"
#include "Error.h"
#include "File.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace cryo {

void EncodeStaticItem(const TStaticItem& item, unsigned char* out)
{
    le::PutU16(out, item.TileId);
    out[2] = item.XOffset;
    out[3] = item.YOffset;
    out[4] = static_cast<unsigned char>(item.Z);
    le::PutU16(out + 5, item.Color);
}

TStaticItem DecodeStaticItem(const unsigned char* in)
{
    return {le::GetU16(in), in[2], in[3], static_cast<std::int8_t>(in[4]), le::GetU16(in + 5)};
}

std::string BlockPlace(int x, int y)
{
    return "block " + std::to_string(x) + ", " + std::to_string(y);
}

TStaticBlock StaticBlockOf(const std::vector<TStaticItem>& items)
{
    if (items.size() > MaxBlockItems)
        throw RangeError();
    TStaticBlock block;
    std::copy(items.begin(), items.end(), block.Items.begin());
    block.Count = static_cast<std::uint16_t>(items.size());
    return block;
}

int EntryRecordCount(const TStaIdxEntry& entry)
{
    return entry.Offset == -1 ? 0 : CheckedRange(entry.Length / StaticItemSize, 0, 65535);
}

int EntryItemCount(const TStaIdxEntry& entry)
{
    const int n = EntryRecordCount(entry);
    if (n > MaxBlockItems)
        throw RangeError();
    return n;
}

void ReadBlockRecords(File& statics, const TStaIdxEntry& entry, TStaticBlock& block, Reporter& reporter)
{
    block.Clear();
    if (entry.Offset == -1)
        return;
    statics.Seek(entry.Offset);

    const int n = EntryRecordCount(entry);
    // Items up to 512 are read before the 513th raises the range error, so a
    // short file reports the missing record first.
    const int wanted = std::min(n, MaxBlockItems);
    if (wanted > 0) {
        std::vector<unsigned char> bytes(static_cast<std::size_t>(wanted) * StaticItemSize);
        const std::size_t whole = statics.ReadSome(bytes.data(), bytes.size()) / StaticItemSize;
        for (std::size_t i = 0; i < whole; ++i) {
            block.Items[i] = DecodeStaticItem(&bytes[i * StaticItemSize]);
            reporter.SetProgress(static_cast<int>(i + 1) * 45 / n);
        }
        if (whole < static_cast<std::size_t>(wanted))
            throw statics.ReadBeyondEnd();
    }
    if (n > MaxBlockItems)
        throw RangeError();
    block.Count = static_cast<std::uint16_t>(n);
}

void ReadStaticBlock(const std::string& staticsPath, const TStaIdxEntry& entry, TStaticBlock& block, Reporter& reporter)
{
    block.Clear();
    if (entry.Offset == -1)
        return;
    File file = File::OpenExisting(staticsPath);
    ReadBlockRecords(file, entry, block, reporter);
    file.Close();
}

void MergeBlockItems(TStaticBlock& block, const TStaticBlock& extra)
{
    if (block.Count + extra.Count > MaxBlockItems)
        throw RangeError();
    std::copy_n(extra.Items.begin(), extra.Count, block.Items.begin() + block.Count);
    block.Count = static_cast<std::uint16_t>(block.Count + extra.Count);
}

TStaIdxEntry AppendBlockRecords(File& statics, const TStaticBlock& block, const TStaIdxEntry& entry)
{
    const std::uint64_t end = statics.Size();
    // Offset is a signed 32-bit field: a copy it cannot address is not written.
    TStaIdxEntry updated = entry;
    updated.Offset = CheckedNarrow<std::int32_t>(static_cast<std::int64_t>(end));
    updated.Length = block.Count * StaticItemSize;

    statics.Seek(static_cast<std::int64_t>(end));
    if (block.Count > 0) {
        std::vector<unsigned char> bytes(static_cast<std::size_t>(block.Count) * StaticItemSize);
        for (std::size_t i = 0; i < block.Count; ++i)
            EncodeStaticItem(block.Items[i], &bytes[i * StaticItemSize]);
        statics.Write(bytes.data(), bytes.size());
    }
    return updated;
}

} // namespace cryo
