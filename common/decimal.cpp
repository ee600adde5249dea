#include "common/decimal.h"

#include <cctype>
#include <climits>

namespace kelvara {

namespace {

// Reads one decimal integer at text; sets end past its digits, or to text
// when there are none.
int read_number(const char* text, const char** end)
{
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (!std::isdigit(static_cast<unsigned char>(*p))) {
        *end = text;
        return 0;
    }
    long long value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        if (value <= static_cast<long long>(INT_MAX) + 1)
            value = value * 10 + (*p - '0');
    }
    *end = p;
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace

int read_decimal(const char* text)
{
    if (text == nullptr)
        return 0;
    const char* end = nullptr;
    return read_number(text, &end);
}

int scan_range(const char* text, int& first, int& last)
{
    if (text == nullptr)
        return 0;
    const char* end = nullptr;
    int value = read_number(text, &end);
    if (end == text)
        return 0;
    first = value;
    if (*end != '-')
        return 1;
    const char* second = end + 1;
    value = read_number(second, &end);
    if (end == second)
        return 1;
    last = value;
    return 2;
}

void clamp_sensor_range(int& first, int& last)
{
    if (first < 1 || first > 8)
        first = 1;
    if (last < 1 || last > 8)
        last = 1;
    if (last < first)
        last = first;
}

}  // namespace kelvara
