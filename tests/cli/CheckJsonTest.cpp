// check --json: how every kind of text reaches the JSON object.
#include "CheckJson.h"

#include <gtest/gtest.h>

namespace cryo {
namespace {

using namespace std::string_literals;

// The object for one finding whose title and example are the text, with the
// text as the index file's path too.
std::string JsonOf(const std::string& text)
{
    CheckReport report;
    report.Findings.push_back({"kind", text, 1, {text}});
    return cli::CheckJson(report, {text, "s", "w"}, {1, 2});
}

TEST(CheckJson, TextIsEscapedAndBytesThatAreNoUtf8BecomeReplacementCharacters)
{
    const std::string r = "\xEF\xBF\xBD"; // U+FFFD
    const std::pair<std::string, std::string> cases[] = {
        {"/srv/uox3/StaIdx0.mul", R"("/srv/uox3/StaIdx0.mul")"},
        {R"(C:\UOX3\"x"/y)", R"("C:\\UOX3\\\"x\"/y")"},
        {"\n\r\t", R"("\n\r\t")"},
        {"\b\f\x01\x1f\x7f"s + '\0',
            R"("\b\f\u0001\u001f)"
            "\x7f"
            R"(\u0000")"},
        {"Grüße € \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF " + r, "\"Grüße € \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF " + r + "\""},
        // Latin-1, a lone continuation byte, bytes that never start UTF-8.
        {"a\xE9t \x80 \xFF\xFE", "\"a" + r + "t " + r + " " + r + r + "\""},
        // Overlong forms, a surrogate, past U+10FFFF.
        {"\xC0\xAF \xE0\x80\xAF \xED\xA0\x80 \xF4\x90\x80\x80",
            "\"" + r + r + " " + r + r + r + " " + r + r + r + " " + r + r + r + r + "\""},
        // Sequences cut short, inside the text and at its end: one for each byte.
        {"\xE2\x82( \xF0\x9F\x98", "\"" + r + r + "( " + r + r + r + "\""},
    };
    for (const auto& [text, json] : cases) {
        EXPECT_EQ(JsonOf(text),
            "{\n  \"healthy\": false,\n  \"staidx\": " + json
                + ",\n  \"statics\": \"s\",\n  \"wsc\": \"w\",\n  \"world_save\": \"\",\n  \"map_blocks\": [1, 2],\n"
                  "  \"statics_bytes\": 0,\n  \"unreferenced_bytes\": 0,\n  \"other_worlds\": {},\n  \"findings\": [\n "
                  "   {\"kind\": \"kind\", "
                  "\"title\": "
                + json + ", \"count\": 1, \"examples\": [" + json + "]}\n  ]\n}\n")
            << text;
    }
}

} // namespace
} // namespace cryo
