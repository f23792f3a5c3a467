// One call of the editor for one image: read it, low-pass it, write it back.
#pragma once

#include "aviutl2/settings.h"
#include "core/bands.h"
#include "core/frame_driver.h"
#include "host/aviutl2_api.h"

namespace lowpass::auf2 {

// The filter's answer to func_proc_video:
//  - an image no larger than X x Y (or an empty one) is left alone without
//    reading it: true;
//  - otherwise it is read as PA64, low-passed and written back: true;
//  - false, with the image untouched, when the host reports no image or a
//    negative size, refuses the read or the write, or the image's copy
//    cannot be allocated (8 bytes a pixel, 2 GiB for 16384 x 16384).
bool FilterObjectImage(aviutl2::FILTER_PROC_VIDEO* video, const FilterSettings& settings, const PassPair& passes,
                       const BandRunner* bands);

}  // namespace lowpass::auf2
