// libFuzzer target: the input is a YUV4MPEG2 stream.
#include "fuzz/video_round_trip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lowpass::fuzz::CheckRoundTrip(data, size, lowpass::cli::VideoFormat::Y4m, 0, 0);
    return 0;
}
