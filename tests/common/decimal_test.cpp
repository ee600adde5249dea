#include "common/decimal.h"

#include <climits>

#include <gtest/gtest.h>

namespace kelvara {
namespace {

TEST(ReadDecimal, ReadsLikeTheCommandLinesExpect)
{
    struct Case {
        const char* text;
        int value;
    } cases[] = {
        {"7400", 7400},       {"  42", 42},      {"\t-17", -17},  {"+8", 8},
        {"12abc", 12},        {"abc", 0},        {"", 0},         {"- 5", 0},
        {"99999999999", INT_MAX}, {"-99999999999", INT_MIN}, {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN}, {nullptr, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(read_decimal(c.text), c.value) << (c.text ? c.text : "(null)");
}

TEST(SensorRange, ScanAndClampFromTheDefaults)
{
    struct Case {
        const char* text;
        int first;
        int last;
    } cases[] = {
        {"3-5", 3, 5}, {"4", 4, 4},   {"5-2", 5, 5},  {"0-9", 1, 1}, {"2-9", 2, 2},
        {"abc", 1, 1}, {"3-x", 3, 3}, {" 2- 6", 2, 6}, {"2 -6", 2, 2}, {"-3-4", 1, 4},
        {"8-8", 8, 8}, {"1-8", 1, 8},
    };
    for (const auto& c : cases) {
        int first = 1;
        int last = 1;
        scan_range(c.text, first, last);
        clamp_sensor_range(first, last);
        EXPECT_EQ(first, c.first) << c.text;
        EXPECT_EQ(last, c.last) << c.text;
    }
}

TEST(SensorRange, LaterTextKeepsWhatItDoesNotSupply)
{
    int first = 1;
    int last = 1;
    scan_range("2-6", first, last);
    clamp_sensor_range(first, last);
    EXPECT_EQ(scan_range("4", first, last), 1);
    clamp_sensor_range(first, last);
    EXPECT_EQ(first, 4);
    EXPECT_EQ(last, 6);
}

}  // namespace
}  // namespace kelvara
