#pragma once
// kvserver's one job: start the socket layer, bind the service port and answer
// requests one after the other, for ever.

#include "net/reply_builder.h"
#include "server/server_options.h"

namespace kelvara {

// What became of one pass of the request loop.
enum class ServeOutcome {
    answered,        // a 7-byte request got its 154-byte reply
    ignored,         // a datagram of another size; reported, not answered
    receive_failed,  // a passing receive failure; reported
    send_failed,     // the reply could not be sent in full; reported
};

// True for the receive failures that would come back on every call (a bad
// descriptor or argument): those end the server. Anything the network or a
// signal causes passes.
bool recv_error_repeats(int errno_value);

// Creates the datagram socket and binds it to service_port on all local
// interfaces; a failure ends the process through fatal_error.
int open_service_socket(int service_port);

// Receives one datagram on sock and answers it. Sizes other than 7 bytes and
// passing failures are reported on stderr and the loop goes on; a receive
// failure that repeats ends the process through fatal_error.
ServeOutcome serve_one_request(int sock, const SensorSweep& sweep);

// Start-up and the endless request loop. Returns 1 when the socket layer
// cannot be started; every other failure ends the process.
int run_server(const ServerOptions& options, const SensorSweep& sweep);

}  // namespace kelvara
