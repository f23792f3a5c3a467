// Seeds of the random data the tests and the stand-in hosts check with.
#pragma once

#include <cstdint>
#include <string>

namespace lowpass::standin {

// The seed of one stream of random test data: `fallback`, the stream's own
// fixed seed, so that every run draws the same data; or, where the
// environment variable LOWPASS_SEED holds a number, that number mixed with
// `fallback` (each stream still draws its own data, and the same
// LOWPASS_SEED draws it again); "random" takes a number from the clock
// once per run. A failure names the run's seed (SeedReplay), so that it
// can be replayed.
std::uint32_t SeedFor(std::uint32_t fallback);
// LOWPASS_SEED's number for this run (the clock's, for "random"), or
// nothing when it is unset or empty; an unreadable value is reported on
// stderr once and left unused.
bool RunSeed(std::uint32_t* seed);
// "seed S (LOWPASS_SEED=R replays it)" or "seed S (the fixed seed; run
// with LOWPASS_SEED=<number> for other data)", for failure reports.
std::string SeedReplay(std::uint32_t seed);
// The same for a whole run: "random data from the fixed seeds (...)" or
// "random data from LOWPASS_SEED=R (it replays this run)".
std::string RunSeedNote();

}  // namespace lowpass::standin
