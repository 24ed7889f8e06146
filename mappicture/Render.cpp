#include "Render.h"

#include "ClientFolder.h"
#include "Commit.h"
#include "Error.h"
#include "File.h"
#include "Freeze.h"
#include "FreezeMarks.h"
#include "MapPicture.h"
#include "Png.h"
#include "StaIdx.h"
#include "Text.h"

#include <filesystem>
#include <memory>
#include <vector>

namespace cryo {

namespace {

std::string FolderOf(const std::string& path)
{
    const std::filesystem::path folder = std::filesystem::path(std::u8string(path.begin(), path.end())).parent_path();
    const std::u8string text = folder.u8string();
    return text.empty() ? "." : std::string(text.begin(), text.end());
}

// The client's files of the map: those of the folder given, or those beside
// the statics.
ClientFiles ClientFilesFor(const RenderRequest& request, int map)
{
    const bool given = !request.ClientFolder.empty();
    return FindClientFiles(given ? request.ClientFolder : FolderOf(request.Files.Statics), map);
}

// The client's view of the map, or nothing for the picture of the statics alone.
std::unique_ptr<ClientMap> OpenClientMap(
    const RenderRequest& request, const ClientFiles& files, int map, Reporter& reporter)
{
    if (!files.Complete()) {
        if (!request.ClientFolder.empty()) {
            Error error("The client folder holds no " + MissingClientFiles(files, map));
            error.SetFile(request.ClientFolder);
            throw error;
        }
        reporter.Log(
            "No " + MissingClientFiles(files, map) + " beside the statics: the picture shows the statics alone");
        return nullptr;
    }
    reporter.Log("Terrain: " + files.Terrain);
    reporter.Log("Radar colours: " + files.RadarColours);
    return std::make_unique<ClientMap>(ClientMap{files.Terrain, map, RadarColours::Read(files.RadarColours)});
}

void WriteOutput(const std::string& path, const std::string& bytes, Reporter& reporter)
{
    FileLocks locks({path}, reporter);
    RecoverInterruptedCommits(locks, reporter);
    std::optional<FileIdentity> read;
    if (FileExists(path))
        read = IdentityOf(path);
    Commit commit;
    commit.Replace(path, read).Write(bytes.data(), bytes.size());
    commit.Run();
}

} // namespace

void RenderMapPicture(const RenderRequest& request, Reporter& reporter)
{
    if (!LowerCase(request.Output).ends_with(".png")) {
        Error error("The picture is written as PNG: give a file name ending in .png");
        error.SetFile(request.Output);
        throw error;
    }
    if (!ValidScale(request.Scale))
        throw RangeError();
    const WorldFiles& files = request.Files;
    RecoverBeforeReading(files, reporter);
    // Empty until loaded, which gives it the file's size: no table of the
    // default size is made only to be replaced.
    auto table = std::make_unique<StaIdx>(MapBlocks{0, 0});
    LoadStaIdx(files.StaIdx, *table, reporter, request.Map);
    const BlockArea area = request.Area ? BlocksTouching(*request.Area, table->Size()) : WholeMap(table->Size());
    const int width = PictureWidth(area, request.Scale);
    const int height = PictureHeight(area, request.Scale);
    if (!FitsInPng(width, height))
        throw Error("The picture would be " + std::to_string(width) + " x " + std::to_string(height)
            + " pixels, too many for one PNG file: draw it at more tiles a pixel, or a smaller area");

    const ClientFiles clientFiles = ClientFilesFor(request, request.Map.Map);
    // Nor through another name of an input: a link, or another spelling of its folder.
    if (IsOneOfFiles(
            request.Output, {files.StaIdx, files.Statics, files.Wsc, clientFiles.Terrain, clientFiles.RadarColours})) {
        Error error("The picture would overwrite one of the files it is drawn from");
        error.SetFile(request.Output);
        throw error;
    }
    const std::unique_ptr<ClientMap> client = OpenClientMap(request, clientFiles, request.Map.Map, reporter);
    FreezeMarks marks;
    if (!files.Wsc.empty()) {
        marks = FindFreezeMarks(files.Wsc, FreezeMapOf(*table), reporter);
        reporter.Log("Items to freeze, marked: " + std::to_string(marks.Items));
    }

    std::vector<unsigned char> pixels(std::size_t(width) * std::size_t(height) * 3);
    const PictureView picture{pixels.data(), width, height, std::size_t(width) * 3};
    MapPainter(*table, files.Statics, client.get()).Draw(area, request.Scale, picture, &reporter);
    DrawMarks(marks.Tiles, area, request.Scale, picture);
    if (request.Grid)
        DrawBlockGrid(area, request.Scale, picture);
    const std::string png = EncodePng(picture);
    pixels = {};
    WriteOutput(request.Output, png, reporter);
    const TileArea tiles{static_cast<std::uint16_t>(area.X * 8), static_cast<std::uint16_t>(area.Y * 8),
        static_cast<std::uint16_t>((area.X + area.Width) * 8 - 1),
        static_cast<std::uint16_t>((area.Y + area.Height) * 8 - 1)};
    reporter.Log("Wrote " + request.Output + ": " + std::to_string(width) + " x " + std::to_string(height)
        + " pixels, tiles " + AreaText(tiles) + ", " + std::to_string(request.Scale)
        + (request.Scale == 1 ? " tile a pixel" : " tiles a pixel"));
}

} // namespace cryo
