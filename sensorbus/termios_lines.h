#pragma once
// Real serial devices: termios and the modem-control ioctls.

#include "sensorbus/line_access.h"

namespace kelvara {

LineDriver& termios_line_driver();

}  // namespace kelvara
