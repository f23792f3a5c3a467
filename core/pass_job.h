// What one pass of one engine is given: plain buffers, sizes, the kernel
// half-length, this direction's tables and the band of lines to produce.
// No host record reaches a pass, so any front end (the 1.x plug-in, the
// command-line tool, the 64-bit plug-in) and any thread can run one.
#pragma once

#include "core/kernel_tables.h"
#include "host/host_api.h"

namespace lowpass {

struct PassJob {
    const PIXEL_YC* source;   // read: only its w x h picture
    PIXEL_YC* destination;    // written: only its w x h picture, only the band's lines
    int w;                    // picture width in pixels
    int h;                    // picture height in rows
    int stride;               // pixels per row of both frames (the host's max_w), >= w
    int taps;                 // N, 0 .. kMaxTaps: the kernel has 2N + 1 taps
    const KernelTables* tables;  // this direction's coefficients
    const float* roundingBias;   // four float32 0.5, 16-byte aligned (read by the float engines)
    // The band: the output rows first .. end - 1 for a pass across the rows,
    // the output columns first .. end - 1 for a pass down the columns.
    // 0 <= first <= end <= h (across) or w (down).
    int first;
    int end;
};

// A pass of one engine in one direction. A band writes only its own rows
// (across) or columns (down), so bands of one pass may run at the same time.
using Pass = void (*)(const PassJob& job);

}  // namespace lowpass
