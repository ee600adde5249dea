#include "cgi/cgi_parameters.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "common/decimal.h"

namespace kelvara {

namespace {

// The request text, or false when the request carries no parameter text.
bool request_text(std::istream& input, std::string& text)
{
    const char* method = std::getenv("REQUEST_METHOD");
    if (method == nullptr)
        return false;
    if (std::strcmp(method, "POST") != 0) {
        const char* query = std::getenv("QUERY_STRING");
        if (query == nullptr)
            return false;
        // Cut like a body: every parameter costs heap blocks, so the memory
        // taken must not grow with whatever length the query has.
        text.assign(query, std::min(std::strlen(query), static_cast<std::size_t>(MAX_CGI_BODY)));
        return true;
    }
    const char* length_text = std::getenv("CONTENT_LENGTH");
    if (length_text == nullptr)
        return false;
    int length = read_decimal(length_text);
    if (length <= 0)
        return false;
    if (length > MAX_CGI_BODY)
        length = MAX_CGI_BODY;
    // Like fgets: at most length bytes, ending after the first line feed.
    text.reserve(static_cast<std::size_t>(length) + 1);
    std::streambuf* in = input.rdbuf();
    while (in != nullptr && static_cast<int>(text.size()) < length) {
        int c = in->sbumpc();
        if (c == std::char_traits<char>::eof())
            break;
        text.push_back(static_cast<char>(c));
        if (c == '\n')
            break;
    }
    return true;
}

char* copy_text(const char* begin, const char* end)
{
    std::size_t size = static_cast<std::size_t>(end - begin);
    char* copy = new char[size + 1];
    std::memcpy(copy, begin, size);
    copy[size] = '\0';
    return copy;
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The two bytes after a "%" read as a base-16 number: white space and one
// sign may come first, digits end at the first non-hex byte, none give 0.
int escape_value(const char* two)
{
    int i = 0;
    while (i < 2 && std::isspace(static_cast<unsigned char>(two[i])))
        ++i;
    bool negative = false;
    if (i < 2 && (two[i] == '+' || two[i] == '-'))
        negative = two[i++] == '-';
    int value = 0;
    for (; i < 2 && hex_digit(two[i]) >= 0; ++i)
        value = value * 16 + hex_digit(two[i]);
    return negative ? -value : value;
}

}  // namespace

void url_decode(char* text)
{
    char* out = text;
    for (char* in = text; *in != '\0'; ++in, ++out) {
        if (*in == '+') {
            *out = ' ';
        } else if (*in == '%' && in[1] != '\0' && in[2] != '\0') {
            *out = static_cast<char>(static_cast<unsigned char>(escape_value(in + 1) & 0xFF));
            in += 2;
        } else {
            *out = *in;
        }
    }
    *out = '\0';
}

int read_cgi_parameters(char**& names, char**& values, std::istream& input)
{
    names = nullptr;
    values = nullptr;
    std::string text;
    if (!request_text(input, text))
        return 0;

    // A NUL in a body ends the text, as it would for any C string.
    const char* begin = text.c_str();
    const char* end = begin + std::strlen(begin);
    struct Piece {
        const char* begin;
        const char* end;
    };
    std::vector<Piece> pieces;
    for (const char* p = begin; p < end;) {
        const char* cut = std::find(p, end, '&');
        if (cut != p)
            pieces.push_back({p, cut});
        if (cut == end)
            break;
        p = cut + 1;
    }
    if (pieces.empty())
        return 0;

    int count = static_cast<int>(pieces.size());
    names = new char*[pieces.size()];
    values = new char*[pieces.size()];
    for (int i = 0; i < count; ++i) {
        const Piece& piece = pieces[static_cast<std::size_t>(i)];
        const char* equals = std::find(piece.begin, piece.end, '=');
        names[i] = copy_text(piece.begin, equals);
        // No "=", or "=" as the last byte: the parameter has no value.
        values[i] = equals + 1 < piece.end ? copy_text(equals + 1, piece.end) : nullptr;
        url_decode(names[i]);
        if (values[i] != nullptr)
            url_decode(values[i]);
    }
    return count;
}

int read_cgi_parameters(char**& names, char**& values)
{
    return read_cgi_parameters(names, values, std::cin);
}

void free_cgi_parameters(char** names, char** values, int count)
{
    if (count <= 0)
        return;
    for (int i = 0; i < count; ++i) {
        delete[] names[i];
        delete[] values[i];
    }
    delete[] names;
    delete[] values;
}

}  // namespace kelvara
