#include "aviutl2/settings.h"

#include <cmath>

namespace lowpass::auf2 {

int TrackValue(double value, int min, int max, int fallback) {
    if (std::isnan(value)) return fallback;
    // Clamped first, so the conversion below is always in range.
    if (value <= static_cast<double>(min)) return min;
    if (value >= static_cast<double>(max)) return max;
    return static_cast<int>(std::floor(value + 0.5));
}

int WindowValue(int value) {
    switch (value) {
        case kWindowRectangular:
        case kWindowHanning:
        case kWindowHamming:
        case kWindowBlackman:
            return value;
        default:
            return kDefaultWindow;
    }
}

WindowWeights WindowWeightsOf(int window) {
    switch (WindowValue(window)) {
        case kWindowRectangular: return kRectangularWindow;
        case kWindowHanning: return kHanningWindow;
        case kWindowHamming: return kHammingWindow;
        default: return kBlackmanWindow;
    }
}

}  // namespace lowpass::auf2
