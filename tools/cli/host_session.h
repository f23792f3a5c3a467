// The tool's small host: it loads the plug-in's descriptor through
// GetFilterTable, owns the slider and check-box arrays and the service
// table, calls func_update once with the chosen settings, then func_proc
// per frame on two host frame buffers, and takes the result from the
// buffer that ycp_edit names.
#pragma once

#include <string>
#include <vector>

#include "host/host_api.h"
#include "tools/cli/options.h"
#include "tools/cli/picture.h"

namespace lowpass::cli {

// Why the processor cannot run a forced engine (caps as the probe composes
// them: bit 1 MMX, bit 2 SSE), or empty when it can.
std::string EngineRefusal(EngineChoice engine, int caps);

class HostSession {
public:
    // Throws CliError(kExitUsage) when a forced engine is not available.
    HostSession(const FilterSettings& settings, EngineChoice engine);
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // Filters the picture in place through func_proc. frameIndex is passed
    // on in FILTER_PROC_INFO::frame.
    void Process(Picture& picture, int frameIndex = 0);

    // The name of the engine whose entry func_proc holds.
    const char* engineName() const;
    const FILTER& filter() const { return filter_; }
    // Row stride and rows of the host buffers for the last frame.
    int maxW() const { return info_.max_w; }
    int maxH() const { return info_.max_h; }

private:
    void Allocate(int w, int h);

    FILTER filter_{};
    EXFUNC exfunc_{};
    int track_[kTrackCount] = {};
    int check_[kCheckCount] = {};
    std::vector<PIXEL_YC> first_;
    std::vector<PIXEL_YC> second_;
    FILTER_PROC_INFO info_{};
};

}  // namespace lowpass::cli
