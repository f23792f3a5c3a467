// Bands on threads of the plug-in's own: the editor lends no thread pool.
#pragma once

#include "core/bands.h"

namespace lowpass::auf2 {

// At most this many bands run at once, whatever the processor offers: each
// band holds working frames of its own (see pa64_filter.h).
constexpr int kMaxBands = 16;

// Runs every band on a thread of its own, the first on the calling thread,
// one band per hardware thread up to kMaxBands. A thread that cannot be
// started leaves its band to the calling thread. Keeps nothing between calls.
const BandRunner& ThreadBands();

}  // namespace lowpass::auf2
