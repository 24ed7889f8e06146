#pragma once

#include "File.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cryo {

// Reads byte ranges of a statics file through one buffer of bounded size.
// Ranges asked for in rising order, as index order mostly finds a file's
// blocks, are served from ever larger reads ahead; ranges asked for out of
// order cost one small read each, so that a shuffled file is not read many
// times over.
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

    File& file_;
    std::size_t capacity_;
    std::vector<unsigned char> buffer_;
    std::uint64_t start_ = 0;
    std::size_t filled_ = 0;
    std::size_t ahead_ = FirstAhead;
};

} // namespace cryo
