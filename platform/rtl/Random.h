#pragma once
// The runtime's pseudo-random generator: a 32-bit linear congruential
// sequence driven by one process-wide seed. It is for spreading lock bytes and
// naming temporary tables, not for secrets.

#include <atomic>
#include <cstdint>

namespace plat {

// The generator's state. Setting it restarts a reproducible sequence; it is 0
// until the program calls Randomize.
extern std::atomic<uint32_t> RandSeed;

// A number r with 0 <= r < range; 0 when range is 0 or negative.
int32_t Random(int32_t range);

// A number r with 0 <= r < 1.
double RandomFloat();

// Seeds the generator from the process ID and the clocks, so processes started
// together, and children forked from one parent, draw different sequences.
// Once called, every child forked afterwards reseeds itself the same way.
void Randomize();

}  // namespace plat
