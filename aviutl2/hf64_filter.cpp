#include "aviutl2/hf64_filter.h"

#include <xmmintrin.h>

#include <algorithm>
#include <atomic>
#include <new>

#include "core/kernel.h"

namespace lowpass::auf2 {

// --- working memory kept between calls ---------------------------------------------

bool ScratchStore::Take(std::size_t bytes, int count, void** taken) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (refuse_) return false;
    int got = 0;
    // Free blocks large enough first, then free blocks grown, then new ones.
    for (Block& block : blocks_)
        if (got < count && !block.taken && block.bytes >= bytes) {
            block.taken = true;
            taken[got++] = block.memory;
        }
    bool ok = true;
    for (Block& block : blocks_) {
        if (got == count) break;
        if (block.taken) continue;
        void* memory = ::operator new (bytes, std::align_val_t{64}, std::nothrow);
        if (memory == nullptr) {
            ok = false;
            break;
        }
        ::operator delete (block.memory, std::align_val_t{64});
        block = Block{memory, bytes, true};
        taken[got++] = memory;
    }
    while (ok && got < count) {
        void* memory = ::operator new (bytes, std::align_val_t{64}, std::nothrow);
        if (memory == nullptr) {
            ok = false;
            break;
        }
        try {
            blocks_.push_back(Block{memory, bytes, true});
        } catch (const std::bad_alloc&) {
            ::operator delete (memory, std::align_val_t{64});
            ok = false;
            break;
        }
        taken[got++] = memory;
    }
    if (!ok) {
        for (Block& block : blocks_)
            for (int i = 0; i < got; ++i)
                if (block.memory == taken[i]) block.taken = false;
    }
    return ok;
}

void ScratchStore::Give(void* const* given, int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Block& block : blocks_)
        for (int i = 0; i < count; ++i)
            if (block.memory == given[i]) block.taken = false;
}

void ScratchStore::Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Block> kept;
    for (Block& block : blocks_) {
        if (block.taken) kept.push_back(block);
        else ::operator delete (block.memory, std::align_val_t{64});
    }
    blocks_.swap(kept);
}

std::size_t ScratchStore::HeldBytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t total = 0;
    for (const Block& block : blocks_) total += block.bytes;
    return total;
}

void ScratchStore::RefuseForTesting(bool refuse) {
    std::lock_guard<std::mutex> lock(mutex_);
    refuse_ = refuse;
}

ScratchStore& TheScratchStore() {
    static ScratchStore* store = new ScratchStore;  // never destroyed, like the pool
    return *store;
}

// --- one call -------------------------------------------------------------------------

namespace {

// The float arithmetic's control word: round to nearest, every exception
// masked, no flushing of subnormals. Set for the call (the kernel design)
// and in every unit, on every thread; the thread's own word is put back after.
constexpr unsigned kMxcsr = 0x1F80;

struct MxcsrScope {
    unsigned saved;
    MxcsrScope() : saved(_mm_getcsr()) { _mm_setcsr(kMxcsr); }
    ~MxcsrScope() { _mm_setcsr(saved); }
};

// Fewest rows a block of the pass down takes (more blocks cost rows
// filtered twice at each boundary).
constexpr int kMinBlockRows = 64;

// Blocks per thread that can work on a call: more than one, so that a
// thread the system runs late (the editor has threads of its own) leaves
// its share to the others, at the cost of 2N rows filtered across twice
// at each boundary.
constexpr int kBlocksPerRunner = 2;

struct Call {
    Hf64Image image;
    const FloatPasses* passes;
    FloatTaps across;
    FloatTaps down;
    bool horizontal;
    int reach;  // N of the pass down, 0 without one
    int blocks;
    int blockRows;
    std::uint16_t* boundaries;  // per boundary, 2 reach rows of halves
    std::size_t rowHalves;      // 4 w
    float* scratch[kMaxRunners];
    std::atomic<int> found{0};  // kScan... bits
    FloatFinish finish = FloatFinish::kPremultiplied;
    bool opaque = false;

    int BlockStart(int b) const { return std::min(image.h, b * blockRows); }
    std::uint16_t* Row(int y) const { return image.halves + static_cast<std::ptrdiff_t>(y) * image.stride; }
    // The saved rows of the boundary below block b: rows start - reach .. start + reach - 1.
    std::uint16_t* Boundary(int b) const {
        return boundaries + static_cast<std::size_t>(b) * 2 * static_cast<std::size_t>(reach) * rowHalves;
    }
};

// Round 1, block b: scan its rows; copy the rows about the boundary below it.
void ScanAndSave(void* context, int b, int /*runner*/) {
    MxcsrScope mxcsr;
    Call& call = *static_cast<Call*>(context);
    const int first = call.BlockStart(b);
    const int end = call.BlockStart(b + 1);
    int found = 0;
    for (int y = first; y < end && found != (kScanNotOpaque | kScanColourAboveAlpha); ++y)
        found |= call.passes->scan(call.Row(y), call.image.w);
    if (found != 0) call.found.fetch_or(found);
    if (call.reach > 0 && b + 1 < call.blocks) {
        const int boundary = end;
        std::uint16_t* saved = call.Boundary(b);
        for (int y = boundary - call.reach; y < boundary + call.reach; ++y) {
            if (y >= 0 && y < call.image.h)
                std::copy_n(call.Row(y), call.rowHalves,
                            saved + static_cast<std::size_t>(y - (boundary - call.reach)) * call.rowHalves);
        }
    }
}

// Round 2, block b: the passes and the last step, row by row.
void FilterBlock(void* context, int b, int runner) {
    MxcsrScope mxcsr;
    Call& call = *static_cast<Call*>(context);
    const FloatPasses& passes = *call.passes;
    const int w = call.image.w;
    const int h = call.image.h;
    const int n = call.reach;
    const int first = call.BlockStart(b);
    const int end = call.BlockStart(b + 1);
    const std::size_t rowFloats = call.rowHalves;
    const int ringRows = 2 * n + 1;
    float* ring = call.scratch[runner];
    float* converted = ring + static_cast<std::size_t>(ringRows) * rowFloats;
    float* output = converted + rowFloats;
    const auto slot = [&](int q) { return ring + static_cast<std::size_t>(q % ringRows) * rowFloats; };
    const auto source = [&](int q) -> const std::uint16_t* {
        if (q < first) return call.Boundary(b - 1) + static_cast<std::size_t>(q - (first - n)) * rowFloats;
        if (q >= end) return call.Boundary(b) + static_cast<std::size_t>(q - end + n) * rowFloats;
        return call.Row(q);
    };

    int next = std::max(0, first - n);
    const float* rows[2 * kMaxTaps + 1];
    for (int p = first; p < end; ++p) {
        for (const int need = std::min(h - 1, p + n); next <= need; ++next) {
            if (call.horizontal) {
                passes.toFloat(source(next), converted, static_cast<int>(rowFloats));
                passes.across(FloatAcrossJob{converted, slot(next), w, &call.across});
            } else {
                passes.toFloat(source(next), slot(next), static_cast<int>(rowFloats));
            }
        }
        const float* result = slot(p);
        if (n > 0) {
            for (int j = 0; j < ringRows; ++j) {
                const int q = p - n + j;
                rows[j] = q >= 0 && q < h ? slot(q) : nullptr;
            }
            passes.down(FloatDownJob{rows, output, w, p, h, &call.down});
            result = output;
        }
        passes.finish(result, call.Row(p), w, call.finish, call.opaque);
    }
}

FloatTaps TapsOf(const KernelTables& tables, int n) {
    float kernel[kMaxKernelLength];
    for (int k = 0; k <= 2 * n; ++k) kernel[k] = tables.sseTaps[k][0];
    return MakeFloatTaps(kernel, n);
}

}  // namespace

FilterResult FilterImage(const Hf64Image& image, const FilterSettings& settings, const FloatPasses& passes,
                         BandPool* pool, ScratchStore& store) {
    if (image.w <= 0 || image.h <= 0 || !NeedsPasses(settings, image.w, image.h)) return FilterResult::kUnchanged;

    // The kernel design and the passes round under the filter's own word,
    // whatever the caller's.
    MxcsrScope mxcsr;
    // Designed per call: a few microseconds, and nothing shared between
    // calls, objects or threads.
    KernelCache cache{};
    const int n = ClampTaps(settings.taps);
    RebuildKernel(cache, KernelSettings{settings.x, settings.y, n, WindowWeightsOf(settings.window)}, image.w, image.h);

    Call call;
    call.image = image;
    call.passes = &passes;
    call.horizontal = image.w > settings.x;
    call.reach = image.h > settings.y ? n : 0;
    call.across = TapsOf(cache.horizontal, call.horizontal ? n : 0);
    call.down = TapsOf(cache.vertical, call.reach);
    call.rowHalves = static_cast<std::size_t>(kFloatLanes) * static_cast<std::size_t>(image.w);

    // A few blocks for each thread that can work on them: every boundary
    // costs rows filtered across twice and 2N rows kept aside.
    const int runners = pool != nullptr ? pool->Runners() : 1;
    const int rowsPerBlock = std::max(kMinBlockRows, 2 * call.reach + 1);
    call.blocks = std::max(1, std::min(kBlocksPerRunner * runners, image.h / rowsPerBlock));
    call.blockRows = (image.h + call.blocks - 1) / call.blocks;
    call.blocks = (image.h + call.blockRows - 1) / call.blockRows;
    const int working = std::min(runners, call.blocks);

    const std::size_t rowBytes = call.rowHalves * sizeof(float);
    void* scratch[kMaxRunners];
    if (!store.Take(rowBytes * static_cast<std::size_t>(2 * call.reach + 3), working, scratch))
        return FilterResult::kOutOfMemory;
    void* boundaries = nullptr;
    const std::size_t boundaryBytes = static_cast<std::size_t>(call.blocks - 1) * 2 *
                                      static_cast<std::size_t>(call.reach) * call.rowHalves * sizeof(std::uint16_t);
    if (boundaryBytes > 0 && !store.Take(boundaryBytes, 1, &boundaries)) {
        store.Give(scratch, working);
        return FilterResult::kOutOfMemory;
    }
    for (int r = 0; r < working; ++r) call.scratch[r] = static_cast<float*>(scratch[r]);
    call.boundaries = static_cast<std::uint16_t*>(boundaries);

    if (pool != nullptr) pool->Run(call.blocks, working, ScanAndSave, &call);
    else
        for (int b = 0; b < call.blocks; ++b) ScanAndSave(&call, b, 0);
    const int found = call.found.load();
    call.opaque = (found & kScanNotOpaque) == 0;
    call.finish = (found & kScanColourAboveAlpha) != 0 ? FloatFinish::kLight : FloatFinish::kPremultiplied;
    if (pool != nullptr) pool->Run(call.blocks, working, FilterBlock, &call);
    else
        for (int b = 0; b < call.blocks; ++b) FilterBlock(&call, b, 0);

    store.Give(scratch, working);
    if (boundaries != nullptr) store.Give(&boundaries, 1);
    return FilterResult::kFiltered;
}

}  // namespace lowpass::auf2
