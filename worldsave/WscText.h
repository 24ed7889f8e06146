#pragma once

#include "File.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace cryo {

// Calls fn(line) for every line of text, a run of whole lines: a line ends at a
// CR, and an LF right after the CR belongs to the line end. Text that does not
// end with a line end holds one more line, the last of the file.
template <typename Fn> void ForEachLineIn(std::string_view text, Fn&& fn)
{
    const char* p = text.data();
    const char* const end = p + text.size();
    const char* start = p;
    auto lineEndsAt = [&](const char* cr) {
        fn(std::string_view(start, static_cast<std::size_t>(cr - start)));
        start = cr + 1;
        if (start < end && *start == '\n')
            ++start;
    };
#if defined(__SSE2__)
    // Most lines are a few characters long: find their ends sixteen bytes at a time.
    const __m128i crs = _mm_set1_epi8('\r');
    for (; end - p >= 16; p += 16) {
        auto mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), crs)));
        while (mask != 0) {
            lineEndsAt(p + __builtin_ctz(mask));
            mask &= mask - 1;
        }
    }
#endif
    for (; p < end; ++p)
        if (*p == '\r')
            lineEndsAt(p);
    if (start < end)
        fn(std::string_view(start, static_cast<std::size_t>(end - start)));
}

// Calls fn(line) for every line of text, as ForEachLineIn does, whose first
// character upper-cased is the letter first. A scan for one kind of line
// searches the text sixteen bytes at a time for the letter, and reads a line
// only where the letter starts one.
template <typename Fn> void ForEachLineStartingWith(std::string_view text, char first, Fn&& fn)
{
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    // text begins with a line; after that a line starts after a CR, or after
    // the LF of a CR LF.
    auto startsLine = [begin](const char* at) {
        return at == begin || at[-1] == '\r' || (at[-1] == '\n' && at - 1 > begin && at[-2] == '\r');
    };
    auto visit = [&](const char* at) {
        if (!startsLine(at))
            return;
        const void* cr = std::memchr(at, '\r', static_cast<std::size_t>(end - at));
        fn(std::string_view(at, static_cast<std::size_t>((cr != nullptr ? static_cast<const char*>(cr) : end) - at)));
    };
    // Or-ing 0x20 folds the letter's two cases together and no other byte into them.
    const char folded = static_cast<char>(first | 0x20);
    const char* p = begin;
#if defined(__SSE2__)
    const __m128i caseBit = _mm_set1_epi8(0x20);
    const __m128i wanted = _mm_set1_epi8(folded);
    for (; end - p >= 16; p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(v, caseBit), wanted)));
        while (mask != 0) {
            visit(p + __builtin_ctz(mask));
            mask &= mask - 1;
        }
    }
#endif
    for (; p < end; ++p)
        if ((*p | 0x20) == folded)
            visit(p);
}

// Reads a world save in large blocks of whole lines. A character 26 (Ctrl-Z)
// ends the text.
class WscReader {
public:
    explicit WscReader(const std::string& path);

    // Calls fn(line) for every line of the text from where the reader stands;
    // each line is valid only during its call.
    template <typename Fn> void ForEachLine(Fn&& fn)
    {
        std::string_view lines;
        while (NextLines(lines))
            ForEachLineIn(lines, fn);
    }

    // The same for the lines whose first character upper-cased is the letter first.
    template <typename Fn> void ForEachLineStartingWith(char first, Fn&& fn)
    {
        std::string_view lines;
        while (NextLines(lines))
            cryo::ForEachLineStartingWith(lines, first, fn);
    }

    // Starts again at the first line.
    void Rewind();

    // The bytes from the Ctrl-Z that ended the text to the end of the file, or
    // nothing when no Ctrl-Z did; a rewrite puts them back unchanged.
    std::string ReadTail();

private:
    // The next run of whole lines; false at the end of the text.
    bool NextLines(std::string_view& lines);
    bool Refill();

    File file_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::uint64_t bufferOffset_ = 0; // file position of buffer_[0]
    bool exhausted_ = false; // nothing more to read: end of file or Ctrl-Z
    bool stoppedAtCtrlZ_ = false;
    std::uint64_t ctrlZOffset_ = 0;
};

// Writes lines, each ended with CR LF, to a file's replacement in large blocks.
class WscWriter {
public:
    explicit WscWriter(ReplacementFile& out);

    void WriteLine(std::string_view line)
    {
        if (used_ + line.size() + 2 > buffer_.size())
            return WriteLongLine(line);
        std::memcpy(buffer_.data() + used_, line.data(), line.size());
        used_ += line.size();
        buffer_[used_++] = '\r';
        buffer_[used_++] = '\n';
    }

    void WriteRaw(std::string_view bytes);
    // Writes out what is buffered; call before committing.
    void Finish();

private:
    void WriteLongLine(std::string_view line);
    void Spill();

    ReplacementFile& out_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

// Value of a tag line: the first removed characters are dropped, the rest is
// trimmed and converted. A conversion error shows the text as the upper-cased
// line holds it.
std::int32_t TagValue(std::string_view line, std::size_t removed);

} // namespace cryo
