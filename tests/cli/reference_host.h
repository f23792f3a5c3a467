// What the plug-in gives a host for a frame, computed through the stand-in
// host of the plug-in's own tests (GetFilterTable, func_update, func_proc),
// independently of the tool's own host.
#pragma once

#include <cstdint>
#include <string>

#include "host/host_api.h"
#include "tools/cli/options.h"
#include "tools/cli/picture.h"

namespace lowpass::clitest {

cli::FilterSettings Settings(int x, int y, int taps, int window, int simd);

// Pseudo-random samples in [lo, hi] for all three samples of every pixel.
cli::Picture RandomPicture(int w, int h, std::uint32_t seed, int lo, int hi);

// The frame after func_proc in a host with another stride than the tool's;
// proc, when given, replaces the engine func_update chose.
cli::Picture Reference(const cli::Picture& in, const cli::FilterSettings& s, FilterProcFunc proc = nullptr);

// Pixels that differ; the first one described in *first.
int Mismatches(const cli::Picture& a, const cli::Picture& b, std::string* first = nullptr);

}  // namespace lowpass::clitest
