#include "client/usage_text.h"

#include "net/temp_records.h"

namespace kelvara {

void print_client_usage(std::ostream& out, const char* program_name)
{
    out << "Usage: " << (program_name != nullptr ? program_name : "kvquery")
        << " [-help] [-port port] [-addr address] [-mean] [-what F-L] [-far]\n"
        << "       -help show this help\n"
        << "       -port service port number (" << DEFAULT_SERVICE_PORT << ")\n"
        << "       -addr server address (localhost)\n"
        << "       -mean perform mean between sensors\n"
        << "       -what which sensor to retrieve (1-1)\n"
        << "       -far  farenheit unit of measure instead of celsius\n";
}

}  // namespace kelvara
