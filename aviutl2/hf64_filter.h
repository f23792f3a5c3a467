// The pixel path of the 64-bit plug-in: the editor's own image format
// (HF64: RGBA half floats, premultiplied alpha) low-passed in place in
// float32, colours and alpha alike.
//
// Order of work. The picture is cut into blocks of rows, one unit of the
// pool each. A block reads its rows, and the rows within the vertical
// kernel's reach above and below it; each row is converted to float32 and
// filtered across into a ring of 2N + 1 rows, and each output row is
// filtered down from the ring, finished and written back as halves in
// place. A block writes a row only once no later row of its own needs it;
// the rows of a neighbour's reach are copied aside before any block
// writes (the first round of the pool, which also scans the picture).
//
// After the passes: alpha to 0 .. 1; colours not below 0; and where the
// picture was ordinary premultiplied data (no colour above its alpha
// anywhere), each colour at most its alpha. A picture with light above
// 1.0 keeps it. A picture whose alpha is 1.0 everywhere stays so.
//
// Memory. Besides the picture: each thread working on a call holds a ring
// of 2N + 1 rows and two more rows of float32 (16 bytes a pixel each), and
// a call holds 2N rows of halves (8 bytes a pixel) per boundary between
// blocks, two blocks per thread. At 16384 pixels across and N = 15 that
// is 8.6 MB a thread and 3.9 MB a boundary: 29 MB on two threads, 260 MB
// on sixteen. These are kept from call to call (ScratchStore) and freed
// when the plug-in stops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "aviutl2/band_pool.h"
#include "aviutl2/settings.h"
#include "core/float_pass.h"

namespace lowpass::auf2 {

struct Hf64Image {
    std::uint16_t* halves;  // r, g, b, a of each pixel, rows top to bottom
    int w;
    int h;
    std::ptrdiff_t stride;  // halves per row, >= 4 w
};

// Whether the settings low-pass an image of this size at all: only an
// image wider than X or taller than Y is touched.
inline bool NeedsPasses(const FilterSettings& settings, int w, int h) { return w > settings.x || h > settings.y; }

// Working memory kept between calls: blocks taken by a call and given
// back when it ends, grown only when a call needs more than any before.
class ScratchStore {
public:
    ScratchStore() = default;
    ScratchStore(const ScratchStore&) = delete;
    ScratchStore& operator=(const ScratchStore&) = delete;
    ~ScratchStore() { Release(); }

    // Takes `count` blocks of at least `bytes` each (64-byte aligned) into
    // blocks[0 .. count - 1]. False, having taken nothing, when memory runs out.
    bool Take(std::size_t bytes, int count, void** blocks);
    void Give(void* const* blocks, int count);
    // Frees every block not taken.
    void Release();
    // Bytes held now, taken or not.
    std::size_t HeldBytes();

    // Refuses every Take from now on while set (for tests of the refusal).
    void RefuseForTesting(bool refuse);

private:
    struct Block {
        void* memory;
        std::size_t bytes;
        bool taken;
    };
    std::mutex mutex_;
    std::vector<Block> blocks_;
    bool refuse_ = false;
};

ScratchStore& TheScratchStore();

enum class FilterResult {
    kUnchanged,    // no pass was needed; nothing was written
    kFiltered,     // the image holds the result
    kOutOfMemory,  // working memory could not be had; nothing was written
};

// Low-passes the image in place: across if it is wider than X, down if it
// is taller than Y, with `passes`, on `pool` (or all on this thread when
// null), with working memory from `store`.
FilterResult FilterImage(const Hf64Image& image, const FilterSettings& settings, const FloatPasses& passes,
                         BandPool* pool, ScratchStore& store);

}  // namespace lowpass::auf2
