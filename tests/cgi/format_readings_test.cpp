#include "cgi/page.h"

#include <string>

#include <gtest/gtest.h>

#include "sensorbus/ds1621_sensor.h"
#include "tests/support/test_env.h"

namespace kelvara {
namespace {

using test::ScopedEnv;

TEST(FormatReadings, OneEntryPerSensorOnTheSimulatedBus)
{
    struct Case {
        const char* device;  // on COM3
        bool html;
        bool fahrenheit;
        int first;
        int last;
        int com_port;
        std::string expected;
    } cases[] = {
        {"sim:21.5,-,25.5", false, false, 1, 3, 3, "21.5 C Er-13 25.5 C "},
        {"sim:21.5,-,25.5", false, true, 1, 3, 3, "70.7 F Er-13 77.9 F "},
        {"sim:21.5,-,25.5", true, false, 1, 3, 3, "21.5\xB0" "C Er-13 25.5\xB0" "C "},
        {"sim:21.5,-,25.5", true, true, 3, 3, 3, "77.9\xB0" "F "},
        {"sim:0,-0.5,-25,125", false, false, 1, 4, 3, " 0.0 C -0.5 C -25.0 C 125.0 C "},
        {"sim:-25", false, true, 1, 1, 3, "-13.0 F "},
        {"sim:20,nak", false, false, 1, 2, 3, "20.0 C Er-12 "},
        {"sim:hold,20", false, false, 1, 2, 3, "Er-11 Er-11 "},
        {"sim:21.5", false, false, 1, 1, 5, "Er-14 "},
        {"sim:21.5", false, false, 2, 1, 3, ""},
        {"sim:1,2,3,4,5,6,7,8", false, false, 6, 8, 3, " 6.0 C  7.0 C  8.0 C "},
        {"sim:-55,-55,-55,-55,-55,-55,-55,-55", true, true, 1, 8, 3,
         "-67.0\xB0" "F -67.0\xB0" "F -67.0\xB0" "F -67.0\xB0" "F -67.0\xB0" "F -67.0\xB0" "F "
         "-67.0\xB0" "F -67.0\xB0" "F "},
    };
    for (const auto& c : cases) {
        ScopedEnv com3("KELVARA_COM3", c.device);
        std::string got = format_readings(c.html, c.fahrenheit, c.first, c.last, c.com_port);
        EXPECT_EQ(got, c.expected) << c.device << " " << c.first << "-" << c.last;
    }
}

TEST(FormatReadings, PortHeldElsewhereGivesErrorEntries)
{
    ScopedEnv com2("KELVARA_COM2", "sim:21.5,22");
    DS1621Sensor holder;
    holder.open(2);
    EXPECT_STREQ(format_readings(false, false, 1, 2, 2), "Er-14 Er-14 ");
    holder.close();
    EXPECT_STREQ(format_readings(false, false, 1, 2, 2), "21.5 C 22.0 C ");
}

}  // namespace
}  // namespace kelvara
