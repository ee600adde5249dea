// The bus master and the sweep against a simulated bus whose chips misbehave
// as the input says: the first bytes pick the range and the chips, every
// later byte decides what one SDA read sees (the chips' own answer, a chip
// pulling low out of turn, or an acknowledge that never comes).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sensorbus/ds1621_sensor.h"
#include "sensorbus/forwarding_line_driver.h"
#include "sensorbus/sim_lines.h"

namespace {

using namespace kelvara;

class MisbehavingLines final : public ForwardingLineDriver {
public:
    MisbehavingLines() : ForwardingLineDriver("fuzz:", sim_line_driver()) {}

    const std::uint8_t* data = nullptr;
    std::size_t size = 0;

protected:
    int filter_status(int status) override
    {
        if (size == 0)
            return status;
        std::uint8_t choice = *data++;
        --size;
        switch (choice & 3) {
        case 1:
            return 0;  // something pulls SDA low
        case 2:
            return MS_CTS_ON;  // nobody acknowledges, or a bit flips high
        case 3:
            return choice & 4 ? -5 : status;  // now and then the status read itself fails
        default:
            return status;
        }
    }
};

MisbehavingLines lines;

void no_wait(int) {}

bool is_bus_code(int status)
{
    switch (status) {
    case 0:
    case I2C_ERR_BUS_BUSY:
    case I2C_ERR_NO_ACK:
    case I2C_ERR_ADDRESS_NAK:
    case I2C_ERR_SDA_MISMATCH:
    case I2C_ERR_SCL_TIMEOUT:
    case I2C_ERR_STOP:
        return true;
    default:
        return false;
    }
}

[[noreturn]] void fail(const char* what, int slot, int value)
{
    std::fprintf(stderr, "invariant broken: %s (slot %d, value %d)\n", what, slot, value);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    set_sleep_hook(no_wait);
    ::setenv("KELVARA_COM2", "fuzz:", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 10)
        return 0;
    int first = 1 + data[0] % 8;
    int last = 1 + data[1] % 8;

    static const char* const kinds[] = {"-", "21.5", "nak", "hold"};
    std::string device = "fuzz:sim:";
    for (int i = 0; i < 8; ++i) {
        std::uint8_t b = data[2 + i];
        if (i > 0)
            device += ',';
        device += (b & 3) == 1 ? std::to_string(static_cast<int>(static_cast<std::int8_t>(b)) / 2.0) : kinds[b & 3];
    }
    ::setenv("KELVARA_COM2", device.c_str(), 1);
    lines.data = data + 10;
    lines.size = size - 10;

    std::int8_t status[8];
    std::int16_t temperature[8];
    for (int i = 0; i < 8; ++i) {
        status[i] = 0x55;
        temperature[i] = 0x5555;
    }
    read_sensors(status, temperature, first, last, 2);

    for (int i = 0; i < 8; ++i) {
        bool in_range = i >= first - 1 && i <= last - 1;
        if (!in_range && (status[i] != 0x55 || temperature[i] != 0x5555))
            fail("slot outside the range written", i, status[i]);
        if (in_range && !is_bus_code(status[i]))
            fail("status is not a bus code", i, status[i]);
        if (in_range && status[i] != 0 && temperature[i] != 0)
            fail("failed reading carries a temperature", i, temperature[i]);
    }

    // The sweep must have let go of the port, whatever happened on the bus.
    SerialLinePort again(2);
    if (!again.is_open())
        fail("port still held after the sweep", 0, again.last_open_errno());
    return 0;
}
