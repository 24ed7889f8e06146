#pragma once

#include "StaIdx.h"
#include "StaticBlock.h"

#include <cstdint>
#include <string>
#include <vector>

// Synthetic worlds: small sample worlds to try the tool on, and large generated
// ones for tests and benchmarks.
namespace cryo::worldgen {

struct WscOptions {
    // Ordinary items are added until the text reaches this size.
    std::uint64_t TargetBytes = 0;
    // Items marked TYPE 255, spread over Blocks distinct blocks of the map.
    int Type255Items = 0;
    int Blocks = 1;
    int OrdinaryItems = 0;
    int Characters = 0;
    std::uint32_t Seed = 1;
    // Ordinary items' numbers start again after this one.
    int HighestNumber = 65534;

    // Cases that servers' files hold, each mixed in among the ordinary items
    // when set:
    // TYPE 255 items that carry the number of an ordinary item or of a TYPE 255
    // item in another block, and one numbered 65535;
    bool ReusedNumbers = false;
    // "SECTION MULTI" sections after items;
    bool OtherSections = false;
    // TYPE 255 items in containers ("CONT" a serial, "$FF" or "x");
    bool ContainedItems = false;
    // TYPE 255 sections without "}", some followed by a "SECTION MULTI";
    bool Unterminated = false;
    // items, one of them TYPE 255, and a second "EOF" after the first "EOF".
    bool TextAfterEof = false;
};

// A world save as the server writes it: character and item sections, "EOF".
std::string GenerateWsc(const WscOptions& options);

// Fills blockCount random blocks of the table with up to maxItems objects each,
// as copies in statics (which may already hold bytes); every other entry is
// left as it is.
void GenerateStatics(
    int blockCount, int maxItems, std::uint32_t seed, StaIdx& table, std::vector<unsigned char>& statics);

// An index of a map of any size whose every entry is empty (Offset -1).
StaIdx EmptyIndex(MapBlocks size = {MapXBlocks, MapYBlocks});

// Writes StaIdx0.mul, Statics0.mul and UOX3.wsc of a small valid world into an
// existing folder: a few blocks of objects around block (100, 200), a character,
// some ordinary items and some TYPE 255 items ready to freeze.
void WriteSampleWorld(const std::string& folder);

// The file's bytes, written through a replacement of the file.
void WriteWholeFile(const std::string& path, const void* data, std::size_t size);

} // namespace cryo::worldgen
