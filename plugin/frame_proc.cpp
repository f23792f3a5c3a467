#include "plugin/frame_proc.h"

#include <array>
#include <cstddef>
#include <utility>

#include "plugin/filter_settings.h"
#include "plugin/plugin_state.h"
#include "simd/cpu_probe.h"
#include "simd/mmx_state.h"

namespace lowpass {

BOOL RunHostFrame(FILTER* fp, FILTER_PROC_INFO* fpip, const Engine& engine) {
    // The taps are read and clamped once per frame, here; the passes get
    // plain numbers.
    const KernelSettings settings{ClampTarget(fp->track[kTrackX]), ClampTarget(fp->track[kTrackY]),
                                  ClampTaps(fp->track[kTrackTaps]), windowWeights};
    FrameBuffers frame{fpip->ycp_edit, fpip->ycp_temp, fpip->w, fpip->h, fpip->max_w};
    // The kernel design's floating point shares its registers with MMX.
    const FrameContext context{&kernelCache, (cpuCaps & kCpuCapsMmx) != 0 ? ClearMmxState : nullptr, nullptr};
    RunFramePasses(context, settings, frame, engine.passes);
    fpip->ycp_edit = frame.edit;
    fpip->ycp_temp = frame.temp;
    return TRUE;
}

BOOL LP_CDECL ProcPortable(FILTER* fp, FILTER_PROC_INFO* fpip) { return RunHostFrame(fp, fpip, PortableEngine()); }

namespace {

template <std::size_t kIndex>
BOOL LP_CDECL ProcEngine(FILTER* fp, FILTER_PROC_INFO* fpip) {
    return RunHostFrame(fp, fpip, Engines()[kIndex]);
}

// The portable engine (the table's first) keeps the one entry the
// descriptor names; every other engine gets its own.
template <std::size_t... kIndex>
constexpr auto MakeProcs(std::index_sequence<kIndex...>) {
    return std::array<FilterProcFunc, 1 + sizeof...(kIndex)>{ProcPortable, ProcEngine<kIndex + 1>...};
}

constexpr auto kProcs = MakeProcs(std::make_index_sequence<kEngineCount - 1>());

}  // namespace

FilterProcFunc FrameProcFor(const Engine& engine) {
    const auto engines = Engines();
    for (std::size_t i = 0; i < engines.size(); ++i)
        if (&engines[i] == &engine) return kProcs[i];
    return kProcs[0];
}

const Engine* EngineOfFrameProc(FilterProcFunc proc) {
    for (std::size_t i = 0; i < kProcs.size(); ++i)
        if (kProcs[i] == proc) return &Engines()[i];
    return nullptr;
}

}  // namespace lowpass
