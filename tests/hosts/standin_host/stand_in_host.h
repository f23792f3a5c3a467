// A stand-in for the host: it owns the settings arrays and the service
// table the way the editor does, counts the services the filter calls, and
// hands frames over in a FILTER_PROC_INFO whose buffers carry a sentinel
// pattern in every place the filter must not write.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "tests/hosts/standin_host/seeds.h"
#include "tools/threads/thread_pool.h"

namespace lowpass::standin {

struct StandInHost {
    FILTER filter{};  // first member: the services find the host from the FILTER*
    int track[3] = {320, 240, 3};
    int check[5] = {1, 0, 0, 0, 1};
    EXFUNC exfunc{};
    int windowUpdateCalls = 0;
    int isActiveCalls = 0;
    BOOL active = TRUE;  // what is_filter_active answers

    // A host record copied from a descriptor (or empty), with track, check
    // and exfunc pointing at this host's own arrays. It offers no
    // exec_multi_thread_func until SetThreads.
    explicit StandInHost(const FILTER* descriptor = nullptr);
    ~StandInHost();
    StandInHost(const StandInHost&) = delete;
    StandInHost& operator=(const StandInHost&) = delete;

    void SetTrack(int x, int y, int taps);
    void SetCheck(int simd, int rectangular, int hanning, int hamming, int blackman);

    // threads >= 1: exec_multi_thread_func runs its body on a pool of that
    // many threads (the calling thread and threads - 1 workers; the pool
    // becomes the process's host pool). 0: the entry is null, as for a host
    // without the service.
    void SetThreads(int threads);
    // The pool SetThreads made (public like every member: the record must
    // stay standard-layout, with `filter` first).
    std::unique_ptr<threads::ThreadPool> pool;
};

// A frame buffer as the host allocates it: max_h rows of max_w pixels, with
// guard pixels before and after the allocation. The picture starts black
// (all samples 0); everything outside the w x h picture holds a sentinel
// pattern that depends on the position.
class GuardedFrame {
public:
    static constexpr int kGuardPixels = 16;

    GuardedFrame(int w, int h, int maxW, int maxH, std::uint32_t salt);

    PIXEL_YC* data() { return storage_.data() + kGuardPixels; }
    const PIXEL_YC* data() const { return storage_.data() + kGuardPixels; }
    PIXEL_YC& at(int x, int y) { return data()[static_cast<std::ptrdiff_t>(y) * maxW_ + x]; }
    const PIXEL_YC& at(int x, int y) const { return data()[static_cast<std::ptrdiff_t>(y) * maxW_ + x]; }
    int w() const { return w_; }
    int h() const { return h_; }
    int maxW() const { return maxW_; }
    int maxH() const { return maxH_; }

    // Fills the picture with pseudo-random samples in [lo, hi].
    void FillRandom(std::uint32_t seed, int lo, int hi);
    // Copies the picture (not the slack) from another frame of the same size.
    void CopyPicture(const GuardedFrame& other);
    // True when every pixel outside the picture still holds its sentinel;
    // otherwise describes the first one that does not.
    bool SentinelsIntact(std::string* where = nullptr) const;
    bool PictureEquals(const GuardedFrame& other, std::string* where = nullptr) const;

private:
    PIXEL_YC Sentinel(std::ptrdiff_t index) const;

    int w_, h_, maxW_, maxH_;
    std::uint32_t salt_;
    std::vector<PIXEL_YC> storage_;
};

// Two host buffers and the record that names them.
struct FramePair {
    GuardedFrame edit;
    GuardedFrame temp;
    FILTER_PROC_INFO info{};
    PIXEL_YC* const originalEdit;
    PIXEL_YC* const originalTemp;

    FramePair(int w, int h, int maxW, int maxH);
    // The buffer the filter named as its result.
    const GuardedFrame& Result() const;
    bool ResultIsOriginalEdit() const { return info.ycp_edit == originalEdit; }
};

// Small deterministic generator for test data.
struct Lcg {
    std::uint32_t state;
    explicit Lcg(std::uint32_t seed) : state(seed * 2654435761u + 1u) {}
    std::uint32_t Next() {
        state = state * 1664525u + 1013904223u;
        return state ^ (state >> 15);
    }
    int Range(int lo, int hi) {  // inclusive
        return lo + static_cast<int>(Next() % static_cast<std::uint32_t>(hi - lo + 1));
    }
};

}  // namespace lowpass::standin
