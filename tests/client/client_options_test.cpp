#include "client/client_options.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kelvara {
namespace {

struct Expected {
    bool show_help = false;
    int service_port = 7323;
    std::string server_address = "127.0.0.1";
    bool mean = false;
    int first_sensor = 1;
    int last_sensor = 1;
    bool fahrenheit = false;
};

ClientOptions parse(const std::vector<const char*>& words)
{
    std::vector<const char*> argv{"kvquery"};
    argv.insert(argv.end(), words.begin(), words.end());
    ClientOptions options;
    parse_client_args(static_cast<int>(argv.size()), argv.data(), options);
    return options;
}

std::string joined(const std::vector<const char*>& words)
{
    std::string text;
    for (const char* w : words)
        text += std::string(" ") + w;
    return text;
}

TEST(ParseClientArgs, CommandLines)
{
    struct Case {
        std::vector<const char*> words;
        Expected expected;
    };
    const Case cases[] = {
        {{}, {}},
        // The sensor range from the defaults.
        {{"-what", "3-5"}, {.first_sensor = 3, .last_sensor = 5}},
        {{"-what", "4"}, {.first_sensor = 4, .last_sensor = 4}},
        {{"-what", "5-2"}, {.first_sensor = 5, .last_sensor = 5}},
        {{"-what", "0-9"}, {}},
        {{"-what", "2-9"}, {.first_sensor = 2, .last_sensor = 2}},
        {{"-what", "abc"}, {}},
        {{"-what", "1-8"}, {.first_sensor = 1, .last_sensor = 8}},
        {{"-what"}, {}},
        // A later range keeps the fields it does not supply, and is clamped again.
        {{"-what", "2-6", "-what", "4"}, {.first_sensor = 4, .last_sensor = 6}},
        {{"-what", "2-6", "-what", "7"}, {.first_sensor = 7, .last_sensor = 7}},
        {{"-what", "3-5", "-what", "x-2"}, {.first_sensor = 3, .last_sensor = 5}},
        // Ports are read as numbers and not judged here.
        {{"-port", "8000"}, {.service_port = 8000}},
        {{"-port", "70000"}, {.service_port = 70000}},
        {{"-port", "abc"}, {.service_port = 0}},
        {{"-port", " 9001x"}, {.service_port = 9001}},
        {{"-port", "8000", "-port", "9000"}, {.service_port = 9000}},
        {{"-port"}, {}},
        // A value is the next word, whatever it looks like.
        {{"-port", "-help"}, {.service_port = 0}},
        {{"-addr", "-mean"}, {.server_address = "-mean"}},
        {{"-what", "-far"}, {}},
        {{"-addr", "host.example", "-far", "-mean"},
         {.server_address = "host.example", .mean = true, .fahrenheit = true}},
        {{"-addr"}, {}},
        // Help anywhere, and the walk goes on behind it.
        {{"-what", "2", "-h", "-port", "9000"},
         {.show_help = true, .service_port = 9000, .first_sensor = 2, .last_sensor = 2}},
        {{"-?"}, {.show_help = true}},
        {{"-help", "-far"}, {.show_help = true, .fahrenheit = true}},
        // Whole, case-sensitive words only; anything else is skipped.
        {{"-HELP", "-Mean", "-far=1", "--far", "extra", "-meanx", "-what=2"}, {}},
    };
    for (const Case& c : cases) {
        const ClientOptions got = parse(c.words);
        SCOPED_TRACE("kvquery" + joined(c.words));
        EXPECT_EQ(got.show_help, c.expected.show_help);
        EXPECT_EQ(got.service_port, c.expected.service_port);
        EXPECT_EQ(std::string(got.server_address), c.expected.server_address);
        EXPECT_EQ(got.mean, c.expected.mean);
        EXPECT_EQ(got.first_sensor, c.expected.first_sensor);
        EXPECT_EQ(got.last_sensor, c.expected.last_sensor);
        EXPECT_EQ(got.fahrenheit, c.expected.fahrenheit);
    }
}

TEST(ParseClientArgs, AddressPointsAtTheArgumentItself)
{
    const char* argv[] = {"kvquery", "-addr", "thermo.lan"};
    ClientOptions options;
    parse_client_args(3, argv, options);
    EXPECT_EQ(options.server_address, argv[2]);
}

TEST(ServicePort, OnlyPortsThatFitADatagramAddress)
{
    const struct {
        int port;
        bool valid;
    } cases[] = {{1, true},      {7323, true},   {65535, true}, {0, false},
                 {65536, false}, {70000, false}, {-1, false},   {-65535, false}};
    for (const auto& c : cases)
        EXPECT_EQ(service_port_valid(c.port), c.valid) << c.port;
}

}  // namespace
}  // namespace kelvara
