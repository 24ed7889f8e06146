#pragma once

#include "MapArea.h"
#include "MapSizes.h"
#include "RadarColours.h"
#include "Reporter.h"
#include "StaIdx.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// The radar picture of a map: one colour a tile, from the client's terrain
// and radar colours, or from the statics alone; drawn block by block into the
// caller's memory, any rectangle of blocks at 1, 2, 4 or 8 tiles a pixel.
namespace cryo {

// An RGB picture in the caller's memory: Height rows of Width pixels of
// three bytes (red, green, blue), rows Stride bytes apart.
struct PictureView {
    unsigned char* Pixels = nullptr;
    int Width = 0;
    int Height = 0;
    std::size_t Stride = 0;
};

// The ground of a picture without the client's files.
constexpr PackedRgb GroundColour = 0x303438;
// Items a freeze would take.
constexpr PackedRgb MarkColour = 0xFF00FF;
// The block grid, half over the picture.
constexpr PackedRgb GridColour = 0xFFFF00;

// Whether a picture can be drawn at this many tiles a pixel: 1, 2, 4 or 8,
// so that every pixel lies within one block.
bool ValidScale(int scale);

// The size in pixels of the picture of the area at the scale.
int PictureWidth(const BlockArea& area, int scale);
int PictureHeight(const BlockArea& area, int scale);

// The colour of a tile in the picture of the statics alone: grey for one
// object, brighter the higher the highest is (z 0 is 128), turning orange the
// more objects the tile holds (five or more are as orange as it gets).
PackedRgb StaticsShade(int objects, int highestZ);

// What the client shows of a map: its terrain file and radar colours.
struct ClientMap {
    std::string TerrainPath;
    int Map = 0;
    RadarColours Colours;
};

// Draws pictures of the map of a loaded index. With the client's files each
// tile has the radar colour of its highest static (the greatest z; on a tie
// the later in its block), or of its land tile where it has none. Without
// them a tile with statics has its StaticsShade, any other the ground colour.
// Objects whose offsets lie outside their block are left out.
//
// The files stay open while the painter lives: make one for a run of drawing
// (a window: one for each repaint that draws tiles), not for a program's life.
class MapPainter {
public:
    // client: nullptr for the picture of the statics alone. A terrain file
    // that holds fewer blocks than the map is refused naming it.
    MapPainter(const StaIdx& table, const std::string& staticsPath, const ClientMap* client);
    ~MapPainter();
    MapPainter(const MapPainter&) = delete;
    MapPainter& operator=(const MapPainter&) = delete;

    // Draws the area into out, whose size must be the picture's at the scale.
    // The files are read in their order, a group of columns at a time; a
    // large area is drawn by two threads, each a band of columns of its own
    // with its own handles on the files. The reporter, if any, gets the share
    // of columns done (0 to 100) from the calling thread. A block whose
    // statics cannot be read stops the drawing with an error that names the
    // file and the block (of several, the first in the files' order).
    void Draw(const BlockArea& area, int scale, const PictureView& out, Reporter* reporter = nullptr);

private:
    // One drawing thread's open files and buffers.
    struct Band;

    std::unique_ptr<Band> OpenBand() const;
    // Draws the area's columns first to last - 1 into out, a group of columns at a time.
    void DrawBand(Band& band, const BlockArea& area, int first, int last, int scale, const PictureView& out,
        Reporter* reporter, const std::atomic<bool>& stop);
    // Reads the terrain and statics of the area's columns group to group + columns - 1.
    void ReadGroup(Band& band, const BlockArea& area, int group, int columns) const;
    // Reads the group's static records in one run of the file, when they lie
    // close together and the file holds them all; false when they are to be
    // read block by block.
    bool ReadGroupRun(Band& band, const BlockArea& area, int group, int columns) const;
    // Draws the group's block (column x area height + row) from pixels on;
    // inRows: into a buffer of the group's row of blocks, drawn left to
    // right, whose rows end in a spare word.
    void DrawBlock(
        Band& band, std::size_t block, int scale, unsigned char* pixels, std::size_t stride, bool inRows) const;

    const StaIdx& table_;
    const ClientMap* client_;
    std::string staticsPath_;
    // The calling thread's band, opened with the painter; the second thread's,
    // opened for the first area large enough.
    std::vector<std::unique_ptr<Band>> bands_;
    std::atomic<int> columnsDone_{0};
    // The radar colours as the pixels' bytes lie in memory.
    std::vector<std::uint32_t> words_;
};

// Marks every tile of the list that lies in the area in MarkColour: at a
// scale above 1, the whole pixel it lies in.
void DrawMarks(const std::vector<TilePosition>& tiles, const BlockArea& area, int scale, const PictureView& out);

// Paints every pixel of the picture in the colour.
void FillPicture(const PictureView& out, PackedRgb colour);

// Blends GridColour half over the first row and column of pixels of every
// block.
void DrawBlockGrid(const BlockArea& area, int scale, const PictureView& out);

} // namespace cryo
