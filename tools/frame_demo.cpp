// Filters one built-in test frame through the stand-in host and says what
// the filter did: which passes ran, where the result went, how the picture
// changed.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/frame_driver.h"
#include "core/kernel.h"
#include "tests/support/stand_in_host.h"

using lowpass::testing::FramePair;
using lowpass::testing::StandInHost;

int main() {
    constexpr int kW = 720, kH = 480;
    StandInHost host;
    host.SetTrack(320, 240, 3);
    lowpass::windowWeights = lowpass::kBlackmanWindow;

    // Vertical stripes two pixels wide (far above the 320-pixel Nyquist
    // limit) over a smooth horizontal ramp.
    FramePair frames(kW, kH, kW + 8, kH + 2);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const int stripe = ((x / 2) % 2) ? 1024 : -1024;
            frames.edit.at(x, y) = PIXEL_YC{static_cast<std::int16_t>(2048 + stripe + (y - kH / 2)),
                                            static_cast<std::int16_t>(stripe / 2),
                                            static_cast<std::int16_t>(-stripe / 2)};
        }
    lowpass::testing::GuardedFrame source(kW, kH, kW + 8, kH + 2, 3);
    source.CopyPicture(frames.edit);

    std::printf("frame %d x %d (stride %d), target X=%d Y=%d, taps N=%d, Blackman window\n", kW, kH, kW + 8,
                host.track[0], host.track[1], host.track[2]);
    lowpass::ProcScalar(&host.filter, &frames.info);
    std::printf("kernel built for %d x %d; horizontal 16.16 taps:", lowpass::kernelCache.width,
                lowpass::kernelCache.height);
    for (int k = 0; k < 7; ++k) std::printf(" %d", lowpass::kernelCache.horizontal.fixedTaps[k]);
    std::printf("\n%s pass ran (%d > %d), %s pass ran (%d > %d)\n", kW > host.track[0] ? "horizontal" : "no horizontal",
                kW, host.track[0], kH > host.track[1] ? "vertical" : "no vertical", kH, host.track[1]);
    std::printf("result is in the buffer that was %s on entry\n",
                frames.ResultIsOriginalEdit() ? "ycp_edit" : "ycp_temp");

    const auto& result = frames.Result();
    double before = 0.0, after = 0.0;
    for (int y = 0; y < kH; ++y)
        for (int x = 1; x < kW; ++x) {
            before += std::abs(source.at(x, y).y - source.at(x - 1, y).y);
            after += std::abs(result.at(x, y).y - result.at(x - 1, y).y);
        }
    std::printf("row 240, luma x=100..107 before:");
    for (int x = 100; x < 108; ++x) std::printf(" %d", source.at(x, 240).y);
    std::printf("\n                          after: ");
    for (int x = 100; x < 108; ++x) std::printf(" %d", result.at(x, 240).y);
    std::printf("\nmean horizontal luma step: %.1f before, %.1f after (stripes above the cutoff attenuated)\n",
                before / (kH * (kW - 1.0)), after / (kH * (kW - 1.0)));
    std::string where;
    const bool intact = frames.edit.SentinelsIntact(&where) && frames.temp.SentinelsIntact(&where);
    std::printf("slack and spare rows of both buffers untouched: %s\n", intact ? "yes" : where.c_str());
    return intact ? EXIT_SUCCESS : EXIT_FAILURE;
}
