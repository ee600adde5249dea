// kvpage behind a real web server, and its page in a real browser.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/cgi/web_server.h"
#include "tests/support/test_env.h"

namespace kelvara {
namespace {

namespace fs = std::filesystem;

const char COM3_DEVICE[] = "sim:21.5,-,25.5";
const char DEGREE_UTF8[] = "\xC2\xB0";

std::string lighttpd_or_skip_reason(std::string& path)
{
    path = test::find_program("lighttpd", {"/usr/sbin/lighttpd", "/usr/bin/lighttpd"});
    return path.empty() ? "lighttpd is not installed (scripts/install-deps.sh installs it)" : "";
}

std::string get_request(int port, const std::string& target)
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
           "\r\nConnection: close\r\n\r\n";
}

bool has_header(const std::string& headers, const std::string& line)
{
    return headers.find("\r\n" + line + "\r\n") != std::string::npos;
}

TEST(KvpageUnderLighttpd, AnswersGetAndPost)
{
    std::string lighttpd;
    if (std::string reason = lighttpd_or_skip_reason(lighttpd); !reason.empty())
        GTEST_SKIP() << reason;
    test::WebServer server(lighttpd, test::temp_dir() + "/lighttpd", COM3_DEVICE);
    ASSERT_TRUE(server.ready()) << server.problem();
    const int port = server.port();

    auto plain = test::http_exchange(port, get_request(port, "/kvpage?what=1-3"));
    EXPECT_EQ(plain.status, 200) << plain.headers;
    EXPECT_TRUE(has_header(plain.headers, "Content-type: text/plain")) << plain.headers;
    EXPECT_EQ(plain.body, "21.5 C Er-13 25.5 C \n");

    const std::string form = "format=html&what=1-3&unit=far";
    auto page = test::http_exchange(
        port, "POST /kvpage HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                  "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                  std::to_string(form.size()) + "\r\nConnection: close\r\n\r\n" + form);
    EXPECT_EQ(page.status, 200) << page.headers;
    EXPECT_TRUE(has_header(page.headers, "Content-type: text/html")) << page.headers;
    EXPECT_NE(page.body.find("70.7\xB0" "F Er-13 77.9\xB0" "F "), std::string::npos) << page.body;
    EXPECT_NE(page.body.find("= 5000;"), std::string::npos) << page.body;
    EXPECT_EQ(page.body.find("'RESULTS'"), std::string::npos);

    auto refused = test::http_exchange(port, get_request(port, "/skeleton.html"));
    EXPECT_EQ(refused.status, 403) << "only kvpage is served";
}

TEST(KvpageInChromium, ShowsTheReadingsWithDegreeSigns)
{
    std::string lighttpd;
    if (std::string reason = lighttpd_or_skip_reason(lighttpd); !reason.empty())
        GTEST_SKIP() << reason;
    const std::string chromium =
        test::find_program("chromium", {"/usr/bin/chromium", "/usr/bin/chromium-browser"});
    if (chromium.empty())
        GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh installs it)";

    test::WebServer server(lighttpd, test::temp_dir() + "/lighttpd", COM3_DEVICE);
    ASSERT_TRUE(server.ready()) << server.problem();
    // A long reload, so the page stays put while the browser looks at it.
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) +
                            "/kvpage?format=html&what=1-3&reload=600000";

    auto browse = [&](const std::string& profile, const std::string& action) {
        const std::string home = test::temp_dir() + "/" + profile;
        fs::create_directories(home + "/data");
        test::ChildCommand command;
        command.argv = {chromium,
                     "--headless",
                     "--no-sandbox",
                     "--disable-gpu",
                     "--disable-background-networking",
                     "--disable-component-update",
                     "--disable-sync",
                     "--no-first-run",
                     "--disable-quic",
                     "--user-data-dir=" + home + "/data",
                     "--window-size=1024,768",
                     action,
                     url};
        command.env = test::current_environment();
        test::set_env_entry(command.env, "HOME", home);
        return test::run_child(command, std::chrono::seconds(90));
    };

    auto dom = browse("dump", "--dump-dom");
    ASSERT_FALSE(dom.timed_out) << "chromium did not finish";
    EXPECT_EQ(dom.exit_status, 0) << dom.err;
    const std::string readings =
        std::string("21.5") + DEGREE_UTF8 + "C Er-13 25.5" + DEGREE_UTF8 + "C ";
    EXPECT_NE(dom.out.find(readings), std::string::npos) << dom.out;
    EXPECT_NE(dom.out.find("id=\"interval\">600<"), std::string::npos) << dom.out;

    // Kept in the build tree for a person to look at.
    const std::string shot = (fs::path(test::bin_dir()).parent_path() / "kvpage-screenshot.png").string();
    std::error_code ignored;
    fs::remove(shot, ignored);
    auto picture = browse("shot", "--screenshot=" + shot);
    ASSERT_FALSE(picture.timed_out) << "chromium did not finish";
    EXPECT_EQ(picture.exit_status, 0) << picture.err;
    std::ifstream png(shot, std::ios::binary);
    char signature[8] = {};
    png.read(signature, sizeof signature);
    EXPECT_EQ(std::string(signature, sizeof signature), "\x89PNG\r\n\x1A\n") << shot;
}

}  // namespace
}  // namespace kelvara
