#pragma once

#include "File.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cryo {

// Reads a world save as lines, in large blocks. A line ends at a CR; an LF right
// after the CR belongs to the line end, any other LF is part of the line. A
// character 26 (Ctrl-Z) ends the text.
class WscReader {
public:
    explicit WscReader(const std::string& path);

    // The next line, without its end; valid until the next call. False at the
    // end of the text.
    bool NextLine(std::string_view& line);

    // Starts again at the first line.
    void Rewind();

    // The bytes from the Ctrl-Z that ended the text to the end of the file, or
    // nothing when no Ctrl-Z did; a rewrite puts them back unchanged.
    std::string ReadTail();

private:
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

    void WriteLine(std::string_view line);
    void WriteRaw(std::string_view bytes);
    // Writes out what is buffered; call before committing.
    void Finish();

private:
    void Spill();

    ReplacementFile& out_;
    std::string buffer_;
};

// Value of a tag line: the first removed characters are dropped, the rest is
// trimmed and converted. A conversion error shows the text as the upper-cased
// line holds it.
std::int32_t TagValue(std::string_view line, std::size_t removed);

} // namespace cryo
