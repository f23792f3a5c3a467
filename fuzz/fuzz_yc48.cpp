// libFuzzer target: raw host frames. The first two bytes give the frame
// size (width 1 + byte 0 modulo 64, height 1 + byte 1 modulo 64), the rest
// is the stream.
#include "fuzz/video_round_trip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    lowpass::fuzz::CheckRoundTrip(data + 2, size - 2, lowpass::cli::VideoFormat::Yc48, 1 + data[0] % 64, 1 + data[1] % 64);
    return 0;
}
