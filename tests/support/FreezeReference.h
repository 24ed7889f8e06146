#pragma once

// A second freeze of a world-save text, written from the rules alone and
// sharing no code with the scans and rewrites that it checks: the text is split
// into lines, one scan selects the sections, then each block in X-major order
// cuts its sections out. Header-only, for the fuzz targets as well.

#include "Convert.h"
#include "StaticBlock.h"
#include "Text.h"

#include <map>
#include <string>
#include <vector>

namespace cryo::test {

struct ReferenceBlock {
    std::vector<TStaticItem> Items; // in file order
    std::string Error; // what cutting out this block's sections raises
};

struct ReferenceFreeze {
    std::vector<std::string> Log; // the selection's lines
    std::string Error; // what stops the freeze before the first block
    std::map<std::pair<int, int>, ReferenceBlock> Blocks; // X-major
    std::string Text; // the world save without the blocks' sections
};

inline ReferenceFreeze FreezeOf(const std::string& file)
{
    ReferenceFreeze freeze;
    const std::string text = file.substr(0, file.find('\x1A'));
    const std::size_t bom = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF"))
        freeze.Error = "The world save is UTF-16 text: save it as ANSI or UTF-8 first";
    else if (text.find('\r') == std::string::npos && text.find('\n') != std::string::npos)
        freeze.Error = "The world save's lines end in LF alone, not CR LF: convert it to CR LF line ends first";
    std::vector<std::string> lines;
    for (std::size_t at = bom; at < text.size() && freeze.Error.empty();) {
        const std::size_t cr = std::min(text.find('\r', at), text.size());
        lines.push_back(text.substr(at, cr - at));
        at = cr + (text.compare(cr, 2, "\r\n") == 0 ? 2 : 1);
    }
    // A tag's value; outside lo..hi it raises the given error, or a range error.
    auto value = [](const std::string& u, std::size_t removed, int lo, int hi, const std::string& error = "") {
        const int v = StrToInt(Trim(std::string_view(u).substr(std::min(removed, u.size()))));
        if (v >= lo && v <= hi)
            return v;
        if (!error.empty())
            throw Error(error);
        throw RangeError();
    };

    struct Section {
        std::size_t Line;
        int Number;
        std::pair<int, int> Block;
        bool Selected = false;
    };
    std::vector<Section> sections;
    bool inItem = false;
    bool contained = false;
    int number = 65535;
    int x = 0;
    int y = 0;
    int type = 0;
    auto end = [&] {
        if (inItem && !sections.back().Selected && type == 255)
            freeze.Log.push_back("Not frozen: SECTION WORLDITEM " + std::to_string(number)
                + (number == 65535  ? " is a number that is never frozen"
                        : contained ? " is inside a container"
                                    : " has no closing } after its TYPE 255"));
        inItem = false;
    };
    try {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string u = UpperCase(lines[i]);
            const std::string invalid = "Invalid tag after \"SECTION WORLDITEM " + std::to_string(number) + "\"";
            if (u.starts_with("SECTION ")) {
                end();
                number = 65535;
                if (u.starts_with("SECTION WORLDITEM ")) {
                    number = value(u, 17, 0, 65535, invalid);
                    sections.push_back({i, number, {}});
                    inItem = true;
                    contained = false;
                    x = y = type = 0;
                }
            } else if (u.starts_with("X ") || u.starts_with("Y ")) {
                (u[0] == 'X' ? x : y) = value(u, 1, 0, 65535, invalid);
            } else if (u.starts_with("Z ")) {
                value(u, 1, -128, 127, invalid);
            } else if (u.starts_with("TYPE ")) {
                type = value(u, 4, 0, 65535, invalid);
            } else if (u.starts_with("CONT ")) {
                try {
                    contained = StrToInt(Trim(std::string_view(u).substr(4))) != -1;
                } catch (const ConvertError&) {
                    contained = true;
                }
            } else if (u.starts_with("}") && inItem && number != 65535 && type == 255 && !contained) {
                freeze.Log.push_back("Selecting item for export: " + std::to_string(number));
                sections.back().Block = {x / 8, y / 8};
                sections.back().Selected = true;
            }
        }
        end();
    } catch (const Error& error) {
        freeze.Error = error.what();
        return freeze;
    }
    std::erase_if(sections, [](const Section& s) { return !s.Selected; });
    int offMap = 65536;
    for (const Section& s : sections)
        if (s.Block.first >= MapXBlocks || s.Block.second >= MapYBlocks)
            offMap = std::min(offMap, s.Number);
    if (offMap < 65536) {
        freeze.Error = "Invalid item in patch file! (Item#: " + std::to_string(offMap) + ")";
        return freeze;
    }

    // A section goes from its own line through its last line beginning with
    // "}" before the next section line; its object has the values at the last
    // "}" that selects it.
    std::vector<bool> cut(lines.size());
    for (const Section& s : sections)
        freeze.Blocks[s.Block];
    for (auto& [where, block] : freeze.Blocks) {
        for (const Section& s : sections) {
            if (s.Block != where || !block.Error.empty())
                continue;
            std::size_t last = s.Line;
            for (std::size_t i = s.Line + 1; i < lines.size() && !UpperCase(lines[i]).starts_with("SECTION "); ++i)
                if (lines[i].starts_with("}"))
                    last = i;
            TStaticItem item;
            TStaticItem taken;
            int itemX = 0;
            int itemY = 0;
            int itemType = 0;
            bool inContainer = false;
            try {
                for (std::size_t i = s.Line; i <= last; ++i) {
                    const std::string u = UpperCase(lines[i]);
                    cut[i] = true;
                    if (u.starts_with("ID "))
                        item.TileId = static_cast<std::uint16_t>(value(u, 2, 0, 65535));
                    else if (u.starts_with("X ") || u.starts_with("Y "))
                        (u[0] == 'X' ? itemX : itemY) = value(u, 1, 0, 65535);
                    else if (u.starts_with("Z "))
                        item.Z = static_cast<std::int8_t>(value(u, 1, -128, 127));
                    else if (u.starts_with("COLOR "))
                        item.Color = static_cast<std::uint16_t>(value(u, 5, 0, 65535));
                    else if (u.starts_with("TYPE "))
                        itemType = StrToInt(Trim(std::string_view(u).substr(4)));
                    else if (u.starts_with("CONT ")) {
                        try {
                            inContainer = StrToInt(Trim(std::string_view(u).substr(4))) != -1;
                        } catch (const ConvertError&) {
                            inContainer = true;
                        }
                    } else if (u.starts_with("}") && itemType == 255 && !inContainer) {
                        taken = item;
                        taken.XOffset = static_cast<std::uint8_t>(itemX % 8);
                        taken.YOffset = static_cast<std::uint8_t>(itemY % 8);
                    }
                }
                if (block.Items.size() == MaxBlockItems)
                    throw RangeError();
                block.Items.push_back(taken);
            } catch (const Error& error) {
                block.Error = error.what();
            }
        }
    }
    freeze.Text = text.substr(0, bom);
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (!cut[i])
            freeze.Text += lines[i] + "\r\n";
    freeze.Text += file.substr(text.size());
    return freeze;
}

} // namespace cryo::test
