#include "CheckJson.h"

#include <cstdio>

namespace cryo::cli {

namespace {

// The length of the UTF-8 sequence that begins at text[i], or 0 when none does.
std::size_t Utf8Length(std::string_view text, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80; // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high)
        return 0;
    for (std::size_t k = i + 2; k < i + length; ++k)
        if (byte(k) < 0x80 || byte(k) > 0xBF)
            return 0;
    return length;
}

} // namespace

std::string JsonString(std::string_view text)
{
    std::string json = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t length = Utf8Length(text, i);
            json += length == 0 ? std::string_view("\\ufffd") : text.substr(i, length);
            i += length == 0 ? 1 : length;
            continue;
        }
        ++i;
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c == '\n') {
            json += "\\n";
        } else if (c == '\r') {
            json += "\\r";
        } else if (c == '\t') {
            json += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", c);
            json += code;
        } else {
            json += static_cast<char>(c);
        }
    }
    return json + "\"";
}

std::string CheckJson(const CheckReport& report, const WorldFiles& files, MapBlocks map)
{
    std::string json = "{\n";
    json += "  \"healthy\": " + std::string(report.Healthy() ? "true" : "false") + ",\n";
    json += "  \"staidx\": " + JsonString(files.StaIdx) + ",\n";
    json += "  \"statics\": " + JsonString(files.Statics) + ",\n";
    json += "  \"wsc\": " + JsonString(files.Wsc) + ",\n";
    json += "  \"world_save\": " + JsonString(report.WorldSaveKind) + ",\n";
    json += "  \"map_blocks\": [" + std::to_string(map.Width) + ", " + std::to_string(map.Height) + "],\n";
    json += "  \"statics_bytes\": " + std::to_string(report.StaticsBytes) + ",\n";
    json += "  \"unreferenced_bytes\": " + std::to_string(report.UnreferencedBytes) + ",\n";
    json += "  \"other_worlds\": {";
    for (auto world = report.OtherWorlds.begin(); world != report.OtherWorlds.end(); ++world)
        json += (world == report.OtherWorlds.begin() ? "\"" : ", \"") + std::to_string(world->first)
            + "\": " + std::to_string(world->second);
    json += "},\n";
    json += "  \"findings\": [";
    for (std::size_t i = 0; i < report.Findings.size(); ++i) {
        const CheckFinding& finding = report.Findings[i];
        json += std::string(i == 0 ? "" : ",") + "\n    {\"kind\": " + JsonString(finding.Key) + ", \"title\": "
            + JsonString(finding.Title) + ", \"count\": " + std::to_string(finding.Count) + ", \"examples\": [";
        for (std::size_t k = 0; k < finding.Examples.size(); ++k)
            json += (k == 0 ? "" : ", ") + JsonString(finding.Examples[k]);
        json += "]}";
    }
    return json + "\n  ]\n}\n";
}

} // namespace cryo::cli
