#include "platform/config/WholeNumber.h"

#include <gtest/gtest.h>

#include "support/ParamName.h"

#include <optional>
#include <string>

namespace {

struct Case {
    std::string text;
    std::optional<int32_t> expected; // nullopt: not a number
};

class WholeNumberTest : public ::testing::TestWithParam<Case> {};

TEST_P(WholeNumberTest, FollowsTheOneRule)
{
    const Case& c = GetParam();
    int32_t value = 12345;
    bool ok = ParseWholeNumber(c.text, value);
    ASSERT_EQ(ok, c.expected.has_value()) << '"' << c.text << '"';
    if (ok)
        EXPECT_EQ(value, *c.expected) << '"' << c.text << '"';
    else
        EXPECT_EQ(value, 12345) << "a failed parse must leave the value alone";
    EXPECT_EQ(ReadWholeNumber(c.text, -77), c.expected.value_or(-77));
}

INSTANTIATE_TEST_SUITE_P(
    Table, WholeNumberTest,
    ::testing::Values(
        // decimal, with blanks and signs
        Case{"0", 0}, Case{"16", 16}, Case{"  12", 12}, Case{"\t 12", 12}, Case{"-5", -5}, Case{"+7", 7},
        Case{"007", 7}, Case{"000000000000000000000000012", 12},
        // hexadecimal
        Case{"0x10", 16}, Case{"0X10", 16}, Case{"$10", 16}, Case{"$ff", 255}, Case{"0xAbC", 0xABC},
        Case{"0x0", 0}, Case{"$0000000000000001", 1},
        // a sign before hexadecimal negates the magnitude
        Case{"-$10", -16}, Case{"-0x10", -16}, Case{"+$10", 16}, Case{"  -0x7fffffff", -0x7fffffff},
        // the signed 32-bit range, both ways
        Case{"2147483647", INT32_MAX}, Case{"-2147483648", INT32_MIN}, Case{"0x7FFFFFFF", INT32_MAX},
        Case{"-0x80000000", INT32_MIN}, Case{"-$80000000", INT32_MIN},
        Case{"2147483648", std::nullopt}, Case{"-2147483649", std::nullopt}, Case{"0x80000000", std::nullopt},
        Case{"0xFFFFFFFF", std::nullopt}, Case{"$100000000", std::nullopt}, Case{"-0x80000001", std::nullopt},
        Case{"99999999999999999999999999", std::nullopt},
        // not numbers
        Case{"", std::nullopt}, Case{"   ", std::nullopt}, Case{"abc", std::nullopt}, Case{"12 ", std::nullopt},
        Case{"12ms", std::nullopt}, Case{"1 2", std::nullopt}, Case{"-", std::nullopt}, Case{"+", std::nullopt},
        Case{"- 5", std::nullopt}, Case{"--5", std::nullopt}, Case{"5-", std::nullopt}, Case{"$", std::nullopt},
        Case{"0x", std::nullopt}, Case{"-0x", std::nullopt}, Case{"0x-5", std::nullopt}, Case{"$$1", std::nullopt},
        Case{"$g", std::nullopt}, Case{"0b101", std::nullopt}, Case{"1e3", std::nullopt}, Case{"12\n", std::nullopt},
        Case{"\n12", std::nullopt}, Case{"1.0", std::nullopt}, Case{"\xEF\xBC\x91", std::nullopt},
        Case{std::string("1\0", 2), std::nullopt}),
    [](const auto& info) { return qlntest::ValueName(info.param.text); });

} // namespace
