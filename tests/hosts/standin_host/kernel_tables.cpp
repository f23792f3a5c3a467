// lowpass-kernel-tables: the coefficient tables kernel design builds for
// the settings and frame sizes the stand-in host filters, printed exactly
// (16.16 and 2.14 integers, float32 bit patterns), so that the native and
// the 32-bit Windows build can be compared table by table. It runs the
// filter's own kernel design, with the x87 control word the editor uses (0x027F,
// or the one given) where the build computes on the x87 unit.
//
//   lowpass-kernel-tables [--x87 HEX]
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/kernel.h"
#include "tests/hosts/standin_host/host_platform.h"

namespace {

void PrintTables(const char* direction, const lowpass::KernelTables& t, int n) {
    std::printf(" %s fixed", direction);
    for (int k = 0; k <= 2 * n; ++k) std::printf(" %d", static_cast<int>(t.fixedTaps[k]));
    std::printf(" mmx");
    for (int k = 0; k <= 2 * n; ++k) std::printf(" %d", static_cast<int>(t.mmxTaps[k][0]));
    std::printf(" sse");
    for (int k = 0; k <= 2 * n; ++k) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &t.sseTaps[k][0], sizeof bits);
        std::printf(" %08x", static_cast<unsigned>(bits));
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::uint16_t controlWord = 0x027F;
    if (argc >= 3 && std::strcmp(argv[1], "--x87") == 0)
        controlWord = static_cast<std::uint16_t>(std::strtoul(argv[2], nullptr, 16));
    if (lowpass::standin::HasX87ControlWord()) {
        lowpass::standin::SetX87ControlWord(controlWord);
        std::printf("info x87 control word 0x%04x\n", lowpass::standin::ReadX87ControlWord());
    }

    const lowpass::WindowWeights windows[] = {lowpass::kRectangularWindow, lowpass::kHanningWindow,
                                              lowpass::kHammingWindow, lowpass::kBlackmanWindow};
    const char* const names[] = {"rectangular", "hanning", "hamming", "blackman"};
    // Target and frame sizes of the stand-in host's cases and of the
    // engines' tests, the slider ends, and size-message values.
    struct Sizes {
        int x, y, w, h;
    };
    const Sizes sizes[] = {
        {320, 240, 640, 480}, {320, 240, 720, 480}, {32, 32, 64, 48},   {40, 60, 97, 61},    {320, 240, 853, 36},
        {32, 50, 33, 100},    {200, 100, 200, 150}, {2, 3, 5, 9},       {0, 10, 1, 40},      {10, 0, 40, 1},
        {30, 30, 31, 31},     {29, 29, 30, 30},     {1, 1, 2, 2},       {856, 576, 1920, 1080}, {32, 32, 1920, 1080},
        {65535, 65535, 1, 1}, {65535, 1, 3, 65535}, {640, 480, 641, 481}, {32, 32, 33, 33},
    };
    const int taps[] = {1, 2, 3, 4, 5, 7, 10, 15};

    static lowpass::KernelCache cache;
    int lines = 0;
    for (int window = 0; window < 4; ++window) {
        for (const Sizes& s : sizes) {
            for (int n : taps) {
                lowpass::RebuildKernel(cache, lowpass::KernelSettings{s.x, s.y, n, windows[window]}, s.w, s.h);
                std::printf("tables window=%s X=%d Y=%d w=%d h=%d N=%d", names[window], s.x, s.y, s.w, s.h, n);
                PrintTables("horizontal", cache.horizontal, n);
                PrintTables("vertical", cache.vertical, n);
                std::printf("\n");
                ++lines;
            }
        }
    }
    std::printf("info %d table sets\n", lines);
    return 0;
}
