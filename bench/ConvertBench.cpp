// Number conversion over the values of a generated world save, the numbers
// that every scan converts (millions in a large file), beside a way that
// converts eight digits at once: on a 100 MB world save it saves about 3 ms of
// the 45 ms that FindHighestNumbers takes and nothing of the selection, too
// little for its code. Kept here to measure that again.
#include "Convert.h"
#include "WorldGen.h"

#include <benchmark/benchmark.h>

#include <bit>
#include <charconv>
#include <cstring>

namespace cryo::bench {
namespace {

// The texts after the tags of a 20 MB world save's lines that hold a number,
// in place in the text as the scans find them.
const std::vector<std::string_view>& Values()
{
    static const std::string text = [] {
        worldgen::WscOptions options;
        options.TargetBytes = 20'000'000;
        options.Type255Items = 2000;
        options.Blocks = 200;
        options.Characters = 400;
        return worldgen::GenerateWsc(options);
    }();
    static const std::vector<std::string_view> values = [] {
        std::vector<std::string_view> found;
        for (std::size_t start = 0; start < text.size();) {
            const std::size_t end = std::min(text.find('\r', start), text.size());
            const std::string_view line(text.data() + start, end - start);
            const std::size_t space = line.find(' ');
            if (space != std::string_view::npos && space + 1 < line.size()
                && std::strchr("-+$0123456789", line[space + 1]) != nullptr)
                found.push_back(line.substr(space + 1));
            start = end + 2;
        }
        return found;
    }();
    return values;
}

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Eight decimal digits checked and converted at once in the bytes of a
// little-endian word.
bool EightDigits(std::uint64_t word)
{
    return ((word & 0xF0F0F0F0F0F0F0F0u) | (((word + 0x0606060606060606u) & 0xF0F0F0F0F0F0F0F0u) >> 4))
        == 0x3333333333333333u;
}

std::uint64_t EightDigitsValue(std::uint64_t word)
{
    word -= 0x3030303030303030u;
    word = word * 10 + (word >> 8);
    return (((word & 0x000000FF000000FFu) * (100 + (1000000ull << 32)))
               + (((word >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32))))
        >> 32;
}

std::int32_t EightDigitsStrToInt(std::string_view text)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const bool hex = i < text.size() && text[i] == '$';
    if (hex)
        ++i;
    if (i == text.size())
        throw ConvertError(text);
    const std::uint64_t limit = negative ? std::uint64_t{1} << 31 : (std::uint64_t{1} << 31) - 1;
    std::uint64_t magnitude = 0;
    if (hex) {
        for (; i < text.size(); ++i) {
            const int digit = HexDigitValue(text[i]);
            if (digit < 0)
                throw ConvertError(text);
            magnitude = magnitude * 16 + static_cast<std::uint64_t>(digit);
            if (magnitude > limit)
                throw ConvertError(text);
        }
    } else {
        const bool shortNumber = text.size() - i <= 18;
        if constexpr (std::endian::native == std::endian::little) {
            while (shortNumber && text.size() - i >= 8) {
                std::uint64_t word;
                std::memcpy(&word, text.data() + i, 8);
                if (!EightDigits(word))
                    throw ConvertError(text);
                magnitude = magnitude * 100000000u + EightDigitsValue(word);
                i += 8;
            }
        }
        for (; i < text.size(); ++i) {
            const auto digit = static_cast<unsigned char>(text[i] - '0');
            if (digit > 9)
                throw ConvertError(text);
            magnitude = magnitude * 10 + digit;
            if (!shortNumber && magnitude > limit)
                throw ConvertError(text);
        }
        if (magnitude > limit)
            throw ConvertError(text);
    }
    const auto value = static_cast<std::int64_t>(magnitude);
    return static_cast<std::int32_t>(negative ? -value : value);
}

template <std::int32_t (*Convert)(std::string_view)> void ConvertValues(benchmark::State& state)
{
    const std::vector<std::string_view>& values = Values();
    for (auto _ : state) {
        std::int64_t sum = 0;
        for (const std::string_view value : values)
            sum += Convert(value);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * values.size()));
}
BENCHMARK(ConvertValues<StrToInt>)->Name("StrToInt")->Unit(benchmark::kMillisecond);
BENCHMARK(ConvertValues<EightDigitsStrToInt>)->Name("EightDigitsStrToInt")->Unit(benchmark::kMillisecond);

} // namespace
} // namespace cryo::bench

BENCHMARK_MAIN();
