// How a front end lends its threads to a pass: run a body once per band,
// perhaps at the same time, and return when every band is done. The 1.x
// host's exec_multi_thread_func has this shape; the tool and the 64-bit
// plug-in bring pools of their own.
#pragma once

namespace lowpass {

using BandBody = void (*)(int band, int bands, void* argument);

struct BandRunner {
    // Calls body(band, bands, argument) for band = 0 .. bands - 1, each band
    // once, and returns when all calls have returned. Returns false, having
    // called nothing, if it could not run them; the caller then runs the
    // bands itself. (A band of the fused pass overwrites its own source:
    // it must not run twice.)
    bool (*run)(void* context, BandBody body, void* argument);
    void* context;
};

}  // namespace lowpass
