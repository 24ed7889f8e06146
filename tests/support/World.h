#pragma once

#include "StaIdx.h"
#include "TestSupport.h"

#include <compare>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace cryo::test {

// A static object or world-save item where it stands on the map.
struct WorldObject {
    std::uint16_t Tile = 0;
    int X = 0;
    int Y = 0;
    int Z = 0;
    std::uint16_t Color = 0;

    auto operator<=>(const WorldObject&) const = default;
};

using Objects = std::multiset<WorldObject>;

// The three files of a world in a temporary folder.
class WorldFolder {
public:
    // shared: the world save is the server's shared folder "shared".
    explicit WorldFolder(bool shared = false);

    std::string StaIdx() const { return dir_ / "StaIdx0.mul"; }
    std::string Statics() const { return dir_ / "Statics0.mul"; }
    std::string Wsc() const { return dir_ / (shared_ ? "shared" : "UOX3.wsc"); }
    bool Shared() const { return shared_; }
    const TempFolder& Dir() const { return dir_; }

    void Write(const cryo::StaIdx& table, const Bytes& statics, const std::string& wsc) const;

    // An expected error text whose "WSC: " or "STATICS: " prefix stands for
    // the file's path.
    std::string WithPaths(std::string text) const;

    // The index as the window would hold it after GetStaticIndex.
    std::unique_ptr<cryo::StaIdx> Load() const;

    struct Snapshot {
        Bytes StaIdx;
        Bytes Statics;
        Bytes Wsc;
        std::map<std::string, Bytes> Folder; // the shared folder's files
        bool operator==(const Snapshot&) const = default;
    };
    Snapshot Take() const;
    // Puts the files back as the snapshot holds them.
    void Put(const Snapshot& snapshot) const;

private:
    TempFolder dir_;
    bool shared_ = false;
};

// The items of well-formed TYPE 255 sections of a world-save text.
Objects Type255Items(const std::string& wscText);
// The objects of every block that an index file refers to.
Objects IndexedObjects(const std::string& staIdxPath, const std::string& staticsPath);
// True when every object of part is in whole, as often as it is in part.
bool ContainsAll(const Objects& whole, const Objects& part);

} // namespace cryo::test
