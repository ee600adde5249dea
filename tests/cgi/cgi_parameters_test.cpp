#include "cgi/cgi_parameters.h"

#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_env.h"

namespace kelvara {
namespace {

using test::ScopedEnv;
using Parameter = std::pair<std::string, std::optional<std::string>>;

// Reads the parameters of a request with this environment and body, and
// copies them out before handing the arrays back.
std::vector<Parameter> read_request(std::optional<std::string> method,
                                    std::optional<std::string> query,
                                    std::optional<std::string> content_length,
                                    const std::string& body, std::istream* input = nullptr)
{
    ScopedEnv m("REQUEST_METHOD", std::move(method));
    ScopedEnv q("QUERY_STRING", std::move(query));
    ScopedEnv c("CONTENT_LENGTH", std::move(content_length));
    std::istringstream body_stream(body);
    char** names = nullptr;
    char** values = nullptr;
    int count = read_cgi_parameters(names, values, input != nullptr ? *input : body_stream);
    std::vector<Parameter> result;
    for (int i = 0; i < count; ++i) {
        EXPECT_NE(names[i], nullptr);
        result.emplace_back(names[i] != nullptr ? names[i] : "(null name)",
                            values[i] != nullptr ? std::optional<std::string>(values[i])
                                                 : std::nullopt);
    }
    if (count == 0) {
        EXPECT_EQ(names, nullptr);
        EXPECT_EQ(values, nullptr);
    }
    free_cgi_parameters(names, values, count);
    return result;
}

std::string describe(const std::vector<Parameter>& parameters)
{
    std::string text;
    for (const auto& [name, value] : parameters)
        text += "[" + name + (value ? "=" + *value : std::string(" (no value)")) + "]";
    return text;
}

TEST(ReadCgiParameters, SplitsAndDecodesEveryKindOfRequest)
{
    const std::optional<std::string> unset;
    struct Case {
        const char* what;
        std::optional<std::string> method;
        std::optional<std::string> query;
        std::optional<std::string> content_length;
        std::string body;
        std::vector<Parameter> expected;
    } cases[] = {
        {"two parameters in order", "GET", "format=html&what=2-5", unset, "",
         {{"format", "html"}, {"what", "2-5"}}},
        {"empty query", "GET", "", unset, "", {}},
        {"only separators", "GET", "&&&", unset, "", {}},
        {"empty pieces skipped", "GET", "&&reload=900&", unset, "", {{"reload", "900"}}},
        {"equals last: no value", "GET", "x=", unset, "", {{"x", std::nullopt}}},
        {"no equals: no value", "GET", "html", unset, "", {{"html", std::nullopt}}},
        {"empty name", "GET", "=5", unset, "", {{"", "5"}}},
        {"later equals belong to the value", "GET", "a=b=c", unset, "", {{"a", "b=c"}}},
        {"encoded plus and equals", "GET", "t=1%2B1+%3D+2", unset, "", {{"t", "1+1 = 2"}}},
        {"encoded ampersand", "GET", "n%61me=v%26w", unset, "", {{"name", "v&w"}}},
        {"encoded equals in a name", "GET", "a%3Db=c", unset, "", {{"a=b", "c"}}},
        {"plus in name and value", "GET", "a+b=c+d", unset, "", {{"a b", "c d"}}},
        {"a name twice", "GET", "format=html&format=text", unset, "",
         {{"format", "html"}, {"format", "text"}}},
        {"bytes above 127 pass", "GET", "d=%B0%b0", unset, "", {{"d", "\xB0\xB0"}}},
        {"malformed escape", "GET", "v=%4G", unset, "", {{"v", "\x04"}}},
        {"escape without digits ends the text", "GET", "v=a%zzb", unset, "", {{"v", "a"}}},
        {"trailing percent", "GET", "v=ab%", unset, "", {{"v", "ab%"}}},
        {"percent and one byte", "GET", "v=ab%4&w=1", unset, "", {{"v", "ab%4"}, {"w", "1"}}},
        {"other method reads the query", "HEAD", "what=4", unset, "what=5", {{"what", "4"}}},
        {"lower-case post is not POST", "post", "what=1", "6", "what=7", {{"what", "1"}}},
        {"no method", unset, "what=1", "6", "what=7", {}},
        {"GET without a query", "GET", unset, unset, "", {}},
        {"POST reads the body", "POST", "what=1", "8", "what=3-7", {{"what", "3-7"}}},
        {"POST stops at the length", "POST", unset, "6", "what=3-7", {{"what", "3"}}},
        {"POST keeps the line feed", "POST", unset, "12", "format=html\n",
         {{"format", "html\n"}}},
        {"POST reads one line only", "POST", unset, "100", "what=2-4\nformat=html\n",
         {{"what", "2-4\n"}}},
        {"POST body shorter than its length", "POST", unset, "50", "unit=far", {{"unit", "far"}}},
        {"POST with an empty body", "POST", unset, "10", "", {}},
        {"POST length with spaces and sign", "POST", unset, " +4", "a=bcdef", {{"a", "bc"}}},
        {"POST length of 0", "POST", unset, "0", "what=2", {}},
        {"POST length not a number", "POST", unset, "abc", "what=2", {}},
        {"POST without a length", "POST", "what=1", unset, "what=2", {}},
        {"POST with a negative length", "POST", unset, "-5", "what=2", {}},
    };
    for (const auto& c : cases) {
        auto got = read_request(c.method, c.query, c.content_length, c.body);
        EXPECT_EQ(got, c.expected) << c.what << ": got " << describe(got);
    }
}

TEST(ReadCgiParameters, NegativeLengthLeavesTheBodyUnread)
{
    std::istringstream body("what=2");
    read_request("POST", std::nullopt, "-1", "", &body);
    EXPECT_EQ(body.get(), 'w');
}

TEST(ReadCgiParameters, HugeLengthReadsAtMostTheCap)
{
    std::string body = "v=" + std::string(MAX_CGI_BODY + 100, 'a');
    auto got = read_request("POST", std::nullopt, "2000000000", body);
    ASSERT_EQ(got.size(), 1u);
    ASSERT_TRUE(got[0].second);
    EXPECT_EQ(got[0].second->size(), static_cast<std::size_t>(MAX_CGI_BODY) - 2);
}

TEST(UrlDecode, DecodesInPlace)
{
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"a+b", "a b"},     {"%41%62", "Ab"},   {"%7e", "~"},     {"a%20b+c", "a b c"},
        {"%4G", "\x04"},     {"%zz", ""},        {"% 9", "\x09"},  {"%+A", "\x0A"},
        {"%-1", "\xFF"},    {"%", "%"},         {"%4", "%4"},     {"x%", "x%"},
        {"100%", "100%"},   {"%%41", ""},       {"plain", "plain"}, {"", ""},
        {"++", "  "},       {"%2B%2b", "++"},   {"%C3%A9", "\xC3\xA9"},
    };
    for (const auto& c : cases) {
        std::string buffer(c.text);
        url_decode(buffer.data());
        EXPECT_STREQ(buffer.c_str(), c.expected) << c.text;
    }
}

TEST(UrlDecode, NeverReadsPastTheTerminator)
{
    // Bytes after the terminator would decode to 'A' if they were taken.
    char text[] = {'a', '%', '4', '\0', '1', '\0'};
    url_decode(text);
    EXPECT_STREQ(text, "a%4");
    EXPECT_EQ(text[4], '1');
}

}  // namespace
}  // namespace kelvara
