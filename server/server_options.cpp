#include "server/server_options.h"

#include <cstring>

#include "common/decimal.h"

namespace kelvara {

namespace {

bool is(const char* argument, const char* option) { return std::strcmp(argument, option) == 0; }

}  // namespace

int parse_server_args(int argc, const char* const argv[], ServerOptions& options)
{
    int error = 0;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (is(argument, "-help") || is(argument, "-h") || is(argument, "-?")) {
            options.show_help = true;
        } else if (is(argument, "-port")) {
            if (i + 1 < argc)
                options.service_port = read_decimal(argv[++i]);
            // Above 65535 the bound port would not be the one announced.
            if (options.service_port < MIN_SERVICE_PORT || options.service_port > MAX_SERVICE_PORT)
                error = 1;
        } else if (is(argument, "-com")) {
            if (i + 1 < argc)
                options.com_port = read_decimal(argv[++i]);
            if (options.com_port < 1 || options.com_port > 4)
                error = 1;
        }
    }
    return error;
}

void print_server_help(std::FILE* out, const char* program)
{
    std::fprintf(out, "Usage: %s [-help] [-port port] [-com port]\n", program);
    std::fprintf(out, "       -help show this help\n       -port service port number (%d)\n", DEFAULT_SERVICE_PORT);
    std::fprintf(out, "       -com serial com port number (%d)\n\n", DEFAULT_COM_PORT);
}

}  // namespace kelvara
