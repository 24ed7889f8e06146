// The map pane's view, selection and composed picture, with a source that
// paints every pixel of a tile in a colour that says which map tile it shows.
#include "MapPane.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace cryo;
using namespace cryo::form;
using Action = MapPane::Action;

namespace {

// Red and green: the first map tile the pixel covers, modulo 256; blue: the scale.
PackedRgb SourceColour(int tileX, int tileY, int scale)
{
    return PackedRgb((tileX & 0xFF) << 16 | (tileY & 0xFF) << 8 | scale);
}

struct Pane {
    // A map of 64 x 32 blocks (512 x 256 tiles).
    explicit Pane(int width, int height, MapBlocks map = {64, 32})
        : pixels(std::size_t(width) * std::size_t(height) * 3)
    {
        pane.SetSource([this](const std::vector<MapPane::TileRequest>& tiles) {
            if (!Available)
                return false;
            for (const MapPane::TileRequest& tile : tiles) {
                ++Drawn;
                for (int y = 0; y < tile.Out.Height; ++y)
                    for (int x = 0; x < tile.Out.Width; ++x) {
                        const PackedRgb colour = SourceColour(
                            tile.Blocks.X * 8 + x * tile.Scale, tile.Blocks.Y * 8 + y * tile.Scale, tile.Scale);
                        unsigned char* at = tile.Out.Pixels + std::size_t(y) * tile.Out.Stride + std::size_t(x) * 3;
                        at[0] = static_cast<unsigned char>(colour >> 16);
                        at[1] = static_cast<unsigned char>(colour >> 8);
                        at[2] = static_cast<unsigned char>(colour);
                    }
            }
            return true;
        });
        pane.Resize(width, height);
        pane.SetMap(map);
        view = {pixels.data(), width, height, std::size_t(width) * 3};
    }
    PackedRgb At(int x, int y) const
    {
        const unsigned char* at = view.Pixels + std::size_t(y) * view.Stride + std::size_t(x) * 3;
        return PackedRgb(at[0]) << 16 | PackedRgb(at[1]) << 8 | at[2];
    }
    std::string Tile(int x, int y) const
    {
        const auto tile = pane.TileAt(x, y);
        return tile ? std::to_string(tile->X) + "," + std::to_string(tile->Y) : "none";
    }

    MapPane pane;
    std::vector<unsigned char> pixels;
    PictureView view;
    bool Available = true;
    int Drawn = 0;
};

} // namespace

// The whole map fits at first; the wheel zooms about the mouse, dragging pans
// and stops at the map's edges; a narrow map stays in the middle.
TEST(MapPaneTest, ZoomAndPanKeepTheMapInViewAndTheTileUnderTheMouse)
{
    Pane p(256, 256);
    EXPECT_DOUBLE_EQ(p.pane.PixelsPerTile(), 0.5);
    // 512 x 256 tiles at half a pixel: 128 rows, in the middle of 256; a
    // pixel of two tiles stands for the second.
    EXPECT_EQ(p.Tile(0, 63), "none");
    EXPECT_EQ(p.Tile(0, 64), "1,1");
    EXPECT_EQ(p.Tile(255, 191), "511,255");
    EXPECT_EQ(p.pane.Wheel(2, 128, 128), Action::Redraw);
    EXPECT_DOUBLE_EQ(p.pane.PixelsPerTile(), 2);
    EXPECT_EQ(p.Tile(128, 128), "256,128");
    EXPECT_EQ(p.Tile(0, 0), "192,64");
    EXPECT_EQ(p.pane.Wheel(20, 0, 0), Action::Redraw);
    EXPECT_DOUBLE_EQ(p.pane.PixelsPerTile(), MapPane::MostPixelsPerTile);
    EXPECT_EQ(p.pane.Wheel(1, 0, 0), Action::None);
    EXPECT_EQ(p.Tile(0, 0), "192,64");
    EXPECT_EQ(p.Tile(15, 16), "192,65");

    EXPECT_EQ(p.pane.Press(100, 100, false), Action::None);
    EXPECT_EQ(p.pane.Move(68, 100), Action::Redraw);
    EXPECT_EQ(p.pane.Release(68, 100), Action::Redraw);
    EXPECT_EQ(p.Tile(0, 0), "194,64");
    // Far past the edge the view stops at it.
    p.pane.Press(0, 0, false);
    p.pane.Move(5000, 5000);
    p.pane.Release(5000, 5000);
    EXPECT_EQ(p.Tile(0, 0), "0,0");
    EXPECT_EQ(p.pane.Wheel(-20, 0, 0), Action::Redraw);
    EXPECT_DOUBLE_EQ(p.pane.PixelsPerTile(), 0.125);
    // A new size keeps the zoom the user chose.
    p.pane.Resize(128, 64);
    EXPECT_DOUBLE_EQ(p.pane.PixelsPerTile(), 0.125);
}

// A click picks the block under the mouse; Shift and a drag select the tiles
// between press and release, in either direction, up to the map's edge.
TEST(MapPaneTest, AClickPicksABlockAndAShiftDragSelectsAnArea)
{
    Pane p(512, 256);
    ASSERT_DOUBLE_EQ(p.pane.PixelsPerTile(), 1);
    const struct {
        int X1, Y1, X2, Y2;
        bool Shift;
        Action Ends;
        std::string Selection;
    } cases[] = {
        {17, 9, 18, 10, false, Action::PickBlock, "16,8,23,15"},
        {40, 30, 20, 10, true, Action::SelectArea, "20,10,40,30"},
        {500, 250, 900, 900, true, Action::SelectArea, "500,250,511,255"},
        {10, 10, 10, 10, true, Action::SelectArea, "10,10,10,10"},
        // A drag pans and keeps the selection.
        {10, 10, 60, 10, false, Action::Redraw, "10,10,10,10"},
    };
    for (const auto& c : cases) {
        p.pane.Press(c.X1, c.Y1, c.Shift);
        p.pane.Move(c.X2, c.Y2);
        EXPECT_EQ(p.pane.Release(c.X2, c.Y2), c.Ends) << c.Selection;
        ASSERT_TRUE(p.pane.Selection());
        EXPECT_EQ(AreaText(*p.pane.Selection()), c.Selection);
    }
    p.pane.Move(20, 30);
    EXPECT_EQ(p.pane.PositionText(), "20, 30 (block 2, 3)");
    EXPECT_EQ(p.pane.Leave(), Action::Redraw);
    EXPECT_EQ(p.pane.PositionText(), "");
    // While an operation runs nothing is picked.
    p.pane.SetSelectable(false);
    p.pane.Press(100, 100, true);
    EXPECT_EQ(p.pane.Release(100, 100), Action::None);
    EXPECT_EQ(AreaText(*p.pane.Selection()), "10,10,10,10");
}

// Each pane pixel shows its map tile from the coarsest cached picture that
// has a pixel for it; marks and the selection lie over it; tiles are drawn
// once, again only where invalidated, and asked for again when the source
// could not draw them.
TEST(MapPaneTest, PaintComposesCachedTilesWithMarksAndSelection)
{
    Pane p(64, 32);
    // 512 x 256 tiles at 1/8: the picture at 8 tiles a pixel, two tiles of 32 blocks.
    p.pane.Paint(p.view);
    EXPECT_EQ(p.Drawn, 2);
    EXPECT_EQ(p.At(0, 0), SourceColour(0, 0, 8));
    EXPECT_EQ(p.At(63, 31), SourceColour(504, 248, 8));
    EXPECT_EQ(p.At(33, 2), SourceColour(264, 16, 8));
    p.pane.Paint(p.view);
    EXPECT_EQ(p.Drawn, 2);

    // At 4 pixels a tile, the picture at 1; the grid halves every 32nd column and row.
    p.pane.Wheel(5, 0, 0);
    ASSERT_DOUBLE_EQ(p.pane.PixelsPerTile(), 4);
    p.pane.SetMarks({{3, 2}});
    p.pane.Select(TileArea{8, 0, 15, 7});
    p.pane.Paint(p.view);
    EXPECT_EQ(p.Drawn, 3);
    EXPECT_EQ(p.At(5, 5), SourceColour(1, 1, 1));
    EXPECT_EQ(p.At(12, 8), MarkColour);
    EXPECT_EQ(p.At(15, 11), MarkColour);
    EXPECT_EQ(p.At(16, 11), SourceColour(4, 2, 1));
    EXPECT_EQ(p.At(31, 20), MapPane::SelectionColour);
    EXPECT_EQ(p.At(32, 20), MapPane::SelectionColour);
    EXPECT_EQ(p.At(33, 20), SourceColour(8, 5, 1));
    EXPECT_EQ(p.At(1, 0), 0x808001u); // (0,0,1) half under the yellow grid

    // An operation changed block 3, 3: its tile is drawn again; while the
    // source cannot draw, the pane shows the ground and asks again.
    p.pane.Invalidate(BlockArea{40, 0, 1, 1});
    p.pane.Paint(p.view);
    EXPECT_EQ(p.Drawn, 3);
    p.pane.Invalidate(BlockArea{3, 3, 1, 1});
    p.Available = false;
    p.pane.Paint(p.view);
    EXPECT_EQ(p.At(5, 5), GroundColour);
    p.Available = true;
    p.pane.Paint(p.view);
    EXPECT_EQ(p.Drawn, 4);
    EXPECT_EQ(p.At(5, 5), SourceColour(1, 1, 1));
    // Blue first for a Windows bitmap.
    p.pane.Paint(p.view, true);
    EXPECT_EQ(p.At(5, 5), 0x010101u);
    EXPECT_EQ(p.At(12, 8), MarkColour);
}
