// The per-frame procedure every front end runs: make sure the kernel fits
// the frame, low-pass across if the frame is wider than the target and
// down if it is taller, each pass from one buffer into the other followed
// by an exchange of the two, so that the result ends in `edit`.
#pragma once

#include "core/bands.h"
#include "core/kernel.h"
#include "core/pass_job.h"
#include "host/host_api.h"

namespace lowpass {

// An engine's HorizontalPass and VerticalPass, and what must run once after
// them (the vector engines leave MMX state; the portable one needs nothing).
// The driver also runs afterPasses after every band, on the band's thread.
// An engine may also compute both passes at once (FusedJob), giving the
// very samples the two passes give; the driver uses that where both passes
// run, the frame is at least 2N + 1 pixels both ways and 1 <= N <=
// fusedTaps (beyond, the horizontal rows it computes again at every block
// boundary cost more than the memory it saves).
struct PassPair {
    Pass horizontal;
    Pass vertical;
    void (*afterPasses)();
    FusedPass fused = nullptr;
    int fusedTaps = 0;
};

// The two frame buffers of one frame. `edit` holds the picture; `temp` may
// be overwritten. On return `edit` names the result.
struct FrameBuffers {
    PIXEL_YC* edit;
    PIXEL_YC* temp;
    int w;
    int h;
    int stride;  // pixels per row of both buffers
};

// What the driver needs from the front end besides the frame.
struct FrameContext {
    KernelCache* cache;
    // Run before the kernel design's floating-point work, when set (clears
    // MMX state on a processor with MMX).
    void (*beforeKernelDesign)();
    // Runs each pass in bands when set; otherwise one band on this thread.
    // If the runner fails (returns false, having run no band) the driver
    // runs the whole pass on this thread.
    const BandRunner* bands;
};

// 1. Rebuilds the kernel unless the cache fits this size and these settings
//    (both directions together, whichever passes will run).
// 2. If w > settings.x: the horizontal pass from edit into temp, then the
//    two are exchanged.
// 3. If h > settings.y: the vertical pass likewise.
//    Where both run and passes.fused may take the frame, instead: the
//    horizontal pass's rows near block boundaries into temp (one banded
//    call), then the fused pass block by block in edit (a second one); no
//    exchange. Either way the result ends in the buffer that was edit.
// 4. passes.afterPasses, whether or not a pass ran.
void RunFramePasses(const FrameContext& context, const KernelSettings& settings, FrameBuffers& frame,
                    const PassPair& passes);

}  // namespace lowpass
