// The table the editor reads: the filter's name, its items and its video
// entry point.
#pragma once

#include "aviutl2/settings.h"
#include "host/aviutl2_api.h"

namespace lowpass::auf2 {

// The one table of the module. Its item records hold the values the editor
// writes before every call; nothing else in it changes.
aviutl2::FILTER_PLUGIN_TABLE* PluginTable();

// The settings as the items stand now, rounded and clamped.
FilterSettings ReadSettings();

// func_proc_video.
bool ProcVideo(aviutl2::FILTER_PROC_VIDEO* video);

}  // namespace lowpass::auf2
