#include "aviutl2/video_call.h"

#include <climits>
#include <cstddef>
#include <memory>
#include <new>

#include "aviutl2/pa64_filter.h"

namespace lowpass::auf2 {

using namespace aviutl2;

bool FilterObjectImage(FILTER_PROC_VIDEO* video, const FilterSettings& settings, const PassPair& passes,
                       const BandRunner* bands) {
    if (video == nullptr || video->get_image_resource_size == nullptr) return false;
    int w = 0;
    int h = 0;
    if (!video->get_image_resource_size(kObjectResource, &w, &h)) return false;
    if (w < 0 || h < 0) return false;
    // No pass needed (an empty image included): no round trip through video memory.
    if (w == 0 || h == 0 || !NeedsPasses(settings, w, h)) return true;
    if (video->get_image_resource_data == nullptr || video->set_image_resource_data == nullptr) return false;

    constexpr int kBytesPerPixel = static_cast<int>(sizeof(PIXEL_PA64));
    if (w > INT_MAX / kBytesPerPixel) return false;  // the pitch would not fit the call's int
    const int pitch = w * kBytesPerPixel;
    const std::size_t pixels = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    std::unique_ptr<PIXEL_PA64[]> buffer(new (std::nothrow) PIXEL_PA64[pixels]);
    if (!buffer) return false;

    if (!video->get_image_resource_data(kObjectResource, buffer.get(), w, h, pitch, kImageFormatPa64)) return false;
    const Pa64Image image{buffer.get(), w, h, w};
    switch (FilterImage(image, settings, passes, bands)) {
        case FilterResult::kUnchanged: return true;
        case FilterResult::kOutOfMemory: return false;
        case FilterResult::kFiltered: break;
    }
    return video->set_image_resource_data(kObjectResource, buffer.get(), w, h, pitch, kImageFormatPa64);
}

}  // namespace lowpass::auf2
