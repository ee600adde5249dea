// kvprobe's command line, and what the program does with it.

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "probe/bus_probe.h"
#include "probe/probe_options.h"
#include "sensorbus/line_access.h"

namespace kelvara {
namespace {

std::vector<const char*> argv_of(const std::vector<const char*>& args)
{
    std::vector<const char*> argv{"kvprobe"};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

TEST(ProbeOptions, ArgumentsTable)
{
    struct Case {
        std::vector<const char*> args;
        bool accepted;
        int com_port;
        bool help;
    } cases[] = {
        {{}, true, 3, false},
        {{"-com", "1"}, true, 1, false},
        {{"-com", "4"}, true, 4, false},
        {{"-com", " +2"}, true, 2, false},  // numbers read as the other programs read them
        {{"-com", "2", "-com", "1"}, true, 1, false},
        {{"-help"}, true, 3, true},
        {{"-h"}, true, 3, true},
        {{"-?"}, true, 3, true},
        {{"-com", "2", "-help"}, true, 2, true},
        {{"-com", "0"}, false, 3, false},
        {{"-com", "5"}, false, 3, false},
        {{"-com", "-1"}, false, 3, false},
        {{"-com", "two"}, false, 3, false},
        {{"-com"}, false, 3, false},
        {{"-com", "-help"}, false, 3, false},  // a value is the next argument whatever it is
        {{"-COM", "2"}, false, 3, false},
        {{"-x"}, false, 3, false},
        {{"3"}, false, 3, false},
    };
    for (const Case& c : cases) {
        std::string label;
        for (const char* arg : c.args)
            label += std::string(arg) + " ";
        std::vector<const char*> argv = argv_of(c.args);
        ProbeOptions options;
        std::string problem = parse_probe_args(static_cast<int>(argv.size()), argv.data(), options);
        EXPECT_EQ(problem.empty(), c.accepted) << label << problem;
        if (c.accepted) {
            EXPECT_EQ(options.com_port, c.com_port) << label;
            EXPECT_EQ(options.show_help, c.help) << label;
        }
    }
}

void no_wait(int) {}

TEST(ProbeCommand, UsageGoesWhereItBelongsWithItsStatus)
{
    SleepHook previous = set_sleep_hook(no_wait);
    struct Case {
        std::vector<const char*> args;
        int status;
        const char* out_starts;  // nullptr: nothing on standard output
        const char* err_starts;  // nullptr: nothing on standard error
    } cases[] = {
        {{"-help"}, PROBE_OK, "usage: kvprobe [-com N] [-help]\n", nullptr},
        {{"-com", "9"}, PROBE_USAGE, nullptr, "probe: COM port must be 1 to 4, not 9\nusage: kvprobe"},
        {{"-com"}, PROBE_USAGE, nullptr, "probe: -com needs a port number, 1 to 4\nusage: kvprobe"},
        {{"-verbose"}, PROBE_USAGE, nullptr, "probe: unknown argument -verbose\nusage: kvprobe"},
        // The shared test set-up makes every COM port an empty simulated bus.
        {{}, PROBE_FAILED, "Kelvara bus probe on COM3\n1. Device: sim:, from KELVARA_COM3: ok\n", nullptr},
        {{"-com", "1"}, PROBE_FAILED, "Kelvara bus probe on COM1\n", nullptr},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv = argv_of(c.args);
        std::ostringstream out;
        std::ostringstream err;
        int status = probe_command(static_cast<int>(argv.size()), argv.data(), out, err);
        std::string label = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(status, c.status) << label;
        EXPECT_EQ(out.str().rfind(c.out_starts != nullptr ? c.out_starts : "", 0), 0u) << label << "\n" << out.str();
        EXPECT_EQ(out.str().empty(), c.out_starts == nullptr) << label;
        EXPECT_EQ(err.str().rfind(c.err_starts != nullptr ? c.err_starts : "", 0), 0u) << label << "\n" << err.str();
        EXPECT_EQ(err.str().empty(), c.err_starts == nullptr) << label;
    }
    set_sleep_hook(previous);
}

TEST(ProbeCommand, UsageNamesTheOptionsAndEveryExitStatus)
{
    std::ostringstream out;
    print_probe_usage(out, "kvprobe");
    for (const char* text : {"-com N", "default 3", "KELVARA_COM<N>", "-help", "0 the port works", "1 it does not",
                             "2 a bad command line"})
        EXPECT_NE(out.str().find(text), std::string::npos) << text;
}

}  // namespace
}  // namespace kelvara
