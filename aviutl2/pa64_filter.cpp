// Alpha packing. The engines filter three samples per pixel, each lane on
// its own, along a line. Colours fill the three lanes (r, g, b). Alpha,
// when it needs filtering, is packed three lines to one: for the pass
// across, lane k of pixel (x, i) holds the alpha of pixel x in row 3i + k;
// for the pass down, lane k of pixel (i, r) holds the alpha of column
// 3i + k in row r. Each lane then runs along the direction of the pass,
// through the same samples a one-channel frame would give it, so alpha is
// filtered exactly as a colour is, at a third of the work. Lanes past the
// last line are zero and are not read back.
#include "aviutl2/pa64_filter.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <vector>

#include "core/kernel.h"
#include "core/pass_job.h"

namespace lowpass::auf2 {

using aviutl2::PIXEL_PA64;

namespace {

// A frame's samples as one array: pixel i's lanes are samples 3i .. 3i + 2.
static_assert(sizeof(PIXEL_YC) == 3 * sizeof(std::int16_t));
std::int16_t* Samples(PIXEL_YC* frame) { return reinterpret_cast<std::int16_t*>(frame); }

// 16-bit samples of every working value 0 .. kWorkingMax, computed once at
// compile time.
struct FromWorkingTable {
    std::uint16_t value[kWorkingMax + 1];
    constexpr FromWorkingTable() : value() {
        for (int s = 0; s <= kWorkingMax; ++s) value[s] = FromWorking(s);
    }
};
constexpr FromWorkingTable kFromWorking;

// The working samples as they wait between the two passes, stored in the
// image's own 16-bit samples.
std::uint16_t Stash(int s) { return static_cast<std::uint16_t>(static_cast<std::int16_t>(s)); }
int Unstash(std::uint16_t v) { return static_cast<std::int16_t>(v); }

int Clamp(int v, int low, int high) { return v < low ? low : (v > high ? high : v); }

// The last step for one pixel: alpha to its range, each colour to at most
// its alpha, back to 16 bits.
void Finish(PIXEL_PA64& out, int r, int g, int b, int a, bool opaque) {
    const int alpha = opaque ? kWorkingMax : Clamp(a, 0, kWorkingMax);
    out.r = kFromWorking.value[Clamp(r, 0, alpha)];
    out.g = kFromWorking.value[Clamp(g, 0, alpha)];
    out.b = kFromWorking.value[Clamp(b, 0, alpha)];
    out.a = opaque ? kSampleMax : kFromWorking.value[alpha];
}

struct Job {
    Pa64Image image;
    const KernelCache* cache;
    const PassPair* passes;
    int taps;
    bool opaque;
    bool vertical;         // a pass down follows the pass across
    bool afterHorizontal;  // the image holds working samples from the pass across
    int units;
    std::atomic<bool> outOfMemory{false};

    PIXEL_PA64* Row(int r) const { return image.pixels + static_cast<std::ptrdiff_t>(r) * image.stride; }
};

// Working frames of one band, allocated once per band and reused by its units.
struct Frames {
    std::vector<PIXEL_YC> colour;
    std::vector<PIXEL_YC> colourOut;
    std::vector<PIXEL_YC> alpha;
    std::vector<PIXEL_YC> alphaOut;

    Frames(std::size_t colourPixels, std::size_t alphaPixels)
        : colour(colourPixels), colourOut(colourPixels), alpha(alphaPixels), alphaOut(alphaPixels) {}
};

PassJob MakeJob(const Job& job, const PIXEL_YC* source, PIXEL_YC* destination, int w, int h,
                const KernelTables& tables, int end) {
    return PassJob{source, destination, w, h, w, job.taps, &tables, job.cache->roundingBias, 0, end};
}

// Rows first .. first + rows - 1, across.
void FilterBand(Job& job, Frames& f, int first, int rows) {
    const int w = job.image.w;
    const int alphaRows = (rows + 2) / 3;
    if (!job.opaque) std::fill(f.alpha.begin(), f.alpha.begin() + static_cast<std::ptrdiff_t>(alphaRows) * w, PIXEL_YC{0, 0, 0});
    for (int i = 0; i < rows; ++i) {
        const PIXEL_PA64* in = job.Row(first + i);
        PIXEL_YC* colour = f.colour.data() + static_cast<std::ptrdiff_t>(i) * w;
        for (int x = 0; x < w; ++x) {
            colour[x] = PIXEL_YC{static_cast<std::int16_t>(ToWorking(in[x].r)),
                                 static_cast<std::int16_t>(ToWorking(in[x].g)),
                                 static_cast<std::int16_t>(ToWorking(in[x].b))};
        }
        if (!job.opaque) {
            std::int16_t* alpha = Samples(f.alpha.data() + static_cast<std::ptrdiff_t>(i / 3) * w) + i % 3;
            for (int x = 0; x < w; ++x) alpha[3 * x] = static_cast<std::int16_t>(ToWorking(in[x].a));
        }
    }

    const KernelTables& tables = job.cache->horizontal;
    job.passes->horizontal(MakeJob(job, f.colour.data(), f.colourOut.data(), w, rows, tables, rows));
    if (!job.opaque)
        job.passes->horizontal(MakeJob(job, f.alpha.data(), f.alphaOut.data(), w, alphaRows, tables, alphaRows));

    for (int i = 0; i < rows; ++i) {
        PIXEL_PA64* out = job.Row(first + i);
        const PIXEL_YC* colour = f.colourOut.data() + static_cast<std::ptrdiff_t>(i) * w;
        const std::int16_t* alpha = Samples(f.alphaOut.data() + static_cast<std::ptrdiff_t>(i / 3) * w) + i % 3;
        for (int x = 0; x < w; ++x) {
            const int a = job.opaque ? kWorkingMax : alpha[3 * x];
            if (job.vertical) {
                out[x].r = Stash(colour[x].y);
                out[x].g = Stash(colour[x].cb);
                out[x].b = Stash(colour[x].cr);
                if (!job.opaque) out[x].a = Stash(a);
            } else {
                Finish(out[x], colour[x].y, colour[x].cb, colour[x].cr, a, job.opaque);
            }
        }
    }
}

// Columns first .. first + columns - 1, down.
void FilterStrip(Job& job, Frames& f, int first, int columns) {
    const int h = job.image.h;
    const int alphaColumns = (columns + 2) / 3;
    const auto read = [&job](std::uint16_t v) { return job.afterHorizontal ? Unstash(v) : ToWorking(v); };
    for (int r = 0; r < h; ++r) {
        const PIXEL_PA64* in = job.Row(r) + first;
        PIXEL_YC* colour = f.colour.data() + static_cast<std::ptrdiff_t>(r) * columns;
        for (int c = 0; c < columns; ++c) {
            colour[c] = PIXEL_YC{static_cast<std::int16_t>(read(in[c].r)), static_cast<std::int16_t>(read(in[c].g)),
                                 static_cast<std::int16_t>(read(in[c].b))};
        }
        if (!job.opaque) {
            PIXEL_YC* alphaRow = f.alpha.data() + static_cast<std::ptrdiff_t>(r) * alphaColumns;
            alphaRow[alphaColumns - 1] = PIXEL_YC{0, 0, 0};
            std::int16_t* alpha = Samples(alphaRow);
            for (int c = 0; c < columns; ++c) alpha[c] = static_cast<std::int16_t>(read(in[c].a));
        }
    }

    const KernelTables& tables = job.cache->vertical;
    job.passes->vertical(MakeJob(job, f.colour.data(), f.colourOut.data(), columns, h, tables, columns));
    if (!job.opaque)
        job.passes->vertical(
            MakeJob(job, f.alpha.data(), f.alphaOut.data(), alphaColumns, h, tables, alphaColumns));

    for (int r = 0; r < h; ++r) {
        PIXEL_PA64* out = job.Row(r) + first;
        const PIXEL_YC* colour = f.colourOut.data() + static_cast<std::ptrdiff_t>(r) * columns;
        const std::int16_t* alpha = Samples(f.alphaOut.data() + static_cast<std::ptrdiff_t>(r) * alphaColumns);
        for (int c = 0; c < columns; ++c) {
            const int a = job.opaque ? kWorkingMax : alpha[c];
            Finish(out[c], colour[c].y, colour[c].cb, colour[c].cr, a, job.opaque);
        }
    }
}

// One band of the pass across: units band, band + bands, ...
void HorizontalBody(int band, int bands, void* argument) {
    Job& job = *static_cast<Job*>(argument);
    if (band < job.units) {
        try {
            const int w = job.image.w;
            Frames f(static_cast<std::size_t>(kBandRows) * w, job.opaque ? 0 : static_cast<std::size_t>(kBandRows / 3) * w);
            for (int u = band; u < job.units && !job.outOfMemory; u += bands) {
                const int first = u * kBandRows;
                FilterBand(job, f, first, std::min(kBandRows, job.image.h - first));
            }
        } catch (const std::bad_alloc&) {
            job.outOfMemory = true;
        }
    }
    if (job.passes->afterPasses != nullptr) job.passes->afterPasses();
}

void VerticalBody(int band, int bands, void* argument) {
    Job& job = *static_cast<Job*>(argument);
    if (band < job.units) {
        try {
            const int h = job.image.h;
            Frames f(static_cast<std::size_t>(kStripColumns) * h,
                     job.opaque ? 0 : static_cast<std::size_t>(kStripColumns / 3) * h);
            for (int u = band; u < job.units && !job.outOfMemory; u += bands) {
                const int first = u * kStripColumns;
                FilterStrip(job, f, first, std::min(kStripColumns, job.image.w - first));
            }
        } catch (const std::bad_alloc&) {
            job.outOfMemory = true;
        }
    }
    if (job.passes->afterPasses != nullptr) job.passes->afterPasses();
}

// Small images run on the calling thread: starting threads would cost more.
constexpr std::int64_t kPixelsWorthThreads = 128 * 1024;

void Run(BandBody body, Job& job, const BandRunner* bands) {
    const std::int64_t pixels = static_cast<std::int64_t>(job.image.w) * job.image.h;
    if (bands != nullptr && job.units > 1 && pixels >= kPixelsWorthThreads &&
        bands->run(bands->context, body, &job)) {
        return;
    }
    body(0, 1, &job);
}

}  // namespace

bool IsOpaque(const Pa64Image& image) {
    for (int r = 0; r < image.h; ++r) {
        const PIXEL_PA64* row = image.pixels + static_cast<std::ptrdiff_t>(r) * image.stride;
        for (int x = 0; x < image.w; ++x)
            if (row[x].a != kSampleMax) return false;
    }
    return true;
}

FilterResult FilterImage(const Pa64Image& image, const FilterSettings& settings, const PassPair& passes,
                         const BandRunner* bands) {
    if (image.w <= 0 || image.h <= 0 || !NeedsPasses(settings, image.w, image.h)) return FilterResult::kUnchanged;

    // Designed per call: a few microseconds, and no state shared between
    // calls, instances or threads.
    KernelCache cache{};
    RebuildKernel(cache, KernelSettings{settings.x, settings.y, settings.taps, WindowWeightsOf(settings.window)},
                  image.w, image.h);

    const bool horizontal = image.w > settings.x;
    const bool vertical = image.h > settings.y;
    Job job;
    job.image = image;
    job.cache = &cache;
    job.passes = &passes;
    job.taps = settings.taps;
    job.opaque = IsOpaque(image);
    job.vertical = vertical;
    job.afterHorizontal = false;
    if (horizontal) {
        job.units = (image.h + kBandRows - 1) / kBandRows;
        Run(HorizontalBody, job, bands);
        if (job.outOfMemory) return FilterResult::kOutOfMemory;
        job.afterHorizontal = true;
    }
    if (vertical) {
        job.units = (image.w + kStripColumns - 1) / kStripColumns;
        Run(VerticalBody, job, bands);
        if (job.outOfMemory) return FilterResult::kOutOfMemory;
    }
    return FilterResult::kFiltered;
}

}  // namespace lowpass::auf2
