#pragma once
// What one sweep costs on the lines when the bus master does exactly what its
// algorithm prescribes: the number of line operations and of clocked bits,
// worked out from the steps of the bus (not by running it), so that a counter
// on the real bus has something independent to be checked against.

#include <optional>

namespace kelvara::bench {

struct SweepCost {
    long line_ops = 0;
    long bits = 0;
};

// present[i] tells whether a chip answers at sensor i + 1; the range is
// first to last (1 to 8). Only answering and absent chips are covered.
SweepCost prescribed_sweep_cost(const bool (&present)[8], int first, int last);

// The same for a "sim:" device name; nothing when the name is malformed or
// holds a chip that is neither normal nor absent ("nak", "hold").
std::optional<SweepCost> prescribed_sweep_cost(const char* sim_device, int first, int last);

}  // namespace kelvara::bench
