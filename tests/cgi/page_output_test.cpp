#include "cgi/page.h"

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/test_env.h"

namespace kelvara {
namespace {

std::string filled(const std::string& page_template, const char* readings, int reload)
{
    std::istringstream in(page_template);
    std::ostringstream out;
    fill_template(in, out, readings, reload);
    return out.str();
}

TEST(FillTemplate, ReplacesOnlyTheTokenAtTheFirstApostrophe)
{
    const char* readings = "21.5\xB0" "C Er-13 ";
    const std::string x1000(1000, 'x');
    struct Case {
        const char* what;
        std::string page_template;
        int reload;
        std::string expected;
    } cases[] = {
        {"results", "<p>'RESULTS'</p>\n", 5000, "<p>21.5\xB0" "C Er-13 </p>\n"},
        {"reload", "var ms = 'RELOAD_TIME';\n", 900, "var ms = 900;\n"},
        {"reload alone on its line", "'RELOAD_TIME'\n", 5000, "5000\n"},
        {"first token only", "'RESULTS' then 'RELOAD_TIME'\n", 5000,
         "21.5\xB0" "C Er-13  then 'RELOAD_TIME'\n"},
        {"same token twice", "'RESULTS''RESULTS'\n", 5000, "21.5\xB0" "C Er-13 'RESULTS'\n"},
        {"an ordinary apostrophe first", "It's 'RESULTS'\n", 5000, "It's 'RESULTS'\n"},
        {"tokens are case-sensitive", "'results' 'Reload_Time'\n", 5000,
         "'results' 'Reload_Time'\n"},
        {"token cut by the line end", "a 'RESULT\nS'\n", 5000, "a 'RESULT\nS'\n"},
        {"each line its own token", "a 'RESULTS'\nb 'RELOAD_TIME'\nc 'RESULTS'\n", 700,
         "a 21.5\xB0" "C Er-13 \nb 700\nc 21.5\xB0" "C Er-13 \n"},
        {"no token at all", "<html>\n<body>It's plain.</body>\n</html>",
         5000, "<html>\n<body>It's plain.</body>\n</html>"},
        {"empty template", "", 5000, ""},
        {"last line without line feed", "x='RELOAD_TIME'", 600, "x=600"},
        {"token filling the first piece exactly", std::string(1014, 'x') + "'RESULTS'\n", 5000,
         std::string(1014, 'x') + "21.5\xB0" "C Er-13 \n"},
        {"token cut at 1023 bytes", std::string(1020, 'x') + "'RESULTS'\n", 5000,
         std::string(1020, 'x') + "'RESULTS'\n"},
        {"token opening the second piece",
         x1000 + "'" + std::string(22, 'y') + "'RELOAD_TIME'\n", 800,
         x1000 + "'" + std::string(22, 'y') + "800\n"},
        {"long line cut twice",
         std::string(2046, 'z') + "'RESULTS' 'RESULTS'\n", 5000,
         std::string(2046, 'z') + "21.5\xB0" "C Er-13  'RESULTS'\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(filled(c.page_template, readings, c.reload), c.expected) << c.what;
}

const char BUILTIN_HEAD[] =
    "<html><head><title>Vistrel</title>"
    "<meta name=description content=Ombrisk Vistrel>"
    "<meta name=keywords content=Ombrisk, WEB, thermometer>"
    "</head><body><p align=center><font color=#000080><strong><big><big>Vistrel</big></big><br>"
    "<big><big>by <em>Ombrisk</big></big><br></em></strong></font>"
    "<a href=http://thermometer.example/>http://thermometer.example/</a>"
    "</p><hr><p align=center><big><big><big><big><strong><font color=#800000>";
const char BUILTIN_TAIL[] = "</font></strong></big></big></big></big></p><hr></body></html>";

TEST(WriteResponse, PlainTextLine)
{
    std::ostringstream out;
    PageSettings settings;
    write_response(out, settings, "21.5 C Er-13 25.5 C ", "no-such-template.html");
    EXPECT_EQ(out.str(), "Content-type: text/plain\n\n21.5 C Er-13 25.5 C \n");
}

TEST(WriteResponse, BuiltInPageWhenTheTemplateIsMissing)
{
    std::ostringstream out;
    PageSettings settings;
    settings.html = true;
    const std::string missing = test::temp_dir() + "/missing/skeleton.html";
    write_response(out, settings, "21.5\xB0" "C ", missing.c_str());
    EXPECT_EQ(out.str(), std::string("Content-type: text/html\n\n") + BUILTIN_HEAD + "\n21.5\xB0" "C \n" +
                             BUILTIN_TAIL + "\n");
}

TEST(WriteResponse, HtmlFromTheTemplateFile)
{
    const std::string path = test::temp_dir() + "/skeleton.html";
    {
        std::ofstream file(path, std::ios::binary);
        file << "<p>'RESULTS'</p>\n<script>var ms = 'RELOAD_TIME';</script>\n";
    }
    std::ostringstream out;
    PageSettings settings;
    settings.html = true;
    settings.reload = 5000;
    write_response(out, settings, "Er-14 ", path.c_str());
    EXPECT_EQ(out.str(), "Content-type: text/html\n\n<p>Er-14 </p>\n<script>var ms = 5000;</script>\n");
}

TEST(ShippedTemplate, CarriesBothTokensAtTheFirstApostrophe)
{
    // The copy the build puts beside kvpage.
    std::ifstream file(test::bin_dir() + "/skeleton.html", std::ios::binary);
    ASSERT_TRUE(file.is_open());
    std::ostringstream out;
    fill_template(file, out, "<<READINGS>>", 1234);
    const std::string page = out.str();
    EXPECT_NE(page.find("<<READINGS>>"), std::string::npos);
    EXPECT_NE(page.find("1234"), std::string::npos);
    EXPECT_EQ(page.find("'RESULTS'"), std::string::npos);
    EXPECT_EQ(page.find("'RELOAD_TIME'"), std::string::npos);
    EXPECT_NE(page.find("<meta charset=\"ISO-8859-1\">"), std::string::npos);
    EXPECT_NE(page.find("name=\"viewport\""), std::string::npos);
    for (unsigned char c : page)
        ASSERT_LT(c, 0x80) << "the template is plain ASCII";
}

}  // namespace
}  // namespace kelvara
