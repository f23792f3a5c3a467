#include "aviutl2/video_call.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "aviutl2/host_log.h"

namespace lowpass::auf2 {

using namespace aviutl2;

namespace {

// Below this many pixels a call runs on the calling thread alone: handing
// units to other threads would cost more than it saves.
constexpr std::int64_t kPixelsWorthThreads = 128 * 1024;

}  // namespace

bool FilterObjectImage(FILTER_PROC_VIDEO* video, const FilterSettings& settings, const FloatPasses& passes,
                       BandPool* pool, ScratchStore& store) {
    if (video == nullptr) return true;
    int w = 0;
    int h = 0;
    if (video->get_image_resource_size == nullptr || !video->get_image_resource_size(kObjectResource, &w, &h)) {
        WarnFailure(Failure::kSize, "the editor did not give the image's size", 0, 0);
        return true;
    }
    if (w < 0 || h < 0) {
        WarnFailure(Failure::kSize, "the editor gave a negative image size", w, h);
        return true;
    }
    // No pass needed (an empty image included): no round trip through video memory.
    if (w == 0 || h == 0 || !NeedsPasses(settings, w, h)) return true;
    if (video->get_image_resource_data == nullptr || video->set_image_resource_data == nullptr) {
        WarnFailure(Failure::kRead, "the editor offers no image read or write", w, h);
        return true;
    }

    constexpr int kBytesPerPixel = static_cast<int>(sizeof(PIXEL_HF64));
    const std::size_t pixels = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    std::unique_ptr<std::uint16_t[]> buffer;
    // The pitch must fit the call's int; the copy, the address space.
    if (w <= INT_MAX / kBytesPerPixel && pixels <= SIZE_MAX / kBytesPerPixel)
        buffer.reset(new (std::nothrow) std::uint16_t[pixels * 4]);
    if (!buffer) {
        WarnFailure(Failure::kAllocation, "no memory for the image's copy", w, h);
        return true;
    }
    const int pitch = w * kBytesPerPixel;
    if (!video->get_image_resource_data(kObjectResource, buffer.get(), w, h, pitch, kImageFormatHf64)) {
        WarnFailure(Failure::kRead, "the editor refused to read the image", w, h);
        return true;
    }
    const Hf64Image image{buffer.get(), w, h, static_cast<std::ptrdiff_t>(w) * 4};
    const bool threads = static_cast<std::int64_t>(w) * h >= kPixelsWorthThreads;
    switch (FilterImage(image, settings, passes, threads ? pool : nullptr, store)) {
        case FilterResult::kUnchanged: return true;
        case FilterResult::kOutOfMemory:
            WarnFailure(Failure::kAllocation, "no working memory for the passes", w, h);
            return true;
        case FilterResult::kFiltered: break;
    }
    if (!video->set_image_resource_data(kObjectResource, buffer.get(), w, h, pitch, kImageFormatHf64))
        WarnFailure(Failure::kWrite, "the editor refused to take the filtered image", w, h);
    return true;
}

}  // namespace lowpass::auf2
