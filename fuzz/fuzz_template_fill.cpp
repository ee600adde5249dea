// kvpage's template filling: bytes 0-3 are the reload time (a big-endian
// 32-bit int, any value), then the readings text up to the first 0x00, and
// the rest is the template, NULs and all. The page written must be what a
// plain model of the rules gives: the template cut into pieces (through a line
// feed, or 1023 bytes), and in each piece only a token that starts at its
// first apostrophe replaced.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "cgi/page.h"

namespace {

using namespace kelvara;

constexpr std::size_t PIECE_LIMIT = 1023;

std::string model_page(const std::string& page_template, const std::string& readings, int reload)
{
    char reload_text[16];
    std::snprintf(reload_text, sizeof reload_text, "%d", reload);
    const std::string results_token = "'RESULTS'";
    const std::string reload_token = "'RELOAD_TIME'";

    std::string page;
    for (std::size_t at = 0; at < page_template.size();) {
        std::size_t length = std::min(PIECE_LIMIT, page_template.size() - at);
        const std::size_t line_feed = page_template.find('\n', at);
        if (line_feed != std::string::npos && line_feed - at < length)
            length = line_feed - at + 1;
        std::string piece = page_template.substr(at, length);
        at += length;

        const std::size_t apostrophe = piece.find('\'');
        if (apostrophe != std::string::npos) {
            if (piece.compare(apostrophe, results_token.size(), results_token) == 0)
                piece.replace(apostrophe, results_token.size(), readings);
            else if (piece.compare(apostrophe, reload_token.size(), reload_token) == 0)
                piece.replace(apostrophe, reload_token.size(), reload_text);
        }
        page += piece;
    }
    return page;
}

[[noreturn]] void fail(const char* what, std::size_t at, std::size_t got, std::size_t expected)
{
    std::fprintf(stderr, "invariant broken: %s (at %zu: got %zu bytes, expected %zu)\n", what, at,
                 got, expected);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    const auto reload = static_cast<int>(static_cast<std::uint32_t>(data[0]) << 24 |
                                         static_cast<std::uint32_t>(data[1]) << 16 |
                                         static_cast<std::uint32_t>(data[2]) << 8 | data[3]);
    const char* begin = reinterpret_cast<const char*>(data + 4);
    const char* end = reinterpret_cast<const char*>(data + size);
    const char* nul = std::find(begin, end, '\0');
    const std::string readings(begin, nul);
    const std::string page_template(nul == end ? end : nul + 1, end);

    std::istringstream in(page_template);
    std::ostringstream out;
    fill_template(in, out, readings.c_str(), reload);
    if (!out)
        fail("output stream failed", 0, 0, 0);

    const std::string page = out.str();
    const std::string expected = model_page(page_template, readings, reload);
    if (page != expected) {
        const auto differ = std::mismatch(page.begin(), page.end(), expected.begin(), expected.end());
        fail("page differs from the model", static_cast<std::size_t>(differ.first - page.begin()),
             page.size(), expected.size());
    }
    return 0;
}
