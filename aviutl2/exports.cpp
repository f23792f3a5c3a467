// The module's five exports, undecorated, with C linkage. This file is
// compiled into the module itself, so the linker pulls the rest of the
// front end in through it.
#include "aviutl2/band_pool.h"
#include "aviutl2/hf64_filter.h"
#include "aviutl2/host_log.h"
#include "aviutl2/plugin_table.h"
#include "host/aviutl2_api.h"

#if defined(_WIN32)
#define LOWPASS_EXPORT extern "C" __declspec(dllexport)
#else
#define LOWPASS_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The table, with its items and the video entry point.
LOWPASS_EXPORT aviutl2::FILTER_PLUGIN_TABLE* GetFilterPluginTable() { return lowpass::auf2::PluginTable(); }

// The oldest editor with everything the filter uses: 2.1.0.
LOWPASS_EXPORT aviutl2::Dword RequiredVersion() { return aviutl2::kVersion2_1_0; }

// Refuses an editor older than RequiredVersion; keeps nothing.
LOWPASS_EXPORT bool InitializePlugin(aviutl2::Dword version) { return version >= aviutl2::kVersion2_1_0; }

// Failures are reported through the editor's log from now on.
LOWPASS_EXPORT void InitializeLogger(aviutl2::LOG_HANDLE* logger) { lowpass::auf2::SetLogger(logger); }

// The pool's threads stop; the working memory kept between calls is freed.
LOWPASS_EXPORT void UninitializePlugin() {
    lowpass::auf2::ThePool().Stop();
    lowpass::auf2::TheScratchStore().Release();
}
