// The texts here are the editor's keys: the filter's name keys saved
// projects, the item names key their values and the select entries are
// translated by the language files. Renaming any of them breaks saved
// projects and translations. The source is UTF-8; u"" literals are UTF-16.
#include "aviutl2/plugin_table.h"

#include <cstring>

#include "aviutl2/band_pool.h"
#include "aviutl2/engine_choice.h"
#include "aviutl2/hf64_filter.h"
#include "aviutl2/video_call.h"

#ifndef LOWPASS_VERSION
#error "LOWPASS_VERSION must name the project version"
#endif

namespace lowpass::auf2 {

using namespace aviutl2;

namespace {

// The share of the range the slider's travel covers: all of it.
constexpr double kSliderRatio = 1.0;

FILTER_ITEM_TRACK itemX{kItemTypeTrack, u"X", kDefaultX, kTargetMin, kTargetMax, 1.0, nullptr, kSliderRatio};
FILTER_ITEM_TRACK itemY{kItemTypeTrack, u"Y", kDefaultY, kTargetMin, kTargetMax, 1.0, nullptr, kSliderRatio};
FILTER_ITEM_TRACK itemTaps{kItemTypeTrack, u"タップ", kDefaultTaps, kTapsMin, kTapsMax, 1.0, nullptr, kSliderRatio};

const FILTER_ITEM_SELECT_ITEM windowList[] = {
    {u"方形波窓", kWindowRectangular},
    {u"ハニング窓", kWindowHanning},
    {u"ハミング窓", kWindowHamming},
    {u"ブラックマン窓", kWindowBlackman},
    {nullptr, 0},
};
FILTER_ITEM_SELECT itemWindow{kItemTypeSelect, u"窓関数", kDefaultWindow, windowList};

FILTER_ITEM_CHECK itemSimd{kItemTypeCheck, u"SIMD", true};

void* items[] = {&itemX, &itemY, &itemTaps, &itemWindow, &itemSimd, nullptr};

FILTER_PLUGIN_TABLE table{
    kFilterFlagVideo | kFilterFlagFilter,
    u"低域通過フィルタ",
    u"加工",  // the editor's "Process" category, which its language files translate
    u"低域通過フィルタ Ver " LOWPASS_VERSION " by lowpass developers",
    items,
    ProcVideo,
    nullptr,
    nullptr,
    nullptr,
};

// The editor writes the check box's byte; any value but 0 is on.
bool CheckValue(const FILTER_ITEM_CHECK& item) {
    unsigned char byte = 0;
    std::memcpy(&byte, &item.value, 1);
    return byte != 0;
}

}  // namespace

FILTER_PLUGIN_TABLE* PluginTable() { return &table; }

FilterSettings ReadSettings() {
    FilterSettings s;
    s.x = TrackValue(itemX.value, kTargetMin, kTargetMax, kDefaultX);
    s.y = TrackValue(itemY.value, kTargetMin, kTargetMax, kDefaultY);
    s.taps = TrackValue(itemTaps.value, kTapsMin, kTapsMax, kDefaultTaps);
    s.window = WindowValue(itemWindow.value);
    s.simd = CheckValue(itemSimd);
    return s;
}

bool ProcVideo(FILTER_PROC_VIDEO* video) {
    const FilterSettings settings = ReadSettings();
    return FilterObjectImage(video, settings, ChoosePasses(settings.simd), &ThePool(), TheScratchStore());
}

}  // namespace lowpass::auf2
