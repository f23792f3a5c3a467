#include "plugin/frame_proc.h"

#include <array>
#include <cstddef>
#include <utility>

#include "plugin/filter_settings.h"
#include "plugin/host_threads.h"
#include "plugin/plugin_state.h"
#include "simd/cpu_probe.h"
#include "simd/mmx_state.h"
#include "simd/mxcsr.h"

namespace lowpass {

BOOL RunHostFrame(FILTER* fp, FILTER_PROC_INFO* fpip, const Engine& engine) {
    // The taps are read and clamped once per frame, here; the passes get
    // plain numbers.
    const KernelSettings settings{ClampTarget(fp->track[kTrackX]), ClampTarget(fp->track[kTrackY]),
                                  ClampTaps(fp->track[kTrackTaps]), windowWeights};
    FrameBuffers frame{fpip->ycp_edit, fpip->ycp_temp, fpip->w, fpip->h, fpip->max_w};
    // The passes run in bands on the host's worker threads when it lends
    // them, under this thread's SSE rounding mode.
    HostThreads threads{nullptr, false, 0};
    const BandRunner hostRunner{RunBandsOnHostThreads, &threads};
    const BandRunner* runner = nullptr;
    if (fp->exfunc != nullptr && fp->exfunc->exec_multi_thread_func != nullptr) {
        threads.exec = fp->exfunc->exec_multi_thread_func;
        threads.copyMxcsr = (cpuCaps & kCpuCapsSse) != 0;
        if (threads.copyMxcsr) threads.mxcsr = ReadMxcsr();
        runner = &hostRunner;
    }
    // The kernel design's floating point shares its registers with MMX.
    const FrameContext context{&kernelCache, (cpuCaps & kCpuCapsMmx) != 0 ? ClearMmxState : nullptr, runner};
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
// descriptor names; every other engine gets its own. Entries are made for
// as many engines as the table may hold; only those of its engines are
// ever handed out.
template <std::size_t... kIndex>
constexpr auto MakeProcs(std::index_sequence<kIndex...>) {
    return std::array<FilterProcFunc, 1 + sizeof...(kIndex)>{ProcPortable, ProcEngine<kIndex + 1>...};
}

constexpr auto kProcs = MakeProcs(std::make_index_sequence<kMaxEngines - 1>());

}  // namespace

FilterProcFunc FrameProcFor(const Engine& engine) {
    const auto engines = Engines();
    for (std::size_t i = 0; i < engines.size(); ++i)
        if (&engines[i] == &engine) return kProcs[i];
    return kProcs[0];
}

const Engine* EngineOfFrameProc(FilterProcFunc proc) {
    for (std::size_t i = 0; i < Engines().size(); ++i)
        if (kProcs[i] == proc) return &Engines()[i];
    return nullptr;
}

}  // namespace lowpass
