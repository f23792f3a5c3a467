#include "tools/cli/host_session.h"

#include <algorithm>
#include <cstring>

#include "plugin/filter_export.h"
#include "plugin/frame_proc.h"
#include "plugin/plugin_state.h"
#include "simd/cpu_probe.h"
#include "tools/cli/cli_error.h"

namespace lowpass::cli {

namespace {

// There is no settings window to redraw, and the filter is always on.
BOOL LP_CDECL WindowUpdate(FILTER*) { return TRUE; }
BOOL LP_CDECL IsFilterActive(FILTER*) { return TRUE; }

std::string CapsText(int caps) {
    if (caps == kCpuCapsMmx) return "MMX only";
    if ((caps & (kCpuCapsMmx | kCpuCapsSse)) == 0) return "neither MMX nor usable SSE";
    return lowpass::FeatureNames(caps);
}

}  // namespace

std::string EngineRefusal(EngineChoice engine, int caps) {
    if (engine == nullptr || CanRun(*engine, caps)) return {};
    std::string upper = engine->name;
    for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    // SSE and the wider sets also need the system's support for their
    // registers.
    const char* what = (engine->needs & ~kCpuCapsMmx) != 0 ? "this processor or system" : "this processor";
    return std::string("--engine ") + engine->name + ": " + what + " cannot run the " + upper + " engine (it has " +
           CapsText(caps) + ")";
}

HostSession::HostSession(const FilterSettings& settings, EngineChoice engine, threads::ThreadPool* pool)
    : pool_(pool) {
    // Loading the plug-in: the export probes the processor and resets the
    // filter's state, then the host keeps its own copy of the descriptor.
    const FILTER_DLL* descriptor = GetFilterTable();
    filter_ = *descriptor;
    std::copy(std::begin(settings.track), std::end(settings.track), track_);
    std::copy(std::begin(settings.check), std::end(settings.check), check_);
    exfunc_.filter_window_update = WindowUpdate;
    exfunc_.is_filter_active = IsFilterActive;
    // The service has no argument naming a pool: the session's pool is made
    // the process's host pool for each frame (see Filter).
    if (pool_ != nullptr) exfunc_.exec_multi_thread_func = threads::ExecOnHostPool;
    filter_.track = track_;
    filter_.check = check_;
    filter_.exfunc = &exfunc_;

    const std::string refusal = EngineRefusal(engine, EngineCaps());
    if (!refusal.empty()) throw CliError(kExitUsage, refusal);

    // The user has set the sliders and boxes: one settings update, which
    // also chooses the engine from the SIMD box.
    if (filter_.func_update != nullptr) filter_.func_update(&filter_, 0);
    if (engine != nullptr) filter_.func_proc = FrameProcFor(*engine);
}

const char* HostSession::engineName() const {
    const lowpass::Engine* engine = EngineOfFrameProc(filter_.func_proc);
    return engine != nullptr ? engine->name : "unknown";
}

void HostSession::Allocate(int w, int h) {
    // As the host does: a stride wider than the picture, and spare rows.
    const int maxW = ((w + 15) / 16) * 16 + 16;
    const int maxH = h + 8;
    const std::size_t n = static_cast<std::size_t>(maxW) * static_cast<std::size_t>(maxH);
    first_.assign(n, PIXEL_YC{0, 0, 0});
    second_.assign(n, PIXEL_YC{0, 0, 0});
    info_ = FILTER_PROC_INFO{};
    info_.ycp_edit = first_.data();
    info_.ycp_temp = second_.data();
    info_.w = w;
    info_.h = h;
    info_.max_w = maxW;
    info_.max_h = maxH;
    info_.org_w = w;
    info_.org_h = h;
    info_.yc_size = static_cast<int>(sizeof(PIXEL_YC));
    info_.line_size = maxW * static_cast<int>(sizeof(PIXEL_YC));
}

HostSession::~HostSession() {
    if (pool_ != nullptr && threads::HostPool() == pool_) threads::SetHostPool(nullptr);
}

PIXEL_YC* HostSession::Input(int w, int h) {
    if (info_.ycp_edit == nullptr || info_.w != w || info_.h != h) Allocate(w, h);
    // The result of the frame before may sit in either buffer; the next
    // frame goes into the first.
    info_.ycp_edit = first_.data();
    info_.ycp_temp = second_.data();
    return info_.ycp_edit;
}

const PIXEL_YC* HostSession::Filter(int frameIndex) {
    info_.frame = frameIndex;
    if (pool_ != nullptr) threads::SetHostPool(pool_);
    if (!filter_.func_proc(&filter_, &info_))
        throw CliError(kExitBadInput, "the filter reported a failure at frame " + std::to_string(frameIndex + 1));
    const PIXEL_YC* result = info_.ycp_edit;
    if (result != first_.data() && result != second_.data())
        throw CliError(kExitBadInput, "the filter named no host buffer as its result");
    return result;
}

void HostSession::Process(Picture& picture, int frameIndex) {
    const int w = picture.width;
    const int h = picture.height;
    PIXEL_YC* input = Input(w, h);
    const std::size_t stride = static_cast<std::size_t>(info_.max_w);
    const std::size_t rowBytes = static_cast<std::size_t>(w) * sizeof(PIXEL_YC);
    for (int y = 0; y < h; ++y)
        std::memcpy(input + static_cast<std::size_t>(y) * stride, &picture.at(0, y), rowBytes);
    const PIXEL_YC* result = Filter(frameIndex);
    for (int y = 0; y < h; ++y)
        std::memcpy(&picture.at(0, y), result + static_cast<std::size_t>(y) * stride, rowBytes);
}

}  // namespace lowpass::cli
