// The filter's settings as one call of the 64-bit plug-in sees them, read
// from the item records the editor fills in before every call.
#pragma once

#include "core/kernel_tables.h"

namespace lowpass::auf2 {

// Ranges and defaults of the items.
constexpr int kTargetMin = 32;
constexpr int kTargetMax = 16384;
constexpr int kDefaultX = 320;
constexpr int kDefaultY = 240;
constexpr int kTapsMin = 1;
constexpr int kTapsMax = 15;
constexpr int kDefaultTaps = 3;

// Values of the window select item, in the order of the 1.x check boxes.
enum Window : int { kWindowRectangular = 0, kWindowHanning = 1, kWindowHamming = 2, kWindowBlackman = 3 };
constexpr int kDefaultWindow = kWindowBlackman;

struct FilterSettings {
    int x;     // target width, kTargetMin .. kTargetMax
    int y;     // target height, kTargetMin .. kTargetMax
    int taps;  // N, kTapsMin .. kTapsMax
    int window;  // a Window
    bool simd;   // the vector arithmetic may be used
};

// A track bar's value as the filter uses it. The editor animates track
// values along the timeline, so they arrive as any double. The one rule:
// clamp to [min, max], then round to the nearest integer with halves
// rounded up (319.5 -> 320, 320.49 -> 320). NaN gives the default; an
// infinity clamps like any other value out of range.
int TrackValue(double value, int min, int max, int fallback);

// The select item's value as a window: anything but the four list values
// gives the default window.
int WindowValue(int value);

// The window's cosine-power weights.
WindowWeights WindowWeightsOf(int window);

}  // namespace lowpass::auf2
