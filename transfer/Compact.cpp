#include "Compact.h"

#include "Commit.h"
#include "Error.h"
#include "File.h"
#include "StaticBlock.h"
#include "StaticsWindow.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <vector>

namespace cryo {

namespace {

constexpr std::size_t OutputBuffer = std::size_t{4} << 20;
constexpr std::uint32_t NotCopied = std::numeric_limits<std::uint32_t>::max();

// Objects an entry refers to: 0 for an empty one, -1 for one the file cannot serve.
std::int64_t ItemsOf(const TStaIdxEntry& entry, std::uint64_t staticsBytes)
{
    if (entry.Offset == -1)
        return 0;
    const std::int64_t items = entry.Length / StaticItemSize;
    if (entry.Offset < 0 || items < 0)
        return -1;
    if (static_cast<std::uint64_t>(entry.Offset) + static_cast<std::uint64_t>(items) * StaticItemSize > staticsBytes)
        return -1;
    return items;
}

} // namespace

CompactResult CompactStatics(
    const std::string& staIdxPath, const std::string& staticsPath, StaIdx& table, Reporter& reporter)
{
    reporter.SetProgress(0);
    File statics = File::OpenExisting(staticsPath);
    const FileIdentity read = statics.Identity();
    const std::uint64_t size = read.Size;

    // Every record of the index file counts, also those past the table (a
    // map given smaller than the file): their blocks are kept and repointed
    // like the table's.
    const std::size_t tableEntries = table.Entries.size();
    const std::size_t height = static_cast<std::size_t>(table.Height());
    std::vector<TStaIdxEntry> entries = table.Entries;
    const std::size_t trailingEntries = table.Trailing.size() / StaIdxRecordSize;
    for (std::size_t k = 0; k < trailingEntries; ++k)
        entries.push_back(DecodeStaIdxEntry(&table.Trailing[k * StaIdxRecordSize]));

    // Nothing is written for an index that refers to bytes the file lacks:
    // which blocks are whole cannot be known.
    struct Reference {
        std::int32_t Offset;
        std::int32_t Items;
        std::uint32_t Entry;
        auto operator<=>(const Reference&) const = default;
    };
    std::vector<Reference> referenced;
    bool rising = true; // every block after the one before it: none can share
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::int64_t items = ItemsOf(entries[i], size);
        if (items < 0) {
            Error error("The index refers to bytes the statics file does not hold; no file was changed. Run check "
                        "to list every damaged entry");
            error.SetFile(staIdxPath);
            error.SetPlace(BlockPlace(static_cast<int>(i / height), static_cast<int>(i % height)));
            throw error;
        }
        if (items == 0)
            continue;
        const std::int32_t offset = entries[i].Offset;
        rising = rising
            && (referenced.empty() || offset >= referenced.back().Offset + referenced.back().Items * StaticItemSize);
        referenced.push_back({offset, static_cast<std::int32_t>(items), static_cast<std::uint32_t>(i)});
    }

    // Blocks that share their bytes are copied once, at the first of them.
    std::vector<std::uint32_t> copyOf(entries.size(), NotCopied);
    if (!rising)
        std::sort(referenced.begin(), referenced.end());
    for (std::size_t k = 0; k < referenced.size(); ++k) {
        const Reference& r = referenced[k];
        const bool shared = k > 0 && r.Offset == referenced[k - 1].Offset && r.Items == referenced[k - 1].Items;
        copyOf[r.Entry] = shared ? copyOf[referenced[k - 1].Entry] : r.Entry;
    }
    referenced = {};

    Commit commit;
    ReplacementFile& newStatics = commit.Replace(staticsPath, read);
    ReplacementFile& newIndex = commit.Replace(staIdxPath, table.Source);
    std::vector<TStaIdxEntry> compacted = entries;
    StaticsWindow window(statics);
    std::vector<unsigned char> out;
    out.reserve(OutputBuffer + window.Capacity());
    std::uint64_t written = 0;
    const auto copy = [&](std::size_t i) {
        const TStaIdxEntry& entry = entries[i];
        TStaIdxEntry& result = compacted[i];
        if (entry.Offset == -1)
            return;
        const std::uint64_t bytes = static_cast<std::uint64_t>(entry.Length / StaticItemSize) * StaticItemSize;
        if (bytes == 0) {
            result = {-1, 0, entry.Extra};
            return;
        }
        result.Length = static_cast<std::int32_t>(bytes);
        if (copyOf[i] != i) {
            result.Offset = compacted[copyOf[i]].Offset;
            return;
        }
        if (written > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
            Error error(StaticsTooLargeText);
            error.SetFile(staticsPath);
            throw error;
        }
        result.Offset = static_cast<std::int32_t>(written);
        const std::uint64_t begin = static_cast<std::uint64_t>(entry.Offset);
        for (std::uint64_t at = begin; at < begin + bytes;) {
            const std::size_t piece
                = static_cast<std::size_t>(std::min<std::uint64_t>(begin + bytes - at, window.Capacity()));
            const unsigned char* data = window.Read(at, piece);
            out.insert(out.end(), data, data + piece);
            at += piece;
            if (out.size() >= OutputBuffer) {
                newStatics.Write(out.data(), out.size());
                out.clear();
            }
        }
        written += bytes;
    };
    for (int x = 0; x < table.Width(); ++x) {
        for (int y = 0; y < table.Height(); ++y)
            copy(table.Number(x, y));
        reporter.SetProgress(x * 90 / table.Width());
    }
    for (std::size_t i = tableEntries; i < entries.size(); ++i)
        copy(i);
    newStatics.Write(out.data(), out.size());
    out = {};
    copyOf = {};
    entries = {};
    StaIdx result(table.Size());
    std::copy(compacted.begin(), compacted.begin() + static_cast<std::ptrdiff_t>(tableEntries), result.Entries.begin());
    result.Trailing = table.Trailing;
    for (std::size_t k = 0; k < trailingEntries; ++k)
        EncodeStaIdxEntry(compacted[tableEntries + k], &result.Trailing[k * StaIdxRecordSize]);
    compacted = {};
    result.StaIdxLoaded = table.StaIdxLoaded;
    result.LoadedAs = table.LoadedAs;
    WriteStaIdx(newIndex, result, reporter);
    // The old file is closed before it is replaced, as Windows needs.
    statics.Close();
    commit.KeepHistory(staIdxPath,
        "compact of the statics file from " + std::to_string(size) + " to " + std::to_string(written) + " bytes");
    commit.Run();
    result.Source = commit.Placed(newIndex);
    table = std::move(result);
    reporter.SetProgress(100);
    return {size, written};
}

} // namespace cryo
