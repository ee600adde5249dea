// kvpage in hostile environments: huge query strings and bodies, lengths
// that lie, every byte value in names, values and the template, and template
// lines of 100,000 bytes. Each run must answer within its sweep time and a
// margin, exit with 0, write a proper response, and stay small. Prints its
// figures on lines that begin with "[reliability] ".

#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cgi/page.h"
#include "tests/support/child_process.h"
#include "tests/reliability/measured_run.h"
#include "tests/support/test_env.h"

namespace kelvara {
namespace {

using namespace std::chrono_literals;

const char* const BUS = "sim:21.5,-,25.5";
constexpr double TIME_LIMIT_S = 3.0;  // a sweep is about 0.55 s
// Peak resident memory of a run; it includes the pages of this test that
// the fork copied, so it is checked only where those are small (no sanitizer).
constexpr long MEMORY_LIMIT_KIB = 32 * 1024;
// What a run may add to the copy it started from, in any build.
constexpr long GROWTH_LIMIT_KIB = 16 * 1024;

const std::string PLAIN = "Content-type: text/plain\n\n";
const std::string PLAIN_ONE_TO_THREE = PLAIN + "21.5 C Er-13 25.5 C \n";
const std::string PLAIN_FIRST = PLAIN + "21.5 C \n";
const std::string HTML_READINGS = "21.5\xB0" "C Er-13 25.5\xB0" "C ";
const std::string BUILTIN_ONE_TO_THREE = std::string("Content-type: text/html\n\n") + FALLBACK_PAGE_HEAD + "\n" +
                                         HTML_READINGS + "\n" + FALLBACK_PAGE_TAIL + "\n";

// The longest single environment entry Linux passes to a program
// (MAX_ARG_STRLEN, 32 pages, with its NUL): a web server cannot hand kvpage a
// longer QUERY_STRING, so the 1 MiB case runs kvpage's code in-process below.
constexpr std::size_t LONGEST_QUERY = 32 * 4096 - sizeof "QUERY_STRING=";

// text repeated up to exactly size bytes, after head.
std::string filled(std::string head, const std::string& text, std::size_t size)
{
    while (head.size() < size)
        head += text;
    head.resize(size);
    return head;
}

// Every byte from 1 to 255 but those listed.
std::string raw_bytes(const std::string& except)
{
    std::string bytes;
    for (int b = 1; b < 256; ++b) {
        if (except.find(static_cast<char>(b)) == std::string::npos)
            bytes += static_cast<char>(b);
    }
    return bytes;
}

// Every byte 0 to 255 percent-encoded, once as a name and once as a value.
std::string encoded_bytes()
{
    std::string query;
    char escape[4];
    for (int b = 0; b < 256; ++b) {
        std::snprintf(escape, sizeof escape, "%%%02X", b);
        query += std::string(escape) + "=v&n=" + escape + "&";
    }
    return query;
}

// The template of long lines, and what kvpage makes of it for reload 900.
struct LongTemplate {
    std::string text;
    std::string page;
};

LongTemplate long_line_template()
{
    constexpr std::size_t LINE = 100000;
    const std::string header = "Content-type: text/html\n\n";
    // No apostrophe: copied as it is.
    const std::string plain = std::string(LINE, 'a') + "\n";
    // The token opens the line, so it opens the first 1023-byte piece.
    const std::string results = "'RESULTS'" + std::string(LINE - 9, 'b') + "\n";
    // The token straddles the first cut at 1023 bytes: written unchanged.
    const std::string straddling = filled(std::string(1020, 'c') + "'RELOAD_TIME'", "c", LINE) + "\n";
    // The token opens the sixth piece of its line.
    const std::string reload_head = std::string(5 * 1023, 'd');
    const std::string reload = filled(reload_head + "'RELOAD_TIME'", "d", LINE) + "\n";
    const std::string reloaded = reload_head + "900" + reload.substr(reload_head.size() + 13);
    return {plain + results + straddling + reload,
            header + plain + HTML_READINGS + results.substr(9) + straddling + reloaded};
}

// Two lines of 100,000 bytes holding every byte value, the line feed aside,
// and apostrophes that start no token: the template comes out unchanged.
std::string every_byte_template()
{
    std::string line;
    for (std::size_t i = 0; i < 100000; ++i) {
        const auto b = static_cast<char>((i * 7) % 256);
        line += b == '\n' ? '\t' : b;
    }
    return line + "\n" + line + "\n";
}

struct HostileCase {
    std::string name;
    std::vector<std::pair<std::string, std::string>> env;
    std::string input;          // standard input, the POST body
    std::string page_template;  // skeleton.html in kvpage's folder when not empty
    std::string expected;
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

std::vector<HostileCase> hostile_cases()
{
    const std::string get = "GET";
    const LongTemplate long_lines = long_line_template();
    const std::string every_byte = every_byte_template();
    return {
        // Not hostile: the figures of an ordinary request, to compare with.
        {"reference_request",
         {{"REQUEST_METHOD", get}, {"QUERY_STRING", "what=1-3"}},
         "",
         "",
         PLAIN_ONE_TO_THREE},
        {"query_of_many_parameters",
         {{"REQUEST_METHOD", get}, {"QUERY_STRING", filled("what=1-3&", "x&", LONGEST_QUERY)}},
         "",
         "",
         PLAIN_ONE_TO_THREE},
        {"query_of_empty_parameters",
         {{"REQUEST_METHOD", get}, {"QUERY_STRING", filled("what=1-3", "&", LONGEST_QUERY)}},
         "",
         "",
         PLAIN_ONE_TO_THREE},
        {"query_of_one_huge_value",
         {{"REQUEST_METHOD", get}, {"QUERY_STRING", filled("what=1-3&format=", "html", LONGEST_QUERY)}},
         "",
         "",
         PLAIN_ONE_TO_THREE},
        {"query_of_escapes",
         {{"REQUEST_METHOD", get}, {"QUERY_STRING", filled("what=1-3&q=", "%41%zz%4+%-1%", LONGEST_QUERY)}},
         "",
         "",
         PLAIN_ONE_TO_THREE},
        // Raw bytes, '&' and '=' among them, in names and values.
        {"query_of_raw_bytes",
         {{"REQUEST_METHOD", get},
          {"QUERY_STRING", "what=1-3&" + raw_bytes("") + "=" + raw_bytes("") + "&format=html"}},
         "",
         "",
         BUILTIN_ONE_TO_THREE},
        {"query_of_encoded_bytes",
         {{"REQUEST_METHOD", get}, {"QUERY_STRING", "what=1-3&" + encoded_bytes() + "format=html"}},
         "",
         "",
         BUILTIN_ONE_TO_THREE},
        {"post_with_length_of_int_max_and_short_body",
         {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "2147483647"}},
         "format=html&what=1-3",
         "",
         BUILTIN_ONE_TO_THREE},
        {"post_with_length_beyond_int",
         {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "99999999999999999999"}},
         "what=1-3\n",
         "",
         PLAIN_ONE_TO_THREE},
        {"post_with_negative_length",
         {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "-1"}},
         "what=1-3\n",
         "",
         PLAIN_FIRST},
        {"post_of_one_mebibyte",
         {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "1048576"}},
         filled("what=1-3&", "x&", 1 << 20),
         "",
         PLAIN_ONE_TO_THREE},
        // A NUL ends the text like a line feed would; what follows is not read.
        {"post_of_raw_bytes_with_nul",
         {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "100000"}},
         "what=1-3&format=html&" + raw_bytes("\n") + "=" + raw_bytes("\n") + std::string(1, '\0') +
             "&unit=far\n",
         "",
         BUILTIN_ONE_TO_THREE},
        {"template_of_long_lines",
         {{"REQUEST_METHOD", get}, {"QUERY_STRING", "format=html&what=1-3&reload=900"}},
         "",
         long_lines.text,
         long_lines.page},
        {"template_of_every_byte",
         {{"REQUEST_METHOD", get}, {"QUERY_STRING", "format=html&what=1-3"}},
         "",
         every_byte,
         "Content-type: text/html\n\n" + every_byte},
    };
}

double mib(long kib) { return static_cast<double>(kib) / 1024.0; }

void report(const std::string& name, const test::MeasuredRun& run)
{
    std::printf("[reliability] kvpage %s: exit %d, %.2f s, peak %.1f MiB, %zu bytes out\n", name.c_str(),
                run.exit_status, run.seconds, mib(run.peak_kib), run.out.size());
    std::fflush(stdout);
}

void report_job(const std::string& name, const test::MeasuredRun& run)
{
    std::printf("[reliability] kvpage in-process %s: %.2f s, peak %.1f MiB of which %.1f MiB the test's own, "
                "%zu bytes out\n",
                name.c_str(), run.seconds, mib(run.peak_kib), mib(run.start_kib), run.out.size());
    std::fflush(stdout);
}

class KvpageHostile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(KvpageHostile, AnswersInTimeWithAProperResponseAndBoundedMemory)
{
    const HostileCase& c = GetParam();
    // A folder of its own, holding the template when the case has one.
    const std::string folder = test::temp_dir() + "/" + c.name;
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    if (!c.page_template.empty()) {
        std::ofstream(folder + "/skeleton.html", std::ios::binary) << c.page_template;
    }
    test::ChildCommand command;
    command.argv = {test::bin_dir() + "/kvpage"};
    command.env = test::current_environment();
    test::set_env_entry(command.env, "KELVARA_COM3", BUS);
    for (const auto& [name, value] : c.env)
        test::set_env_entry(command.env, name, value);
    command.cwd = folder;
    command.input = c.input;

    const test::MeasuredRun run = test::run_measured(command, 10s);
    report(c.name, run);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_LT(run.seconds, TIME_LIMIT_S);
    EXPECT_LT(run.peak_kib, MEMORY_LIMIT_KIB);
    EXPECT_EQ(run.err, "");
    // Compared in pieces, so that a failure does not print 400 kB.
    EXPECT_EQ(run.out.size(), c.expected.size());
    EXPECT_EQ(run.out.substr(0, 200), c.expected.substr(0, 200));
    EXPECT_TRUE(run.out == c.expected) << "the responses differ after their first 200 bytes";
}

INSTANTIATE_TEST_SUITE_P(Cases, KvpageHostile, ::testing::ValuesIn(hostile_cases()),
                         [](const ::testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

// A web server that stops reading (its client went away) leaves kvpage
// writing into a pipe without a reader; kvpage still ends with status 0.
TEST(KvpageHostileOutput, ReaderThatHasGoneStillGivesExitStatusZero)
{
    test::ChildCommand command;
    // The shell reports kvpage's status on stderr; "true" ends at once, long
    // before kvpage's sweep is over and its first byte is written. SIGPIPE
    // goes back to its default, which a web server leaves it at and which
    // this test process does not.
    command.argv = {"/bin/sh", "-c",
                    "{ /usr/bin/env --default-signal=PIPE \"$0\"; echo \"kvpage exit $?\" >&2; } | true",
                    test::bin_dir() + "/kvpage"};
    command.env = test::current_environment();
    test::set_env_entry(command.env, "KELVARA_COM3", BUS);
    test::set_env_entry(command.env, "REQUEST_METHOD", "GET");
    test::set_env_entry(command.env, "QUERY_STRING", "format=html&what=1-3");
    const test::ChildResult result = run_child(command, 10s);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.err, "kvpage exit 0\n");
}

// A QUERY_STRING of 1 MiB cannot reach the program through exec, but nothing
// stops another way of starting it from handing one over: kvpage's own code
// takes it here, in a forked copy of the test.
struct MebibyteCase {
    const char* name;
    std::string (*query)();
};

void PrintTo(const MebibyteCase& c, std::ostream* os) { *os << c.name; }

class KvpageMebibyteQuery : public ::testing::TestWithParam<MebibyteCase> {};

TEST_P(KvpageMebibyteQuery, IsAnsweredInTimeWithBoundedMemory)
{
    const MebibyteCase& c = GetParam();
    const test::MeasuredRun run = test::run_measured(
        [&c]() {
            ::setenv("KELVARA_COM3", BUS, 1);
            ::setenv("REQUEST_METHOD", "GET", 1);
            ::setenv("QUERY_STRING", c.query().c_str(), 1);
            std::istringstream input;
            std::ostringstream out;
            const int status = run_kvpage(input, out);
            return status == 0 ? out.str() : "exit status " + std::to_string(status);
        },
        10s);
    report_job(c.name, run);
    ASSERT_TRUE(run.finished);
    EXPECT_LT(run.seconds, TIME_LIMIT_S);
    if (!test::address_sanitizer_build()) {
        EXPECT_LT(run.peak_kib, MEMORY_LIMIT_KIB);
    }
    EXPECT_LT(run.peak_kib - run.start_kib, GROWTH_LIMIT_KIB);
    EXPECT_EQ(run.out, PLAIN_ONE_TO_THREE);
}

constexpr std::size_t MEBIBYTE = 1 << 20;

INSTANTIATE_TEST_SUITE_P(
    Cases, KvpageMebibyteQuery,
    ::testing::Values(
        MebibyteCase{"query_of_many_parameters", [] { return filled("what=1-3&", "x&", MEBIBYTE); }},
        MebibyteCase{"query_of_pairs", [] { return filled("what=1-3&", "a=b&", MEBIBYTE); }},
        MebibyteCase{"query_of_one_huge_value", [] { return filled("what=1-3&format=", "html", MEBIBYTE); }}),
    [](const ::testing::TestParamInfo<MebibyteCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kelvara
