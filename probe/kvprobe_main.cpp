// kvprobe: checks one COM port's thermometer bus step by step and says in
// words what is wrong with it.

#include <iostream>

#include "probe/probe_options.h"

int main(int argc, char** argv)
{
    return kelvara::probe_command(argc, argv, std::cout, std::cerr);
}
