// kvquery: asks a kvserver for temperatures and prints them.

#include <cstdlib>
#include <iostream>

#include "client/client_run.h"

int main(int argc, char** argv)
{
    // KELVARA_CLIENT_WAIT_MS is for tests only: it shortens the reply wait.
    return kelvara::run_client(argc, argv, std::cout,
                               kelvara::client_reply_wait(std::getenv("KELVARA_CLIENT_WAIT_MS")));
}
