#include "MapPane.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace cryo::form {

namespace {

// The zoom steps of the wheel, in pixels a tile.
constexpr std::array<double, 11> ZoomSteps = {1.0 / 64, 1.0 / 32, 1.0 / 16, 1.0 / 8, 1.0 / 4, 1.0 / 2, 1, 2, 4, 8, 16};
// A press that moves less than this many pixels is a click.
constexpr int ClickSlack = 3;
// Tiles of the pictures that stay cached, in bytes: the whole of map 0 at 2
// tiles a pixel, or two panes' worth at 1.
constexpr std::size_t CacheBudget = 48u << 20;
constexpr int ScaleCount = 4;

struct Pixel {
    unsigned char First;
    unsigned char Second;
    unsigned char Third;
};

Pixel PixelOf(PackedRgb colour, bool bgr)
{
    const auto red = static_cast<unsigned char>(colour >> 16);
    const auto green = static_cast<unsigned char>(colour >> 8);
    const auto blue = static_cast<unsigned char>(colour);
    return bgr ? Pixel{blue, green, red} : Pixel{red, green, blue};
}

void Put(const PictureView& out, int x, int y, Pixel pixel)
{
    if (x < 0 || y < 0 || x >= out.Width || y >= out.Height)
        return;
    unsigned char* at = out.Pixels + std::size_t(y) * out.Stride + std::size_t(x) * 3;
    at[0] = pixel.First;
    at[1] = pixel.Second;
    at[2] = pixel.Third;
}

void Blend(const PictureView& out, int x, int y, Pixel pixel)
{
    if (x < 0 || y < 0 || x >= out.Width || y >= out.Height)
        return;
    unsigned char* at = out.Pixels + std::size_t(y) * out.Stride + std::size_t(x) * 3;
    at[0] = static_cast<unsigned char>((at[0] + pixel.First + 1) / 2);
    at[1] = static_cast<unsigned char>((at[1] + pixel.Second + 1) / 2);
    at[2] = static_cast<unsigned char>((at[2] + pixel.Third + 1) / 2);
}

// Calls line(at) for the pane pixel at of every block edge along one axis,
// from the block at the pane's origin (in tiles) to the map's last block or
// the pane's end: edge(block) is the block's edge in pane pixels.
template <typename Edge, typename Line> void GridLines(double origin, int blocks, int paneSize, Edge edge, Line line)
{
    for (int block = std::max(0, static_cast<int>(origin / 8)); block < blocks; ++block) {
        const int at = static_cast<int>(std::floor(edge(block)));
        if (at >= paneSize)
            break;
        line(at);
    }
}

TileArea AreaBetween(TilePosition a, TilePosition b)
{
    return {std::min(a.X, b.X), std::min(a.Y, b.Y), std::max(a.X, b.X), std::max(a.Y, b.Y)};
}

// Where each pane pixel along one axis takes its colour from: the column (or
// row) of cached tiles and the pixel within it; -1 outside the map.
struct Sampling {
    std::vector<int> Tile;
    std::vector<int> Offset;
    int First = -1;
    int Last = -1;
};

Sampling SampleAxis(int pixels, double origin, double zoom, int mapTiles, int scale)
{
    const int tilePixels = MapPane::TileBlocks * 8 / scale;
    Sampling sampling{std::vector<int>(std::size_t(pixels), -1), std::vector<int>(std::size_t(pixels), 0)};
    for (int p = 0; p < pixels; ++p) {
        const double tile = std::floor(origin + (p + 0.5) / zoom);
        if (tile < 0 || tile >= mapTiles)
            continue;
        const int source = static_cast<int>(tile) / scale;
        const int column = source / tilePixels;
        sampling.Tile[std::size_t(p)] = column;
        sampling.Offset[std::size_t(p)] = source % tilePixels;
        if (sampling.First < 0)
            sampling.First = column;
        sampling.Last = column;
    }
    return sampling;
}

} // namespace

std::uint64_t MapPane::KeyOf(int scale, int column, int row)
{
    return (std::uint64_t(scale) << 40) | (std::uint64_t(column) << 20) | std::uint64_t(row);
}

void MapPane::SetMap(std::optional<MapBlocks> map)
{
    map_ = map;
    cache_.clear();
    selection_.reset();
    marks_.clear();
    hover_.reset();
    drag_ = Drag::None;
    fitted_ = true;
    zoom_ = FitZoom();
    ClampOrigin();
}

void MapPane::Resize(int width, int height)
{
    const double centreX = originX_ + width_ / 2.0 / zoom_;
    const double centreY = originY_ + height_ / 2.0 / zoom_;
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    if (fitted_) {
        zoom_ = FitZoom();
    } else {
        originX_ = centreX - width_ / 2.0 / zoom_;
        originY_ = centreY - height_ / 2.0 / zoom_;
    }
    ClampOrigin();
}

double MapPane::FitZoom() const
{
    if (!map_ || width_ <= 0 || height_ <= 0 || map_->Width <= 0 || map_->Height <= 0)
        return 1.0 / 8;
    return std::min({double(width_) / (map_->Width * 8), double(height_) / (map_->Height * 8), MostPixelsPerTile});
}

void MapPane::ClampOrigin()
{
    if (!map_)
        return;
    // A map smaller than the pane stays in its middle; a larger one fills it.
    const auto clamp = [](double origin, double viewTiles, double mapTiles) {
        if (viewTiles >= mapTiles)
            return (mapTiles - viewTiles) / 2;
        return std::clamp(origin, 0.0, mapTiles - viewTiles);
    };
    originX_ = clamp(originX_, width_ / zoom_, map_->Width * 8.0);
    originY_ = clamp(originY_, height_ / zoom_, map_->Height * 8.0);
}

int MapPane::SourceScale() const
{
    // The coarsest picture that still has a pixel for every pane pixel.
    for (const int scale : {8, 4, 2}) {
        if (zoom_ * scale <= 1.0 + 1e-9)
            return scale;
    }
    return 1;
}

void MapPane::ZoomAbout(double zoom, int x, int y)
{
    const double tileX = originX_ + x / zoom_;
    const double tileY = originY_ + y / zoom_;
    zoom_ = zoom;
    originX_ = tileX - x / zoom_;
    originY_ = tileY - y / zoom_;
    ClampOrigin();
}

std::optional<TilePosition> MapPane::TileAt(int x, int y) const
{
    if (!map_ || x < 0 || y < 0 || x >= width_ || y >= height_)
        return std::nullopt;
    const double tileX = std::floor(originX_ + (x + 0.5) / zoom_);
    const double tileY = std::floor(originY_ + (y + 0.5) / zoom_);
    if (tileX < 0 || tileY < 0 || tileX >= map_->Width * 8 || tileY >= map_->Height * 8)
        return std::nullopt;
    return TilePosition{static_cast<std::uint16_t>(tileX), static_cast<std::uint16_t>(tileY)};
}

std::string MapPane::PositionText() const
{
    if (!hover_)
        return {};
    std::string text = std::to_string(hover_->X) + ", " + std::to_string(hover_->Y) + " (block "
        + std::to_string(hover_->X / 8) + ", " + std::to_string(hover_->Y / 8) + ")";
    if (drag_ == Drag::Selecting && selection_)
        text += "; area " + AreaText(*selection_);
    return text;
}

bool MapPane::SelectionIsBlock() const
{
    return selection_ && selection_->X1 % 8 == 0 && selection_->Y1 % 8 == 0 && selection_->X2 == selection_->X1 + 7
        && selection_->Y2 == selection_->Y1 + 7;
}

MapPane::Action MapPane::Press(int x, int y, bool shift)
{
    if (!map_)
        return Action::None;
    pressX_ = x;
    pressY_ = y;
    pressOriginX_ = originX_;
    pressOriginY_ = originY_;
    pressTile_ = TileAt(x, y);
    if (!shift || !pressTile_ || !selectable_) {
        drag_ = Drag::Pending;
        return Action::None;
    }
    drag_ = Drag::Selecting;
    selection_ = AreaBetween(*pressTile_, *pressTile_);
    return Action::Redraw;
}

MapPane::Action MapPane::Move(int x, int y)
{
    const std::optional<TilePosition> before = hover_;
    hover_ = TileAt(x, y);
    switch (drag_) {
    case Drag::Pending:
        if (std::abs(x - pressX_) + std::abs(y - pressY_) <= ClickSlack)
            break;
        drag_ = Drag::Panning;
        [[fallthrough]];
    case Drag::Panning:
        originX_ = pressOriginX_ - (x - pressX_) / zoom_;
        originY_ = pressOriginY_ - (y - pressY_) / zoom_;
        ClampOrigin();
        hover_ = TileAt(x, y);
        return Action::Redraw;
    case Drag::Selecting: {
        // Beyond the map's edge the area stops at it.
        const double tileX = std::clamp(std::floor(originX_ + (x + 0.5) / zoom_), 0.0, map_->Width * 8.0 - 1);
        const double tileY = std::clamp(std::floor(originY_ + (y + 0.5) / zoom_), 0.0, map_->Height * 8.0 - 1);
        selection_ = AreaBetween(
            *pressTile_, TilePosition{static_cast<std::uint16_t>(tileX), static_cast<std::uint16_t>(tileY)});
        return Action::Redraw;
    }
    case Drag::None:
        break;
    }
    return hover_ == before ? Action::None : Action::Redraw;
}

MapPane::Action MapPane::Release(int x, int y)
{
    const Drag drag = drag_;
    if (drag == Drag::Selecting)
        Move(x, y);
    drag_ = Drag::None;
    if (drag == Drag::Selecting)
        return Action::SelectArea;
    if (drag != Drag::Pending || !pressTile_ || !selectable_)
        return drag == Drag::Panning ? Action::Redraw : Action::None;
    const auto corner = [](std::uint16_t tile) { return static_cast<std::uint16_t>(tile / 8 * 8); };
    selection_ = TileArea{corner(pressTile_->X), corner(pressTile_->Y),
        static_cast<std::uint16_t>(corner(pressTile_->X) + 7), static_cast<std::uint16_t>(corner(pressTile_->Y) + 7)};
    return Action::PickBlock;
}

MapPane::Action MapPane::Wheel(int steps, int x, int y)
{
    if (!map_ || steps == 0)
        return Action::None;
    const double fit = FitZoom();
    const double least = std::min(fit, ZoomSteps[3]);
    double zoom = zoom_;
    for (int step = 0; step < std::abs(steps); ++step) {
        if (steps > 0) {
            const auto next
                = std::find_if(ZoomSteps.begin(), ZoomSteps.end(), [&](double z) { return z > zoom * 1.001; });
            zoom = next == ZoomSteps.end() ? MostPixelsPerTile : *next;
        } else {
            const auto next
                = std::find_if(ZoomSteps.rbegin(), ZoomSteps.rend(), [&](double z) { return z < zoom / 1.001; });
            zoom = next == ZoomSteps.rend() ? least : std::max(*next, least);
        }
    }
    if (zoom == zoom_)
        return Action::None;
    fitted_ = zoom == fit;
    ZoomAbout(zoom, x, y);
    hover_ = TileAt(x, y);
    return Action::Redraw;
}

MapPane::Action MapPane::Leave()
{
    if (!hover_)
        return Action::None;
    hover_.reset();
    return Action::Redraw;
}

void MapPane::Invalidate()
{
    cache_.clear();
}

void MapPane::Invalidate(const BlockArea& blocks)
{
    std::erase_if(cache_, [&](const auto& entry) {
        const int column = static_cast<int>((entry.first >> 20) & 0xFFFFF);
        const int row = static_cast<int>(entry.first & 0xFFFFF);
        return column * TileBlocks < blocks.X + blocks.Width && blocks.X < (column + 1) * TileBlocks
            && row * TileBlocks < blocks.Y + blocks.Height && blocks.Y < (row + 1) * TileBlocks;
    });
}

void MapPane::Trim()
{
    std::size_t bytes = 0;
    for (const auto& [key, tile] : cache_)
        bytes += tile.Pixels.size();
    if (bytes <= CacheBudget)
        return;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> byAge;
    for (const auto& [key, tile] : cache_) {
        if (tile.LastUse != paints_)
            byAge.emplace_back(tile.LastUse, key);
    }
    std::sort(byAge.begin(), byAge.end());
    for (const auto& [use, key] : byAge) {
        if (bytes <= CacheBudget)
            break;
        bytes -= cache_.at(key).Pixels.size();
        cache_.erase(key);
    }
}

void MapPane::Paint(const PictureView& out, bool bgr)
{
    ++paints_;
    const Pixel background = PixelOf(BackgroundColour, bgr);
    for (int y = 0; y < out.Height; ++y)
        for (int x = 0; x < out.Width; ++x)
            Put(out, x, y, background);
    if (!map_)
        return;

    const int scale = SourceScale();
    const Sampling columns = SampleAxis(out.Width, originX_, zoom_, map_->Width * 8, scale);
    const Sampling rows = SampleAxis(out.Height, originY_, zoom_, map_->Height * 8, scale);
    if (columns.First < 0 || rows.First < 0)
        return;

    // The tiles in view, those the cache lacks drawn at once.
    const int gridWidth = columns.Last - columns.First + 1;
    const int gridHeight = rows.Last - rows.First + 1;
    std::vector<Tile*> grid(std::size_t(gridWidth) * std::size_t(gridHeight), nullptr);
    std::vector<TileRequest> requests;
    std::vector<std::uint64_t> drawn;
    for (int row = rows.First; row <= rows.Last; ++row) {
        for (int column = columns.First; column <= columns.Last; ++column) {
            const std::uint64_t key = KeyOf(scale, column, row);
            auto found = cache_.find(key);
            if (found == cache_.end()) {
                const BlockArea blocks{column * TileBlocks, row * TileBlocks,
                    std::min(TileBlocks, map_->Width - column * TileBlocks),
                    std::min(TileBlocks, map_->Height - row * TileBlocks)};
                Tile tile;
                tile.Width = PictureWidth(blocks, scale);
                tile.Height = PictureHeight(blocks, scale);
                tile.Pixels.resize(std::size_t(tile.Width) * std::size_t(tile.Height) * 3);
                found = cache_.emplace(key, std::move(tile)).first;
                requests.push_back({blocks, scale,
                    PictureView{found->second.Pixels.data(), found->second.Width, found->second.Height,
                        std::size_t(found->second.Width) * 3}});
                drawn.push_back(key);
            }
            found->second.LastUse = paints_;
            grid[std::size_t(row - rows.First) * std::size_t(gridWidth) + std::size_t(column - columns.First)]
                = &found->second;
        }
    }
    if (!requests.empty() && !(source_ && source_(requests))) {
        for (const std::uint64_t key : drawn) {
            for (Tile*& slot : grid) {
                if (slot == &cache_.at(key))
                    slot = nullptr;
            }
            cache_.erase(key);
        }
    }

    const Pixel ground = PixelOf(GroundColour, bgr);
    for (int y = 0; y < out.Height; ++y) {
        const int row = rows.Tile[std::size_t(y)];
        if (row < 0)
            continue;
        const std::size_t gridRow = std::size_t(row - rows.First) * std::size_t(gridWidth);
        const std::size_t rowOffset = std::size_t(rows.Offset[std::size_t(y)]);
        unsigned char* target = out.Pixels + std::size_t(y) * out.Stride;
        for (int x = 0; x < out.Width; ++x, target += 3) {
            const int column = columns.Tile[std::size_t(x)];
            if (column < 0)
                continue;
            const Tile* tile = grid[gridRow + std::size_t(column - columns.First)];
            if (tile == nullptr) {
                target[0] = ground.First;
                target[1] = ground.Second;
                target[2] = ground.Third;
                continue;
            }
            const unsigned char* source = tile->Pixels.data()
                + (rowOffset * std::size_t(tile->Width) + std::size_t(columns.Offset[std::size_t(x)])) * 3;
            target[0] = source[bgr ? 2 : 0];
            target[1] = source[1];
            target[2] = source[bgr ? 0 : 2];
        }
    }
    Trim();

    // A mark takes every pixel of its tile, and at least the one it lies in.
    const Pixel mark = PixelOf(MarkColour, bgr);
    for (const TilePosition& tile : marks_) {
        const int left = static_cast<int>(std::floor(PaneX(tile.X)));
        const int top = static_cast<int>(std::floor(PaneY(tile.Y)));
        if (left >= out.Width || top >= out.Height || tile.X >= map_->Width * 8 || tile.Y >= map_->Height * 8)
            continue;
        const int right = std::max(left + 1, static_cast<int>(std::floor(PaneX(tile.X + 1))));
        const int bottom = std::max(top + 1, static_cast<int>(std::floor(PaneY(tile.Y + 1))));
        for (int y = std::max(top, 0); y < std::min(bottom, out.Height); ++y)
            for (int x = std::max(left, 0); x < std::min(right, out.Width); ++x)
                Put(out, x, y, mark);
    }

    // The lines between blocks, once a block is wide enough to pick by eye.
    if (zoom_ * 8 >= 16) {
        const Pixel grid = PixelOf(GridColour, bgr);
        const int mapLeft = std::max(0, static_cast<int>(std::floor(PaneX(0))));
        const int mapTop = std::max(0, static_cast<int>(std::floor(PaneY(0))));
        const int mapRight = std::min(out.Width, static_cast<int>(std::floor(PaneX(map_->Width * 8))));
        const int mapBottom = std::min(out.Height, static_cast<int>(std::floor(PaneY(map_->Height * 8))));
        GridLines(
            originX_, map_->Width, out.Width, [&](int block) { return PaneX(block * 8); },
            [&](int x) {
                for (int y = mapTop; y < mapBottom; ++y)
                    Blend(out, x, y, grid);
            });
        GridLines(
            originY_, map_->Height, out.Height, [&](int block) { return PaneY(block * 8); },
            [&](int y) {
                for (int x = mapLeft; x < mapRight; ++x)
                    Blend(out, x, y, grid);
            });
    }

    // The selection: a frame two pixels wide around its tiles.
    if (selection_) {
        const Pixel frame = PixelOf(SelectionColour, bgr);
        const int left = static_cast<int>(std::floor(PaneX(selection_->X1)));
        const int top = static_cast<int>(std::floor(PaneY(selection_->Y1)));
        const int right = std::max(left + 1, static_cast<int>(std::floor(PaneX(selection_->X2 + 1.0))));
        const int bottom = std::max(top + 1, static_cast<int>(std::floor(PaneY(selection_->Y2 + 1.0))));
        if (right + 1 < 0 || bottom + 1 < 0 || left - 1 >= out.Width || top - 1 >= out.Height)
            return;
        for (int x = std::max(left - 1, 0); x <= std::min(right, out.Width - 1); ++x) {
            for (const int y : {top - 1, top, bottom - 1, bottom})
                Put(out, x, y, frame);
        }
        for (int y = std::max(top - 1, 0); y <= std::min(bottom, out.Height - 1); ++y) {
            for (const int x : {left - 1, left, right - 1, right})
                Put(out, x, y, frame);
        }
    }
}

} // namespace cryo::form
