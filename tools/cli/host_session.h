// The tool's small host: it loads the plug-in's descriptor through
// GetFilterTable, owns the slider and check-box arrays and the service
// table, calls func_update once with the chosen settings, then func_proc
// per frame on two host frame buffers, and takes the result from the
// buffer that ycp_edit names. Given a pool of threads, it offers the
// plug-in exec_multi_thread_func on it.
#pragma once

#include <string>
#include <vector>

#include "host/host_api.h"
#include "tools/cli/options.h"
#include "tools/cli/picture.h"
#include "tools/threads/thread_pool.h"

namespace lowpass::cli {

// Why the processor cannot run a forced engine (caps as the probe composes
// them: bit 1 MMX, bit 2 SSE), or empty when it can.
std::string EngineRefusal(EngineChoice engine, int caps);

class HostSession {
public:
    // Throws CliError(kExitUsage) when a forced engine is not available.
    // pool: the threads exec_multi_thread_func runs on (it must outlive the
    // session), or null for a host without the service.
    HostSession(const FilterSettings& settings, EngineChoice engine, threads::ThreadPool* pool = nullptr);
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // Filters the picture in place through func_proc. frameIndex is passed
    // on in FILTER_PROC_INFO::frame.
    void Process(Picture& picture, int frameIndex = 0);

    // The same without copies: Input gives the host buffer a w x h frame
    // goes into (rows maxW() pixels apart; allocated only when the size
    // changes), Filter runs func_proc on it and returns the buffer that
    // holds the result (same stride).
    PIXEL_YC* Input(int w, int h);
    const PIXEL_YC* Filter(int frameIndex);

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
    threads::ThreadPool* pool_ = nullptr;
    int track_[kTrackCount] = {};
    int check_[kCheckCount] = {};
    std::vector<PIXEL_YC> first_;
    std::vector<PIXEL_YC> second_;
    FILTER_PROC_INFO info_{};
};

}  // namespace lowpass::cli
