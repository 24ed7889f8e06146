#pragma once

#include "MapArea.h"
#include "MapPicture.h"
#include "MapSizes.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace cryo::form {

// The map beside the lists, without a toolkit: which part of the map the pane
// shows and how large, the selected block or area, and the picture of the
// pane composed from cached tiles of the map picture. A window passes on its
// size and the mouse, and blits what Paint composes.
class MapPane {
public:
    // The cache holds square tiles of this many blocks a side at each of the
    // picture's scales (1, 2, 4 and 8 tiles a pixel).
    static constexpr int TileBlocks = 32;
    // The closest view: this many pixels a map tile.
    static constexpr double MostPixelsPerTile = 16;
    // Outside the map.
    static constexpr PackedRgb BackgroundColour = 0x202020;
    // The selected block or area.
    static constexpr PackedRgb SelectionColour = 0x00FFFF;
    // A block whose objects cannot be read (its index entry is damaged).
    static constexpr PackedRgb UnreadableColour = 0xFF0000;

    // A tile of the cache to draw: the blocks at the scale, into out.
    struct TileRequest {
        BlockArea Blocks;
        int Scale = 1;
        PictureView Out;
    };
    // Draws the tiles, all with one reading of the files; false when they
    // cannot be drawn now (an operation holds the files), and they are asked
    // for again at the next paint.
    using TileSource = std::function<bool(const std::vector<TileRequest>& tiles)>;

    // What a mouse event asks of the window and the logic.
    enum class Action {
        None,
        Redraw,
        PickBlock, // a click: the block under the mouse is selected
        SelectArea, // a drag with Shift has ended: the area is selected
    };

    void SetSource(TileSource source) { source_ = std::move(source); }
    // A map of this size (none: an empty pane) shown whole; the cache, the
    // selection and the marks go.
    void SetMap(std::optional<MapBlocks> map);
    std::optional<MapBlocks> Map() const { return map_; }
    bool HasMap() const { return map_.has_value(); }
    // While false (an operation runs, the index is not loaded) a click picks
    // nothing and Shift drags like any drag.
    void SetSelectable(bool selectable) { selectable_ = selectable; }
    void Resize(int width, int height);
    int Width() const { return width_; }
    int Height() const { return height_; }

    // The tiles of the items a freeze would take, marked over the picture.
    void SetMarks(std::vector<TilePosition> tiles) { marks_ = std::move(tiles); }
    // Drops the cached tiles: all of them, or those that show any of the blocks.
    void Invalidate();
    void Invalidate(const BlockArea& blocks);
    std::size_t CachedTiles() const { return cache_.size(); }

    // Mouse events at pane pixels. A press and release in one place picks the
    // block; dragging pans, or with Shift selects the rectangle of tiles
    // between the press and the mouse. The wheel zooms by steps of two, about
    // the tile under the mouse.
    Action Press(int x, int y, bool shift);
    Action Move(int x, int y);
    Action Release(int x, int y);
    Action Wheel(int steps, int x, int y);
    // The mouse has left the pane.
    Action Leave();

    // The map tile at a pane pixel; none outside the map.
    std::optional<TilePosition> TileAt(int x, int y) const;
    // "X 1432, Y 1696 (block 179, 212)" for the tile under the mouse; empty
    // when the mouse is outside the map.
    std::string PositionText() const;
    double PixelsPerTile() const { return zoom_; }

    std::optional<TileArea> Selection() const { return selection_; }
    // Whether the selection is one whole block, as a click makes it.
    bool SelectionIsBlock() const;
    void Select(std::optional<TileArea> area) { selection_ = area; }

    // Composes the pane into out, whose size is the pane's: the picture from
    // the cache (drawing the tiles it lacks), the marks, the block grid when a
    // block is 16 pixels or more, and the selection. bgr: blue first, as a
    // Windows bitmap lies.
    void Paint(const PictureView& out, bool bgr = false);

private:
    struct Tile {
        std::vector<unsigned char> Pixels;
        int Width = 0;
        int Height = 0;
        std::uint64_t LastUse = 0;
    };
    static std::uint64_t KeyOf(int scale, int column, int row);
    // The scale of the cached tiles a paint at the zoom reads.
    int SourceScale() const;
    double FitZoom() const;
    void ClampOrigin();
    void ZoomAbout(double zoom, int x, int y);
    // Where map tile t lies on the pane, along one axis.
    double PaneX(double tileX) const { return (tileX - originX_) * zoom_; }
    double PaneY(double tileY) const { return (tileY - originY_) * zoom_; }
    void Trim();

    TileSource source_;
    std::optional<MapBlocks> map_;
    int width_ = 0;
    int height_ = 0;
    // Pixels a tile, and the map tile at the pane's top left corner.
    double zoom_ = 1;
    double originX_ = 0;
    double originY_ = 0;
    // Until the user zooms, a new size fits the whole map again.
    bool fitted_ = true;
    bool selectable_ = true;

    enum class Drag { None, Pending, Panning, Selecting };
    Drag drag_ = Drag::None;
    int pressX_ = 0;
    int pressY_ = 0;
    double pressOriginX_ = 0;
    double pressOriginY_ = 0;
    std::optional<TilePosition> pressTile_;
    std::optional<TilePosition> hover_;

    std::optional<TileArea> selection_;
    std::vector<TilePosition> marks_;
    std::unordered_map<std::uint64_t, Tile> cache_;
    std::uint64_t paints_ = 0;
};

} // namespace cryo::form
