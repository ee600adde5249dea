#pragma once
// Simulated serial ports with DS1621 chips behind their control lines, named
// "sim:E1,E2,...,E8": entry i is the chip at sensor i, a temperature in degrees
// C, "-" or empty for none, "nak" or "hold"; missing trailing entries mean no
// chip. SCL is RTS, SDA the wired AND of DTR and every chip, CTS reads SDA,
// and the chips are powered only while the break is on. A port is exclusive
// across processes through a lock file in $TMPDIR named after the device.

#include "sensorbus/line_access.h"
#include "sensorbus/sim_ds1621.h"

namespace kelvara {

inline constexpr const char* SIM_DEVICE_PREFIX = "sim:";

LineDriver& sim_line_driver();

// Reads a "sim:" device name into one setup per sensor. False when malformed.
bool parse_sim_device(const char* device, SimChipSetup (&chips)[8]);

// Degrees C to the word a DS1621 reports: 0.5 degree steps, -55 to 125.
std::int16_t ds1621_word_from_celsius(double celsius);

}  // namespace kelvara
