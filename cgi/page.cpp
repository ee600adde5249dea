#include "cgi/page.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>
#include <string>

#include "cgi/cgi_parameters.h"
#include "common/decimal.h"
#include "sensorbus/ds1621_sensor.h"

namespace kelvara {

const char FALLBACK_PAGE_HEAD[] =
    "<html><head><title>Vistrel</title>"
    "<meta name=description content=Ombrisk Vistrel>"
    "<meta name=keywords content=Ombrisk, WEB, thermometer>"
    "</head><body><p align=center><font color=#000080><strong><big><big>Vistrel</big></big><br>"
    "<big><big>by <em>Ombrisk</big></big><br></em></strong></font>"
    "<a href=http://thermometer.example/>http://thermometer.example/</a>"
    "</p><hr><p align=center><big><big><big><big><strong><font color=#800000>";

const char FALLBACK_PAGE_TAIL[] = "</font></strong></big></big></big></big></p><hr></body></html>";

namespace {

constexpr std::size_t BUFFER_SIZE = 1024;

// At most eight entries of at most nine bytes each: never full.
char result_text[BUFFER_SIZE];
// One piece of the template: up to BUFFER_SIZE - 1 bytes and a terminator.
char template_line[BUFFER_SIZE];

constexpr char RESULTS_TOKEN[] = "'RESULTS'";
constexpr char RELOAD_TOKEN[] = "'RELOAD_TIME'";

// Appends one reading entry at text[used]; returns the new length.
std::size_t append_entry(std::size_t used, bool html, bool fahrenheit, std::int16_t word,
                         int last_error)
{
    char* end = result_text + used;
    std::size_t room = BUFFER_SIZE - used;
    int written;
    if (last_error != 0) {
        written = std::snprintf(end, room, "Er%3d ", last_error);
    } else {
        double degrees = fahrenheit ? word * 0.00703125 + 32.0 : word * 0.00390625;
        written = std::snprintf(end, room, "%4.1f%c%c ", degrees, html ? 0xB0 : ' ',
                                fahrenheit ? 'F' : 'C');
    }
    if (written < 0)
        return used;
    std::size_t grown = used + static_cast<std::size_t>(written);
    return grown < BUFFER_SIZE ? grown : BUFFER_SIZE - 1;
}

// Reads the next template piece into template_line: through a line feed, to
// the end of the input, or 1023 bytes. Returns its length, 0 at the end.
std::size_t read_piece(std::streambuf* in)
{
    std::size_t length = 0;
    while (in != nullptr && length < BUFFER_SIZE - 1) {
        int c = in->sbumpc();
        if (c == std::char_traits<char>::eof())
            break;
        template_line[length++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    template_line[length] = '\0';
    return length;
}

bool starts_with(const char* text, std::size_t length, const char* token)
{
    std::size_t token_length = std::strlen(token);
    return length >= token_length && std::memcmp(text, token, token_length) == 0;
}

}  // namespace

PageSettings decide_settings(const char* therm_port, char* const* names, char* const* values,
                             int count)
{
    PageSettings s;
    s.com_port = therm_port != nullptr ? read_decimal(therm_port) : 0;
    for (int i = 0; i < count; ++i) {
        const char* name = names[i];
        const char* value = values[i];
        if (value == nullptr)
            continue;
        if (std::strcmp(name, "format") == 0) {
            if (std::strcmp(value, "html") == 0)
                s.html = true;
        } else if (std::strcmp(name, "unit") == 0) {
            if (std::strcmp(value, "far") == 0)
                s.fahrenheit = true;
        } else if (std::strcmp(name, "what") == 0) {
            scan_range(value, s.first, s.last);
            clamp_sensor_range(s.first, s.last);
        } else if (std::strcmp(name, "port") == 0) {
            if (s.com_port == 0)
                s.com_port = read_decimal(value);
        } else if (std::strcmp(name, "reload") == 0) {
            s.reload = read_decimal(value);
        }
    }
    if (s.reload < MIN_RELOAD_MS)
        s.reload = DEFAULT_RELOAD_MS;
    if (s.com_port == 0)
        s.com_port = DEFAULT_COM_PORT;
    return s;
}

const char* format_readings(bool html, bool fahrenheit, int first, int last, int com_port)
{
    std::size_t used = 0;
    result_text[0] = '\0';

    DS1621Sensor sensor;
    // A port that can't be opened shows as an error entry for every sensor.
    sensor.open(com_port);
    for (int n = 1; n <= SENSOR_COUNT; ++n) {
        sensor.select_sensor(n);
        sensor.start_convert_and_wait();
    }
    for (int n = first; n <= last; ++n) {
        sensor.select_sensor(n);
        std::int16_t word = sensor.read_temperature();
        used = append_entry(used, html, fahrenheit, word, sensor.last_error);
    }
    sensor.close();
    return result_text;
}

void write_plain_reply(std::ostream& out, const char* readings)
{
    out << PLAIN_HEADER << readings << '\n';
}

void fill_template(std::istream& page_template, std::ostream& out, const char* readings,
                   int reload)
{
    const std::string reload_text = std::to_string(reload);
    std::streambuf* in = page_template.rdbuf();
    for (std::size_t length; (length = read_piece(in)) != 0;) {
        const void* found = std::memchr(template_line, '\'', length);
        if (found == nullptr) {
            out.write(template_line, static_cast<std::streamsize>(length));
            continue;
        }
        const char* apostrophe = static_cast<const char*>(found);
        std::size_t before = static_cast<std::size_t>(apostrophe - template_line);
        std::size_t rest = length - before;
        const char* replacement = nullptr;
        std::size_t token_length = 0;
        if (starts_with(apostrophe, rest, RESULTS_TOKEN)) {
            replacement = readings;
            token_length = sizeof RESULTS_TOKEN - 1;
        } else if (starts_with(apostrophe, rest, RELOAD_TOKEN)) {
            replacement = reload_text.c_str();
            token_length = sizeof RELOAD_TOKEN - 1;
        }
        if (replacement == nullptr) {
            out.write(template_line, static_cast<std::streamsize>(length));
            continue;
        }
        out.write(template_line, static_cast<std::streamsize>(before));
        out << replacement;
        out.write(apostrophe + token_length, static_cast<std::streamsize>(rest - token_length));
    }
}

void write_builtin_page(std::ostream& out, const char* readings)
{
    out << FALLBACK_PAGE_HEAD << '\n' << readings << '\n' << FALLBACK_PAGE_TAIL << '\n';
}

void write_response(std::ostream& out, const PageSettings& settings, const char* readings,
                    const char* template_path)
{
    if (!settings.html) {
        write_plain_reply(out, readings);
        return;
    }
    out << HTML_HEADER;
    std::ifstream page_template(template_path);
    if (!page_template.is_open()) {
        write_builtin_page(out, readings);
        return;
    }
    fill_template(page_template, out, readings, settings.reload);
}

int run_kvpage(std::istream& input, std::ostream& out)
{
    char** names = nullptr;
    char** values = nullptr;
    int count = read_cgi_parameters(names, values, input);
    PageSettings settings = decide_settings(std::getenv("THERM_PORT"), names, values, count);
    free_cgi_parameters(names, values, count);

    // The whole sweep runs before the first byte of the response.
    const char* readings = format_readings(settings.html, settings.fahrenheit, settings.first,
                                           settings.last, settings.com_port);
    write_response(out, settings, readings, TEMPLATE_FILE);
    out.flush();
    return 0;
}

}  // namespace kelvara
