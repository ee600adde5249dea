// kvserver's command line, case by case.

#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "server/server_options.h"

namespace kelvara {
namespace {

struct ArgsCase {
    std::vector<const char*> args;  // without the program name
    int error;
    bool show_help;
    int service_port;
    int com_port;
};

void PrintTo(const ArgsCase& c, std::ostream* os)
{
    *os << "kvserver";
    for (const char* arg : c.args)
        *os << " '" << arg << "'";
}

class ParseServerArgs : public ::testing::TestWithParam<ArgsCase> {};

TEST_P(ParseServerArgs, SetsFieldsAndErrorFlag)
{
    const ArgsCase& c = GetParam();
    std::vector<const char*> argv{"kvserver"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    argv.push_back(nullptr);
    ServerOptions options;
    EXPECT_EQ(parse_server_args(static_cast<int>(argv.size()) - 1, argv.data(), options), c.error);
    EXPECT_EQ(options.show_help, c.show_help);
    EXPECT_EQ(options.service_port, c.service_port);
    EXPECT_EQ(options.com_port, c.com_port);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseServerArgs,
    ::testing::Values(
        ArgsCase{{}, 0, false, 7323, 3},
        ArgsCase{{"-h"}, 0, true, 7323, 3},
        ArgsCase{{"-help"}, 0, true, 7323, 3},
        ArgsCase{{"-?"}, 0, true, 7323, 3},
        ArgsCase{{"-HELP", "--help", "help", "-hel"}, 0, false, 7323, 3},  // whole words, case matters
        ArgsCase{{"-port", "1023"}, 1, false, 1023, 3},
        ArgsCase{{"-port", "1024"}, 0, false, 1024, 3},
        ArgsCase{{"-port", "65535"}, 0, false, 65535, 3},
        ArgsCase{{"-port", "65536"}, 1, false, 65536, 3},
        ArgsCase{{"-port", "70000"}, 1, false, 70000, 3},
        ArgsCase{{"-port", "99999999999"}, 1, false, 2147483647, 3},
        ArgsCase{{"-port", "-8000"}, 1, false, -8000, 3},
        ArgsCase{{"-port", "  +8000x"}, 0, false, 8000, 3},
        ArgsCase{{"-port", "-help"}, 1, false, 0, 3},  // the value is taken whatever it is
        ArgsCase{{"-port"}, 0, false, 7323, 3},        // last argument: nothing read
        ArgsCase{{"-port", "1023", "-port", "8000"}, 1, false, 8000, 3},  // an error stays set
        ArgsCase{{"-com", "1"}, 0, false, 7323, 1},
        ArgsCase{{"-com", "4"}, 0, false, 7323, 4},
        ArgsCase{{"-com", "0"}, 1, false, 7323, 0},
        ArgsCase{{"-com", "5"}, 1, false, 7323, 5},
        ArgsCase{{"-com", "two"}, 1, false, 7323, 0},
        ArgsCase{{"-com"}, 0, false, 7323, 3},
        ArgsCase{{"-com", "9", "-com"}, 1, false, 7323, 9},
        ArgsCase{{"-help", "-com", "9"}, 1, true, 7323, 9},
        ArgsCase{{"-port", "8000", "-help"}, 0, true, 8000, 3},
        ArgsCase{{"-port", "8000", "-com", "1", "-x", "12"}, 0, false, 8000, 1},
        ArgsCase{{"stray", "7400", "-Port", "1"}, 0, false, 7323, 3}));

}  // namespace
}  // namespace kelvara
