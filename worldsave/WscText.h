#pragma once

#include "Error.h"
#include "File.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace cryo {

// Calls fn(line) for every line of text, a run of whole lines: a line ends at a
// CR, and an LF right after the CR belongs to the line end. Text that does not
// end with a line end holds one more line, the last of the file.
template <typename Fn> void ForEachLineIn(std::string_view text, Fn&& fn)
{
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const auto* cr = static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(end - p)));
        if (cr == nullptr) {
            fn(std::string_view(p, static_cast<std::size_t>(end - p)));
            return;
        }
        fn(std::string_view(p, static_cast<std::size_t>(cr - p)));
        p = cr + 1;
        if (p < end && *p == '\n')
            ++p;
    }
}

// Reads a world save in large blocks of whole lines. A character 26 (Ctrl-Z)
// ends the text. A UTF-8 byte-order mark at the start is no part of the first
// line. Text that would be misread is refused when the reader is made or first
// reads: UTF-16, and lines ended by LF alone (no CR before any Ctrl-Z).
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

    // Calls fn(lines) for each run of whole lines as read, their line ends
    // included, from where the reader stands; valid only during its call.
    template <typename Fn> void ForEachRun(Fn&& fn)
    {
        std::string_view lines;
        while (NextLines(lines))
            fn(lines);
    }

    // Starts again at the first line.
    void Rewind();

    // The byte-order mark the file starts with, or nothing; a rewrite puts it
    // back at the start.
    std::string_view Bom() const { return bom_ ? std::string_view("\xEF\xBB\xBF") : std::string_view(); }

    // The bytes from the Ctrl-Z that ended the text to the end of the file, or
    // nothing when no Ctrl-Z did; a rewrite puts them back unchanged.
    std::string ReadTail();

private:
    // The next run of whole lines; false at the end of the text.
    bool NextLines(std::string_view& lines);
    bool Refill();
    [[noreturn]] void Refuse(const char* text) const;

    File file_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::uint64_t bufferOffset_ = 0; // file position of buffer_[0]
    bool exhausted_ = false; // nothing more to read: end of file or Ctrl-Z
    bool stoppedAtCtrlZ_ = false;
    std::uint64_t ctrlZOffset_ = 0;
    bool bom_ = false;
    bool lineEndsChecked_ = false;
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

    // Bytes as they are, buffered like the lines.
    void Write(std::string_view bytes)
    {
        if (used_ + bytes.size() > buffer_.size())
            return WriteRaw(bytes);
        std::memcpy(buffer_.data() + used_, bytes.data(), bytes.size());
        used_ += bytes.size();
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

// "SECTION WORLDITEM n", where an error names the section at fault.
std::string SectionPlace(std::int64_t number);

// Runs fn; an Error it raises names the world save.
template <typename Fn> decltype(auto) NamingWorldSave(const std::string& path, Fn&& fn)
{
    try {
        return fn();
    } catch (Error& error) {
        error.SetFile(path);
        throw;
    }
}

} // namespace cryo
