#include "cgi/page.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace kelvara {
namespace {

using Parameter = std::pair<const char*, const char*>;  // a null value: no value

PageSettings settings_for(const char* therm_port, const std::vector<Parameter>& parameters)
{
    std::vector<std::string> storage;
    std::vector<char*> names;
    std::vector<char*> values;
    storage.reserve(parameters.size() * 2);
    for (const auto& [name, value] : parameters) {
        storage.emplace_back(name);
        names.push_back(storage.back().data());
        if (value == nullptr) {
            values.push_back(nullptr);
        } else {
            storage.emplace_back(value);
            values.push_back(storage.back().data());
        }
    }
    return decide_settings(therm_port, names.data(), values.data(),
                           static_cast<int>(parameters.size()));
}

TEST(DecideSettings, FollowsTheParametersInOrder)
{
    struct Case {
        const char* what;
        const char* therm_port;  // null: not set
        std::vector<Parameter> parameters;
        bool html;
        bool fahrenheit;
        int first;
        int last;
        int com_port;
        int reload;
    } cases[] = {
        {"defaults", nullptr, {}, false, false, 1, 1, 3, 5000},
        {"what one sensor", nullptr, {{"what", "3"}}, false, false, 3, 3, 3, 5000},
        {"what a range", nullptr, {{"what", "2-5"}}, false, false, 2, 5, 3, 5000},
        {"what reversed", nullptr, {{"what", "5-2"}}, false, false, 5, 5, 3, 5000},
        {"what last too big", nullptr, {{"what", "2-9"}}, false, false, 2, 2, 3, 5000},
        {"what both outside", nullptr, {{"what", "0-9"}}, false, false, 1, 1, 3, 5000},
        {"what half read", nullptr, {{"what", "3-x"}}, false, false, 3, 3, 3, 5000},
        {"what builds on the earlier one", nullptr, {{"what", "2-6"}, {"what", "4"}}, false, false,
         4, 6, 3, 5000},
        {"what not a number", nullptr, {{"what", "all"}}, false, false, 1, 1, 3, 5000},
        {"what without value", nullptr, {{"what", nullptr}}, false, false, 1, 1, 3, 5000},
        {"what full range", nullptr, {{"what", "1-8"}}, false, false, 1, 8, 3, 5000},
        {"reload below the minimum", nullptr, {{"reload", "300"}}, false, false, 1, 1, 3, 5000},
        {"reload at the minimum", nullptr, {{"reload", "500"}}, false, false, 1, 1, 3, 500},
        {"reload not a number", nullptr, {{"reload", "abc"}}, false, false, 1, 1, 3, 5000},
        {"last reload wins", nullptr, {{"reload", "900"}, {"reload", "200"}}, false, false, 1, 1, 3,
         5000},
        {"reload without value skipped", nullptr, {{"reload", "900"}, {"reload", nullptr}}, false,
         false, 1, 1, 3, 900},
        {"THERM_PORT over port", "2", {{"port", "4"}}, false, false, 1, 1, 2, 5000},
        {"first nonzero port wins", nullptr, {{"port", "4"}, {"port", "1"}}, false, false, 1, 1, 4,
         5000},
        {"port 0 leaves the way open", nullptr, {{"port", "0"}, {"port", "2"}}, false, false, 1, 1, 2,
         5000},
        {"THERM_PORT not a number", "abc", {{"port", "4"}}, false, false, 1, 1, 4, 5000},
        {"THERM_PORT empty", "", {}, false, false, 1, 1, 3, 5000},
        {"THERM_PORT with spaces", " 1", {}, false, false, 1, 1, 1, 5000},
        {"port outside 1 to 4 passed on", nullptr, {{"port", "9"}}, false, false, 1, 1, 9, 5000},
        {"html", nullptr, {{"format", "html"}}, true, false, 1, 1, 3, 5000},
        {"html stays on", nullptr, {{"format", "html"}, {"format", "text"}}, true, false, 1, 1, 3,
         5000},
        {"HTML is not html", nullptr, {{"format", "HTML"}}, false, false, 1, 1, 3, 5000},
        {"html with a line feed", nullptr, {{"format", "html\n"}}, false, false, 1, 1, 3, 5000},
        {"Fahrenheit", nullptr, {{"unit", "far"}}, false, true, 1, 1, 3, 5000},
        {"FAR is not far", nullptr, {{"unit", "FAR"}}, false, false, 1, 1, 3, 5000},
        {"names are case-sensitive", nullptr, {{"Format", "html"}, {"UNIT", "far"}}, false, false,
         1, 1, 3, 5000},
        {"unknown names ignored", nullptr, {{"colour", "red"}, {"", "5"}}, false, false, 1, 1, 3,
         5000},
        {"everything", "1",
         {{"format", "html"}, {"unit", "far"}, {"what", "2-7"}, {"port", "4"}, {"reload", "10000"}},
         true, true, 2, 7, 1, 10000},
    };
    for (const auto& c : cases) {
        PageSettings s = settings_for(c.therm_port, c.parameters);
        EXPECT_EQ(s.html, c.html) << c.what;
        EXPECT_EQ(s.fahrenheit, c.fahrenheit) << c.what;
        EXPECT_EQ(s.first, c.first) << c.what;
        EXPECT_EQ(s.last, c.last) << c.what;
        EXPECT_EQ(s.com_port, c.com_port) << c.what;
        EXPECT_EQ(s.reload, c.reload) << c.what;
    }
}

}  // namespace
}  // namespace kelvara
