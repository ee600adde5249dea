#pragma once
// The form parameters of one CGI request: taken from QUERY_STRING, or from the
// body on standard input for a POST, split at "&" and "=" and URL-decoded.

#include <iosfwd>

namespace kelvara {

// Request texts (a POST body or a query string) longer than this are cut: a
// request must not make kvpage reserve gigabytes, nor a parameter list that
// grows with it.
inline constexpr int MAX_CGI_BODY = 64 * 1024;

// Reads the parameters of this request. names[i] is never null; values[i] is
// null for a parameter written without a value. Both arrays and every string
// are heap blocks for free_cgi_parameters; with a count of 0 both arrays are
// null. A POST body is read from input, up to CONTENT_LENGTH bytes and no
// further than its first line feed.
int read_cgi_parameters(char**& names, char**& values, std::istream& input);
int read_cgi_parameters(char**& names, char**& values);  // input is std::cin

// Releases what read_cgi_parameters handed out; a count of 0 releases nothing.
void free_cgi_parameters(char** names, char** values, int count);

// Undoes URL encoding in place: "+" becomes a space, "%" and the two bytes
// after it become the byte they spell in hexadecimal (the low eight bits of
// what reads as a number, 0 when nothing does). A "%" without two bytes after
// it is copied unchanged.
void url_decode(char* text);

}  // namespace kelvara
