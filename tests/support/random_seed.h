// The seed of a randomised test: the test's own fixed seed, or one drawn
// from LOWPASS_SEED (tests/hosts/standin_host/stand_in_host.h, SeedFor). While the
// object lives, every failure of the test also prints the seed and how to
// replay the run that drew it.
//   const TestSeed seed(2201);
//   Lcg rng(seed);
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/hosts/standin_host/stand_in_host.h"

namespace lowpass::testing {

class TestSeed {
public:
    explicit TestSeed(std::uint32_t fallback, const char* file = __builtin_FILE(), int line = __builtin_LINE())
        : value_(standin::SeedFor(fallback)), trace_(file, line, "random data from " + standin::SeedReplay(value_)) {}
    TestSeed(const TestSeed&) = delete;
    TestSeed& operator=(const TestSeed&) = delete;

    std::uint32_t value() const { return value_; }
    operator std::uint32_t() const { return value_; }

private:
    std::uint32_t value_;
    ::testing::ScopedTrace trace_;
};

}  // namespace lowpass::testing
