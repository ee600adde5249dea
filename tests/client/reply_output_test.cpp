#include "client/reply_output.h"

#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/client/udp_peer.h"

namespace kelvara {
namespace {

using test::reply_bytes;

struct Case {
    const char* name;
    bool mean;
    int first;
    int last;
    bool fahrenheit;
    std::int8_t result;
    std::array<std::int16_t, 8> words;
    std::array<std::int8_t, 8> status;
    std::string text;
    std::string expected;
};

const std::string ok_line = "Result: 0 *** Ok\n\n";

// Bytes as they come off the wire, through the decoder, to the printed lines.
TEST(PrintReply, FromReplyBytes)
{
    const Case cases[] = {
        {"celsius", false, 1, 4, false, 0, {6016, 0, -2688, -6400}, {}, "Ok",
         ok_line + "Sensor n.1: 23.5 C\nSensor n.2:  0.0 C\nSensor n.3: -10.5 C\n"
                   "Sensor n.4: -25.0 C\n"},
        {"fahrenheit", false, 1, 4, true, 0, {6016, 0, -2688, -6400}, {}, "Ok",
         ok_line + "Sensor n.1: 74.3 F\nSensor n.2: 32.0 F\nSensor n.3: 13.1 F\n"
                   "Sensor n.4: -13.0 F\n"},
        // Half degrees in the low byte: both bytes count, and the sign too.
        {"half degrees", false, 1, 3, false, 0, {128, -128, 32767}, {}, "Ok",
         ok_line + "Sensor n.1:  0.5 C\nSensor n.2: -0.5 C\nSensor n.3: 128.0 C\n"},
        {"error statuses", false, 1, 8, false, 0,
         {5504, 0, 6528, 0, 0, 0, 0, 0}, {0, -13, 0, -11, -12, -14, -15, -20}, "Ok",
         ok_line + "Sensor n.1: 21.5 C\nSensor n.2: Error -13\nSensor n.3: 25.5 C\n"
                   "Sensor n.4: Error -11\nSensor n.5: Error -12\nSensor n.6: Error -14\n"
                   "Sensor n.7: Error -15\nSensor n.8: Error -20\n"},
        {"only the asked range", false, 5, 6, false, 0,
         {100, 200, 300, 400, 1280, -1280, 700, 800}, {-13, -13, -13, -13, 0, 0, -13, -13}, "Ok",
         ok_line + "Sensor n.5:  5.0 C\nSensor n.6: -5.0 C\n"},
        {"last sensor alone", false, 8, 8, false, 0, {0, 0, 0, 0, 0, 0, 0, 2560}, {}, "Ok",
         ok_line + "Sensor n.8: 10.0 C\n"},
        {"bad request", false, 1, 2, false, -1, {}, {}, "Error: bad request\n",
         "Result: -1 *** Error: bad request\n\n\nSensor n.1:  0.0 C\nSensor n.2:  0.0 C\n"},
        {"bad parameters", false, 3, 3, true, -2, {}, {}, "Error: bad parameters\n",
         "Result: -2 *** Error: bad parameters\n\n\nSensor n.3: 32.0 F\n"},
        {"mean", true, 2, 6, false, 0, {5504, 6016, 0, 0, 0, 0, 0, 0}, {}, "Ok",
         ok_line + "Sensor n.1: 21.5 C\n"},
        {"mean failed", true, 1, 3, false, 0, {5504, 0, 6528}, {-2, -13, 0}, "Ok",
         ok_line + "Sensor n.1: Error -2\n"},
        {"mean fahrenheit", true, 3, 3, true, 0, {6528, 0, 6528}, {}, "Ok",
         ok_line + "Sensor n.1: 77.9 F\n"},
        {"text of 128 characters", false, 1, 1, false, 0, {}, {}, std::string(128, 'x'),
         "Result: 0 *** " + std::string(128, 'x') + "\n\nSensor n.1:  0.0 C\n"},
        {"unknown result", false, 1, 1, false, 5, {}, {}, "", "Result: 5 *** \n\nSensor n.1:  0.0 C\n"},
    };
    for (const Case& c : cases) {
        const test::Bytes bytes = reply_bytes(c.result, c.words, c.status, c.text);
        ClientOptions options;
        options.mean = c.mean;
        options.first_sensor = c.first;
        options.last_sensor = c.last;
        options.fahrenheit = c.fahrenheit;
        std::ostringstream out;
        print_reply(out, options, decode_reply(bytes.data()));
        EXPECT_EQ(out.str(), c.expected) << c.name;
    }
}

TEST(TemperatureText, RoundsToOneDecimalInFourColumns)
{
    const struct {
        std::int16_t word;
        bool fahrenheit;
        const char* text;
    } cases[] = {
        {0, false, " 0.0 C"},       {-32768, false, "-128.0 C"}, {64, false, " 0.2 C"},
        {-64, false, "-0.2 C"},     {-4551, false, "-17.8 C"},
        {25600, true, "212.0 F"},   {0, true, "32.0 F"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(temperature_text(c.word, c.fahrenheit), c.text) << c.word;
}

}  // namespace
}  // namespace kelvara
