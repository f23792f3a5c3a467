// The portable float passes: every output by the general rule, one pixel
// at a time.
#include "core/float_pass.h"

#include "core/float_terms.h"

namespace lowpass {

FloatTaps MakeFloatTaps(const float* kernel, int n) {
    FloatTaps taps{};
    taps.n = n;
    for (int j = 0; j <= n; ++j) taps.tap[j] = kernel[n + j];
    if (n > 0) {
        taps.fold[n] = taps.tap[n];
        for (int j = n - 1; j >= 1; --j) taps.fold[j] = taps.tap[j] + taps.fold[j + 1];
    }
    return taps;
}

float HalfToFloat(std::uint16_t half) { return HalfBitsToFloat(half); }
std::uint16_t FloatToHalf(float value) { return FloatToHalfBits(value); }

void HalfToFloatRowPortable(const std::uint16_t* halves, float* out, int count) {
    for (int i = 0; i < count; ++i) out[i] = HalfBitsToFloat(halves[i]);
}

void HorizontalFloatPassPortable(const FloatAcrossJob& job) {
    const float* source = job.source;
    const auto at = [source](int q) { return source + kFloatLanes * q; };
    for (int p = 0; p < job.w; ++p) FloatOutput(job.destination + kFloatLanes * p, at, p, job.w, *job.taps);
}

void VerticalFloatPassPortable(const FloatDownJob& job) {
    const int n = job.taps->n;
    for (int x = 0; x < job.w; ++x) {
        const auto at = [&job, n, x](int q) { return job.rows[q - job.p + n] + kFloatLanes * x; };
        FloatOutput(job.destination + kFloatLanes * x, at, job.p, job.h, *job.taps);
    }
}

void FinishHalfRowPortable(const float* in, std::uint16_t* out, int w, FloatFinish mode, bool opaque) {
    for (int x = 0; x < w; ++x) FinishPixel(in + kFloatLanes * x, out + kFloatLanes * x, mode, opaque);
}

int ScanHalfRowPortable(const std::uint16_t* halves, int w) {
    int found = 0;
    for (int x = 0; x < w; ++x) found |= ScanPixel(halves + kFloatLanes * x);
    return found;
}

}  // namespace lowpass
