#pragma once

#include <string>
#include <string_view>
#include <vector>

// What a world-save path names, and which files of the server's shared folder
// melt and freeze read.
namespace cryo {

enum class WorldSaveKind {
    Classic, // "SECTION WORLDITEM n" ... "EOF", as UOX3 wrote it until 2001
    ItemFile, // one file of [ITEM] records, such as a patch for players
    Folder, // the server's shared folder of region files
};

// The first line that is neither blank nor a "//" comment decides, whatever
// the line ends: one that begins with "[" makes a file of [ITEM] records, any
// other a classic world save. Text without such a line (an emptied patch
// file) holds [ITEM] records, unless the file is named UOX3.wsc in any case.
// A UTF-8 byte-order mark in front is passed over.
WorldSaveKind WorldSaveKindOfText(std::string_view text, std::string_view path);

// The kind of what the path names. A path that names nothing is a classic
// world save, so that it fails as it always has; only the beginning of a file
// is read. A file with a NUL byte in its first 64 KiB is binary, not text,
// and refused before anything reads it as a world save.
WorldSaveKind WorldSaveKindOf(const std::string& path);

// The name of a file inside a folder path, whichever separator it uses.
std::string PathInFolder(const std::string& folder, const std::string& name);

// The files the server loads its objects from, in the order a freeze reads
// them: the region files "<x>.<y>.wsc" by x (0..27), then by y (0..3), then
// overflow.wsc, then the legacy house.wsc. Only existing files are listed.
std::vector<std::string> FreezeFiles(const std::string& folder);

// Whether the server loads the file at path (which need not exist) from the
// folder: one of the names above, in that very folder.
bool ServerLoads(const std::string& folder, const std::string& path);

// Whether both paths name one existing folder, however they are spelt.
bool SameFolder(const std::string& one, const std::string& other);

// Every "*.wsc" file of the folder (the suffix in any case), sorted by name:
// a new serial must lie above all of them.
std::vector<std::string> WscFiles(const std::string& folder);

// The whole file, read in one go into bytes, whose memory is reused; an
// error names the file.
void ReadWholeFile(const std::string& path, std::string& bytes);

} // namespace cryo
