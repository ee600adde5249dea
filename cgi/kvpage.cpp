// kvpage: the CGI program. It takes no arguments; the request comes from the
// environment and standard input, the response goes to standard output, and
// nothing is ever written to standard error.

#include <iostream>

#include "cgi/page.h"

int main()
{
    return kelvara::run_kvpage(std::cin, std::cout);
}
