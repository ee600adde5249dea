#pragma once
// Number reading shared by every program's options and parameters: a decimal
// integer with optional leading white space and sign, digits up to the first
// non-digit, 0 when there are none. Values beyond int saturate instead of
// overflowing.

namespace kelvara {

// Reads a decimal integer from text as described above; null reads as 0.
int read_decimal(const char* text);

// Reads text as "F-L" (each number as read_decimal, with the dash right after
// the first number's digits); a number that is not there leaves its field as
// it was. Returns how many numbers were read (0, 1 or 2).
int scan_range(const char* text, int& first, int& last);

// Keeps a sensor range valid: first outside 1 to 8 becomes 1, then last
// outside 1 to 8 becomes 1, then a last below first becomes first.
void clamp_sensor_range(int& first, int& last);

}  // namespace kelvara
