#pragma once
// kvpage's work for one request: its settings from THERM_PORT and the form
// parameters, one sensor sweep turned into a readings text, and the response
// (the page template filled in, the built-in page, or a plain-text line).

#include <iosfwd>

namespace kelvara {

inline constexpr int DEFAULT_COM_PORT = 3;
inline constexpr int DEFAULT_RELOAD_MS = 5000;
inline constexpr int MIN_RELOAD_MS = 500;
inline constexpr char TEMPLATE_FILE[] = "skeleton.html";
inline constexpr char HTML_HEADER[] = "Content-type: text/html\n\n";
inline constexpr char PLAIN_HEADER[] = "Content-type: text/plain\n\n";

// The two halves of the page written when the template can't be opened.
extern const char FALLBACK_PAGE_HEAD[];
extern const char FALLBACK_PAGE_TAIL[];

struct PageSettings {
    bool html = false;
    bool fahrenheit = false;
    int first = 1;
    int last = 1;
    int com_port = 0;
    int reload = 0;
};

// Settings from THERM_PORT's value (null when not set) and the parameters in
// request order, with the defaults applied: reload below 500 becomes 5000,
// COM port 0 becomes 3. Parameters without a value are skipped.
PageSettings decide_settings(const char* therm_port, char* const* names, char* const* values,
                             int count);

// One sweep on com_port: conversions started at all eight sensors, then one
// entry per sensor first to last, "%4.1f" with degree sign (0xB0 in HTML, a
// space otherwise) and unit letter, or "Er%3d" with the bus code; each entry
// ends with a space. Returns a static buffer that the next call overwrites.
const char* format_readings(bool html, bool fahrenheit, int first, int last, int com_port);

// The plain-text reply: header, readings, line feed.
void write_plain_reply(std::ostream& out, const char* readings);

// Copies the template to out piece by piece (a line, or 1023 bytes of a longer
// one). Where a piece's first apostrophe starts 'RESULTS' or 'RELOAD_TIME',
// that one token becomes the readings or the reload time in milliseconds.
void fill_template(std::istream& page_template, std::ostream& out, const char* readings,
                   int reload);

// The built-in page: head, readings, tail, each followed by a line feed.
void write_builtin_page(std::ostream& out, const char* readings);

// The whole response for these settings: plain text, or the HTML header and
// the template at template_path, or the built-in page when it can't be opened.
void write_response(std::ostream& out, const PageSettings& settings, const char* readings,
                    const char* template_path);

// Serves one request from the environment, with input as the POST body;
// writes the response to out and returns kvpage's exit status, always 0.
int run_kvpage(std::istream& input, std::ostream& out);

}  // namespace kelvara
