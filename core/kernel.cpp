#include "core/kernel.h"

#include <cfloat>
#include <cmath>

#include "simd/cpu_probe.h"

namespace lowpass {

KernelCache kernelCache;
WindowWeights windowWeights;

int TapCount(const FILTER* fp) {
    const int n = fp->track[2];
    if (n < 0) return 0;
    if (n > kMaxTaps) return kMaxTaps;
    return n;
}

std::int32_t TruncateToInt32(double v) {
    // Same answer as the processor's truncating conversion, which returns
    // 0x80000000 for anything it cannot represent.
    if (!(v > -2147483649.0 && v < 2147483648.0)) return INT32_MIN;
    return static_cast<std::int32_t>(v);
}

namespace {

float RoundToFloat(double v) {
    // Out-of-range doubles become infinities, as the processor rounds them.
    if (v > static_cast<double>(FLT_MAX) || v < -static_cast<double>(FLT_MAX)) {
        if (v >= 0x1.ffffffp+127) return INFINITY;
        if (v <= -0x1.ffffffp+127) return -INFINITY;
    }
    return static_cast<float>(v);
}

void BuildTables(KernelTables& tables, double fc, int taps) {
    double values[kMaxKernelLength];
    const double sum = DesignKernel(values, fc, taps);
    const double reciprocal = 1.0 / sum;
    for (int k = 0; k <= 2 * taps; ++k) {
        const double coefficient = reciprocal * values[k];
        tables.fixedTaps[k] = TruncateToInt32(coefficient * 65536.0);
        const float single = RoundToFloat(coefficient);
        // Low 16 bits of the truncated 2.14 value, taken modulo 2^16.
        const auto mmx = static_cast<std::int16_t>(
            static_cast<std::uint16_t>(static_cast<std::uint32_t>(TruncateToInt32(coefficient * 16384.0))));
        for (int lane = 0; lane < 4; ++lane) {
            tables.sseTaps[k][lane] = single;
            tables.mmxTaps[k][lane] = mmx;
        }
    }
}

}  // namespace

double DesignKernel(double* values, double fc, int taps) {
    const double pi = 4.0 * std::atan(1.0);
    const WindowWeights weights = windowWeights;
    values[taps] = 1.0;
    double sum = 1.0;
    for (int i = 1; i <= taps; ++i) {
        const double c = std::cos(pi * (1.0 - static_cast<double>(i) / static_cast<double>(taps)));
        const double window = (weights.a2 * c + weights.a1) * c + weights.a0;
        const double v = std::sin(2.0 * fc * static_cast<double>(i) * pi) * window /
                         (static_cast<double>(i) * pi);
        values[taps + i] = v;
        values[taps - i] = v;
        sum = sum + 2.0 * v;
    }
    return sum;
}

void Rebuild(FILTER* fp, FILTER_PROC_INFO* fpip) {
    // The vector engines share the floating-point registers: leave MMX state
    // before the design's floating-point work.
    if (cpuCaps & kCpuCapsMmx) ClearMmxState();

    const int taps = TapCount(fp);
    const double fcHorizontal =
        static_cast<double>(fp->track[0]) / (2.0 * static_cast<double>(fpip->w));
    BuildTables(kernelCache.horizontal, fcHorizontal, taps);
    const double fcVertical =
        static_cast<double>(fp->track[1]) / (2.0 * static_cast<double>(fpip->h));
    BuildTables(kernelCache.vertical, fcVertical, taps);

    for (float& bias : kernelCache.roundingBias) bias = 0.5f;
    kernelCache.valid = 1;
    kernelCache.width = fpip->w;
    kernelCache.height = fpip->h;
}

}  // namespace lowpass
