#pragma once
// One run of kvquery: read the command line, send one request, print the reply.

#include <chrono>
#include <ostream>

namespace kelvara {

inline constexpr std::chrono::milliseconds DEFAULT_REPLY_WAIT{5000};

// The reply wait: DEFAULT_REPLY_WAIT, unless text holds a positive number of
// milliseconds. The text comes from KELVARA_CLIENT_WAIT_MS, which only tests
// set, so that a lost reply costs them less than the full wait.
std::chrono::milliseconds client_reply_wait(const char* text);

// Runs the client with its command line; banner, usage and results go to out,
// failure messages to stderr. Returns the exit status, except that the fatal
// network failures end the process through fatal_error.
int run_client(int argc, const char* const* argv, std::ostream& out,
               std::chrono::milliseconds reply_wait);

}  // namespace kelvara
