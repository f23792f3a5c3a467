// One call of the editor for one image: read it, low-pass it, write it back.
#pragma once

#include "aviutl2/band_pool.h"
#include "aviutl2/hf64_filter.h"
#include "aviutl2/settings.h"
#include "core/float_pass.h"
#include "host/aviutl2_api.h"

namespace lowpass::auf2 {

// The filter's answer to func_proc_video, always true:
//  - an image no larger than X x Y (or an empty one) is left alone without
//    reading it;
//  - otherwise it is read as HF64, low-passed and written back;
//  - when the size call fails or gives a negative size, the image's copy
//    (8 bytes a pixel, 2 GiB for 16384 x 16384) or the working memory
//    cannot be had, or the read or the write is refused, the image is left
//    as it was and the failure is reported to the editor's log (at most
//    once a second for each kind). False would stop the object's later
//    filters and its drawing, which a passing failure must not do.
bool FilterObjectImage(aviutl2::FILTER_PROC_VIDEO* video, const FilterSettings& settings, const FloatPasses& passes,
                       BandPool* pool, ScratchStore& store);

}  // namespace lowpass::auf2
