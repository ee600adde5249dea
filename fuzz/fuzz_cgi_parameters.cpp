// kvpage's parameter decoding with a request the input makes up. Byte 0 picks
// the method (bits 0-2: unset, GET, POST, post, HEAD, empty) and which
// variables are unset (bit 3: QUERY_STRING, bit 4: CONTENT_LENGTH); then come
// QUERY_STRING up to the first 0x00, CONTENT_LENGTH up to the next 0x00, and
// the rest is the POST body, NULs and all. The whole input also goes through
// url_decode on its own.

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cgi/cgi_parameters.h"

namespace {

using namespace kelvara;

[[noreturn]] void fail(const char* what, long long a, long long b)
{
    std::fprintf(stderr, "invariant broken: %s (%lld, %lld)\n", what, a, b);
    std::abort();
}

// setenv keeps every value it was ever given, which over millions of inputs
// exhausts the fuzzer's memory; each variable lives here instead, handed to
// the environment with putenv.
void set_or_unset(const char* name, const char* value, std::string& storage)
{
    ::unsetenv(name);
    if (value == nullptr)
        return;
    storage = std::string(name) + "=" + value;
    ::putenv(storage.data());
}

// CONTENT_LENGTH as the program must read it: decimal, saturating at int.
long long content_length(const std::string& text)
{
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    return std::clamp<long long>(value, INT_MIN, INT_MAX);
}

// The request text the environment and body stand for, or false when the
// request carries none; everything from a NUL on is ignored.
bool expected_text(const char* method, bool query_set, const std::string& query,
                   bool length_set, const std::string& length_text, const std::string& body,
                   std::string& text)
{
    if (method == nullptr)
        return false;
    if (std::strcmp(method, "POST") != 0) {
        text = query.substr(0, MAX_CGI_BODY);  // a query is cut like a body
        return query_set;
    }
    if (!length_set)
        return false;
    long long length = content_length(length_text);
    if (length <= 0)
        return false;
    std::size_t take = static_cast<std::size_t>(std::min<long long>(length, MAX_CGI_BODY));
    text = body.substr(0, take);
    std::size_t line_end = text.find('\n');
    if (line_end != std::string::npos)
        text.resize(line_end + 1);
    text.resize(std::strlen(text.c_str()));
    return true;
}

struct RawPiece {
    std::string name;
    bool has_value;
    std::string value;
};

std::vector<RawPiece> split(const std::string& text)
{
    std::vector<RawPiece> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t cut = text.find('&', start);
        if (cut == std::string::npos)
            cut = text.size();
        if (cut > start) {
            std::string piece = text.substr(start, cut - start);
            std::size_t equals = piece.find('=');
            RawPiece raw;
            raw.name = piece.substr(0, equals);
            raw.has_value = equals != std::string::npos && equals + 1 < piece.size();
            raw.value = raw.has_value ? piece.substr(equals + 1) : std::string();
            pieces.push_back(raw);
        }
        start = cut + 1;
    }
    return pieces;
}

// Length of the string at text, which must end within limit bytes.
std::size_t bounded_length(const char* text, std::size_t limit, const char* what)
{
    const void* nul = std::memchr(text, '\0', limit + 1);
    if (nul == nullptr)
        fail(what, static_cast<long long>(limit), -1);
    return static_cast<std::size_t>(static_cast<const char*>(nul) - text);
}

void check_parameters(const std::string& text, bool has_text, int count, char** names,
                      char** values)
{
    if (count < 0)
        fail("negative count", count, 0);
    if (count == 0 && (names != nullptr || values != nullptr))
        fail("arrays handed out for no parameter", 0, 0);
    std::vector<RawPiece> pieces = has_text ? split(text) : std::vector<RawPiece>();
    if (static_cast<std::size_t>(count) != pieces.size())
        fail("count is not the number of non-empty pieces", count,
             static_cast<long long>(pieces.size()));
    for (int i = 0; i < count; ++i) {
        const RawPiece& raw = pieces[static_cast<std::size_t>(i)];
        if (names[i] == nullptr)
            fail("null name", i, 0);
        // The string has no NUL of its own, so it ends within its raw length.
        bounded_length(names[i], raw.name.size(), "name longer than its text");
        // Split first, decode after: an encoded "&" or "=" separates nothing.
        std::string decoded = raw.name;
        url_decode(decoded.data());
        if (std::strcmp(names[i], decoded.c_str()) != 0)
            fail("name is not its piece decoded", i, 0);
        if ((values[i] != nullptr) != raw.has_value)
            fail("value present where the piece has none, or missing", i, raw.has_value);
        if (values[i] != nullptr) {
            bounded_length(values[i], raw.value.size(), "value longer than its text");
            decoded = raw.value;
            url_decode(decoded.data());
            if (std::strcmp(values[i], decoded.c_str()) != 0)
                fail("value is not its piece decoded", i, 0);
        }
    }
}

// url_decode on a copy of the input in a block of exactly its size, so a read
// or write past the terminator is an ASan report. Checks what follows from the
// input alone: "+" is a space, other bytes outside escapes stay, an escape of
// two hex digits is their value, and only an escape of value 0 ends the text.
void check_url_decode(const std::uint8_t* data, std::size_t size)
{
    const std::size_t length = static_cast<std::size_t>(std::find(data, data + size, 0) - data);
    std::unique_ptr<char[]> text(new char[length + 1]);
    std::memcpy(text.get(), data, length);
    text[length] = '\0';
    url_decode(text.get());
    const std::size_t decoded = std::strlen(text.get());

    std::size_t out = 0;
    for (std::size_t in = 0; in < length; ++out) {
        const unsigned char c = data[in];
        const bool escape = c == '%' && in + 2 < length;
        const bool hex = escape && std::isxdigit(data[in + 1]) && std::isxdigit(data[in + 2]);
        const char digits[3] = {hex ? static_cast<char>(data[in + 1]) : '0',
                                hex ? static_cast<char>(data[in + 2]) : '0', '\0'};
        const unsigned long value = std::strtoul(digits, nullptr, 16);
        if (out == decoded) {
            if (!escape || (hex && value != 0))
                fail("decoded text ends early", static_cast<long long>(in),
                     static_cast<long long>(out));
            return;
        }
        const auto got = static_cast<unsigned char>(text[out]);
        if (c == '+' && got != ' ')
            fail("plus not decoded as a space", static_cast<long long>(in), got);
        if (!escape && c != '+' && got != c)
            fail("plain byte changed", static_cast<long long>(in), got);
        if (hex && got != value)
            fail("escape decoded wrongly", static_cast<long long>(in), got);
        in += escape ? 3 : 1;
    }
    if (decoded != out)
        fail("decoded length", static_cast<long long>(decoded), static_cast<long long>(out));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    check_url_decode(data, size);
    if (size == 0)
        return 0;

    static const char* const methods[] = {nullptr, "GET", "POST", "post", "HEAD", ""};
    const std::uint8_t head = data[0];
    const char* method = methods[(head & 7) % 6];
    const bool query_set = (head & 8) == 0;
    const bool length_set = (head & 16) == 0;

    const char* p = reinterpret_cast<const char*>(data + 1);
    const char* end = reinterpret_cast<const char*>(data + size);
    const char* cut = std::find(p, end, '\0');
    const std::string query(p, cut);
    p = cut == end ? end : cut + 1;
    cut = std::find(p, end, '\0');
    const std::string length_text(p, cut);
    p = cut == end ? end : cut + 1;
    const std::string body(p, end);

    static std::string method_variable;
    static std::string query_variable;
    static std::string length_variable;
    set_or_unset("REQUEST_METHOD", method, method_variable);
    set_or_unset("QUERY_STRING", query_set ? query.c_str() : nullptr, query_variable);
    set_or_unset("CONTENT_LENGTH", length_set ? length_text.c_str() : nullptr, length_variable);

    std::istringstream input(body);
    // Stale pointers that the call must replace, with null when there are no parameters.
    static char* stale[1];
    char** names = stale;
    char** values = stale;
    int count = read_cgi_parameters(names, values, input);

    std::string text;
    bool has_text = expected_text(method, query_set, query, length_set, length_text, body, text);
    check_parameters(text, has_text, count, names, values);
    free_cgi_parameters(names, values, count);
    return 0;
}
