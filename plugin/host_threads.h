// The host's worker threads as the frame driver's band runner: each pass
// is split into one band per worker of exec_multi_thread_func (EXFUNC
// entry 51), and every band runs under the SSE rounding mode of the thread
// that called func_proc.
#pragma once

#include <cstdint>

#include "core/bands.h"
#include "host/host_api.h"

namespace lowpass {

// No pass is split into more bands than this; workers beyond it get none.
constexpr int kMaxHostBands = 256;

// What the runner needs from the calling thread, read once per func_proc.
struct HostThreads {
    ExFuncMultiThreadFunc exec;  // the host's service, not null
    bool copyMxcsr;              // the processor has SSE: workers take `mxcsr` for their bands
    std::uint32_t mxcsr;         // the caller's MXCSR
};

// The BandRunner's run, with `context` a HostThreads. It calls
// exec_multi_thread_func once; its worker thread_id of thread_num runs band
// thread_id of thread_num (at most kMaxHostBands), with the caller's MXCSR
// set for the band and the worker's own restored after it. The body calls
// nothing but the pass: no host service, no system call.
//
// The host's answer is not trusted to have run every band: whatever it
// returns (FALSE too), the calling thread then runs every band no worker
// ran (none, if thread_num was 0 or negative or no worker was called:
// the whole pass as one band). A worker whose thread_id lies outside
// 0 .. thread_num - 1, or repeats one that ran, runs nothing; the first
// worker's thread_num decides the bands, later ones with another count run
// nothing.
bool RunBandsOnHostThreads(void* context, BandBody body, void* argument);

}  // namespace lowpass
