// The world-save reader: its lines, its byte-order mark, its refusals and the
// bytes after a Ctrl-Z must equal those of a plain byte-by-byte reading.
#include "FuzzSupport.h"
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

std::vector<std::string> ReadLines(WscReader& reader)
{
    std::vector<std::string> lines;
    reader.ForEachLine([&](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string path = fuzz::ScratchFile("lines.wsc");
    fuzz::WriteFileBytes(path, input.data(), input.size());

    const std::size_t ctrlZ = input.find('\x1A');
    std::string_view text = std::string_view(input).substr(0, ctrlZ);
    const bool utf16 = text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF");
    const bool bom = text.starts_with("\xEF\xBB\xBF");
    if (bom)
        text.remove_prefix(3);
    const bool lfAlone = text.find('\r') == std::string_view::npos && text.find('\n') != std::string_view::npos;
    const std::vector<std::string> expected = ReferenceLines(text);

    std::vector<std::string> lines;
    std::string tail;
    std::string mark;
    const std::string error = fuzz::ErrorOf([&] {
        WscReader reader(path);
        lines = ReadLines(reader);
        tail = reader.ReadTail();
        mark = reader.Bom();
        reader.Rewind();
        if (ReadLines(reader) != lines)
            fuzz::Mismatch("lines read again");
    });
    if (error.empty() == (utf16 || lfAlone))
        fuzz::Mismatch("refusal");
    if (!error.empty())
        return 0;
    if (lines != expected)
        fuzz::Mismatch("lines");
    if (tail != (ctrlZ == std::string::npos ? std::string() : input.substr(ctrlZ)))
        fuzz::Mismatch("text after Ctrl-Z");
    if (mark != (bom ? "\xEF\xBB\xBF" : ""))
        fuzz::Mismatch("byte-order mark");
    return 0;
}
