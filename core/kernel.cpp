#include "core/kernel.h"

#include <cfloat>
#include <cmath>

namespace lowpass {

int ClampTaps(int taps) {
    if (taps < 0) return 0;
    if (taps > kMaxTaps) return kMaxTaps;
    return taps;
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

bool SameWindow(const WindowWeights& a, const WindowWeights& b) {
    return a.a0 == b.a0 && a.a1 == b.a1 && a.a2 == b.a2;
}

}  // namespace

double DesignKernel(double* values, double fc, int taps, const WindowWeights& window) {
    const double pi = 4.0 * std::atan(1.0);
    const WindowWeights weights = window;
    values[taps] = 1.0;
    double sum = 1.0;
    for (int i = 1; i <= taps; ++i) {
        const double c = std::cos(pi * (1.0 - static_cast<double>(i) / static_cast<double>(taps)));
        const double shape = (weights.a2 * c + weights.a1) * c + weights.a0;
        const double v = std::sin(2.0 * fc * static_cast<double>(i) * pi) * shape /
                         (static_cast<double>(i) * pi);
        values[taps + i] = v;
        values[taps - i] = v;
        sum = sum + 2.0 * v;
    }
    return sum;
}

void BuildKernelTables(KernelTables& tables, double fc, int taps, const WindowWeights& window) {
    double values[kMaxKernelLength];
    const double sum = DesignKernel(values, fc, taps, window);
    const double reciprocal = 1.0 / sum;
    for (int k = 0; k <= 2 * taps; ++k) {
        const double coefficient = reciprocal * values[k];
        tables.fixedTaps[k] = TruncateToInt32(coefficient * kFixedOne);
        const float single = RoundToFloat(coefficient);
        // Low 16 bits of the truncated 2.14 value, taken modulo 2^16.
        const auto mmx = static_cast<std::int16_t>(
            static_cast<std::uint16_t>(static_cast<std::uint32_t>(TruncateToInt32(coefficient * kMmxOne))));
        for (int lane = 0; lane < 4; ++lane) {
            tables.sseTaps[k][lane] = single;
            tables.mmxTaps[k][lane] = mmx;
        }
    }
}

void RebuildKernel(KernelCache& cache, const KernelSettings& settings, int w, int h) {
    const int taps = ClampTaps(settings.taps);
    const double fcHorizontal =
        static_cast<double>(ClampTarget(settings.x)) / (2.0 * static_cast<double>(w));
    BuildKernelTables(cache.horizontal, fcHorizontal, taps, settings.window);
    const double fcVertical =
        static_cast<double>(ClampTarget(settings.y)) / (2.0 * static_cast<double>(h));
    BuildKernelTables(cache.vertical, fcVertical, taps, settings.window);

    for (float& bias : cache.roundingBias) bias = 0.5f;
    cache.valid = 1;
    cache.width = w;
    cache.height = h;
    cache.settings = settings;
}

bool KernelCacheFits(const KernelCache& cache, const KernelSettings& settings, int w, int h) {
    return cache.valid && cache.width == w && cache.height == h && cache.settings.x == settings.x &&
           cache.settings.y == settings.y && cache.settings.taps == settings.taps &&
           SameWindow(cache.settings.window, settings.window);
}

}  // namespace lowpass
