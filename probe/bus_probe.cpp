#include "probe/bus_probe.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "sensorbus/ds1621_sensor.h"
#include "sensorbus/line_access.h"
#include "sensorbus/sim_lines.h"

namespace kelvara {

namespace {

// What the bus lines did with the break on.
enum class LineResult { ok, held_low, not_following, no_lines };

// How one address answered the scan.
struct ScanEntry {
    int convert_code = 0;  // the bus code of the Start Convert T command
    int read_code = 0;     // the bus code of the temperature read, when one was made
    std::int16_t word = 0;
};

std::string env_name(int com_port) { return "KELVARA_COM" + std::to_string(com_port); }

int verdict(std::ostream& out, int status, const std::string& text)
{
    out << "Verdict: " << text << "\n";
    return status;
}

std::string temperature_text(std::int16_t word)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.1f C, %.1f F", word / 256.0, word * 0.00703125 + 32.0);
    return text;
}

std::string code_text(int code)
{
    const char* what = "a bus error";
    switch (code) {
    case I2C_ERR_BUS_BUSY: what = "bus busy, SDA held low"; break;
    case I2C_ERR_NO_ACK: what = "no acknowledge of a data byte"; break;
    case I2C_ERR_ADDRESS_NAK: what = "no acknowledge of its address"; break;
    case I2C_ERR_SDA_MISMATCH: what = "SDA did not follow the master"; break;
    case I2C_ERR_SCL_TIMEOUT: what = "SCL did not rise"; break;
    case I2C_ERR_STOP: what = "the stop condition failed"; break;
    default: break;
    }
    return std::string(what) + " (code " + std::to_string(code) + ")";
}

// The short reason for a failed open and what the person at the bench can do.
struct OpenAdvice {
    std::string reason;
    std::string advice;
};

OpenAdvice open_advice(int error, int com_port, const char* device)
{
    const std::string env = env_name(com_port);
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO: {
        std::string advice;
        if (std::strncmp(device, SIM_DEVICE_PREFIX, std::strlen(SIM_DEVICE_PREFIX)) == 0)
            advice = "A simulated port is sim: followed by up to eight comma-separated entries, "
                     "each a temperature, -, nak or hold: check " + env + ".";
        else if (com_device_source(com_port) == DeviceNameSource::environment)
            advice = "No such device: check the name in " + env +
                     ", that the serial adapter is plugged in and that its driver is loaded.";
        else
            advice = "No such device: check that the serial adapter is plugged in and its driver loaded, "
                     "or set " + env + " to the device's name (a USB adapter is usually /dev/ttyUSB0).";
        return {"no such device", advice};
    }
    case EACCES:
    case EPERM:
        return {"permission denied",
                "Permission denied: add the user to the group that owns the device "
                "(dialout on Debian), then log in again."};
    case EBUSY:
        return {"held by another program",
                "Another program holds the port, usually kvserver (or kvpage while it reads): "
                "stop it, or probe another port."};
    case ENOTTY:
        return {"not a serial port",
                "Not a serial port: " + env + " must name a serial device such as /dev/ttyS0 or /dev/ttyUSB0."};
    default:
        return {std::strerror(error), "The system refused to open the device."};
    }
}

// Step 3: both lines released, then SDA driven low by DTR and released
// again, each time read back through CTS. Writes the details to out.
LineResult check_lines(SerialLinePort& port, std::ostream& out)
{
    auto level = [](int cts) { return cts != 0 ? "high" : "low"; };

    int released = port.read_cts();
    if (released < 0) {
        out << "   the port refuses the modem-status call (code " << released << ")\n";
        return LineResult::no_lines;
    }
    out << "   lines released: SDA reads " << level(released) << "\n";
    if (released == 0) {
        out << "   Something holds SDA low: a chip, a short, or a missing pull-up; while it does, "
               "every transfer fails with code " << I2C_ERR_BUS_BUSY << " (bus busy).\n";
        return LineResult::held_low;
    }

    int driven = port.set_dtr(0) != 0 ? SERIAL_ERR_PORT : port.read_cts();
    int again = port.set_dtr(1) != 0 ? SERIAL_ERR_PORT : port.read_cts();
    if (driven < 0 || again < 0) {
        out << "   the port refuses the modem-line calls (code " << SERIAL_ERR_PORT << ")\n";
        return LineResult::no_lines;
    }
    out << "   DTR pulls SDA low: SDA reads " << level(driven) << "\n";
    out << "   DTR releases SDA: SDA reads " << level(again) << "\n";
    if (driven != 0 || again == 0) {
        out << "   SDA does not follow DTR: check the DTR to SDA and SDA to CTS wiring, "
               "and that the break powers the bus.\n";
        return LineResult::not_following;
    }
    return LineResult::ok;
}

// Step 4: a conversion is started at every address, then each address that
// took it is read, as a sweep does, so the readings are the ones kvserver gets.
void scan(DS1621Sensor& sensor, ScanEntry (&entries)[SENSOR_COUNT])
{
    for (int n = 1; n <= SENSOR_COUNT; ++n) {
        sensor.select_sensor(n);
        entries[n - 1].convert_code = sensor.start_convert();
        sensor.i2c_bus().wait_ms(50);
    }
    for (int n = 1; n <= SENSOR_COUNT; ++n) {
        ScanEntry& entry = entries[n - 1];
        if (entry.convert_code != 0)
            continue;
        sensor.select_sensor(n);
        entry.word = sensor.read_temperature();
        entry.read_code = sensor.last_error;
    }
}

std::string entry_text(const ScanEntry& entry)
{
    switch (entry.convert_code) {
    case 0:
        if (entry.read_code == 0)
            return "present, " + temperature_text(entry.word);
        return "present, but its reading failed: " + code_text(entry.read_code);
    case I2C_ERR_ADDRESS_NAK:
        return "absent";
    case I2C_ERR_NO_ACK:
        return "acknowledges its address but not a data byte (code " + std::to_string(I2C_ERR_NO_ACK) + ")";
    default:
        return code_text(entry.convert_code);
    }
}

std::string answer_count_text(int answers)
{
    if (answers == 0)
        return "no chip answers";
    return answers == 1 ? "1 chip answers" : std::to_string(answers) + " chips answer";
}

}  // namespace

std::string describe_com_device(int com_port)
{
    char device[256];
    if (!com_device_name(com_port, device, sizeof device))
        return {};
    if (com_device_source(com_port) == DeviceNameSource::environment)
        return std::string(device) + ", from " + env_name(com_port);
    return std::string(device) + ", the default for COM" + std::to_string(com_port) + " (" + env_name(com_port) +
           " is not set)";
}

int run_probe(int com_port, std::ostream& out)
{
    const std::string com = "COM" + std::to_string(com_port);
    out << "Kelvara bus probe on " << com << "\n";

    // Step 1: the device behind the port number.
    if (com_port < 1 || com_port > 4) {
        out << "1. Device: FAILED\n   " << com << " is not a port: use 1 to 4.\n";
        return verdict(out, PROBE_FAILED, com + " is not a port.");
    }
    char device[256];
    if (!com_device_name(com_port, device, sizeof device)) {
        out << "1. Device: FAILED\n   the name in " << env_name(com_port) << " is too long.\n";
        return verdict(out, PROBE_FAILED, "the device name of " + com + " is too long.");
    }
    out << "1. Device: " << describe_com_device(com_port) << ": ok\n";

    // Step 2: opened the way the bus opens it, exclusively.
    DS1621Sensor sensor;
    I2CBus& bus = sensor.i2c_bus();
    SerialLinePort& port = bus.line_port();
    if (port.open(com_port) != 0) {
        int error = port.last_open_errno();
        OpenAdvice advice = open_advice(error, com_port, device);
        out << "2. Open for exclusive use: FAILED\n";
        out << "   " << device << ": " << std::strerror(error) << "\n";
        out << "   " << advice.advice << "\n";
        return verdict(out, PROBE_FAILED, com + " cannot be opened: " + advice.reason + ".");
    }
    out << "2. Open for exclusive use: ok\n";

    // Step 3: the bus's own start-up (lines released, break on, time for the
    // chips to power up), then the lines one by one.
    port.set_dtr_rts(1);
    port.set_break(1);
    bus.wait_ms(100);
    std::ostringstream details;
    LineResult lines = check_lines(port, details);
    out << "3. Lines with the break on: " << (lines == LineResult::ok ? "ok" : "FAILED") << "\n" << details.str();

    if (lines == LineResult::no_lines || lines == LineResult::not_following) {
        out << "4. Scan: skipped, the lines do not work\n";
        sensor.close();
        if (lines == LineResult::no_lines)
            return verdict(out, PROBE_FAILED, "the modem lines of " + com + " cannot be driven.");
        return verdict(out, PROBE_FAILED, "SDA does not follow DTR: check the wiring and the power from the break.");
    }

    // Step 4: nine clocks free a chip caught in the middle of a byte.
    bus.reset();
    if (port.read_cts() == 0) {
        out << "4. Scan: skipped, SDA still reads low after the bus was cleared\n";
        sensor.close();
        return verdict(out, PROBE_FAILED, "SDA is held low, so no chip can answer.");
    }
    ScanEntry entries[SENSOR_COUNT];
    scan(sensor, entries);
    sensor.close();

    int answers = 0;
    std::string answering;
    for (int n = 1; n <= SENSOR_COUNT; ++n) {
        const ScanEntry& entry = entries[n - 1];
        if (entry.convert_code == 0 && entry.read_code == 0) {
            answering += (answers == 0 ? " " : ", ") + std::to_string(n);
            ++answers;
        }
    }
    out << "4. Scan of the eight addresses after clearing the bus: " << answer_count_text(answers) << "\n";
    if (lines == LineResult::held_low)
        out << "   clearing the bus freed SDA: a chip was caught in the middle of a byte\n";
    for (int n = 1; n <= SENSOR_COUNT; ++n) {
        char address[8];
        std::snprintf(address, sizeof address, "0x%02X", ds1621_address(n));
        out << "   sensor " << n << " at " << address << ": " << entry_text(entries[n - 1]) << "\n";
    }

    if (answers == 0)
        return verdict(out, PROBE_FAILED,
                       "the port works but no chip answers: check the chips' power, wiring and address pins.");
    return verdict(out, PROBE_OK,
                   "the port works and " + answer_count_text(answers) + " (sensor" + (answers == 1 ? "" : "s") +
                       answering + ").");
}

}  // namespace kelvara
