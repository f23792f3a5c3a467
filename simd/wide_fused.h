// The wide passes of both directions at once (FusedPassesWide): the
// horizontal sums of wide_across.h made into the ring of wide_down.h's
// strip loop, block by block in place (core/fused_blocks.h). See
// wide_common.h for the vector type and for why everything here has
// internal linkage.
//
// A block's output rows are made strip by strip across the row: for each
// strip, the horizontal rows the block needs (N above it to N below it)
// are made one by one into a ring of float32 rows, and each output row is
// made from the ring as soon as the rows it needs are there, as the
// vertical pass makes it. A horizontal row is either read from the
// boundary rows (near a block boundary, widened as the vertical pass
// widens its source) or computed from the picture as the horizontal pass
// computes it, each result converted and saturated to int16 and widened
// again exactly as the vertical pass would read it; the horizontal row r
// is made before output row r - N, so the picture's row r is read before
// it is overwritten. Only the samples left of the strip that its
// horizontal outputs reach (3N) were overwritten by the strip before: they
// are kept, widened, from the strip before.
#pragma once

#include <cassert>

#include "simd/pass_sse_wide.h"
#include "simd/wide_across.h"
#include "simd/wide_down.h"

namespace lowpass {
namespace {

constexpr int kMaxFusedTaps = kWideFusedMaxTaps;
// The ring of 2N + 2 strips of horizontal rows: about the size of a
// first-level data cache.
constexpr int kFusedRingFloats = 6144;
// Samples left of a strip that its horizontal outputs reach, at most.
constexpr int kCarry = 3 * kMaxFusedTaps;
// A horizontal sum over samples of magnitude at most `peak` is at most
// peak * sum |c[k]| (1 + 2^-23)^(2N + 2) + 0.51 in magnitude, whatever the
// rounding: where peak * sum |c[k]| <= kInRange, no middle output of the
// row saturates (a NaN or infinite tap fails the test).
constexpr double kInRange = 32000.0;

// The horizontal rows of one strip of one block, made into the ring as the
// strip loop asks for them.
template <class V>
class HorizontalStrip {
public:
    explicit HorizontalStrip(const FusedJob& job)
        : job_(job),
          frame_(reinterpret_cast<std::int16_t*>(job.frame)),
          boundaryRows_(reinterpret_cast<const std::int16_t*>(job.boundaryRows)),
          stride_(static_cast<std::ptrdiff_t>(job.stride) * 3),
          rowSamples_(3 * job.w),
          n_(job.taps),
          reach_(3 * job.taps),
          taps_(job.across->sseTaps),
          bias_(V::Broadcast(job.roundingBias)),
          ringRows_(2 * job.taps + 2) {
        assert(n_ >= 1 && n_ <= kMaxFusedTaps);
        BuildEdgeLanes(left_, right_, taps_, n_);
        for (int k = 0; k <= 2 * n_; ++k) sumAbs_ += taps_[k][0] < 0.0f ? -double(taps_[k][0]) : double(taps_[k][0]);
        // Strips: as few as the ring allows, of nearly equal width, each
        // starting at a multiple of the lanes; each at least 3N wide (a
        // row has at least 6N + 3 samples), so that each edge run lies in
        // one.
        widest_ = kFusedRingFloats / ringRows_ / V::kLanes * V::kLanes - V::kLanes;  // a strip may be up to L wider
        strips_ = (rowSamples_ + widest_ - 1) / widest_;
        ring_ = RowRing{ringFloats_, ringRows_, widest_ + V::kLanes};  // the widest strip rounded up to the lanes
    }

    int strips() const { return strips_; }
    // Sample index of the start of strip i (i = strips(): the row's end).
    int StripStart(int i) const {
        return i == strips_
                   ? rowSamples_
                   : static_cast<int>(static_cast<long long>(rowSamples_) * i / strips_) / V::kLanes * V::kLanes;
    }

    // Block `block`, strip `strip`.
    void Start(int block, int strip) {
        block_ = block;
        s0_ = StripStart(strip);
        s1_ = StripStart(strip + 1);
        count_ = s1_ - s0_;
        widenCount_ = RoundUpTo(count_, V::kLanes);
    }
    int count() const { return count_; }
    int start() const { return s0_; }

    const RowRing& ring() const { return ring_; }

    // Horizontal row t of the strip into its ring row.
    void Make(int t) {
        float* into = ring_.Row(t);
        if (job_.blocks.NearBoundary(t)) {
            Widen<V>(into, boundaryRows_ + static_cast<std::ptrdiff_t>(t) * stride_, rowSamples_, s0_,
                     s0_ + widenCount_);
            return;
        }
        const std::int16_t* in = frame_ + static_cast<std::ptrdiff_t>(t) * stride_;
        // The samples kept are the kCarry before the next strip, copied
        // whole: a copy of fixed size is a few moves.
        const int row = job_.blocks.RowInBlock(block_, t);
        float* kept = carry_[row];
        int& keptPeak = carryPeak_[row];
        if (s0_ == 0) {
            std::memset(segment_ + reach_ - kCarry, 0, sizeof(float) * kCarry);
            keptPeak = 0;
        } else {
            std::memcpy(segment_ + reach_ - kCarry, kept, sizeof(float) * kCarry);
        }
        keptPeak = WidenWithPeak<V>(segment_ + reach_, in, rowSamples_, s0_,
                                    s0_ + widenCount_ + reach_ + (s1_ == rowSamples_ ? kMaxEdgeLanes : 0), keptPeak);
        if (s1_ < rowSamples_) std::memcpy(kept, segment_ + reach_ + count_ - kCarry, sizeof(float) * kCarry);
        // The next row's samples of the strip into the first-level cache
        // while this one is computed.
        const auto* next = reinterpret_cast<const char*>(in + (t + 1 < job_.h ? stride_ : 0) + s0_);
        const int nextBytes = 2 * MinInt(widenCount_ + reach_, rowSamples_ - s0_);
        if (static_cast<double>(keptPeak) * sumAbs_ <= kInRange)
            Middle(reinterpret_cast<InRangeSample*>(into), next, nextBytes);
        else Middle(into, next, nextBytes);
        if (s0_ == 0) {
            LeftEdgeRun<V>(edgeResults_, segment_ + reach_, left_, n_, bias_);
            for (int i = 0; i < reach_; ++i) into[i] = static_cast<float>(edgeResults_[i]);
        }
        if (s1_ == rowSamples_) {
            RightEdgeRun<V>(edgeResults_, segment_ + (rowSamples_ - reach_ - s0_), right_, n_, bias_);
            for (int i = 0; i < reach_; ++i) into[count_ - reach_ + i] = static_cast<float>(edgeResults_[i]);
        }
    }

    // Nothing is asked for ahead while the output rows are computed: the
    // rows they read are in the ring.
    void BeginRow(int, bool) {}
    void Ahead(int, int) const {}

private:
    // Every output of the strip as a middle one (those within 3N of the
    // row's ends read zeros and are replaced by the edge runs). The next
    // row's lines are asked for a few at a time, between the blocks of
    // outputs: asked for all at once, the requests fill the processor's
    // queue of misses and stall it.
    template <class Out>
    void Middle(Out* to, const char* next, int nextBytes) {
        constexpr int L = V::kLanes;
        constexpr int K = V::kInFlight;
        int q = 0;
        int asked = 0;
        for (; q + K * L <= widenCount_; q += K * L) {
            for (; asked < 2 * (q + K * L) && asked < nextBytes; asked += 64) _mm_prefetch(next + asked, _MM_HINT_T0);
            MiddleBlock<V, K>(to + q, segment_ + q, taps_, n_, bias_);
        }
        for (; asked < nextBytes; asked += 64) _mm_prefetch(next + asked, _MM_HINT_T0);
        MiddleTail<V, K>(to + q, segment_ + q, (widenCount_ - q) / L, taps_, n_, bias_);
    }

    const FusedJob& job_;
    std::int16_t* const frame_;
    const std::int16_t* const boundaryRows_;
    const std::ptrdiff_t stride_;
    const int rowSamples_, n_, reach_;
    const Tap* const taps_;
    const typename V::Vec bias_;
    const int ringRows_;
    int widest_ = 0, strips_ = 0;
    RowRing ring_{};
    int block_ = 0, s0_ = 0, s1_ = 0, count_ = 0, widenCount_ = 0;
    double sumAbs_ = 0.0;
    EdgeLanes left_, right_;
    alignas(kVectorBytes) float ringFloats_[kFusedRingFloats];
    // One row's widened samples for one strip: segment_[j] is sample
    // start - 3N + j, up to 3N past the strip rounded up to the lanes (and
    // the edge run's lanes beyond in the last strip), with room for kCarry
    // samples before the strip.
    alignas(kVectorBytes) float buffer_[kCarry + kFusedRingFloats / 4 + 2 * kCarry + kMaxEdgeLanes];
    float* const segment_ = buffer_ + kCarry;
    // Per block row computed from the picture: its kCarry samples left of
    // the next strip, widened before the strip overwrote them, and the
    // largest magnitude among them (or more).
    float carry_[FusedBlocks::kMaxRows][kCarry];
    int carryPeak_[FusedBlocks::kMaxRows];
    alignas(kVectorBytes) std::int16_t edgeResults_[kMaxEdgeLanes];
};

template <class V>
void FusedPassesWide(const FusedJob& job) {
    static_assert(kMaxFusedTaps <= kShortKernelTaps, "both passes at once take short kernels only");
    constexpr int K = V::kDownInFlight;
    // Two rows of P vectors: twice as many sums as registers allow for,
    // less the coefficients and the loaded row.
    constexpr int P = K >= 8 ? 6 : K / 2;
    if (job.first >= job.end) return;
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(job.stride) * 3;
    const ColumnKernel kernel(job.down->sseTaps, job.taps, job.h);
    const typename V::Vec bias = V::Broadcast(job.roundingBias);
    auto* const frame = reinterpret_cast<std::int16_t*>(job.frame);
    HorizontalStrip<V> rows(job);
    for (int block = job.first; block < job.end; ++block)
        for (int strip = 0; strip < rows.strips(); ++strip) {
            rows.Start(block, strip);
            StripRows<V, K, P>(rows, kernel, frame + rows.start(), stride, job.blocks.First(block),
                               job.blocks.End(block), rows.count(), bias);
        }
}

}  // namespace
}  // namespace lowpass
