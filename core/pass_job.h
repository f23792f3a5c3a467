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

// Both passes at once, in place: the rows are cut into blocks, and each
// block's output rows are the vertical pass over the horizontal pass's
// rows, computed through a ring of rows without the horizontal rows ever
// going to memory in between. A block reads the picture's rows only within
// itself; the horizontal rows it needs from its neighbours' rows, and
// those of its own that its neighbours need, are the rows within N of a
// block boundary (NearBlockBoundary), which come already computed in
// `boundaryRows`. So blocks may run at the same time, in any order, each
// writing only its own rows, and the frame is the same however they are
// grouped.

// How a picture h rows tall is cut for kernel half-length n: `rows` per
// block (the last block may be shorter), `count` blocks. About 128 rows
// each (fewer blocks cost fewer horizontal rows made twice over and kept
// in memory; the rows of a block must fit the caches' address
// translations), in an even number where the picture is taller than 128
// rows (so that two or four threads get equal shares), never more than
// kMaxFusedBlockRows and always more than 2n rows (one block where the
// picture is too short for two).
constexpr int kMaxFusedBlockRows = 192;
struct FusedBlocks {
    int rows;
    int count;
};
inline FusedBlocks FusedBlocksFor(int h, int n) {
    int count = (h + 128) / 256 * 2;
    if (count < 2) count = 2;
    int rows = (h + count - 1) / count;
    if (rows <= 2 * n) rows = h;  // a block per picture: h <= 2 kMaxFusedBlockRows here
    return FusedBlocks{rows, (h + rows - 1) / rows};
}

// True when row t of a picture h rows tall lies within n rows of a
// boundary between blocks of blockRows: b - n <= t < b + n for a multiple
// b of blockRows with 0 < b < h. (Blocks are longer than 2n, so at most one
// boundary is near.)
inline bool NearBlockBoundary(int t, int h, int n, int blockRows) {
    const int b = (t + n) / blockRows * blockRows;  // the last multiple at or before t + n
    return b > 0 && b < h && t < b + n;
}

struct FusedJob {
    PIXEL_YC* frame;                  // the picture: read, and its band of blocks overwritten with the result
    const PIXEL_YC* boundaryRows;     // the horizontal pass's output rows near block boundaries, same stride
    int w;                            // picture width in pixels, >= 2N + 1
    int h;                            // picture height in rows, >= 2N + 1
    int stride;                       // pixels per row of both buffers, >= w
    int taps;                         // N, 1 .. the engine's largest fused N
    const KernelTables* across;       // the horizontal pass's coefficients
    const KernelTables* down;         // the vertical pass's coefficients
    const float* roundingBias;        // as in PassJob
    int blockRows;                    // FusedBlocksFor(h, taps).rows
    // The band: blocks first .. end - 1, 0 <= first <= end <= FusedBlocksFor(h, taps).count.
    int first;
    int end;
};

using FusedPass = void (*)(const FusedJob& job);

}  // namespace lowpass
