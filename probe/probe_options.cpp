#include "probe/probe_options.h"

#include <cstring>

#include "common/decimal.h"
#include "probe/bus_probe.h"

namespace kelvara {

std::string parse_probe_args(int argc, const char* const argv[], ProbeOptions& options)
{
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "-help") == 0 || std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "-?") == 0) {
            options.show_help = true;
        } else if (std::strcmp(arg, "-com") == 0) {
            if (i + 1 >= argc)
                return "-com needs a port number, 1 to 4";
            const char* value = argv[++i];
            int n = read_decimal(value);
            if (n < 1 || n > 4)
                return std::string("COM port must be 1 to 4, not ") + value;
            options.com_port = n;
        } else {
            return std::string("unknown argument ") + arg;
        }
    }
    return {};
}

void print_probe_usage(std::ostream& out, const char* program)
{
    out << "usage: " << program << " [-com N] [-help]\n"
        << "Checks the thermometer bus on one serial port step by step: the device,\n"
        << "opening it, the bus lines, and a scan of the eight sensor addresses.\n"
        << "  -com N   COM port 1 to 4 (default " << DEFAULT_PROBE_COM_PORT << "); COM N is the device in\n"
        << "           KELVARA_COM<N> when set, else /dev/ttyS<N-1>\n"
        << "  -help    this text (also -h and -?)\n"
        << "Exit status: " << PROBE_OK << " the port works and at least one chip answers, " << PROBE_FAILED
        << " it does not,\n"
        << "             " << PROBE_USAGE << " a bad command line.\n";
}

int probe_command(int argc, const char* const argv[], std::ostream& out, std::ostream& err)
{
    const char* program = argc > 0 ? argv[0] : "kvprobe";
    ProbeOptions options;
    std::string problem = parse_probe_args(argc, argv, options);
    if (!problem.empty()) {
        err << "probe: " << problem << "\n";
        print_probe_usage(err, program);
        return PROBE_USAGE;
    }
    if (options.show_help) {
        print_probe_usage(out, program);
        return PROBE_OK;
    }
    return run_probe(options.com_port, out);
}

}  // namespace kelvara
