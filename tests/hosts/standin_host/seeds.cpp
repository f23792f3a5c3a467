#include "tests/hosts/standin_host/seeds.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace lowpass::standin {

namespace {

struct RunSeedState {
    bool set = false;
    std::uint32_t value = 0;
};

RunSeedState ReadRunSeed() {
    RunSeedState state;
    const char* text = std::getenv("LOWPASS_SEED");
    if (text == nullptr || *text == '\0') return state;
    if (std::string(text) == "random") {
        const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
        state.value = static_cast<std::uint32_t>(ticks) ^ static_cast<std::uint32_t>(ticks >> 32);
        state.set = true;
        std::fprintf(stderr, "LOWPASS_SEED=random: this run's seed is %lu (LOWPASS_SEED=%lu replays it)\n",
                     static_cast<unsigned long>(state.value), static_cast<unsigned long>(state.value));
        return state;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || value > 0xfffffffful) {
        std::fprintf(stderr,
                     "LOWPASS_SEED='%s' is not a number from 0 to 4294967295 or \"random\": the fixed seeds are used\n",
                     text);
        return state;
    }
    state.value = static_cast<std::uint32_t>(value);
    state.set = true;
    return state;
}

const RunSeedState& TheRunSeed() {
    static const RunSeedState state = ReadRunSeed();
    return state;
}

}  // namespace

bool RunSeed(std::uint32_t* seed) {
    const RunSeedState& state = TheRunSeed();
    if (state.set && seed != nullptr) *seed = state.value;
    return state.set;
}

std::uint32_t SeedFor(std::uint32_t fallback) {
    std::uint32_t run = 0;
    if (!RunSeed(&run)) return fallback;
    // Both numbers through a few rounds of multiply and xor-shift, so that
    // nearby run seeds and nearby fixed seeds give unrelated streams.
    std::uint32_t x = run * 0x9e3779b9u ^ fallback;
    x ^= x >> 16;
    x *= 0x85ebca6bu;
    x ^= x >> 13;
    x *= 0xc2b2ae35u;
    x ^= x >> 16;
    return x;
}

std::string SeedReplay(std::uint32_t seed) {
    std::uint32_t run = 0;
    if (RunSeed(&run)) return "seed " + std::to_string(seed) + " (LOWPASS_SEED=" + std::to_string(run) + " replays it)";
    return "seed " + std::to_string(seed) + " (the fixed seed; run with LOWPASS_SEED=<number> for other data)";
}

std::string RunSeedNote() {
    std::uint32_t run = 0;
    if (RunSeed(&run)) return "random data from LOWPASS_SEED=" + std::to_string(run) + " (it replays this run)";
    return "random data from the fixed seeds (LOWPASS_SEED=<number> draws other data)";
}

}  // namespace lowpass::standin
