// What both fuzz targets check on one input.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tools/cli/video_io.h"

namespace lowpass::fuzz {

// Reads the bytes as a stream in the given format (for yc48 of the given
// frame size) and writes every frame read back out, as the tool does with
// the filter left out. Aborts, so that the fuzzer reports the input, if
// - what was written is not the input up to the end of the last whole frame
//   read (the 8-bit and the raw sample maps are exact both ways, and the
//   header and FRAME lines are copied), or not all of it when the stream
//   ended cleanly;
// - a fault is reported other than as bad input with a short message of
//   printable characters.
void CheckRoundTrip(const std::uint8_t* data, std::size_t size, cli::VideoFormat format, int width, int height);

}  // namespace lowpass::fuzz
