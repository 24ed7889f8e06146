#include "Convert.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace cryo {
namespace {

using test::ErrorText;

TEST(StrToInt, AcceptsSignedDecimalAndDollarHexInTheSigned32BitRange)
{
    const std::pair<const char*, std::int32_t> cases[]
        = {{"0", 0}, {"+5", 5}, {"-0", 0}, {"-5", -5}, {"007", 7}, {"$1F", 31}, {"$1f", 31}, {"-$10", -16},
            {"+$FF", 255}, {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1}, {"$7FFFFFFF", 2147483647},
            {"-$80000000", -2147483647 - 1}, {"1073741825", 1073741825}, {"000000000000000000000000042", 42}};
    for (const auto& [text, value] : cases)
        EXPECT_EQ(StrToInt(text), value) << text;

    const char* wrong[] = {"", " 5", "5 ", "abc", "+", "-", "$", "$G", "1e3", "0x10", "5-", "--5", "+-5", "2147483648",
        "-2147483649", "$80000000", "99999999999999999999", "1.5", "$-1", "$+1", "1234\x0056"};
    for (const char* text : wrong)
        EXPECT_EQ(ErrorText([&] { StrToInt(text); }), "'" + std::string(text) + "' is not a valid integer value");
}

TEST(CheckedArithmetic, NarrowingAndAdditionRaiseTheirTexts)
{
    EXPECT_EQ(CheckedNarrow<std::uint16_t>(65535), 65535);
    EXPECT_EQ(CheckedNarrow<std::int8_t>(-128), -128);
    EXPECT_EQ(CheckedAdd(2147483646, 1), 2147483647);
    for (const auto& fn : std::initializer_list<std::function<void()>>{[] { CheckedNarrow<std::uint16_t>(65536); },
             [] { CheckedNarrow<std::uint16_t>(-1); }, [] { CheckedRange(512, 0, 511); }})
        EXPECT_EQ(ErrorText(fn), "Range check error");
    EXPECT_EQ(ErrorText([] { CheckedAdd(2147483647, 1); }), "Integer overflow");
    EXPECT_EQ(ErrorText([] { CheckedAdd(-2147483647 - 1, -1); }), "Integer overflow");
}

} // namespace
} // namespace cryo
