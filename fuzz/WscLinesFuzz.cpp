// The world-save reader: its lines, the lines it picks by first letter and the
// bytes after a Ctrl-Z must equal those of a plain byte-by-byte reading.
#include "FuzzSupport.h"
#include "Text.h"
#include "WscText.h"

#include <string>
#include <vector>

using namespace cryo;

namespace {

std::vector<std::string> ReferenceLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::string line;
    bool open = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            lines.push_back(line);
            line.clear();
            open = false;
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            line += text[i];
            open = true;
        }
    }
    if (open)
        lines.push_back(line);
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string path = fuzz::ScratchFile("lines.wsc");
    fuzz::WriteFileBytes(path, input.data(), input.size());

    const std::size_t ctrlZ = input.find('\x1A');
    const std::string_view text = std::string_view(input).substr(0, ctrlZ);
    const std::vector<std::string> expected = ReferenceLines(text);

    WscReader reader(path);
    std::vector<std::string> lines;
    reader.ForEachLine([&](std::string_view line) { lines.emplace_back(line); });
    if (lines != expected)
        fuzz::Mismatch("lines");
    const std::string tail = reader.ReadTail();
    if (tail != (ctrlZ == std::string::npos ? std::string() : input.substr(ctrlZ)))
        fuzz::Mismatch("text after Ctrl-Z");

    // The letter is taken from the input, so that every letter and byte is tried.
    // The scans ask only for letters.
    const char first = static_cast<char>('A' + (size > 0 ? data[0] % 26 : 18));
    std::vector<std::string> picked;
    for (const std::string& line : expected)
        if (!line.empty() && UpperAscii(line[0]) == first)
            picked.push_back(line);
    reader.Rewind();
    std::vector<std::string> got;
    reader.ForEachLineStartingWith(first, [&](std::string_view line) { got.emplace_back(line); });
    if (got != picked)
        fuzz::Mismatch("lines by first letter");
    return 0;
}
