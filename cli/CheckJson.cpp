#include "CheckJson.h"

#include "Text.h"

#include <nlohmann/json.hpp>

#include <string_view>

namespace cryo::cli {

namespace {

// A text as a JSON string. Each byte that begins no UTF-8 sequence (a path may
// hold any) becomes one U+FFFD, so that the output is always valid JSON. (The
// library's own replacement takes a cut-short sequence as one.)
std::string Json(std::string_view text)
{
    std::string valid;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8SequenceLength(text, i);
        valid += length == 0 ? std::string_view("\xEF\xBF\xBD") : text.substr(i, length);
        i += length == 0 ? 1 : length;
    }
    return nlohmann::json(valid).dump();
}

} // namespace

std::string CheckJson(const CheckReport& report, const WorldFiles& files, MapBlocks map)
{
    // One line a value and one a finding, so that the report reads well as it is.
    std::string json = "{\n";
    json += "  \"healthy\": " + std::string(report.Healthy() ? "true" : "false") + ",\n";
    json += "  \"staidx\": " + Json(files.StaIdx) + ",\n";
    json += "  \"statics\": " + Json(files.Statics) + ",\n";
    json += "  \"wsc\": " + Json(files.Wsc) + ",\n";
    json += "  \"world_save\": " + Json(report.WorldSaveKind) + ",\n";
    json += "  \"map_blocks\": [" + std::to_string(map.Width) + ", " + std::to_string(map.Height) + "],\n";
    json += "  \"statics_bytes\": " + std::to_string(report.StaticsBytes) + ",\n";
    json += "  \"unreferenced_bytes\": " + std::to_string(report.UnreferencedBytes) + ",\n";
    json += "  \"other_worlds\": {";
    for (auto world = report.OtherWorlds.begin(); world != report.OtherWorlds.end(); ++world)
        json += (world == report.OtherWorlds.begin() ? "\"" : ", \"") + std::to_string(world->first)
            + "\": " + std::to_string(world->second);
    json += "},\n";
    const auto list = [&](const char* name, const std::vector<CheckFinding>& findings) {
        json += "  \"" + std::string(name) + "\": [";
        for (std::size_t i = 0; i < findings.size(); ++i) {
            const CheckFinding& finding = findings[i];
            json += std::string(i == 0 ? "" : ",") + "\n    {\"kind\": " + Json(finding.Key) + ", \"title\": "
                + Json(finding.Title) + ", \"count\": " + std::to_string(finding.Count) + ", \"examples\": [";
            for (std::size_t k = 0; k < finding.Examples.size(); ++k)
                json += (k == 0 ? "" : ", ") + Json(finding.Examples[k]);
            json += "]}";
        }
        json += "\n  ]";
    };
    list("findings", report.Findings);
    // Only where they were checked for (the server's folder was given).
    if (!report.Warnings.empty()) {
        json += ",\n";
        list("warnings", report.Warnings);
    }
    return json + "\n}\n";
}

} // namespace cryo::cli
