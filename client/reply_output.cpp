#include "client/reply_output.h"

#include <algorithm>
#include <cstdio>

namespace kelvara {

std::string temperature_text(std::int16_t word, bool fahrenheit)
{
    const double degrees = fahrenheit ? word * 0.00703125 + 32 : static_cast<double>(word) / 256;
    char text[32];
    std::snprintf(text, sizeof text, "%4.1f %c", degrees, fahrenheit ? 'F' : 'C');
    return text;
}

void print_reply(std::ostream& out, const ClientOptions& options, const TempReply& reply)
{
    // The text need not hold a NUL: never read past the record.
    const auto text_end = std::find(reply.text.begin(), reply.text.end(), '\0');
    out << "Result: " << static_cast<int>(reply.result) << " *** ";
    out.write(reply.text.data(), text_end - reply.text.begin());
    out << "\n\n";

    // A mean and its status stand in slot 0, whatever range was asked for.
    const int first = options.mean ? 1 : options.first_sensor;
    const int last = options.mean ? 1 : options.last_sensor;
    // Slots exist for sensors 1 to 8 only, whatever the options hold.
    for (int n = std::max(first, 1); n <= std::min(last, 8); ++n) {
        const auto slot = static_cast<std::size_t>(n - 1);
        out << "Sensor n." << n << ": ";
        if (reply.status[slot] != 0)
            out << "Error " << static_cast<int>(reply.status[slot]) << '\n';
        else
            out << temperature_text(reply.temperature[slot], options.fahrenheit) << '\n';
    }
}

}  // namespace kelvara
