#include "sensorbus/serial_line_port.h"

namespace kelvara {

SerialLinePort::SerialLinePort(int port_number) { open(port_number); }

SerialLinePort::~SerialLinePort() { close(); }

int SerialLinePort::open(int port_number)
{
    open_errno = 0;
    if (port_number < 1 || port_number > 4)
        return SERIAL_ERR_PORT;

    // Opening an open port would lose its handle, and with it the lock on the device.
    close();

    char device[256];
    if (!com_device_name(port_number, device, sizeof device))
        return SERIAL_ERR_PORT;

    handle = open_line_device(device, &open_errno);
    if (!handle.valid())
        return SERIAL_ERR_PORT;

    // Saved so that close can put back what this port changed; results ignored.
    handle.driver->get_state(handle.id, saved_state);
    handle.driver->get_timeouts(handle.id, saved_timeouts);
    handle.driver->get_event_mask(handle.id, saved_event_mask);
    handle.driver->purge(handle.id);
    return 0;
}

void SerialLinePort::close()
{
    if (!handle.valid())
        return;
    handle.driver->set_timeouts(handle.id, saved_timeouts);
    handle.driver->set_event_mask(handle.id, saved_event_mask);
    handle.driver->purge(handle.id);
    close_line_device(handle);
}

int SerialLinePort::set_dtr(int level)
{
    if (!handle.valid())
        return SERIAL_ERR_PORT;
    return handle.driver->set_dtr(handle.id, level != 0) ? 0 : SERIAL_ERR_PORT;
}

int SerialLinePort::set_rts(int level)
{
    if (!handle.valid())
        return SERIAL_ERR_PORT;
    return handle.driver->set_rts(handle.id, level != 0) ? 0 : SERIAL_ERR_PORT;
}

int SerialLinePort::set_dtr_rts(int level)
{
    if (!handle.valid())
        return SERIAL_ERR_PORT;
    // SCL before SDA, so that releasing the bus can never look like a start.
    handle.driver->set_rts(handle.id, level != 0);
    handle.driver->set_dtr(handle.id, level != 0);
    return 0;
}

int SerialLinePort::set_break(int on)
{
    if (!handle.valid())
        return SERIAL_ERR_PORT;
    handle.driver->set_break(handle.id, on != 0);
    return 0;
}

int SerialLinePort::read_cts()
{
    if (!handle.valid())
        return SERIAL_ERR_PORT;
    int status = handle.driver->modem_status(handle.id);
    if (status < 0)
        return SERIAL_ERR_PORT;
    return status & MS_CTS_ON;
}

}  // namespace kelvara
