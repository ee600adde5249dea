// kvpage as a web server starts it: a CGI environment, the body on standard
// input, the current folder holding (or not) the template.

#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/test_env.h"

namespace kelvara {
namespace {

using Env = std::vector<std::pair<std::string, std::string>>;

const char FALLBACK_START[] = "Content-type: text/html\n\n<html><head><title>Vistrel</title>";

test::ChildResult run_kvpage_process(const Env& request, const std::string& cwd,
                                     const std::string& body = "")
{
    test::ChildCommand command;
    command.argv = {test::bin_dir() + "/kvpage"};
    // Only what a web server would hand over; every port simulated.
    command.env = {"TMPDIR=" + test::temp_dir(), "KELVARA_COM1=sim:", "KELVARA_COM2=sim:",
                "KELVARA_COM3=sim:", "KELVARA_COM4=sim:"};
    for (const auto& [name, value] : request)
        test::set_env_entry(command.env, name, value);
    command.cwd = cwd;
    command.input = body;
    return test::run_child(command, std::chrono::seconds(20));
}

std::string empty_folder()
{
    std::string dir = test::temp_dir() + "/no-template";
    std::filesystem::create_directories(dir);
    return dir;
}

TEST(KvpageProcess, AnswersEachRequestOnTheSimulatedBus)
{
    const std::string bins = test::bin_dir();
    const std::string bare = empty_folder();
    struct Case {
        const char* what;
        Env env;
        std::string cwd;
        std::string body;
        std::string expected;
    } cases[] = {
        {"GET a range",
         {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "what=1-3"},
          {"KELVARA_COM3", "sim:21.5,-,25.5"}},
         bins, "", "Content-type: text/plain\n\n21.5 C Er-13 25.5 C \n"},
        {"no CGI environment at all", {{"KELVARA_COM3", "sim:21.5,-,25.5"}}, bins, "",
         "Content-type: text/plain\n\n21.5 C \n"},
        {"POST body",
         {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "17"},
          {"KELVARA_COM3", "sim:21.5,-,25.5"}},
         bins, "what=2-3&unit=far", "Content-type: text/plain\n\nEr-13 77.9 F \n"},
        {"THERM_PORT over the port parameter",
         {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "port=3"}, {"THERM_PORT", "1"},
          {"KELVARA_COM1", "sim:19"}, {"KELVARA_COM3", "sim:30"}},
         bins, "", "Content-type: text/plain\n\n19.0 C \n"},
        {"port parameter",
         {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "port=2&what=2"},
          {"KELVARA_COM2", "sim:1,-0.5"}},
         bins, "", "Content-type: text/plain\n\n-0.5 C \n"},
        {"COM port that does not exist",
         {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "what=1-2"}, {"THERM_PORT", "7"}}, bins, "",
         "Content-type: text/plain\n\nEr-14 Er-14 \n"},
        {"built-in page without the template",
         {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "format=html&what=1-3"},
          {"KELVARA_COM3", "sim:21.5,-,25.5"}},
         bare, "",
         std::string(FALLBACK_START) +
             "<meta name=description content=Ombrisk Vistrel><meta name=keywords content=Ombrisk, "
             "WEB, thermometer></head><body><p align=center><font color=#000080><strong><big><big>"
             "Vistrel</big></big><br><big><big>by <em>Ombrisk</big></big><br></em></strong></font>"
             "<a href=http://thermometer.example/>http://thermometer.example/</a></p><hr><p "
             "align=center><big><big><big><big><strong><font color=#800000>\n"
             "21.5\xB0" "C Er-13 25.5\xB0" "C \n"
             "</font></strong></big></big></big></big></p><hr></body></html>\n"},
    };
    for (const auto& c : cases) {
        auto result = run_kvpage_process(c.env, c.cwd, c.body);
        ASSERT_TRUE(result.started) << c.what;
        EXPECT_FALSE(result.timed_out) << c.what;
        EXPECT_EQ(result.exit_status, 0) << c.what;
        EXPECT_EQ(result.err, "") << c.what;
        EXPECT_EQ(result.out, c.expected) << c.what;
    }
}

TEST(KvpageProcess, FillsTheShippedTemplateBesideIt)
{
    auto result = run_kvpage_process({{"REQUEST_METHOD", "GET"},
                                      {"QUERY_STRING", "format=html&what=1-3&reload=900"},
                                      {"KELVARA_COM3", "sim:21.5,-,25.5"}},
                                     test::bin_dir());
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.err, "");
    const std::string& page = result.out;
    EXPECT_EQ(page.rfind("Content-type: text/html\n\n<!DOCTYPE html>", 0), 0u) << page;
    EXPECT_NE(page.find("21.5\xB0" "C Er-13 25.5\xB0" "C "), std::string::npos) << page;
    EXPECT_NE(page.find("= 900;"), std::string::npos) << page;
    EXPECT_EQ(page.find("'RESULTS'"), std::string::npos);
    EXPECT_EQ(page.find("'RELOAD_TIME'"), std::string::npos);
}

}  // namespace
}  // namespace kelvara
