// kvpage: the CGI program. It takes no arguments; the request comes from the
// environment and standard input, the response goes to standard output, and
// nothing is ever written to standard error.

#include <csignal>
#include <iostream>

#include "cgi/page.h"

int main()
{
    // A web server that stopped reading must not turn the page into a death
    // by signal: the write fails and kvpage still ends with status 0.
    std::signal(SIGPIPE, SIG_IGN);
    return kelvara::run_kvpage(std::cin, std::cout);
}
