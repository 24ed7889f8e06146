#pragma once

#include "File.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cryo {

// Reads byte ranges of a statics file through two buffers of bounded size.
// Ranges asked for in rising order, as index order mostly finds a file's
// blocks, are served from ever larger reads ahead. A range elsewhere (a
// block that a freeze moved to the end of the file) is read into the other
// buffer with a small read, so that the run in order is not lost, and a
// shuffled file is not read many times over.
class StaticsWindow {
public:
    static constexpr std::size_t DefaultCapacity = std::size_t{4} << 20;

    explicit StaticsWindow(File& file, std::size_t capacity = DefaultCapacity);

    // The largest range one Read serves: whole records only.
    std::size_t Capacity() const { return capacity_; }

    // The bytes [offset, offset + size), size at most Capacity(); valid until
    // the next call. A range past the end of the file raises "Read beyond end
    // of file".
    const unsigned char* Read(std::uint64_t offset, std::size_t size);

private:
    static constexpr std::size_t FirstAhead = 4096;

    struct Slot {
        std::vector<unsigned char> Buffer;
        std::uint64_t Start = 0;
        std::size_t Filled = 0;
        std::size_t Ahead = FirstAhead;
        std::uint64_t LastUse = 0;
    };

    File& file_;
    std::size_t capacity_;
    std::array<Slot, 2> slots_;
    std::uint64_t uses_ = 0;
};

struct TStaIdxEntry;
struct TStaticBlock;

// Reads many blocks, as an area's are, through one open statics file and a
// window that reads ahead: an area's blocks mostly lie one after another in
// the file. The file is opened at the first block that has objects; a block
// is read as ReadBlockRecords reads it, and an error names the file.
class StaticsBlockReader {
public:
    explicit StaticsBlockReader(std::string staticsPath);
    StaticsBlockReader(const StaticsBlockReader&) = delete;
    StaticsBlockReader& operator=(const StaticsBlockReader&) = delete;

    // Fills block from the entry; an empty entry opens nothing.
    void Read(const TStaIdxEntry& entry, TStaticBlock& block);

private:
    std::string path_;
    std::optional<File> file_;
    std::optional<StaticsWindow> window_;
};

} // namespace cryo
