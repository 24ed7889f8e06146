#include "MapDiffs.h"

#include "Bytes.h"
#include "File.h"

namespace cryo {

const char* const ReplacedBlocksTitle = "Blocks with objects that a diff file replaces in game (MAPDIFFSENABLED=1 in "
                                        "uox.ini), where frozen edits stay invisible";

ReplacedBlocks BlocksDiffsReplace(const std::string& diffList, const StaIdx& table, std::size_t examples)
{
    std::vector<bool> replaced(table.Entries.size());
    try {
        File file = File::OpenForReading(diffList);
        unsigned char chunk[65536];
        std::size_t held = 0;
        while (const std::size_t got = file.ReadSome(chunk + held, sizeof chunk - held)) {
            held += got;
            const std::size_t whole = held / 4 * 4;
            for (std::size_t at = 0; at < whole; at += 4) {
                const std::uint32_t block = le::GetU32(chunk + at);
                if (block < replaced.size())
                    replaced[block] = true;
            }
            std::copy(chunk + whole, chunk + held, chunk);
            held -= whole;
        }
        file.Close();
    } catch (Error& error) {
        error.SetFile(diffList);
        throw;
    }
    ReplacedBlocks found;
    for (std::size_t block = 0; block < replaced.size(); ++block) {
        const TStaIdxEntry& entry = table.Entries[block];
        if (!replaced[block] || entry.Offset < 0 || entry.Length < 7)
            continue;
        if (found.Examples.size() < examples)
            found.Examples.push_back("block " + std::to_string(block / static_cast<std::size_t>(table.Height())) + ", "
                + std::to_string(block % static_cast<std::size_t>(table.Height())));
        ++found.Count;
    }
    return found;
}

} // namespace cryo
