// What one pass of one engine is given: plain buffers, sizes, the kernel
// half-length, this direction's tables and the band of lines to produce.
// No host record reaches a pass, so any front end (the 1.x plug-in, the
// command-line tool, the 64-bit plug-in) and any thread can run one.
#pragma once

#include "core/fused_blocks.h"
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

// Both passes at once, in place: the rows are cut into blocks
// (FusedBlocks), and each block's output rows are the vertical pass over
// the horizontal pass's rows, computed through a ring of rows without the
// horizontal rows ever going to memory in between.
struct FusedJob {
    PIXEL_YC* frame;                  // the picture: read, and its band of blocks overwritten with the result
    const PIXEL_YC*
        boundaryRows;  // the horizontal pass's rows near block boundaries (FusedBlocks::NearBoundary), same stride
    int w;                            // picture width in pixels, >= 2N + 1
    int h;                            // picture height in rows, >= 2N + 1
    int stride;                       // pixels per row of both buffers, >= w
    int taps;                         // N, 1 .. the engine's largest fused N
    const KernelTables* across;       // the horizontal pass's coefficients
    const KernelTables* down;         // the vertical pass's coefficients
    const float* roundingBias;        // as in PassJob
    FusedBlocks blocks;               // the cut: FusedBlocks(h, taps)
    // The band: blocks first .. end - 1, 0 <= first <= end <= blocks.count().
    int first;
    int end;
};

using FusedPass = void (*)(const FusedJob& job);

}  // namespace lowpass
