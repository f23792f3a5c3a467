// Where the filter's settings live in the host's arrays, and the private
// message that sets two of them. Shared by the descriptor that declares the
// sliders and boxes, the settings update and frame driver that read them,
// and the front ends and tools that fill them.
#pragma once

#include "host/host_api.h"

namespace lowpass {

// Sliders (the host's track array).
constexpr int kTrackX = 0;     // target width X
constexpr int kTrackY = 1;     // target height Y
constexpr int kTrackTaps = 2;  // taps: the kernel half-length N
constexpr int kTrackCount = 3;

// Check boxes (the host's check array): the SIMD box, then the four
// windows, which behave as one group of radio buttons.
constexpr int kCheckSimd = 0;
constexpr int kCheckRectangular = 1;
constexpr int kCheckHanning = 2;
constexpr int kCheckHamming = 3;
constexpr int kCheckBlackman = 4;
constexpr int kCheckCount = 5;
constexpr int kFirstWindowBox = kCheckRectangular;
constexpr int kLastWindowBox = kCheckBlackman;

// The settings window's private message that sets X and Y in one step
// (WM_USER + 200): X in the low 16 bits of lparam, Y in the high 16 bits.
constexpr UINT kSizeRequest = kMsgUser + 200;

}  // namespace lowpass
