#include "sensorbus/line_access.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "sensorbus/sim_lines.h"
#include "sensorbus/termios_lines.h"

namespace kelvara {

namespace {

struct DriverEntry {
    const char* prefix = nullptr;
    LineDriver* driver = nullptr;
};

// Fixed size: opening a port must not allocate.
DriverEntry extra_drivers[4];

void real_sleep(int milliseconds)
{
    if (milliseconds <= 0)
        return;
    timespec wait{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

SleepHook sleep_hook = real_sleep;

const char* com_environment_value(int port_number)
{
    char name[] = "KELVARA_COM0";
    name[sizeof name - 2] = static_cast<char>('0' + port_number);
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

LineDriver* driver_for(const char* device)
{
    for (const DriverEntry& entry : extra_drivers) {
        if (entry.driver != nullptr && std::strncmp(device, entry.prefix, std::strlen(entry.prefix)) == 0)
            return entry.driver;
    }
    if (std::strncmp(device, SIM_DEVICE_PREFIX, std::strlen(SIM_DEVICE_PREFIX)) == 0)
        return &sim_line_driver();
    return &termios_line_driver();
}

}  // namespace

bool com_device_name(int port_number, char* buffer, std::size_t size)
{
    if (port_number < 1 || port_number > 4 || size == 0)
        return false;
    const char* value = com_environment_value(port_number);
    int n = value != nullptr ? std::snprintf(buffer, size, "%s", value)
                             : std::snprintf(buffer, size, "/dev/ttyS%d", port_number - 1);
    return n > 0 && static_cast<std::size_t>(n) < size;
}

DeviceNameSource com_device_source(int port_number)
{
    return com_environment_value(port_number) != nullptr ? DeviceNameSource::environment
                                                         : DeviceNameSource::default_name;
}

LineHandle open_line_device(const char* device, int* error)
{
    LineDriver* driver = driver_for(device);
    int id = driver->open(device);
    if (id < 0) {
        if (error != nullptr)
            *error = -id;
        return INVALID_LINE_HANDLE;
    }
    if (error != nullptr)
        *error = 0;
    return LineHandle{driver, id};
}

void close_line_device(LineHandle& handle)
{
    if (handle.valid())
        handle.driver->close(handle.id);
    handle = INVALID_LINE_HANDLE;
}

bool register_line_driver(const char* prefix, LineDriver* driver)
{
    for (DriverEntry& entry : extra_drivers) {
        if (entry.driver == nullptr) {
            entry = DriverEntry{prefix, driver};
            return true;
        }
    }
    return false;
}

void unregister_line_driver(LineDriver* driver)
{
    for (DriverEntry& entry : extra_drivers) {
        if (entry.driver == driver)
            entry = DriverEntry{};
    }
}

void sleep_ms(int milliseconds) { sleep_hook(milliseconds); }

SleepHook set_sleep_hook(SleepHook hook)
{
    SleepHook previous = sleep_hook;
    sleep_hook = hook != nullptr ? hook : real_sleep;
    return previous;
}

}  // namespace kelvara
